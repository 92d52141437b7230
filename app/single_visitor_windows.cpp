#include "app/single_visitor.h"

// The toolkit's headers first: they include the system's in the order it needs.
#include <wx/dde.h>

#include <windows.h>

#include "app/visitor_messages.h"

wxString ServiceFor(const wxString& name, const wxString&) { return name; }  // a DDE service

std::unique_ptr<wxServerBase> ListenAt(const wxString& service, std::function<void()> forward) {
  return visitor_messages::Listen<wxDDEServer, wxDDEConnection>(service, std::move(forward));
}

bool AskToComeForward(const wxString& service) {
  // Windows lets only the program the person started hand the front over.
  ::AllowSetForegroundWindow(ASFW_ANY);
  return visitor_messages::AskForward<wxDDEClient>(service);
}
