// Starts the toolkit, then runs the tests (the Windows build; see tests/main.cpp).
#include <gtest/gtest.h>

#include "tests/support.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RunAllTestsWithTheToolkit(argc, argv);
}
