// pane/ holds the browser pane, one body per platform, and all that keeps its
// engine in line (dialogs, folders, memory, sandbox); what it reports of a
// visit is its own small header, visit_outcome.h. It may use system/ only.
//
// The browser pane. Each Navigate is a real request to the server: the pane's
// engine keeps no cache and writes nothing to disk. With Silent set it opens
// no dialog or window of its own; downloads are always refused. Every visit
// ends in one outcome, which the pane reports as the engine tells it.
#pragma once

#include <functional>
#include <memory>

#include <wx/nativewin.h>
#include <wx/string.h>

#include "pane/visit_outcome.h"

class TCppWebBrowser : public wxNativeWindow {
 public:
  TCppWebBrowser(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
  ~TCppWebBrowser() override;

  // Starts, ahead of the toolkit, the checks the engine needs before its
  // first pane is made. Optional: the first pane makes them otherwise.
  static void Prepare();

  // Starts loading `url` into the pane and returns without waiting for it:
  // one request for the address, also where it is the page shown or differs
  // from it only after '#'. A visit still under way ends here (no answer, or
  // cut short).
  void Navigate(const wxString& url);

  // The program is ending: a visit still under way ends here.
  void Stop();

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
