// What the tests of visits share: a real web server on 127.0.0.1 and a main
// window, shown, whose day and night addresses are pages of it.
#pragma once

#include "app/clock.h"
#include "tests/support.h"

class VisitTest : public testing::Test {
 protected:
  void SetUp() override {
    form = new TForm1(nullptr);
    form->Show();
    form->Edit1->SetValue(server.Url("/day.php"));
    form->Edit3->SetValue(server.Url("/night.php"));
    form->Edit2->SetValue("5");
  }
  void TearDown() override {
    SetClockForTesting({});
    if (form) DestroyForm(form);
  }

  // Presses Run and waits for the request it makes to arrive at `path`.
  bool RunAndWaitFor(const std::string& path) {
    const int before = server.CountRequests(path);
    form->Button1Click(form->Button1);
    return server.WaitForRequests(path, before + 1);
  }
  bool TickAndWaitFor(const std::string& path) {
    const int before = server.CountRequests(path);
    form->Timer1Timer(form->Timer1);
    return server.WaitForRequests(path, before + 1);
  }
  // Serves `body` at `path`, and presses Run with the day address on it.
  bool RunOnPage(const std::string& path, const std::string& body) {
    TestServer::Response page;
    page.body = body;
    server.Serve(path, page);
    form->Edit1->SetValue(server.Url(path));
    return RunAndWaitFor(path);
  }
  // Points the day address at `path` and lets the timer tick.
  bool NextTickReaches(const std::string& path) {
    form->Edit1->SetValue(server.Url(path));
    return TickAndWaitFor(path);
  }
  bool IsAqua() const { return form->CheckBox1->GetBackgroundColour() == wxColour(0, 255, 255); }

  TempWorkingDirectory dir;
  TestServer server;
  TForm1* form = nullptr;
};
