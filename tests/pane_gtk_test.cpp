// The pane on WebKitGTK: every visit reaches a real server whatever the page
// does, nothing opens over the window, nothing is written to disk, and the
// engine's processes are confined, bounded and replaced when they die.
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>

#include <glib-unix.h>
#include <glib.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>
#include <wx/arrstr.h>
#include <wx/uiaction.h>

#include "pane/engine_memory.h"
#include "pane/process_tree.h"
#include "pane/sandbox.h"
#include "tests/visit_fixture.h"
#include "visit/visit_history.h"

namespace {

// After every kind of visit, nothing but the platform's own caches was
// written under HOME.
class PaneTest : public VisitTest {
 protected:
  void TearDown() override {
    VisitTest::TearDown();
    const std::vector<std::string> written = FilesWrittenUnderHome();
    EXPECT_TRUE(written.empty()) << testing::PrintToString(written);
  }
};

TEST_F(PaneTest, AddressGoesToThePaneAsTheBoxGivesIt) {
  // As loaded from the settings file: with its line feed.
  form->Edit1->SetValue(server.Url("/lf.php") + "\n");
  EXPECT_TRUE(RunAndWaitFor("/lf.php"));
  form->Edit1->SetValue(server.Url("/query.php?x=1&y=%E6%97%A5"));
  EXPECT_TRUE(RunAndWaitFor("/query.php?x=1&y=%E6%97%A5"));
  // Typed without a scheme: visited over http, as the platform's browser
  // control does, while the box keeps the text as typed.
  const std::string port = server.Url("").substr(std::string("http://127.0.0.1:").size());
  for (const std::string& typed : {"127.0.0.1:" + port + "/bare.php\n", "localhost:" + port + "/bare.php"}) {
    form->Edit1->SetValue(typed);
    EXPECT_TRUE(RunAndWaitFor("/bare.php")) << typed;
    EXPECT_EQ(form->Edit1->GetValue(), typed);
  }
  // A scheme of its own is kept.
  WriteBytes(dir.File("page.html"), "<img src='" + server.Url("/from-file.png") + "'>");
  form->Edit1->SetValue("file://" + dir.File("page.html"));
  EXPECT_TRUE(RunAndWaitFor("/from-file.png"));
  // An empty address is passed on as it is, and blocks nothing.
  form->Edit1->SetValue("");
  form->Button1Click(form->Button1);
  PumpFor(200);
  EXPECT_TRUE(NextTickReaches("/after-empty.php"));
}

// Top-level windows that are on screen now.
std::set<GtkWindow*> VisibleWindows() {
  std::set<GtkWindow*> shown;
  GList* all = gtk_window_list_toplevels();
  for (GList* it = all; it; it = it->next)
    if (gtk_widget_get_visible(GTK_WIDGET(it->data))) shown.insert(GTK_WINDOW(it->data));
  g_list_free(all);
  return shown;
}

// Top-level windows on screen now that were not in `before`: those a test's
// page opened (a window of an earlier test may close meanwhile).
std::set<GtkWindow*> WindowsOpenedSince(const std::set<GtkWindow*>& before) {
  std::set<GtkWindow*> opened;
  for (GtkWindow* window : VisibleWindows())
    if (!before.count(window)) opened.insert(window);
  return opened;
}

// The engine's view in the pane.
WebKitWebView* EngineView(TForm1* form) {
  GList* children = gtk_container_get_children(GTK_CONTAINER(form->WebBrowser1->GetHandle()));
  WebKitWebView* view = children ? WEBKIT_WEB_VIEW(children->data) : nullptr;
  g_list_free(children);
  return view;
}

// Dialogs the engine draws inside the pane itself (authentication, script
// dialogs) are child widgets of its view, shown over the page.
int DialogsInThePane(TForm1* form) {
  int children = 0;
  gtk_container_forall(GTK_CONTAINER(EngineView(form)),
                       [](GtkWidget* child, gpointer count) {
                         if (gtk_widget_get_visible(child)) ++*static_cast<int*>(count);
                       },
                       &children);
  return children;
}

TEST_F(PaneTest, DialogsAreAnsweredWithoutShowingAnything) {
  const auto windows = VisibleWindows();
  EXPECT_TRUE(RunOnPage("/dialogs.php",
      "<script>alert('a'); var c = confirm('c'); var p = prompt('p', 'd'); window.print();"
      "location.href = '/after-dialogs.php?c=' + c + '&p=' + p;</script>"));
  EXPECT_TRUE(PumpUntil([&] { return !server.Requests().empty() &&
                                     server.Requests().back().path.rfind("/after-dialogs.php", 0) == 0; }));
  EXPECT_EQ(server.Requests().back().path.substr(0, 26), "/after-dialogs.php?c=false");
  EXPECT_TRUE(WindowsOpenedSince(windows).empty());
  EXPECT_EQ(DialogsInThePane(form), 0);
}

TEST_F(PaneTest, PagesOpenAndCloseNoWindows) {
  const auto windows = VisibleWindows();
  EXPECT_TRUE(RunOnPage("/windows.php",
      "<a id=l href='/blank.php' target='_blank'>x</a><script>"
      "window.open('/popup.php'); document.getElementById('l').click(); window.close();"
      "setTimeout(function() { location.href = '/after-windows.php'; }, 100);</script>"));
  EXPECT_TRUE(server.WaitForRequests("/after-windows.php", 1));
  EXPECT_EQ(server.CountRequests("/popup.php"), 0);
  EXPECT_EQ(server.CountRequests("/blank.php"), 0);
  EXPECT_TRUE(WindowsOpenedSince(windows).empty());
  EXPECT_TRUE(form->WebBrowser1->IsShown());
}

TEST_F(PaneTest, PermissionsAreDenied) {
  EXPECT_TRUE(RunOnPage("/permissions.php",
      "<script>"
      "navigator.geolocation.getCurrentPosition("
      "  function() { fetch('/geo-granted'); }, function() { fetch('/geo-denied'); });"
      "Notification.requestPermission().then(function(p) { fetch('/notify-' + p); });"
      "</script>"));
  EXPECT_TRUE(server.WaitForRequests("/geo-denied", 1));
  EXPECT_TRUE(server.WaitForRequests("/notify-denied", 1));
  EXPECT_EQ(server.CountRequests("/geo-granted"), 0);
  EXPECT_EQ(server.CountRequests("/notify-granted"), 0);
}

// A short sound, as a WAV file.
std::string Tone() {
  const uint32_t samples = 8000;
  std::string wav = "RIFF";
  auto put = [&](uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) wav += static_cast<char>(value >> (8 * i));
  };
  put(36 + samples, 4);
  wav += "WAVEfmt ";
  put(16, 4), put(1, 2), put(1, 2), put(8000, 4), put(8000, 4), put(1, 2), put(8, 2);
  wav += "data";
  put(samples, 4);
  for (uint32_t i = 0; i < samples; ++i) wav += static_cast<char>(i % 16 < 8 ? 0x60 : 0xA0);
  return wav;
}

