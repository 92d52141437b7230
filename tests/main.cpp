// Starts the toolkit on the (virtual) display, then runs the tests.
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/support.h"

namespace {
std::string test_home;
}  // namespace

const std::string& TestHome() { return test_home; }

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // A home of its own, so that the tests can see every file the program writes.
  std::string pattern = (std::filesystem::temp_directory_path() / "hpvisit-home-XXXXXX").string();
  test_home = mkdtemp(pattern.data());
  setenv("HOME", test_home.c_str(), 1);
  for (const char* name : {"XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"})
    unsetenv(name);
  // As in a desktop user's home, the media framework's cache folder exists
  // (other programs made it): the engine would write into it.
  std::filesystem::create_directories(test_home + "/.cache/gstreamer-1.0");
  // A desktop session's runtime directory, where the platform keeps its
  // per-session state (the web sandbox's among it).
  std::filesystem::create_directory(test_home + "/.runtime");
  std::filesystem::permissions(test_home + "/.runtime", std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", (test_home + "/.runtime").c_str(), 1);
  const int result = RunAllTestsWithTheToolkit(argc, argv);
  std::error_code ignored;
  std::filesystem::remove_all(test_home, ignored);
  return result;
}
