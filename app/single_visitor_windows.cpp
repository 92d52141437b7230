// The lock is a named kernel object (the toolkit's single-instance check): it
// exists while a copy holding it runs, and the kernel removes it however that
// copy ends. Later copies reach the holder through DDE.
#include "app/single_visitor.h"

// The toolkit's headers first: they include the system's in the order it needs.
#include <wx/dde.h>
#include <wx/filename.h>
#include <wx/snglinst.h>
#include <wx/timer.h>

#include <windows.h>

namespace {

constexpr char kTopic[] = "hpvisit";
constexpr char kForward[] = "forward";

class TForwardConnection : public wxDDEConnection {
 public:
  explicit TForwardConnection(const std::function<void()>& forward) : forward_(forward) {}
  bool OnExec(const wxString&, const wxString& data) override {
    if (data == kForward && forward_) forward_();
    return true;
  }

 private:
  const std::function<void()>& forward_;
};

class TForwardServer : public wxDDEServer {
 public:
  std::function<void()> forward;
  wxConnectionBase* OnAcceptConnection(const wxString& topic) override {
    return topic == kTopic ? new TForwardConnection(forward) : nullptr;
  }
};

}  // namespace

struct TSingleVisitor::Platform {
  wxString name;
  std::unique_ptr<wxSingleInstanceChecker> checker;
  std::unique_ptr<TForwardServer> server;
  wxTimer retry;  // while waiting for the holder's end

  // Takes the named object where no copy holds it; whether this copy now visits.
  bool TryToHold() {
    checker.reset();  // its own handle would keep the object
    checker = std::make_unique<wxSingleInstanceChecker>();
    checker->Create(name + ".lock");
    return !checker->IsAnotherRunning();
  }
};

std::filesystem::path OneNameFor(const std::filesystem::path& folder) {
  wxFileName name = wxFileName::DirName(wxString(folder.native()));
  name.Normalize(wxPATH_NORM_CASE | wxPATH_NORM_LONG);
  return name.GetFullPath().ToStdWstring();
}

TSingleVisitor::TSingleVisitor() : folder_(ThisFolder()), platform_(std::make_unique<Platform>()) {
  platform_->name = NameForFolder(folder_);
  platform_->TryToHold();
}

TSingleVisitor::~TSingleVisitor() = default;

bool TSingleVisitor::Visits() const { return !platform_->checker->IsAnotherRunning(); }

// Windows keeps the visitor's process to itself.
long TSingleVisitor::Visitor() const { return 0; }

TVisitorAnswer TSingleVisitor::BringItForward() {
  // Windows lets only the program the person started hand the front over.
  ::AllowSetForegroundWindow(ASFW_ANY);
  wxDDEClient client;
  std::unique_ptr<wxConnectionBase> connection(client.MakeConnection("localhost", platform_->name, kTopic));
  TVisitorAnswer answer;
  // Copies of one session share one desktop: a window brought forward is seen.
  answer.answered = answer.shown = connection && connection->Execute(kForward) && connection->Disconnect();
  return answer;
}

void TSingleVisitor::Listen(std::function<void()> forward) {
  auto server = std::make_unique<TForwardServer>();
  server->forward = std::move(forward);
  if (server->Create(platform_->name)) platform_->server = std::move(server);
}

void TSingleVisitor::TakeOverWhenFree(std::function<void()> take_over) {
  // The object gives no word of its end: looked for again every second.
  platform_->retry.Bind(wxEVT_TIMER, [this, take_over = std::move(take_over)](wxTimerEvent&) {
    if (!platform_->TryToHold()) return;
    platform_->retry.Stop();
    take_over();
  });
  platform_->retry.Start(1000);
}
