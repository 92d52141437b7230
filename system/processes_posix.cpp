#include "system/processes.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

long ThisProcessId() { return ::getpid(); }

bool ProcessIsRunning(long id) {
  // A process of another user is running too, though no signal may be sent to it.
  const auto pid = static_cast<pid_t>(id);
  return id > 0 && pid == id && (::kill(pid, 0) == 0 || errno == EPERM);
}