// Pages that ask for the camera and microphone, or play sound or video, start
// the engine's media framework; it writes nothing under HOME or here (the
// last test of this file looks at HOME after all of them).
TEST_F(PaneTest, MediaPagesWriteNoFiles) {
  EXPECT_TRUE(RunOnPage("/camera.php",
      "<script>navigator.mediaDevices.getUserMedia({audio: true, video: true})"
      ".then(function() { fetch('/media-granted'); }, function() { fetch('/media-denied'); });"
      "</script>"));
  EXPECT_TRUE(server.WaitForRequests("/media-denied", 1));
  TestServer::Response tone;
  tone.content_type = "audio/wav";
  tone.body = Tone();
  server.Serve("/tone.wav", tone);
  EXPECT_TRUE(RunOnPage("/media.php",
      "<audio autoplay src='/tone.wav'></audio><video autoplay src='/tone.wav?v'></video>"
      "<script>var ended = 0; function done() { if (++ended == 2) fetch('/media-played'); }"
      "document.querySelector('audio').oncanplay = done;"
      "document.querySelector('video').oncanplay = done;</script>"));
  EXPECT_TRUE(server.WaitForRequests("/media-played", 1, 20000));
  EXPECT_EQ(server.CountRequests("/media-granted"), 0);
  EXPECT_TRUE(dir.List().empty()) << testing::PrintToString(dir.List());
}

TEST_F(PaneTest, HttpAuthenticationIsCancelled) {
  TestServer::Response challenge;
  challenge.status = 401;
  challenge.headers = {{"WWW-Authenticate", "Basic realm=\"r\""}};
  server.Serve("/auth.php", challenge);
  const auto windows = VisibleWindows();
  form->Edit1->SetValue(server.Url("/auth.php"));
  EXPECT_TRUE(RunAndWaitFor("/auth.php"));
  PumpFor(300);
  EXPECT_EQ(server.CountRequests("/auth.php"), 1);
  for (const auto& request : server.Requests()) EXPECT_EQ(request.headers.count("authorization"), 0u);
  EXPECT_TRUE(WindowsOpenedSince(windows).empty());
  EXPECT_EQ(DialogsInThePane(form), 0);
  EXPECT_TRUE(NextTickReaches("/after-auth.php"));
}

