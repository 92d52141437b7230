// Windows: waking is WM_POWERBROADCAST with PBT_APMRESUMEAUTOMATIC, which
// every top-level window is sent after any resume (the toolkit makes an
// event of PBT_APMRESUMESUSPEND only, which comes only when someone is at the
// machine), so the window's messages are looked at before the toolkit's. The
// network: a change of the machine's addresses (NotifyAddrChange), waited
// for on the system's thread pool.
#include "app/system_events.h"

#include <utility>

// The toolkit's headers first: they include the system's in the order it needs.
#include <wx/app.h>
#include <wx/window.h>

#include <windows.h>

#include <commctrl.h>
#include <iphlpapi.h>

namespace {

struct Waking {
  wxWindow* window;
  std::function<void()> woke;
};

constexpr UINT_PTR kWakingId = 0x77616b65;

LRESULT CALLBACK WatchForWaking(HWND handle, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                DWORD_PTR data) {
  auto* waking = reinterpret_cast<Waking*>(data);
  if (message == WM_POWERBROADCAST && wparam == PBT_APMRESUMEAUTOMATIC)
    waking->window->CallAfter(waking->woke);  // after the message: it is answered at once
  if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(handle, WatchForWaking, kWakingId);
    delete waking;
  }
  return ::DefSubclassProc(handle, message, wparam, lparam);
}

struct NetworkWait {
  HANDLE changed = nullptr;  // set by the system when an address changes
  OVERLAPPED overlapped = {};
  HANDLE wait = nullptr;
  std::function<void()> back;
};

NetworkWait& Network() {
  static NetworkWait network;
  return network;
}

// Asks for the next change (each request hears of one); false where the
// system cannot tell (the event is then never set).
bool AskForTheNextChange() {
  NetworkWait& network = Network();
  HANDLE ignored = nullptr;
  network.overlapped = {};
  network.overlapped.hEvent = network.changed;
  return ::NotifyAddrChange(&ignored, &network.overlapped) == ERROR_IO_PENDING;
}

void CALLBACK OnAddressChange(void*, BOOLEAN) {
  wxTheApp->CallAfter([] {
    AskForTheNextChange();
    NetworkWait& network = Network();
    if (network.back) std::exchange(network.back, {})();
  });
}

}  // namespace

void CallOnWaking(wxWindow* window, std::function<void()> woke) {
  ::SetWindowSubclass(static_cast<HWND>(window->GetHandle()), WatchForWaking, kWakingId,
                      reinterpret_cast<DWORD_PTR>(new Waking{window, std::move(woke)}));
}

void CallWhenTheNetworkComesBack(std::function<void()> back) {
  NetworkWait& network = Network();
  network.back = std::move(back);
  if (!network.back || network.changed) return;
  network.changed = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!network.changed || !AskForTheNextChange()) return;
  ::RegisterWaitForSingleObject(&network.wait, network.changed, OnAddressChange, nullptr, INFINITE,
                                WT_EXECUTEDEFAULT);
}
