// One visitor per settings folder. Copies of the program started in the same
// working folder (the logon or autostart entry and the menu's, say) would
// each visit on its own timer and overwrite each other's settings: a copy
// started where another runs hands over to it and ends. Copies in other
// folders stay independent. The running copy is found by the toolkit's
// single-instance check, named for the folder (a lock in the runtime folder on
// Linux, a named kernel object on Windows), and reached through the toolkit's
// own messages between programs (a socket beside the lock; DDE on Windows).
#pragma once

#include <functional>
#include <memory>

#include <wx/ipcbase.h>
#include <wx/snglinst.h>
#include <wx/string.h>

class TSingleVisitor {
 public:
  // Looks for a copy visiting from the working folder. Before the toolkit
  // starts (the engine may change the environment's runtime folder).
  TSingleVisitor();
  ~TSingleVisitor();

  // Whether another copy already visits from this folder.
  bool AnotherVisits();
  // Asks that copy to bring its window to the front (once the toolkit runs);
  // whether it answered.
  bool BringItForward();
  // This copy is the folder's visitor: later copies reach it from now on, and
  // `forward` brings its window to the front.
  void Listen(std::function<void()> forward);

 private:
  wxString service_;
  wxSingleInstanceChecker checker_;
  std::unique_ptr<wxServerBase> server_;
};

// One body per platform: how later copies reach the folder's visitor named
// `name`, through a local socket in `runtime_folder` (POSIX) or DDE (Windows).
wxString ServiceFor(const wxString& name, const wxString& runtime_folder);
std::unique_ptr<wxServerBase> ListenAt(const wxString& service, std::function<void()> forward);
bool AskToComeForward(const wxString& service);