TEST_F(PaneTest, CertificateErrorFailsTheLoad) {
  TestServer https(true);
  https.Serve("/tls.php", {});
  form->Edit1->SetValue(https.Url("/tls.php"));
  form->Button1Click(form->Button1);
  PumpFor(1000);
  EXPECT_EQ(https.CountRequests("/tls.php"), 0);
  EXPECT_TRUE(NextTickReaches("/after-tls.php"));
}

// Clicks inside the pane, as a person would: pages may only ask some things
// (a file chooser, a confirmation before leaving) after a user's gesture.
void ClickInThePane(TForm1* form) {
  PumpFor(200);
  wxUIActionSimulator pointer;
  pointer.MouseMove(form->WebBrowser1->GetScreenPosition() + wxPoint(40, 40));
  PumpFor(50);
  pointer.MouseClick();
  PumpFor(300);
}

TEST_F(PaneTest, UserGestureDialogsNeitherShowNorHoldUpTheNextVisit) {
  const auto windows = VisibleWindows();
  EXPECT_TRUE(RunOnPage("/gesture.php",
      "<body style='margin:0'><input id=f type=file style='width:600px;height:300px'>"
      "<script>window.onbeforeunload = function(e) { e.preventDefault(); return 'stay'; };"
      "document.body.onclick = function() { fetch('/clicked'); };</script></body>"));
  PumpFor(300);
  ClickInThePane(form);
  EXPECT_TRUE(server.WaitForRequests("/clicked", 1));
  EXPECT_TRUE(WindowsOpenedSince(windows).empty());  // no file chooser
  EXPECT_EQ(DialogsInThePane(form), 0);
  EXPECT_TRUE(NextTickReaches("/after-gesture.php"));
  EXPECT_TRUE(WindowsOpenedSince(windows).empty());
}

TEST_F(PaneTest, DownloadsAreRefusedAndWriteNothing) {
  TestServer::Response attachment;
  attachment.content_type = "text/plain";
  attachment.body = "not to be saved";
  attachment.headers = {{"Content-Disposition", "attachment; filename=\"saved.txt\""}};
  server.Serve("/attachment.php", attachment);
  TestServer::Response binary;
  binary.content_type = "application/octet-stream";
  binary.body = std::string(1000, 'x');
  server.Serve("/file.bin", binary);

  form->Edit1->SetValue(server.Url("/attachment.php"));
  EXPECT_TRUE(RunAndWaitFor("/attachment.php"));
  EXPECT_TRUE(NextTickReaches("/file.bin"));
  PumpFor(500);
  EXPECT_TRUE(NextTickReaches("/after-download.php"));
  for (const auto& entry : std::filesystem::recursive_directory_iterator(TestHome()))
    EXPECT_EQ(entry.path().filename().string().find("saved"), std::string::npos) << entry.path();
  EXPECT_TRUE(dir.List().empty());
}

