// The atomic save on Windows: the content goes to a new file beside the old
// one, is flushed to the disk, and is moved over the old one in one step.
#include "settings/atomic_write.h"

#include <windows.h>

#include <string>

#include "settings/process_liveness.h"

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

namespace {

bool WriteAll(HANDLE file, const std::string& content) {
  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    left -= written;
  }
  return ::FlushFileBuffers(file) != 0;
}

// The content in a new file named `temp` (<file>.tmp-<pid>-<n>), whole and on
// the disk; on failure the file is gone again.
bool WriteTemporary(const std::wstring& path, const std::string& content, std::wstring& temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = TemporaryName(path, attempt).native();
    HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    const bool written = WriteAll(file, content);
    if (::CloseHandle(file) && written) return true;
    ::DeleteFileW(temp.c_str());
    return false;
  }
  return false;
}

}  // namespace

bool ReplaceFileAtomically(const std::filesystem::path& path, const std::string& content) {
  std::wstring temp;
  if (!WriteTemporary(path.native(), content, temp)) return false;
  if (!::MoveFileExW(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}
