// Linux: waking is logind's PrepareForSleep signal, with false, on the system
// bus, through GDBus; the network is GIO's network monitor. The bus and the
// monitor are asked for only when first needed, and never waited for.
#include "app/system_events.h"

#include <gio/gio.h>

#include <utility>
#include <vector>

#include <wx/weakref.h>
#include <wx/window.h>

namespace {

struct Waking {
  wxWeakRef<wxWindow> window;
  std::function<void()> woke;
};

std::vector<Waking>& Wakings() {
  static std::vector<Waking> wakings;
  return wakings;
}

void OnPrepareForSleep(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant* parameters, gpointer) {
  gboolean sleeping = TRUE;
  if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) g_variant_get(parameters, "(b)", &sleeping);
  if (sleeping) return;
  std::vector<Waking>& wakings = Wakings();
  std::erase_if(wakings, [](const Waking& waking) { return !waking.window; });
  for (const Waking& waking : std::vector<Waking>(wakings))  // a call may add or end one
    if (waking.window) waking.woke();
}

void OnSystemBus(GObject*, GAsyncResult* result, gpointer) {
  GDBusConnection* bus = g_bus_get_finish(result, nullptr);
  if (!bus) return;  // no system bus (a container): nothing to hear
  // Held for the program's life, with its subscription.
  g_dbus_connection_signal_subscribe(bus, "org.freedesktop.login1", "org.freedesktop.login1.Manager",
                                     "PrepareForSleep", "/org/freedesktop/login1", nullptr,
                                     G_DBUS_SIGNAL_FLAGS_NONE, OnPrepareForSleep, nullptr, nullptr);
}

struct NetworkWait {
  GNetworkMonitor* monitor = nullptr;
  bool was_down = false;
  std::function<void()> back;
};

NetworkWait& Network() {
  static NetworkWait wait;
  return wait;
}

void OnNetworkChanged(GNetworkMonitor*, gboolean available, gpointer) {
  NetworkWait& network = Network();
  if (!available) {
    network.was_down = true;
    return;
  }
  if (!network.was_down || !network.back) return;
  network.was_down = false;
  std::exchange(network.back, {})();
}

}  // namespace

void CallOnWaking(wxWindow* window, std::function<void()> woke) {
  if (Wakings().empty()) g_bus_get(G_BUS_TYPE_SYSTEM, nullptr, OnSystemBus, nullptr);
  Wakings().push_back({window, std::move(woke)});
}

void CallWhenTheNetworkComesBack(std::function<void()> back) {
  NetworkWait& network = Network();
  network.back = std::move(back);
  if (!network.back) return;
  if (!network.monitor) {
    network.monitor = g_network_monitor_get_default();
    g_signal_connect(network.monitor, "network-changed", G_CALLBACK(OnNetworkChanged), nullptr);
  }
  network.was_down = !g_network_monitor_get_network_available(network.monitor);
}
