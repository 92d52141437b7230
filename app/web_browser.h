// The browser pane. Each Navigate is a real request to the server: the pane's
// engine keeps no cache and writes nothing to disk. With Silent set it opens
// no dialog or window of its own; downloads are always refused.
#pragma once

#include <memory>

#include <wx/nativewin.h>

class TCppWebBrowser : public wxNativeWindow {
 public:
  TCppWebBrowser(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
  ~TCppWebBrowser() override;

  // Starts, ahead of the toolkit, the checks the engine needs before its
  // first pane is made. Optional: the first pane makes them otherwise.
  static void Prepare();

  // Starts loading `url` into the pane and returns without waiting for it.
  void Navigate(const wxString& url);

  // The address of the page in the pane; empty while the pane is blank.
  wxString LocationURL() const;

  // When true, the pane answers every dialog a page asks for without showing it.
  bool Silent = false;

  struct Engine;

 private:
  std::unique_ptr<Engine> engine_;
};
