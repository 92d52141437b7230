// The one message between copies of the program, over the toolkit's own
// messages between programs (its IPC classes, a local socket or DDE): a later
// copy asks the folder's visitor to bring its window to the front.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include <wx/ipcbase.h>
#include <wx/string.h>

namespace visitor_messages {

inline constexpr char kTopic[] = "hpvisit";
inline constexpr char kForward[] = "forward";

template <class ServerType, class ConnectionType>
std::unique_ptr<wxServerBase> Listen(const wxString& service, std::function<void()> forward) {
  class Connection : public ConnectionType {
   public:
    explicit Connection(const std::function<void()>& forward) : forward_(forward) {}
    bool OnExec(const wxString&, const wxString& data) override {
      if (data == kForward) forward_();
      return true;
    }

   private:
    const std::function<void()>& forward_;
  };
  class Server : public ServerType {
   public:
    explicit Server(std::function<void()> forward) : forward_(std::move(forward)) {}
    wxConnectionBase* OnAcceptConnection(const wxString& topic) override {
      return topic == kTopic ? new Connection(forward_) : nullptr;
    }

   private:
    std::function<void()> forward_;
  };
  auto server = std::make_unique<Server>(std::move(forward));
  if (!server->Create(service)) return nullptr;
  return server;
}

template <class ClientType>
bool AskForward(const wxString& service) {
  ClientType client;
  std::unique_ptr<wxConnectionBase> connection(client.MakeConnection("localhost", service, kTopic));
  return connection && connection->Execute(kForward) && connection->Disconnect();
}

}  // namespace visitor_messages
