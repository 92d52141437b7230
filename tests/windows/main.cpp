// Starts the toolkit, then runs the tests (the Windows build; see tests/main.cpp).
#include <gtest/gtest.h>

#include "app/application.h"
#include "app/exception.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  wxApp::SetInstance(new TApplication);
  try {
    Application->Initialize(argc, argv);
  } catch (const Exception& error) {
    Application->ShowException(error);
    return 1;
  }
  Application->SetTitle(L"ＴＡＶＩＫ支援　ＨＰ定期訪問");
  const int result = RUN_ALL_TESTS();
  wxEntryCleanup();
  return result;
}
