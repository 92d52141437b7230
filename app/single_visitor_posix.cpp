#include <wx/filename.h>
#include <wx/sckipc.h>

#include "app/single_visitor.h"
#include "app/visitor_messages.h"

wxString ServiceFor(const wxString& name, const wxString& runtime_folder) {
  return wxFileName(runtime_folder, name + ".socket").GetFullPath();  // a path: a local socket
}

std::unique_ptr<wxServerBase> ListenAt(const wxString& service, std::function<void()> forward) {
  return visitor_messages::Listen<wxTCPServer, wxTCPConnection>(service, std::move(forward));
}

bool AskToComeForward(const wxString& service) {
  return visitor_messages::AskForward<wxTCPClient>(service);
}
