// A word to the person at the desktop, in the desktop's own notifications
// (the notification service on Linux, the notification area on Windows):
// never a dialog, and nothing where no one would see it (no notification
// service runs, as on the service's virtual display).
#pragma once

#include <memory>

#include <wx/notifmsg.h>
#include <wx/string.h>

class TDesktopNotifier {
 public:
  void Show(const wxString& title, const wxString& message);

 private:
  std::unique_ptr<wxNotificationMessage> shown_;  // the latest, until the next
};

// One body per platform: whether notifications reach someone now.
bool DesktopNotificationsSeen();
