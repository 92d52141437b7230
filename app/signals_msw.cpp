// Windows: the end of the session (log-off, shut-down) closes the window as
// the user would, so that the settings are saved, and never holds the session up.
#include "app/signals.h"

#include <wx/app.h>
#include <wx/weakref.h>
#include <wx/window.h>

void CloseOnTerminationSignals(wxWindow* window) {
  // Asked whether the session may end: always yes, and nothing is closed yet.
  // (The toolkit's own answer closes the window in a way that can be refused,
  // which minutes that are not a number would do, with an error box.)
  wxTheApp->Bind(wxEVT_QUERY_END_SESSION, [](wxCloseEvent&) {});
  // The session ends: a close that cannot be refused saves the settings, or
  // leaves the stored ones as they were where the minutes are invalid. Then
  // the toolkit ends the program before the system does.
  wxTheApp->Bind(wxEVT_END_SESSION, [target = wxWeakRef<wxWindow>(window)](wxCloseEvent& event) {
    if (target && !target->IsBeingDeleted()) target->Close(true);
    event.Skip();
  });
}
