#include "app/service_manager.h"

#include <unistd.h>

#include <cstdlib>

#include <systemd/sd-daemon.h>
#include <wx/timer.h>

void TellTheServiceManagerReady() { sd_notify(0, "READY=1"); }

void TellTheServiceManagerStatus(const std::string& status) {
  sd_notify(0, ("STATUS=" + status).c_str());
}

void KeepTheServiceManagerWatchdogFed(wxEvtHandler* owner) {
  // The watchdog is the service's: systemd names its main process, which is
  // the launcher that runs the program on its display (the program's
  // parent), or the program itself.
  const char* period = std::getenv("WATCHDOG_USEC");
  const char* watched = std::getenv("WATCHDOG_PID");
  const long pid = watched ? std::atol(watched) : 0;
  const long long microseconds = period ? std::atoll(period) : 0;
  if (microseconds <= 0 || (pid != 0 && pid != getpid() && pid != getppid())) return;
  auto* ping = new wxTimer(owner);  // owned by the event loop's owner for the program's life
  owner->Bind(
      wxEVT_TIMER, [](wxTimerEvent&) { sd_notify(0, "WATCHDOG=1"); }, ping->GetId());
  sd_notify(0, "WATCHDOG=1");
  ping->Start(static_cast<int>(microseconds / 3000));
}
