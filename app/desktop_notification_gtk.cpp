#include <gio/gio.h>

#include <string>

#include "app/desktop_notification.h"

// Where a notification service runs on the session's bus. The bus is looked
// for only where the session has one (no bus is started for it).
bool DesktopNotificationsSeen() {
  const char* runtime = g_getenv("XDG_RUNTIME_DIR");
  const bool has_bus = g_getenv("DBUS_SESSION_BUS_ADDRESS") ||
                       (runtime && g_file_test((std::string(runtime) + "/bus").c_str(), G_FILE_TEST_EXISTS));
  if (!has_bus) return false;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return false;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", "org.freedesktop.Notifications"), G_VARIANT_TYPE("(b)"),
      G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
  g_object_unref(bus);
  if (!reply) return false;
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned;
}
