// What the tests need of Windows itself.
#include "tests/support.h"

#include <windows.h>

void CloseWindowAsTheUserDoes(wxWindow* window) {
  ::PostMessageW(static_cast<HWND>(window->GetHandle()), WM_SYSCOMMAND, SC_CLOSE, 0);
}
