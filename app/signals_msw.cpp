// Windows: the end of the session (log-off, shut-down), and an installer
// that closes the program to replace its files (Restart Manager sends the
// same messages, with ENDSESSION_CLOSEAPP), close the window as the user
// would, so that the settings are saved, and never hold either up. Restart
// Manager starts a copy it closed again with the command line registered
// here, which names its settings folder. An installer that finds a copy
// Restart Manager did not close asks it through an event named for its
// process, which reaches it in any session.
#include "app/signals.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>

// The toolkit's headers first: they include the system's in the order it needs.
#include <wx/app.h>
#include <wx/weakref.h>
#include <wx/window.h>

#include <windows.h>

#include <sddl.h>

#include "app/command_line.h"

namespace {

// A copy closed for an update is started again as it was started: in its
// settings folder (the working folder, entered at the start; the restart
// keeps a command line, never a working folder), with --run where it was.
// Windows is not to start it again on its own after a crash, a hang or a
// restart of the computer.
void RegisterForRestartAfterAnUpdate() {
  std::ostringstream ignored;
  const bool run = ReadCommandLine(ProgramArguments(__argc, __argv), ignored, ignored).run;
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  ::RegisterApplicationRestart(RestartCommandLine(error ? L"" : folder.wstring(), run).c_str(),
                               RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
}

// The end of the session for this copy alone, as Windows sends it to an
// application it closes: asked whether it may end, then told that it ends.
void CALLBACK EndThisSession(void* window, BOOLEAN) {
  const HWND target = static_cast<HWND>(window);
  DWORD_PTR answer = 0;
  ::SendMessageTimeoutW(target, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_NORMAL, 30000, &answer);
  ::SendMessageW(target, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
}

// The security descriptor of the event: the user the program runs as, the
// administrators and the system may set it. Freed with LocalFree.
PSECURITY_DESCRIPTOR WhoMayAsk() {
  std::wstring rules = L"D:(A;;GA;;;SY)(A;;GA;;;BA)";
  HANDLE token = nullptr;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    alignas(TOKEN_USER) unsigned char buffer[256];
    DWORD size = 0;
    wchar_t* user = nullptr;
    if (::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user)) {
      rules += L"(A;;GA;;;" + std::wstring(user) + L")";
      ::LocalFree(user);
    }
    ::CloseHandle(token);
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ::ConvertStringSecurityDescriptorToSecurityDescriptorW(rules.c_str(), SDDL_REVISION_1, &descriptor,
                                                         nullptr);
  return descriptor;
}

// "Global\hpvisit-end-session-<process id>": set, it ends the session of this
// copy. (Where the global namespace is refused, the session's own.) The
// event and its wait last as long as the program.
void EndTheSessionWhenAsked(HWND window) {
  const std::wstring name = L"hpvisit-end-session-" + std::to_wstring(::GetCurrentProcessId());
  const PSECURITY_DESCRIPTOR descriptor = WhoMayAsk();
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  HANDLE event =
      ::CreateEventW(descriptor ? &attributes : nullptr, TRUE, FALSE, (L"Global\\" + name).c_str());
  if (!event)
    event = ::CreateEventW(descriptor ? &attributes : nullptr, TRUE, FALSE, (L"Local\\" + name).c_str());
  ::LocalFree(descriptor);
  HANDLE wait = nullptr;
  if (event)
    ::RegisterWaitForSingleObject(&wait, event, EndThisSession, window, INFINITE, WT_EXECUTEONLYONCE);
}

}  // namespace

void CloseOnTerminationSignals(wxWindow* window) {
  // Asked whether the session may end: always yes, and nothing is closed yet.
  // (The toolkit's own answer closes the window in a way that can be refused,
  // which minutes that are not a number would do, with an error box.)
  wxTheApp->Bind(wxEVT_QUERY_END_SESSION, [](wxCloseEvent&) {});
  // The session ends: a close that cannot be refused saves the settings (with
  // the period last saved where the minutes are invalid). Then the toolkit
  // ends the program before the system does.
  wxTheApp->Bind(wxEVT_END_SESSION, [target = wxWeakRef<wxWindow>(window)](wxCloseEvent& event) {
    if (target && !target->IsBeingDeleted()) target->Close(true);
    event.Skip();
  });
  RegisterForRestartAfterAnUpdate();
  EndTheSessionWhenAsked(static_cast<HWND>(window->GetHandle()));
}