// A port that takes connections and never answers.
class SilentPort {
 public:
  SilentPort() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, 16);
    socklen_t size = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~SilentPort() { Close(); }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/hung.php"; }
  // Stops listening: a connection waiting to be taken is reset, a new one refused.
  void Close() {
    if (source_) g_source_remove(source_);
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    source_ = 0;
  }
  // From now on each connection is taken and reset at once, before any answer.
  void ResetEveryConnection() {
    source_ = g_unix_fd_add(fd_, G_IO_IN, [](gint fd, GIOCondition, gpointer) {
      const int connection = accept(fd, nullptr, nullptr);
      const linger reset = {1, 0};
      setsockopt(connection, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      close(connection);
      return gboolean(G_SOURCE_CONTINUE);
    }, nullptr);
  }
  // From now on each request is answered with `answer` only, and its
  // connection then closed, or reset.
  void AnswerWithOnly(std::string answer, bool reset) {
    answer_ = std::move(answer);
    reset_ = reset;
    source_ = g_unix_fd_add(fd_, G_IO_IN, [](gint fd, GIOCondition, gpointer self) {
      const int connection = accept(fd, nullptr, nullptr);
      g_unix_fd_add(connection, G_IO_IN, [](gint connection, GIOCondition, gpointer data) {
        const auto* self = static_cast<SilentPort*>(data);
        char request[4096];
        if (read(connection, request, sizeof request) > 0) {
          (void)!write(connection, self->answer_.data(), self->answer_.size());
          const linger reset = {1, 0};
          if (self->reset_) setsockopt(connection, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        close(connection);
        return gboolean(G_SOURCE_REMOVE);
      }, self);
      return gboolean(G_SOURCE_CONTINUE);
    }, this);
  }

 private:
  int fd_;
  int port_ = 0;
  guint source_ = 0;
  std::string answer_;
  bool reset_ = false;
};

TEST_F(PaneTest, FailedVisitsBlockNothing) {
  SilentPort hung;
  form->Edit1->SetValue(hung.Url());
  form->Button1Click(form->Button1);
  PumpFor(300);
  EXPECT_TRUE(NextTickReaches("/after-hung.php"));

  form->Edit1->SetValue("http://127.0.0.1:1/refused.php");
  form->Timer1Timer(form->Timer1);
  PumpFor(300);
  EXPECT_TRUE(NextTickReaches("/after-refused.php"));

  TestServer::Response error;
  error.status = 500;
  server.Serve("/error.php", error);
  EXPECT_TRUE(NextTickReaches("/error.php"));
  EXPECT_TRUE(NextTickReaches("/after-error.php"));

  // A page whose script never ends holds its web process.
  TestServer::Response busy;
  busy.body = "<html><body><script>for (;;) {}</script></body></html>";
  server.Serve("/busy.php", busy);
  EXPECT_TRUE(NextTickReaches("/busy.php"));
  PumpFor(300);
  EXPECT_TRUE(NextTickReaches("/after-busy.php"));
  EXPECT_TRUE(NextTickReaches("/after-busy-again.php"));
}

// The engine's process whose command name begins with `prefix`, or 0.
pid_t EngineProcess(const std::string& prefix) {
  for (const TProcess& process : Descendants(getpid()))
    if (process.name.rfind(prefix, 0) == 0) return process.pid;
  return 0;
}

pid_t WebProcess() { return EngineProcess("WebKitWebProces"); }

// The fields of a line of the record.
struct RecordLine {
  std::string by, time_of_day, outcome, milliseconds, address, ended_at;
  explicit RecordLine(const std::string& line) {
    std::istringstream fields(line);
    std::string visit, when, arrow;
    fields >> visit >> when >> by >> time_of_day;
    const std::size_t open = line.find('"'), close = line.find('"', open + 1);
    outcome = line.substr(open + 1, close - open - 1);
    std::istringstream(line.substr(close + 1)) >> milliseconds >> address >> arrow >> ended_at;
    EXPECT_EQ(when.size(), 19u) << line;  // 2026-12-07T21:40:05
    EXPECT_TRUE(milliseconds.size() > 2 && milliseconds.find_first_not_of("0123456789") == milliseconds.size() - 2 &&
                milliseconds.substr(milliseconds.size() - 2) == "ms") << line;
  }
};

// Every visit ends in exactly one line of the record, written when it ends:
// when and how it was made, its outcome (the page's status, or what went
// wrong), how long it took, and the address last (and where a redirect
// ended: only there, never for an address the engine writes otherwise).
TEST_F(PaneTest, EveryVisitEndsInOneLineOfTheRecord) {
  TestServer https(true);
  SilentPort hung, stopped, resetting, held_at_the_end, closed_early, reset_early, chunks_cut;
  stopped.Close();
  resetting.ResetEveryConnection();
  // Answers that promise more than they bring: 10 bytes of 1,000, or chunks
  // without the last.
  const std::string promised = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 9000\r\n\r\n<p>012345";
  closed_early.AnswerWithOnly(promised, false);
  reset_early.AnswerWithOnly(promised + std::string(2000, ' '), true);  // once the page is shown
  chunks_cut.AnswerWithOnly(
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n3e8\r\n<p>012345", false);
  TestServer::Response error, moved, held, challenge, no_content, attachment, unanswered;
  error.status = 500;
  moved.status = 302;
  moved.headers = {{"Location", "/final.php"}};
  held.endless = true;
  held.body = "<html><body>" + std::string(1024, ' ');  // more than the engine waits for to sniff its type
  challenge.status = 401;
  challenge.headers = {{"WWW-Authenticate", "Basic realm=\"r\""}};
  no_content.status = 204;
  attachment.content_type = "application/octet-stream";
  attachment.headers = {{"Content-Disposition", "attachment; filename=\"a.bin\""}};
  server.Serve("/error.php", error);
  server.Serve("/moved.php", moved);
  server.Serve("/held.php", held);
  server.Serve("/auth.php", challenge);
  server.Serve("/empty.php", no_content);
  server.Serve("/download.php", attachment);
  unanswered.held = true;
  server.Serve("/unanswered.php", unanswered);
  TestServer::Response missing;
  missing.status = 404;
  server.Serve("/missing.php", missing);
  const std::string port = server.Url("").substr(server.Url("").rfind(':'));
  enum class End { kItself, kByTheNext, kByClosingTheWindow };
  const struct {
    std::string address, outcome;
    std::wstring words;  // as the visit's line in the status line's tip says it
    std::string ended_at;
    bool tried_again = false;  // its request never went out
    End end = End::kItself;
    std::function<void()> once_asked = [] {};
  } rows[] = {
      {server.Url("/ok.php"), "200 OK", L"正常（200）", ""},
      {server.Url("/error.php"), "500 Internal Server Error", L"500 エラー（サーバー内部）", ""},
      {server.Url("/missing.php"), "404 Not Found", L"404 エラー（ページなし）", ""},
      {server.Url("/auth.php"), "401 Unauthorized", L"401 エラー（認証が必要）", ""},
      {server.Url("/empty.php"), "204 No Content", L"正常（204）", ""},
      {server.Url("/download.php"), "200 OK", L"正常（200）", ""},  // the download refused
      {stopped.Url(), "connection refused", L"接続拒否", "", true},
      {resetting.Url(), "connection reset", L"接続リセット", ""},
      {closed_early.Url(), "cut short after 200 OK", L"受信未完了（200）", ""},
      {reset_early.Url(), "cut short after 200 OK", L"受信未完了（200）", ""},
      {chunks_cut.Url(), "cut short after 200 OK", L"受信未完了（200）", ""},
      {server.Url("/moved.php"), "200 OK", L"正常（200）", server.Url("/final.php")},
      // Addresses the engine writes otherwise are not redirects.
      {server.Url(""), "200 OK", L"正常（200）", ""},
      {"http://LOCALHOST" + port + "/日本語.php?q=語", "200 OK", L"正常（200）", ""},
      {https.Url("/tls.php"), "certificate refused", L"証明書エラー", ""},
      {"http://hpvisit.invalid/a.php", "name not resolved", L"サーバー名不明", "", true},
      {"http://127.0.0.1:6000/x11.php", "failed: the engine would not load it",
       L"読み込み失敗（the engine would not load it）", ""},
      {hung.Url(), "no answer before the next visit", L"タイムアウト", "", false, End::kByTheNext},
      {server.Url("/held.php"), "cut short by the next visit after 200 OK", L"受信未完了（200）", "", false,
       End::kByTheNext},
      {server.Url("/last.php"), "200 OK", L"正常（200）", ""},
      // The page shown goes elsewhere while the visit waits for its answer.
      {server.Url("/unanswered.php"), "ended by the page's own navigation", L"ページの移動で中断", "", false,
       End::kItself,
       [&] {
         server.WaitForRequests("/unanswered.php", 1);
         webkit_web_view_evaluate_javascript(EngineView(form), "location.href = '/elsewhere.php'", -1,
                                             nullptr, nullptr, nullptr, nullptr, nullptr);
       }},
      {held_at_the_end.Url(), "stopped with the program", L"終了時に中断", "", false, End::kByClosingTheWindow},
  };
  StandardErrorCapture record;
  form->Timer1->SetInterval(3600000);  // no tick of its own meanwhile; time for a try again
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    form->Edit1->SetValue(wxString::FromUTF8(rows[i].address));
    form->Timer1Timer(form->Timer1);
    rows[i].once_asked();
    if (rows[i].end == End::kItself) {
      EXPECT_TRUE(PumpUntil([&] { return record.Lines("visit ").size() > i; }, 30000)) << rows[i].address;
      // While a try again waits, the status line says when it comes.
      form->ShowVisitStatus();
      EXPECT_EQ(form->Label5->GetLabel().Find(L"再試行 ") != wxNOT_FOUND, rows[i].tried_again)
          << form->Label5->GetLabel();
    } else {
      PumpFor(1000);  // its request made, its answer (if any) come
    }
  }
  // The tip lists the visits newest first, under its heading; the last is still under way.
  PumpFor(500);
  const wxArrayString tip = wxSplit(form->Label5->GetToolTipText(), '\n');
  const std::size_t ended = std::size(rows) - 1, listed = std::min(ended, TVisitHistory::kTipVisits);
  ASSERT_EQ(tip.size(), listed + 1) << form->Label5->GetToolTipText();
  for (std::size_t k = 1; k <= listed; ++k) EXPECT_NE(tip[k].Find(rows[ended - k].words), wxNOT_FOUND) << tip[k];
  form->Close(true);
  PumpFor(50);
  form = nullptr;
  const std::vector<std::string> lines = record.Lines("visit ");
  ASSERT_EQ(lines.size(), std::size(rows)) << record.Text();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const RecordLine line(lines[i]);
    EXPECT_EQ(line.outcome, rows[i].outcome) << lines[i];
    EXPECT_EQ(line.by + " " + line.time_of_day, "timer day") << lines[i];
    EXPECT_EQ(line.address, rows[i].address) << lines[i];
    EXPECT_EQ(line.ended_at, rows[i].ended_at) << lines[i];
  }
}

// A visit whose request never went out (the server's port closed at that
// moment) is tried again within its period, 10 s later, and so reaches the
// server once the port is open again: once, with a line of its own.
TEST_F(PaneTest, AVisitThatNeverReachedTheServerIsTriedAgainWithinItsPeriod) {
  StandardErrorCapture record;
  auto closed = std::make_unique<TestServer>();
  const std::string port = closed->Url("").substr(closed->Url("").rfind(':') + 1);
  closed.reset();
  form->Edit1->SetValue("http://127.0.0.1:" + port + "/cron.php");
  form->Button1Click(form->Button1);
  EXPECT_TRUE(PumpUntil([&] { return record.Lines("visit ").size() == 1; }));
  TestServer opened(false, std::stoi(port));
  EXPECT_TRUE(opened.WaitForRequests("/cron.php", 1, 20000));
  EXPECT_TRUE(PumpUntil([&] { return record.Lines("visit ").size() == 2; }));
  PumpFor(500);
  EXPECT_EQ(opened.CountRequests("/cron.php"), 1);
  const std::vector<std::string> lines = record.Lines("visit ");
  ASSERT_EQ(lines.size(), 2u) << record.Text();
  EXPECT_EQ(RecordLine(lines[0]).by + " " + RecordLine(lines[0]).outcome, "run connection refused");
  EXPECT_EQ(RecordLine(lines[1]).by + " " + RecordLine(lines[1]).outcome, "retry 200 OK");
  form->ShowVisitStatus();
  EXPECT_EQ(form->Label5->GetLabel().Find(L"再試行"), wxNOT_FOUND) << form->Label5->GetLabel();

  // No try where the next period's visit comes first: that visit goes instead.
  form->Timer1->SetInterval(5000);
  form->Edit1->SetValue("http://127.0.0.1:1/refused.php");
  form->Timer1Timer(form->Timer1);
  EXPECT_TRUE(PumpUntil([&] { return record.Lines("visit ").size() == 3; }));
  form->ShowVisitStatus();
  form->Timer1->SetInterval(3600000);
  EXPECT_EQ(form->Label5->GetLabel().Find(L"再試行"), wxNOT_FOUND) << form->Label5->GetLabel();
}

// Whatever the engine made of the loads before (one it kept in the page
// shown, one it never started, loads the page started of its own), every
// visit is one request and its line is its own.
TEST_F(PaneTest, EveryVisitIsOneRequestWithItsOwnLineWhateverCameBefore) {
  StandardErrorCapture record;
  std::size_t seen = 0;
  // Ticks at `address` and waits for its line; the line's outcome.
  const auto visit = [&](const std::string& address) {
    form->Edit1->SetValue(address);
    form->Timer1Timer(form->Timer1);
    if (!PumpUntil([&] { return record.Lines("visit ").size() > seen; }, 10000)) return std::string("no line");
    return RecordLine(record.Lines("visit ")[seen++]).outcome;
  };

  // A visit the server holds without an answer, then one it answers at once,
  // the first visits of the pane (blank until then).
  EXPECT_TRUE(PumpUntil([&] { return webkit_web_view_get_uri(EngineView(form)) != nullptr; }));
  PumpFor(500);
  TestServer::Response held, error;
  held.held = true;
  error.status = 500;
  server.Serve("/held.php", held);
  form->Edit1->SetValue(server.Url("/held.php"));
  form->Timer1Timer(form->Timer1);
  EXPECT_TRUE(server.WaitForRequests("/held.php", 1));
  server.Serve("/held.php", error);
  EXPECT_EQ(visit(server.Url("/held.php")), "no answer before the next visit");  // the first's line
  EXPECT_TRUE(PumpUntil([&] { return record.Lines("visit ").size() > seen; }));
  ASSERT_GT(record.Lines("visit ").size(), seen);
  EXPECT_EQ(RecordLine(record.Lines("visit ")[seen++]).outcome, "500 Internal Server Error");

  // An address with a fragment, whose page moves to another fragment.
  EXPECT_TRUE(RunOnPage("/dashboard.php", "<script>location.hash = '#/home';</script>"));
  EXPECT_TRUE(PumpUntil([&] { return record.Lines("visit ").size() == 3; }));
  seen = 3;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(visit(server.Url("/dashboard.php#/")), "200 OK") << i;
  EXPECT_EQ(server.CountRequests("/dashboard.php"), 4);

  // A visit asked for while the engine is still deciding on the one before.
  form->Edit1->SetValue(server.Url("/first.php"));
  form->Timer1Timer(form->Timer1);
  EXPECT_EQ(visit(server.Url("/second.php")), "no answer before the next visit");  // the first's line
  EXPECT_TRUE(PumpUntil([&] { return record.Lines("visit ").size() > seen; }));
  ++seen;
  EXPECT_EQ(visit(server.Url("/third.php")), "200 OK");


  // A page that has started a navigation of its own when the visit is asked for.
  TestServer::Response busy;
  busy.status = 503;
  busy.body = "<script>location.href = '/elsewhere.php';</script>";
  server.Serve("/cron.php", busy);
  WebKitWebView* pane = EngineView(form);
  for (const char* own : {"location.href = '/elsewhere.php?' + Date.now()", "location.reload()",
                          "location.href = location.href"}) {
    PumpFor(300);
    webkit_web_view_evaluate_javascript(pane, own, -1, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(visit(server.Url("/cron.php")), "503 Service Unavailable") << own;
  }
  EXPECT_EQ(server.CountRequests("/cron.php"), 3);

  // A visit that gets no answer: the status line tells a next visit to come.
  SilentPort hung;
  form->Timer1->SetInterval(1000);
  form->Edit1->SetValue(hung.Url());
  PumpFor(2500);
  const wxString label = form->Label5->GetLabel();
  const int at = label.Find(L"次回 ");
  ASSERT_NE(at, wxNOT_FOUND) << label;
  wxDateTime next;
  ASSERT_TRUE(next.ParseFormat(label.Mid(at + 3, 8), "%H:%M:%S")) << label;
  EXPECT_GE(next, wxDateTime::Now() - wxTimeSpan::Seconds(1)) << label;
  form->Timer1->SetInterval(60000);
}

// A visit whose request has gone out has been made: should its web process
// end while the page is still working (here, having sent a short first line),
// it is not made again (the page's work would run twice); the record says the
// engine ended.
TEST_F(PaneTest, AVisitWhoseRequestWentOutIsNotMadeAgainWhenItsProcessEnds) {
  TestServer::Response held;
  held.endless = true;
  held.body = "started\n";
  server.Serve("/held.php", held);
  StandardErrorCapture record;
  form->Edit1->SetValue(server.Url("/held.php"));
  EXPECT_TRUE(TickAndWaitFor("/held.php"));
  PumpFor(1500);
  const pid_t web = WebProcess();
  ASSERT_NE(web, 0);
  ASSERT_EQ(kill(web, SIGKILL), 0);
  EXPECT_TRUE(PumpUntil([&] { return !record.Lines("visit ").empty(); }));
  PumpFor(2000);
  EXPECT_EQ(server.CountRequests("/held.php"), 1);
  ASSERT_EQ(record.Lines("visit ").size(), 1u) << record.Text();
  EXPECT_EQ(RecordLine(record.Lines("visit ")[0]).outcome, "engine ended");
}

// The web process starts with the window, so that the first visit need not
// wait for it; the pane stays blank and nothing is requested meanwhile.
TEST_F(PaneTest, WebProcessIsReadyBeforeTheFirstVisit) {
  DestroyForm(form);
  form = nullptr;  // TearDown must not destroy it again if the check below fails
  ASSERT_TRUE(PumpUntil([] { return WebProcess() == 0; }));  // the window's and earlier ones gone
  form = new TForm1(nullptr);
  form->Edit1->SetValue(server.Url("/day.php"));
  form->Show();
  EXPECT_TRUE(PumpUntil([] { return WebProcess() != 0; }));
  EXPECT_TRUE(form->WebBrowser1->LocationURL().empty());
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(PaneTest, VisitsGoOnAfterTheEngineProcessesAreKilled) {
  EXPECT_TRUE(RunAndWaitFor("/day.php"));
  const pid_t web = WebProcess();
  ASSERT_NE(web, 0);
  // Web content is confined by bubblewrap wherever the system can run it.
  gint trial = -1;
  g_spawn_sync(nullptr, const_cast<char**>(kSandboxTrial), nullptr,
               GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
               nullptr, nullptr, nullptr, nullptr, &trial, nullptr);
  const bool can_confine = trial == 0;
  bool sandboxed = false;
  for (const TProcess& process : Descendants(getpid())) sandboxed |= process.name == "bwrap";
  EXPECT_EQ(sandboxed, can_confine);

  // The next visit comes at once, before the engine has noticed the loss...
  ASSERT_EQ(kill(web, SIGKILL), 0);
  EXPECT_TRUE(NextTickReaches("/after-crash.php"));

  // ...or a while later.
  const pid_t second = WebProcess();
  ASSERT_NE(second, 0);
  ASSERT_EQ(kill(second, SIGKILL), 0);
  PumpFor(500);
  EXPECT_TRUE(NextTickReaches("/after-second-crash.php"));

  // The process that makes the requests is replaced too. (A visit made at the
  // very moment it dies is made again where the engine reports the loss as
  // an internal error; the engine does not always report it, so that moment
  // is not asserted here.)
  const pid_t network = EngineProcess("WebKitNetworkPr");
  ASSERT_NE(network, 0);
  ASSERT_EQ(kill(network, SIGKILL), 0);
  PumpFor(500);
  EXPECT_TRUE(NextTickReaches("/after-network-crash.php"));
}

// A number from /proc/<pid>/<file>'s line that begins with `key`; -1 when
// there is none (the process is gone).
long ProcValue(pid_t pid, const std::string& file, const std::string& key = "") {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  return -1;
}

// A page whose script takes memory without end loses its web process near
// the engine's limit (1 GiB at most), long before the machine runs short;
// the kernel would pick the engine's processes before this one; and the next
// visit is made in a new web process.
TEST_F(PaneTest, APageThatTakesMemoryWithoutEndLosesOnlyItsWebProcess) {
  StandardErrorCapture record;
  EXPECT_TRUE(RunOnPage("/memory.php",
      "<script>var a = []; for (;;) a.push(new Array(1e6).fill(1));</script>"));
  const pid_t web = WebProcess();
  ASSERT_NE(web, 0);
  EXPECT_GT(ProcValue(web, "oom_score_adj"), ProcValue(getpid(), "oom_score_adj"));
  long peak_kib = 0;
  const bool ended = PumpUntil([&] {
    const long resident = ProcValue(web, "status", "VmRSS:");
    peak_kib = std::max(peak_kib, resident);
    return resident < 0;
  }, 60000);
  std::printf("web process: peak resident memory %ld MiB\n", peak_kib >> 10);
  EXPECT_TRUE(ended) << "still running, " << (peak_kib >> 10) << " MiB at most";
  EXPECT_LT(peak_kib, 2048L << 10);  // unbounded, it took 15 GB here
  // The engine tells of its process's end a moment later.
  EXPECT_TRUE(PumpUntil([&] { return !record.Lines("visit ").empty(); }, 5000));
  EXPECT_TRUE(NextTickReaches("/after-memory.php"));
  EXPECT_EQ(server.CountRequests("/memory.php"), 1);
  ASSERT_FALSE(record.Lines("visit ").empty());
  EXPECT_EQ(RecordLine(record.Lines("visit ")[0]).outcome, "memory limit after 200 OK");
}

// A child process that takes `bytes` of memory under the given command name,
// and holds it until it is ended; its id, or -1.
pid_t HoldingMemory(const char* name, std::size_t bytes) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    prctl(PR_SET_NAME, name);
    volatile char* memory = static_cast<char*>(std::malloc(bytes));
    for (std::size_t at = 0; memory && at < bytes; at += 4096) memory[at] = 1;
    (void)!write(ready[1], "x", 1);
    for (;;) pause();
  }
  close(ready[1]);
  char got;
  (void)!read(ready[0], &got, 1);  // nothing if it was ended before
  close(ready[0]);
  return child;
}

// The bound holds for every web process the engine runs, also one no page
// was loaded into yet (the engine starts one ahead, or after a crash).
TEST(MemoryBound, AWebProcessThatNoLoadStartedIsBoundToo) {
  TMemoryWatch watch;
  const pid_t web = HoldingMemory("WebKitWebProces", std::size_t(1200) << 20);
  ASSERT_GT(web, 0);
  bool ended = false;
  PumpUntil([&] { return ended = ended || waitpid(web, nullptr, WNOHANG) == web; }, 10000);
  if (!ended) kill(web, SIGKILL), waitpid(web, nullptr, 0);
  EXPECT_TRUE(ended) << "a web process holding 1200 MiB still ran";
  EXPECT_TRUE(watch.EndedOne());
}

// The memory bound ends web processes only: not a process of the user's that
// got the number of a web process that has ended, however much it holds.
TEST(MemoryBound, AProcessThatIsNotAWebProcessSurvivesWhateverItsId) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a new process a chosen id needs root (ns_last_pid)";
  const pid_t web = HoldingMemory("WebKitWebProces", 1 << 20);
  TMemoryWatch watch;
  PumpFor(1500);  // read at least once
  kill(web, SIGKILL);
  waitpid(web, nullptr, 0);
  // Another process, of another name, holding more than any web process may,
  // takes the web process's number.
  pid_t other = -1;
  for (int tries = 0; tries < 100 && other != web; ++tries) {
    if (other > 0) kill(other, SIGKILL), waitpid(other, nullptr, 0);
    std::ofstream("/proc/sys/kernel/ns_last_pid") << web - 1;
    other = HoldingMemory("other", std::size_t(1200) << 20);
  }
  ASSERT_EQ(other, web) << "could not give the new process the web process's id";
  PumpFor(2500);
  EXPECT_EQ(kill(other, 0), 0) << "the process was ended";
  EXPECT_FALSE(watch.EndedOne());
  kill(other, SIGKILL);
  waitpid(other, nullptr, 0);
}

}  // namespace
