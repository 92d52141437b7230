// The browser pane. Each Navigate is a real request to the server: the pane's
// engine keeps no cache and writes nothing to disk. With Silent set it opens
// no dialog or window of its own; downloads are always refused. Every visit
// ends in one outcome, which the pane reports as the engine tells it.
#pragma once

#include <functional>
#include <memory>

#include <wx/nativewin.h>
#include <wx/string.h>

// How a visit ended.
struct TVisitOutcome {
  enum class Kind {
    kResponse,     // the page was answered: `status` (0 for an address that is not http)
    kUnresolved,   // the host's name could not be resolved
    kRefused,      // the connection was refused
    kReset,        // the connection was reset or closed before the answer was whole
    kCertificate,  // the server's certificate was refused
    kNoAnswer,     // no answer came before the next visit
    kCutShort,     // the answer was still coming when the next visit began
    kEngineEnded,  // the engine's process ended (a crash, or the memory bound)
    kFailed,       // anything else: `detail` says what
  };
  Kind kind = Kind::kFailed;
  int status = 0;         // the page's HTTP status, once its answer came (0 before)
  wxString requested;     // the address as the engine was given it
  wxString address;       // where the visit ended, after any redirect
  wxString detail;        // the engine's own words, for kFailed
  long milliseconds = 0;  // from Navigate to the end
};

class TCppWebBrowser : public wxNativeWindow {
 public:
  TCppWebBrowser(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
  ~TCppWebBrowser() override;

  // Starts, ahead of the toolkit, the checks the engine needs before its
  // first pane is made. Optional: the first pane makes them otherwise.
  static void Prepare();

  // Starts loading `url` into the pane and returns without waiting for it.
  // A visit still under way ends here (no answer, or cut short).
  void Navigate(const wxString& url);

  // The address of the page in the pane; empty while the pane is blank.
  wxString LocationURL() const;

  // When true, the pane answers every dialog a page asks for without showing it.
  bool Silent = false;

  // Called once for every Navigate, in their order, when that visit has ended.
  std::function<void(const TVisitOutcome&)> OnVisitEnded;

  struct Engine;

 private:
  std::unique_ptr<Engine> engine_;
};
