#include "system/processes.h"

#include <windows.h>

long ThisProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

bool ProcessIsRunning(long id) {
  // One that exists but may not be looked at is running too.
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
  if (!process) return ::GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  ::CloseHandle(process);
  return running;
}
