// The service manager that runs the program, where there is one (systemd,
// through its notification socket; elsewhere these do nothing): told when the
// program is ready, what its visits are doing, and, as long as its event loop
// runs, that it is alive, so that a program whose loop has stopped is ended
// and started again like any other end.
#pragma once

#include <string>

class wxEvtHandler;

// Takes the service manager's variables (its notification socket, its
// watchdog) out of the environment and keeps them to the program: no process
// it starts (the engine's) can speak for it. First thing in main, before any
// other thread runs.
void TakeTheServiceManagerVariables();

// Whether a service manager runs the program and listens to it.
bool UnderTheServiceManager();

// Ready: the window is shown, and Run was pressed where it was to be.
void TellTheServiceManagerReady();

// A line `systemctl status` shows.
void TellTheServiceManagerStatus(const std::string& status);

// Where the service manager watches the program, the event loop of `owner`
// tells it, at a third of its period, that it runs.
void KeepTheServiceManagerWatchdogFed(wxEvtHandler* owner);
