// A helper the tests run under Wine beside the program: it does to the main
// window what a user does, once the window is there.
//   drive_window run              presses Run (実行)
//   drive_window run-and-close    presses Run and, in the same instant, while
//                                 the visit is starting, closes the window
//   drive_window minutes TEXT     types TEXT into the minutes box
// Returns 0 when it did it, 1 when no such window came within 30 seconds.
#include <windows.h>

#include <cstring>
#include <string>

namespace {

const wchar_t kTitle[] = L"TAVIK支援　ＨＰ定期訪問";

struct Controls {
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

}  // namespace

int main(int argc, char** argv) {
  const std::string action = argc > 1 ? argv[1] : "";
  for (int tries = 0; tries < 300; ++tries, Sleep(100)) {
    HWND window = FindWindowW(nullptr, kTitle);
    if (!window) continue;
    Controls controls;
    EnumChildWindows(window, Collect, reinterpret_cast<LPARAM>(&controls));
    if (!controls.run || !IsWindowVisible(controls.run) || controls.edit_count < 3) continue;
    if (action == "minutes" && argc > 2) {
      wchar_t text[64] = {};
      MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, text, 63);
      SendMessageW(controls.edits[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
      return 0;
    }
    SendMessageW(controls.run, BM_CLICK, 0, 0);
    if (action == "run-and-close") PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
  }
  return 1;
}
