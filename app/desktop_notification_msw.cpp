#include "app/desktop_notification.h"

// The notification area is there in every session with a desktop.
bool DesktopNotificationsSeen() { return true; }
