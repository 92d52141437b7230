#include "app/application.h"

#include <cstdio>
#include <utility>

#include <wx/log.h>
#include <wx/msgdlg.h>

#include "app/exception.h"
#include "app/signals.h"
#include "app/theme.h"
#include "pane/web_browser.h"

TApplication* Application = nullptr;

namespace {
std::function<void(const wxString&)>& ErrorSink() {
  static std::function<void(const wxString&)> sink;
  return sink;
}

// A failed check inside the toolkit is reported on the standard error
// stream, never in a dialog over an unattended window.
void AssertToStandardError(const wxString& file, int line, const wxString& function,
                           const wxString& condition, const wxString& message) {
  std::fprintf(stderr, "hpvisit: toolkit check failed: %s:%d %s: %s %s\n",
               file.utf8_str().data(), line, function.utf8_str().data(),
               condition.utf8_str().data(), message.utf8_str().data());
}
}  // namespace

TApplication::TApplication() { Application = this; }

void TApplication::Initialize(int& argc, char** argv) {
  // Failed checks of the toolkit, from its start on, and its own messages
  // (whose target it sets as it starts) go to the standard error stream:
  // nothing but the error box of a handler may open over the window.
  wxSetAssertHandler(AssertToStandardError);
  TCppWebBrowser::Prepare();
  if (!wxEntryStart(argc, argv) || !CallOnInit())
    throw Exception(L"画面に接続できないため、起動できません。環境変数 DISPLAY を確認してください。");
  started_ = true;
  delete wxLog::SetActiveTarget(new wxLogStderr);
  UseCompactControls();
}

void TApplication::SetTitle(const wxString& title) {
  title_ = title;
  SetAppDisplayName(title);
}

void TApplication::Run() {
  if (wxWindow* main_window = GetTopWindow()) {
    main_window->Show();
    CloseOnTerminationSignals(main_window);
  }
  OnRun();
}

void TApplication::ShowException(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  wxString message = own ? own->Message : wxString::FromUTF8(error.what());
  // An error without words of its own is not shown as an empty box; its
  // detail, where there is one, goes to standard error.
  if (message.empty() || !own) {
    if (!message.empty()) std::fprintf(stderr, "hpvisit: unexpected error: %s\n", message.utf8_str().data());
    message = L"予期しないエラーが発生しました。";
  }
  if (ErrorSink()) {
    ErrorSink()(message);
  } else if (started_) {
    wxMessageBox(message, title_, wxOK | wxICON_ERROR, GetTopWindow());
  } else {
    std::fprintf(stderr, "hpvisit: %s\n", message.utf8_str().data());
  }
}

bool TApplication::OnExceptionInMainLoop() {
  try {
    throw;
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(Exception(""));
  }
  return true;
}

void TApplication::SetErrorSinkForTesting(std::function<void(const wxString&)> sink) {
  ErrorSink() = std::move(sink);
}
