// What the tests share: the event loop, a real web server on 127.0.0.1, and a
// real main window in a temporary working directory.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/string.h>

#include "app/form1.h"

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

// A web server on 127.0.0.1 that records every request it is sent.
class TestServer {
 public:
  struct Request {
    std::string method;
    std::string path;  // with the query, if any
    std::map<std::string, std::string> headers;
  };
  struct Response {
    int status = 200;
    std::string content_type = "text/html; charset=utf-8";
    std::string body = "<html><body>ok</body></html>";
    std::vector<std::pair<std::string, std::string>> headers;
  };

  // Plain HTTP; with `https`, TLS with a self-signed certificate that no
  // browser should accept.
  explicit TestServer(bool https = false);
  ~TestServer();

  // The address of `path` on this server, e.g. http://127.0.0.1:PORT/a.php
  std::string Url(const std::string& path) const;
  // What the server answers for `path` (without query); others get the default page.
  void Serve(const std::string& path, Response response);

  const std::vector<Request>& Requests() const;
  int CountRequests(const std::string& path) const;
  // Waits (running the event loop) until `path` has been requested `count` times.
  bool WaitForRequests(const std::string& path, int count, int timeout_ms = 10000);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

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

// Waits up to `timeout_ms` (running the event loop) for a child process to
// end; its wait status, or -1 when it had to be killed (POSIX only).
int WaitForTheEnd(pid_t child, int timeout_ms);

// The shown top-level windows on the display, of any program, with this title.
int WindowsTitled(const wxString& title);

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
