// One visitor per settings folder. Copies of the program started in the same
// working folder (the logon or autostart entry and the menu's, or the service
// and a copy opened by hand) would each visit on its own timer and overwrite
// each other's settings: one copy holds the folder, and the kernel decides
// which (a lock it releases however the holder ends: a lock on a file in the
// session's runtime folder on Linux, a named kernel object on Windows). Later
// copies reach it (a local socket beside the lock; DDE on Windows) to bring
// its window to the front. Copies in other folders stay independent.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <wx/string.h>

// What the folder's visitor answered a later copy that asked for its window.
struct TVisitorAnswer {
  bool answered = false;  // it answered at all
  bool shown = false;     // its window came to the front where this copy's display is
  bool service = false;   // a service manager runs it
  long process = 0;       // its process id; 0 where unknown
  wxString display;       // the display its window is on, where known
};

class TSingleVisitor {
 public:
  // Holds the working folder unless another copy does. Before the toolkit
  // starts (the engine may change the environment's runtime folder).
  TSingleVisitor();
  ~TSingleVisitor();

  // Whether this copy holds the folder: it is the folder's visitor.
  bool Visits() const;
  // The folder, as a person reads it.
  wxString Folder() const;
  // The process id of the copy that visits from the folder, where known; else 0.
  long Visitor() const;

  // Asks the visitor to bring its window to the front (once the toolkit
  // runs); where it cannot be seen from here, or does not answer, says so in
  // a message box.
  void HandOver();
  // This copy is the folder's visitor: later copies reach it from now on, and
  // `forward` brings its window to the front.
  void Listen(std::function<void()> forward);
  // Holds the folder as soon as the copy that visits from it ends, however it
  // ends; then `take_over` runs in the event loop.
  void TakeOverWhenFree(std::function<void()> take_over);

 private:
  // One body per platform: the lock, and the messages between copies.
  struct Platform;
  TVisitorAnswer BringItForward();

  std::filesystem::path folder_;
  std::unique_ptr<Platform> platform_;
};

// The working folder as one name: its links resolved where they can be, and
// by the platform's rules; empty where it has no name at all.
std::filesystem::path ThisFolder();
// One body per platform: the one name of a resolved folder (on Windows, in
// one case and with long names; elsewhere the name itself).
std::filesystem::path OneNameFor(const std::filesystem::path& folder);
// A name for the folder, the same in every copy: from the bytes of its name,
// and for a folder without a name, one of this process's own.
std::string NameForFolder(const std::filesystem::path& folder);
