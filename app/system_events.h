// What the system says that the schedule listens for: that the machine woke
// from sleep, and that the network is available again. One body per
// platform; each calls back on the event loop.
#pragma once

#include <functional>

class wxWindow;

// Calls `woke` each time the machine has woken from sleep, while `window`
// lives. Linux: logind's PrepareForSleep(false) on the system bus (without a
// system bus, never). Windows: WM_POWERBROADCAST with PBT_APMRESUMEAUTOMATIC.
void CallOnWaking(wxWindow* window, std::function<void()> woke);

// Calls `back` once, the next time the system says that the network is
// available after it was not (Linux: GNetworkMonitor; Windows: a change of
// the machine's addresses). An empty function stops waiting.
void CallWhenTheNetworkComesBack(std::function<void()> back);
