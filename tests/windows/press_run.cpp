// A helper the tests run under Wine beside the program: presses the main
// window's Run button (実行) as a click does, once the window is there; with
// --and-close, asks the window to close in the same instant, while the visit
// is starting. Returns 0 when it pressed it, 1 when no such window came
// within 30 seconds.
#include <windows.h>

#include <cstring>

namespace {

const wchar_t kTitle[] = L"TAVIK支援　ＨＰ定期訪問";

BOOL CALLBACK FindRun(HWND child, LPARAM found) {
  wchar_t text[16] = {};
  wchar_t kind[16] = {};
  GetWindowTextW(child, text, 16);
  GetClassNameW(child, kind, 16);
  if (lstrcmpiW(kind, L"Button") == 0 && lstrcmpW(text, L"実行") == 0) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  const bool and_close = argc > 1 && std::strcmp(argv[1], "--and-close") == 0;
  for (int tries = 0; tries < 300; ++tries) {
    if (HWND window = FindWindowW(nullptr, kTitle)) {
      HWND run = nullptr;
      EnumChildWindows(window, FindRun, reinterpret_cast<LPARAM>(&run));
      if (run && IsWindowVisible(run)) {
        SendMessageW(run, BM_CLICK, 0, 0);
        if (and_close) PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
      }
    }
    Sleep(100);
  }
  return 1;
}
