#include "tests/support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <wx/evtloop.h>
#include <wx/timer.h>

#include "app/clock.h"
#include "app/application.h"
#include "app/exception.h"

bool PumpUntil(const std::function<bool()>& done, int timeout_ms) {
  if (done()) return true;
  wxGUIEventLoop loop;
  const wxLongLong deadline = wxGetLocalTimeMillis() + timeout_ms;
  wxTimer poll;
  poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (done() || wxGetLocalTimeMillis() >= deadline) loop.Exit();
  });
  poll.Start(2);
  loop.Run();
  poll.Stop();
  return done();
}

void PumpFor(int milliseconds) { PumpUntil([] { return false; }, milliseconds); }

int TestServer::CountRequests(const std::string& path) const {
  int count = 0;
  for (const Request& request : Requests()) count += request.path == path;
  return count;
}

bool TestServer::WaitForRequests(const std::string& path, int count, int timeout_ms) {
  return PumpUntil([&] { return CountRequests(path) >= count; }, timeout_ms);
}

TempWorkingDirectory::TempWorkingDirectory() {
  previous_ = std::filesystem::current_path().string();
  // A new directory of a random name (portable mkdtemp).
  std::random_device random;
  std::filesystem::path made;
  do made = std::filesystem::temp_directory_path() / ("hpvisit-test-" + std::to_string(random()));
  while (!std::filesystem::create_directory(made));
  path_ = made.string();
  std::filesystem::current_path(path_);
}

TempWorkingDirectory::~TempWorkingDirectory() {
  std::filesystem::current_path(previous_);
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempWorkingDirectory::List() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_))
    names.push_back(entry.path().filename().string());
  return names;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

ErrorCapture::ErrorCapture() {
  TApplication::SetErrorSinkForTesting([this](const wxString& message) { messages.push_back(message); });
}

ErrorCapture::~ErrorCapture() { TApplication::SetErrorSinkForTesting({}); }

void SetClockTo(int hour, int minute, int second) {
  SetClockForTesting([=] {
    wxDateTime now = wxDateTime::Today();
    now.SetHour(hour).SetMinute(minute).SetSecond(second);
    return now;
  });
}

void DestroyForm(TForm1* form) {
  form->Destroy();
  PumpFor(20);
}

int RunAllTestsWithTheToolkit(int& argc, char** argv) {
  wxApp::SetInstance(new TApplication);
  try {
    Application->Initialize(argc, argv);
  } catch (const Exception& error) {
    Application->ShowException(error);
    return 1;
  }
  Application->SetTitle(kApplicationTitle);
  const int result = RUN_ALL_TESTS();
  wxEntryCleanup();
  return result;
}
