// Visits: Run and the timer, the choice between day and night, the period,
// and the address as it reaches the pane: the tests that run on every
// platform (compiled for Windows too), each visit a real request.
#include <algorithm>
#include <functional>
#include <vector>

#include "app/exception.h"
#include "pane/with_scheme.h"
#include "tests/visit_fixture.h"
#include "visit/retry.h"
#include "visit/visit_history.h"

namespace {

TEST_F(VisitTest, NightAddressOnlyWhenTickedAndBeforeSeven) {
  struct Case {
    bool ticked;
    int hour, minute, second;
    bool by_tick;
    const char* path;
    bool aqua_after;  // starting from aqua
  };
  const Case cases[] = {
      {true, 6, 59, 59, false, "/night.php", true},
      {true, 0, 0, 0, true, "/night.php", true},
      {true, 7, 0, 0, false, "/day.php", true},   // Run leaves the colour as it was
      {true, 7, 0, 0, true, "/day.php", false},   // a tick resets it
      {false, 3, 0, 0, true, "/day.php", false},
      {false, 3, 0, 0, false, "/day.php", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ticked << " " << c.hour << ":" << c.minute << ":"
                                    << c.second << (c.by_tick ? " tick" : " Run"));
    SetClockTo(c.hour, c.minute, c.second);
    form->CheckBox1->SetValue(c.ticked);
    form->CheckBox1->SetBackgroundColour(wxColour(0, 255, 255));
    EXPECT_TRUE(c.by_tick ? TickAndWaitFor(c.path) : RunAndWaitFor(c.path));
    EXPECT_EQ(IsAqua(), c.aqua_after);
    if (!c.aqua_after) {
      EXPECT_EQ(form->CheckBox1->GetBackgroundColour(), TForm1::BtnFace());
    }
  }
}

TEST_F(VisitTest, ClockIsNotReadWhenTheBoxIsClear) {
  int reads = 0;
  SetClockForTesting([&] {
    ++reads;
    return wxDateTime::Now();
  });
  form->CheckBox1->SetValue(false);
  EXPECT_TRUE(TickAndWaitFor("/day.php"));
  EXPECT_EQ(reads, 0);
  form->CheckBox1->SetValue(true);
  EXPECT_TRUE(PumpUntil([&] { return server.CountRequests("/day.php") >= 1; }));
  form->Timer1Timer(form->Timer1);
  EXPECT_EQ(reads, 1);
}

TEST_F(VisitTest, RunRejectsTextThatIsNotAnInteger) {
  form->Timer1->SetInterval(123000);
  for (const char* text : {"abc", ""}) {
    form->Edit2->SetValue(text);
    try {
      form->Button1Click(form->Button1);
      ADD_FAILURE() << "no error for '" << text << "'";
    } catch (const EConvertError& error) {
      EXPECT_NE(error.Message.Find(L"間隔（分）には 1～60"), wxNOT_FOUND) << error.Message;
    }
    EXPECT_EQ(form->Timer1->GetInterval(), 123000u);
    EXPECT_TRUE(form->Timer1->IsRunning());
    EXPECT_EQ(form->Edit2->GetValue(), text);
  }
  PumpFor(300);
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(VisitTest, RunClampsThePeriodAndLeavesTheBoxAsTyped) {
  const std::pair<const char*, unsigned> cases[] = {
      {"0", 60000}, {"-5", 60000}, {"600", 3600000}, {"15", 900000}, {"60", 3600000}};
  for (const auto& [text, period] : cases) {
    SCOPED_TRACE(text);
    form->Edit2->SetValue(text);
    form->Timer1->SetEnabled(false);
    EXPECT_TRUE(RunAndWaitFor("/day.php"));
    EXPECT_EQ(form->Timer1->GetInterval(), period);
    EXPECT_TRUE(form->Timer1->GetEnabled());
    EXPECT_TRUE(form->Timer1->IsRunning());
    EXPECT_EQ(form->Edit2->GetValue(), text);
  }
}

TEST_F(VisitTest, TheTimerVisitsAtItsPeriodWithTheAddressOfTheMoment) {
  form->Timer1->SetInterval(150);
  EXPECT_TRUE(server.WaitForRequests("/day.php", 2));
  form->Edit1->SetValue(server.Url("/edited.php"));  // read afresh, no Run needed
  EXPECT_TRUE(server.WaitForRequests("/edited.php", 1));
  form->Timer1->SetInterval(60000);
}

TEST_F(VisitTest, EveryVisitReachesTheServerEvenWhenThePageMayBeCached) {
  TestServer::Response cacheable;
  cacheable.headers = {{"Cache-Control", "public, max-age=3600"},
                       {"Expires", "Thu, 01 Jan 2099 00:00:00 GMT"},
                       {"ETag", "\"v1\""},
                       {"Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT"}};
  server.Serve("/a.php", cacheable);
  server.Serve("/b.php", cacheable);
  form->Edit1->SetValue(server.Url("/a.php"));
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(RunAndWaitFor("/a.php")) << "visit " << i;
  EXPECT_EQ(server.CountRequests("/a.php"), 3);

  // A, B, A
  EXPECT_TRUE(NextTickReaches("/b.php"));
  EXPECT_TRUE(NextTickReaches("/a.php"));
  EXPECT_EQ(server.CountRequests("/a.php"), 4);
  EXPECT_EQ(server.CountRequests("/b.php"), 1);
}

// The strip under the pane says when the next visit will be, and, once a
// visit has ended, its time, day or night, and its outcome.
TEST_F(VisitTest, StatusLineUnderThePaneTellsTheLastVisitAndTheNext) {
  const wxRect pane = form->WebBrowser1->GetRect(), status = form->Label5->GetRect();
  EXPECT_GT(status.GetTop(), pane.GetBottom());
  EXPECT_LE(status.GetBottom(), form->Edit1->GetParent()->GetClientSize().y);
  // The times a label may show for `at`, to the second, give or take one.
  const auto around = [](const wxString& prefix, const wxDateTime& at) {
    std::vector<wxString> texts;
    for (int s : {-1, 0, 1}) texts.push_back(prefix + (at + wxTimeSpan::Seconds(s)).Format("%H:%M:%S"));
    return texts;
  };
  const auto next_in = [&](int minutes) { return around(L"次回 ", wxDateTime::Now() + wxTimeSpan::Minutes(minutes)); };
  const auto shows_one_of = [&](const std::vector<wxString>& texts, bool at_start = false) {
    const wxString label = form->Label5->GetLabel();
    return std::any_of(texts.begin(), texts.end(), [&](const wxString& text) {
      return at_start ? label.StartsWith(text) : label.EndsWith(text);
    });
  };
  form->Timer1->SetInterval(60000);
  form->ShowVisitStatus();
  EXPECT_TRUE(shows_one_of(next_in(1))) << form->Label5->GetLabel();

  const std::vector<wxString> visited = around(L"前回 ", wxDateTime::Now());
  EXPECT_TRUE(RunAndWaitFor("/day.php"));
  EXPECT_TRUE(PumpUntil([&] { return shows_one_of(visited, true); })) << form->Label5->GetLabel();
  const wxString label = form->Label5->GetLabel();
  EXPECT_NE(label.Find(L"（昼用）"), wxNOT_FOUND) << label;
  EXPECT_NE(label.Find(L" 秒"), wxNOT_FOUND) << label;  // how long it took, in seconds
  const auto next = around(L"次回 ", wxDateTime::Now() + wxTimeSpan::Milliseconds(form->Timer1->TimeToNextTick()->count()));
  EXPECT_TRUE(std::any_of(next.begin(), next.end(), [&](const wxString& text) { return label.Find(text) != wxNOT_FOUND; }))
      << label;

  // A failed visit: how many failed since the start, and when the last did,
  // stay in the line; its tip lists the visits, newest first. No English, but
  // for the engine's own reason where a load failed otherwise (in the tip only).
  TestServer::Response error;
  error.status = 500;
  server.Serve("/error.php", error);
  EXPECT_TRUE(NextTickReaches("/error.php"));
  EXPECT_TRUE(PumpUntil([&] { return form->Label5->GetToolTipText().Freq('\n') == 2; }))  // two visits
      << form->Label5->GetToolTipText();
  const wxString failed = form->Label5->GetLabel(), tip = form->Label5->GetToolTipText();
  EXPECT_NE(failed.Find(L" 回（最終 " + wxDateTime::Now().Format("%H:%M") + L"）"), wxNOT_FOUND) << failed;
  EXPECT_NE(failed.Find(L"500 エラー"), wxNOT_FOUND) << failed;
  const wxArrayString lines = wxSplit(tip, '\n');
  EXPECT_EQ(lines[0], L"直近 2 回の訪問（新しい順）") << tip;
  EXPECT_NE(lines[1].Find(L"500 エラー（サーバー内部）"), wxNOT_FOUND) << tip;  // newest first
  EXPECT_TRUE(lines[1].StartsWith(wxDateTime::Now().Format("%m/%d "))) << tip;
  wxString ours = tip;
  for (int at; (at = ours.Find(L"読み込み失敗（")) != wxNOT_FOUND;) ours.erase(at, ours.find(L"）", at) - at + 1);
  for (const wxString& text : {failed, ours})
    for (const wxUniChar c : text) EXPECT_FALSE((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) << text;
}

// At the window's size the status line holds its longest content in whole
// words: the next visit and the failures always, the last visit as far as it
// fits (all of it is in the tip). A quick visit is never "0.0 秒".
TEST_F(VisitTest, StatusLineFitsTheWindowInWholeWords) {
  using Kind = TVisitOutcome::Kind;
  const wxDateTime yesterday = wxDateTime::Now() - wxTimeSpan::Days(1);
  TVisitOutcome cut_short, quick;
  cut_short.kind = Kind::kCutShort;
  cut_short.status = 200;
  cut_short.milliseconds = 59000;
  quick.kind = Kind::kResponse;
  quick.status = 404;
  quick.milliseconds = 7;
  TVisitHistory history;
  history.Add({TVisitBy::kTimer, true, yesterday}, quick);
  for (int i = 0; i < 11; ++i) history.Add({TVisitBy::kTimer, true, yesterday}, cut_short);
  const wxDateTime next = wxDateTime::Now() + wxTimeSpan::Minutes(60), retry = next - wxTimeSpan::Minutes(58);
  const wxString failures = L"失敗 12 回（最終 " + yesterday.Format("%m/%d %H:%M") + L"）";
  const int room = form->Label5->GetClientSize().x;
  const auto in_the_strip = [&](const wxString& text) { return form->Label5->GetTextExtent(text).x <= room; };
  const auto in_50 = [](const wxString& text) { return text.length() <= 50; };
  for (const auto& fits : {std::function<bool(const wxString&)>(in_the_strip), std::function<bool(const wxString&)>(in_50)}) {
    const wxString line = history.StatusLine(&next, &retry, fits);
    EXPECT_TRUE(fits(line)) << line;
    EXPECT_TRUE(line.EndsWith(L"次回 " + next.Format("%H:%M:%S") + L"　再試行 " + retry.Format("%H:%M:%S") + L"　" + failures))
        << line;
  }
  EXPECT_TRUE(history.StatusLine(&next, &retry, in_the_strip).StartsWith(L"前回 "))
      << history.StatusLine(&next, &retry, in_the_strip);
  EXPECT_NE(history.Tip().Find(L"（夜用）404 エラー（ページなし）、0.1 秒未満"), wxNOT_FOUND) << history.Tip();
}

// Started with --run, the window presses Run once it is shown: a visit at
// once, then one every period of the settings file.
TEST(StartedWithRun, VisitsAtOnceThenEveryPeriodOfTheSettingsFile) {
  TempWorkingDirectory dir;
  TestServer server;
  WriteBytes("udat.txt", "2\r\n0\r\n" + server.Url("/run.php") + "\r\n" + server.Url("/run.php"));
  TForm1* form = new TForm1(nullptr);
  form->QueueRunPress();
  form->Show();
  EXPECT_TRUE(server.WaitForRequests("/run.php", 1, 5000));
  EXPECT_EQ(form->Timer1->GetInterval(), 120000u);
  DestroyForm(form);
}

// A visit whose request never went out is tried again 10 s later, then at
// intervals twice as long each time, never more than 2 minutes apart.
TEST(Retry, TriesComeAtGrowingIntervalsOfAtMostTwoMinutes) {
  const std::pair<int, int> rows[] = {{0, 10}, {1, 20}, {2, 40}, {3, 80}, {4, 120}, {30, 120}};
  for (const auto& [tries, seconds] : rows) EXPECT_EQ(RetryDelay(tries), std::chrono::seconds(seconds)) << tries;
}

TEST(WithScheme, CompletesAnAddressWithoutASchemeAsHttp) {
  const struct {
    const char* typed;
    const char* visited;
  } rows[] = {
      {"example.com/a.php", "http://example.com/a.php"},
      {"127.0.0.1:8095/x", "http://127.0.0.1:8095/x"},
      {"localhost:80", "http://localhost:80"},
      {"localhost:80?q", "http://localhost:80?q"},
      {" example.jp/a.php\n", "http://example.jp/a.php"},
      {"http://example.com/a.php\n", "http://example.com/a.php"},
      {"https://example.com/", "https://example.com/"},
      {"file:///tmp/page.html", "file:///tmp/page.html"},
      {"about:blank", "about:blank"},
      {"mailto:someone@example.com", "mailto:someone@example.com"},
      {"host:8x/a", "host:8x/a"},  // not a port: a scheme of its own
      {"1host/a", "http://1host/a"},
      {"", ""},
      {" \n", " \n"},
  };
  for (const auto& row : rows) EXPECT_EQ(WithScheme(row.typed), row.visited) << row.typed;
}

}  // namespace
