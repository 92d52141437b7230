#include "app/service_manager.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <wx/timer.h>

namespace {

// What the service manager gave the program in its environment.
struct TServiceManager {
  std::string socket;  // where it listens ('@': in the abstract namespace); empty: none
  long long watchdog_microseconds = 0;
  long watchdog_process = 0;  // the process it watches; 0: the one it started
};

TServiceManager& Manager() {
  static TServiceManager manager;
  return manager;
}

// One message to the service manager, as its notification protocol has it:
// a datagram on its socket.
void Notify(const std::string& message) {
  const std::string& path = Manager().socket;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, path.data(), path.size());
  if (path[0] == '@') address.sun_path[0] = '\0';
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  (void)!sendto(fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address), size);
  close(fd);
}

}  // namespace

void TakeTheServiceManagerVariables() {
  TServiceManager& manager = Manager();
  if (const char* socket = std::getenv("NOTIFY_SOCKET"); socket && (socket[0] == '/' || socket[0] == '@'))
    manager.socket = socket;
  if (const char* period = std::getenv("WATCHDOG_USEC")) manager.watchdog_microseconds = std::atoll(period);
  if (const char* watched = std::getenv("WATCHDOG_PID")) manager.watchdog_process = std::atol(watched);
  for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"}) unsetenv(name);
}

bool UnderTheServiceManager() { return !Manager().socket.empty(); }

void TellTheServiceManagerReady() { Notify("READY=1"); }

void TellTheServiceManagerStatus(const std::string& status) { Notify("STATUS=" + status); }

void KeepTheServiceManagerWatchdogFed(wxEvtHandler* owner) {
  // The watchdog is the service's: systemd names its main process, which is
  // the launcher that runs the program on its display (the program's
  // parent), or the program itself.
  const long long microseconds = Manager().watchdog_microseconds;
  const long pid = Manager().watchdog_process;
  if (!UnderTheServiceManager() || microseconds <= 0 || (pid != 0 && pid != getpid() && pid != getppid()))
    return;
  auto* ping = new wxTimer(owner);  // owned by the event loop's owner for the program's life
  owner->Bind(
      wxEVT_TIMER, [](wxTimerEvent&) { Notify("WATCHDOG=1"); }, ping->GetId());
  Notify("WATCHDOG=1");
  ping->Start(static_cast<int>(microseconds / 3000));
}
