// A helper the tests run under Wine beside the program: it does to the main
// window what a user does, once the window is there; with COUNT, to every
// main window, once COUNT of them are there (copies in several folders).
//   drive_window run [COUNT]            presses Run (実行)
//   drive_window run-and-close          presses Run and, in the same instant, while
//                                       the visit is starting, closes the window
//   drive_window minutes TEXT [COUNT]   types TEXT into the minutes box
// Returns 0 when it did it, 1 when no such window came within 30 seconds.
//   drive_window event-text ID TEXT
//                                 writes (UTF-8, to standard output) the text
//                                 Event Viewer shows for event ID of the source
//                                 hpvisit with TEXT as its string, from the
//                                 message file the source's registry key names;
//                                 1 when there is none or it lacks the message.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const wchar_t kTitle[] = L"TAVIK支援　ＨＰ定期訪問";

struct Controls {
  HWND window = nullptr;
  HWND run = nullptr;
  HWND edits[3] = {};  // in the order they were made: day, minutes, night
  int edit_count = 0;
};

BOOL CALLBACK Collect(HWND child, LPARAM data) {
  auto* controls = reinterpret_cast<Controls*>(data);
  wchar_t text[16] = {};
  wchar_t kind[16] = {};
  GetWindowTextW(child, text, 16);
  GetClassNameW(child, kind, 16);
  if (lstrcmpiW(kind, L"Button") == 0 && lstrcmpW(text, L"実行") == 0) controls->run = child;
  if (lstrcmpiW(kind, L"Edit") == 0 && controls->edit_count < 3)
    controls->edits[controls->edit_count++] = child;
  return TRUE;
}

// The main windows whose controls are all there and shown.
BOOL CALLBACK CollectReady(HWND window, LPARAM data) {
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  if (lstrcmpW(title, kTitle) != 0) return TRUE;
  Controls controls;
  controls.window = window;
  EnumChildWindows(window, Collect, reinterpret_cast<LPARAM>(&controls));
  if (controls.run && IsWindowVisible(controls.run) && controls.edit_count == 3)
    reinterpret_cast<std::vector<Controls>*>(data)->push_back(controls);
  return TRUE;
}

// As Event Viewer reads an event: its source's message file, in the user's language.
int WriteEventText(unsigned long id, const char* text) {
  wchar_t file[MAX_PATH] = {}, expanded[MAX_PATH] = {}, argument[1024] = {};
  DWORD size = sizeof file;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\hpvisit",
                   L"EventMessageFile", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, file,
                   &size) != ERROR_SUCCESS ||
      !ExpandEnvironmentStringsW(file, expanded, MAX_PATH))
    return 1;
  HMODULE messages =
      LoadLibraryExW(expanded, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  MultiByteToWideChar(CP_UTF8, 0, text, -1, argument, 1023);
  DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(argument)};
  wchar_t* message = nullptr;
  if (!messages ||
      !FormatMessageW(
          FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
          messages, id, 0, reinterpret_cast<wchar_t*>(&message), 0, reinterpret_cast<va_list*>(arguments)))
    return 1;
  char utf8[4096] = {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, message, -1, utf8, sizeof utf8, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8, length > 0 ? length - 1 : 0, &written, nullptr);
  LocalFree(message);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string action = argc > 1 ? argv[1] : "";
  if (action == "event-text" && argc > 3) return WriteEventText(std::strtoul(argv[2], nullptr, 0), argv[3]);
  const int count_at = action == "minutes" ? 3 : 2;
  const size_t count = argc > count_at ? std::strtoul(argv[count_at], nullptr, 10) : 1;
  for (int tries = 0; tries < 300; ++tries, Sleep(100)) {
    std::vector<Controls> windows;
    EnumWindows(CollectReady, reinterpret_cast<LPARAM>(&windows));
    if (windows.size() < count) continue;
    for (const Controls& controls : windows) {
      if (action == "minutes" && argc > 2) {
        wchar_t text[64] = {};
        MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, text, 63);
        SendMessageW(controls.edits[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
        continue;
      }
      SendMessageW(controls.run, BM_CLICK, 0, 0);
      if (action == "run-and-close") PostMessageW(controls.window, WM_CLOSE, 0, 0);
    }
    return 0;
  }
  return 1;
}
