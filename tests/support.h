// What the tests share: the event loop, a real web server on 127.0.0.1
// (tests/test_server.h), and a real main window in a temporary working directory.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/string.h>

#include "app/form1.h"
#include "tests/test_server.h"

// Starts the toolkit as the program does, runs every test, and ends the toolkit;
// the tests' exit status.
int RunAllTestsWithTheToolkit(int& argc, char** argv);

// The HOME the tests run with: a fresh temporary directory.
const std::string& TestHome();
// Files and folders under it that are not the platform's own (the session's
// runtime folder, the fonts' and the desktop settings' caches).
std::vector<std::string> FilesWrittenUnderHome();

// Runs the event loop until `done` holds or `timeout_ms` has passed; returns `done()`.
// Errors escaping handlers meanwhile take the application's error path.
bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 10000);
// Runs the event loop for a while.
void PumpFor(int milliseconds);

// A fresh, empty temporary directory made the working directory for the
// fixture's life; the earlier working directory comes back afterwards.
class TempWorkingDirectory {
 public:
  TempWorkingDirectory();
  ~TempWorkingDirectory();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Names of the files in the directory.
  std::vector<std::string> List() const;

 private:
  std::string previous_;
  std::string path_;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

// Collects the messages that would have been shown in the error box.
class ErrorCapture {
 public:
  ErrorCapture();
  ~ErrorCapture();
  std::vector<wxString> messages;
};

// Makes Now() return today at the given local time.
void SetClockTo(int hour, int minute, int second);

// Collects what is written to standard error while it lives (Linux).
class StandardErrorCapture {
 public:
  StandardErrorCapture();
  ~StandardErrorCapture();
  StandardErrorCapture(const StandardErrorCapture&) = delete;
  StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;
  // What was written so far; with a prefix, only its lines that begin with it.
  std::string Text() const;
  std::vector<std::string> Lines(const std::string& prefix) const;

 private:
  int saved_;
  std::FILE* file_;
};

// Waits up to `timeout_ms` (running the event loop) for a child process to
// end; its wait status, or -1 when it had to be killed (POSIX only).
int WaitForTheEnd(pid_t child, int timeout_ms);

// The shown top-level windows on the display, of any program, with this title.
int WindowsTitled(const wxString& title);
// Where the shown top-level window of process `owner` is in the display's
// stacking order (higher is nearer the front); -1 when it has none.
int StackingPosition(long owner);

// Destroys a window the way the toolkit does once it has closed.
void DestroyForm(TForm1* form);

// Asks the window to close as the window manager does when the user closes it.
void CloseWindowAsTheUserDoes(wxWindow* window);

// A new main window, as the program starts, in a fresh working directory.
class WindowTest : public testing::Test {
 protected:
  void SetUp() override { form = new TForm1(nullptr); }
  void TearDown() override { DestroyForm(form); }

  TempWorkingDirectory dir;
  TForm1* form = nullptr;
};
