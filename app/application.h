// The application object: starts the toolkit, creates the main window, runs
// the event loop, and shows errors that escape event handlers.
#pragma once

#include <exception>
#include <functional>

#include <wx/app.h>
#include <wx/string.h>

// The application's title: the name the program goes by, and its error boxes' caption.
inline constexpr wchar_t kApplicationTitle[] = L"ＴＡＶＩＫ支援　ＨＰ定期訪問";

class TApplication : public wxApp {
 public:
  TApplication();

  // Starts the toolkit. Raises Exception when it cannot (no display).
  void Initialize(int& argc, char** argv);

  // Builds a form; the first form created becomes the main window.
  template <class TForm>
  void CreateForm(TForm*& form) {
    form = new TForm(nullptr);
    if (!GetTopWindow()) SetTopWindow(form);
  }

  // Shows the main window and runs the event loop until it has closed.
  void Run();

  // Shows the error's message in a modal error box captioned with the title.
  void ShowException(const std::exception& error);

  // An error that escapes an event handler is shown, and the loop goes on.
  bool OnExceptionInMainLoop() override;
  bool OnInit() override { return true; }  // the command line is read before (app/command_line.h)

  // Tests take the messages instead of a modal box; an empty function restores the box.
  static void SetErrorSinkForTesting(std::function<void(const wxString&)> sink);

  // The application's title: the caption of its error boxes.
  void SetTitle(const wxString& title);
  const wxString& GetTitle() const { return title_; }

 private:
  wxString title_;
  bool started_ = false;
};

extern TApplication* Application;
