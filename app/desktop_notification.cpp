#include "app/desktop_notification.h"

void TDesktopNotifier::Show(const wxString& title, const wxString& message) {
  if (!DesktopNotificationsSeen()) return;
  shown_ = std::make_unique<wxNotificationMessage>(title, message);
  shown_->Show();
}
