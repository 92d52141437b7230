// The window and the program on GTK and POSIX: the face that draws the
// captions, the pane's first load, the window manager's close, the time zone
// the night window goes by, the command line, and the program stopped by a
// signal, and the program woken from sleep.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <wx/fontenum.h>
#include <wx/log.h>
#include <wx/uiaction.h>

#include "app/application.h"
#include "app/exception.h"
#include "pane/process_tree.h"
#include "app/clock.h"
#include "tests/support.h"
#include "tests/visit_fixture.h"

namespace {

// Every piece of every caption is drawn in the Japanese face at 12 pixels:
// no fallback to another face, which is where boxes and clipped text come from.
TEST_F(WindowTest, FontIsTheJapaneseFaceAtTwelvePixels) {
  const wxString face =
      wxFontEnumerator::IsValidFacename(L"ＭＳ Ｐゴシック") ? L"ＭＳ Ｐゴシック" : L"IPAPGothic";
  form->Show();
  PumpFor(50);
  for (wxWindow* control : {static_cast<wxWindow*>(form->Label1), static_cast<wxWindow*>(form->Label2),
                            static_cast<wxWindow*>(form->Label3), static_cast<wxWindow*>(form->Label4),
                            static_cast<wxWindow*>(form->CheckBox1), static_cast<wxWindow*>(form->Button1)}) {
    SCOPED_TRACE(control->GetLabel().utf8_string());
    GtkWidget* widget = control->GetHandle();
    if (!GTK_IS_LABEL(widget)) widget = gtk_bin_get_child(GTK_BIN(widget));
    ASSERT_TRUE(GTK_IS_LABEL(widget));
    EXPECT_EQ(wxString::FromUTF8(gtk_label_get_text(GTK_LABEL(widget))), control->GetLabel());
    PangoLayoutIter* run = pango_layout_get_iter(gtk_label_get_layout(GTK_LABEL(widget)));
    do {
      if (PangoLayoutRun* piece = pango_layout_iter_get_run_readonly(run)) {
        PangoFontDescription* used = pango_font_describe(piece->item->analysis.font);
        EXPECT_EQ(wxString::FromUTF8(pango_font_description_get_family(used)), face);
        const double points = pango_font_description_get_size(used) / double(PANGO_SCALE);
        EXPECT_DOUBLE_EQ(points * 96 / 72, 12.0);
        pango_font_description_free(used);
      }
    } while (pango_layout_iter_next_run(run));
    pango_layout_iter_free(run);
  }
}

// A ticked night box looks plainly different from a clear one, on the
// window's colour and on the night indicator's aqua: many of its pixels change
// by much (the box filled dark), not only a thin tick.
TEST_F(WindowTest, TickedNightBoxLooksTickedOnBothColours) {
  form->Show();
  const auto pixels = [&] {
    PumpFor(300);
    GtkWidget* box = form->CheckBox1->GetHandle();
    GtkAllocation at;
    gtk_widget_get_allocation(box, &at);
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(gtk_widget_get_window(box), at.x, at.y, at.width, at.height);
    std::vector<int> rgb;
    const guchar* data = gdk_pixbuf_get_pixels(shot);
    for (int y = 0; y < at.height; ++y)
      for (int x = 0; x < at.width; ++x)
        for (int c = 0; c < 3; ++c)
          rgb.push_back(data[y * gdk_pixbuf_get_rowstride(shot) + x * gdk_pixbuf_get_n_channels(shot) + c]);
    g_object_unref(shot);
    return rgb;
  };
  for (const wxColour& colour : {TForm1::BtnFace(), wxColour(0, 255, 255)}) {
    SCOPED_TRACE(colour.GetAsString().utf8_string());
    form->CheckBox1->SetBackgroundColour(colour);
    form->CheckBox1->SetValue(false);
    const std::vector<int> clear = pixels();
    form->CheckBox1->SetValue(true);
    const std::vector<int> ticked = pixels();
    ASSERT_EQ(clear.size(), ticked.size());
    int changed = 0;  // pixels with a colour channel changed by more than 100 of 255
    for (std::size_t i = 0; i < clear.size(); i += 3)
      changed += std::max({std::abs(clear[i] - ticked[i]), std::abs(clear[i + 1] - ticked[i + 1]),
                           std::abs(clear[i + 2] - ticked[i + 2])}) > 100;
    EXPECT_GT(changed, 100);
  }
}

TEST_F(WindowTest, PaneLoadsAnAddressItIsGiven) {
  TestServer server;
  form->Show();
  form->WebBrowser1->Navigate(server.Url("/hello.php"));
  EXPECT_TRUE(server.WaitForRequests("/hello.php", 1));
  EXPECT_TRUE(PumpUntil([&] { return form->WebBrowser1->LocationURL() == server.Url("/hello.php"); }));
}

TEST_F(WindowTest, ErrorInTheCloseHandlerKeepsTheWindowOpen) {
  ErrorCapture errors;
  form->Show();
  form->Edit2->SetValue("abc");
  form->Edit1->SetValue("http://127.0.0.1/kept.php");
  CloseWindowAsTheUserDoes(form);
  PumpFor(100);
  EXPECT_FALSE(form->IsBeingDeleted());
  EXPECT_TRUE(form->IsShown());
  EXPECT_EQ(form->Edit1->GetValue(), "http://127.0.0.1/kept.php");
  EXPECT_EQ(form->Edit2->GetValue(), "abc");
  EXPECT_TRUE(form->Timer1->IsRunning());
  EXPECT_EQ(errors.messages.size(), 1u);
}

// The night window goes by the local time of the zone the program runs in
// (TZ, as a service's drop-in sets it): 18:10 UTC is 3:10 in Tokyo, a night visit.
TEST_F(WindowTest, NightWindowFollowsTheTimeZone) {
  TestServer server;
  form->Edit1->SetValue(server.Url("/day.php"));
  form->Edit3->SetValue(server.Url("/night.php"));
  form->CheckBox1->SetValue(true);
  form->Show();
  SetClockForTesting([] { return wxDateTime(time_t{1796667000}); });  // 2026-12-07 18:10:00 UTC
  const std::string before = getenv("TZ") ? getenv("TZ") : "";
  for (const auto& [zone, page] : {std::pair{"UTC", "/day.php"}, std::pair{"Asia/Tokyo", "/night.php"}}) {
    setenv("TZ", zone, 1);
    tzset();
    form->Timer1Timer(form->Timer1);
    EXPECT_TRUE(server.WaitForRequests(page, 1)) << zone;
  }
  before.empty() ? unsetenv("TZ") : setenv("TZ", before.c_str(), 1);
  tzset();
  SetClockForTesting({});
}

// A failed check inside the toolkit (a program built for users has them on)
// and the toolkit's error messages are written to the standard error stream;
// no dialog waits for an answer.
// A desktop's notification service, on a session bus of the test's own: it
// keeps the text of each notification it is asked to show.
class NotificationService {
 public:
  NotificationService() {
    const char* daemon[] = {"dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr};
    int out = -1;
    if (!g_spawn_async_with_pipes(nullptr, const_cast<char**>(daemon), nullptr, G_SPAWN_SEARCH_PATH,
                                  nullptr, nullptr, &daemon_, nullptr, &out, nullptr, nullptr))
      return;
    char line[512] = {};
    for (std::size_t n = 0; n < sizeof line - 1 && read(out, line + n, 1) == 1 && line[n] != '\n'; ++n) {}
    close(out);
    address_ = std::string(line, std::strcspn(line, "\n"));
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    std::mutex started;
    started.lock();
    thread_ = std::thread([this, &started] {
      g_main_context_push_thread_default(context_);
      bus_ = g_dbus_connection_new_for_address_sync(
          address_.c_str(),
          GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                               G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, nullptr, nullptr);
      static const GDBusInterfaceVTable answers = {&Answer, nullptr, nullptr, {}};
      GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
      g_dbus_connection_register_object(bus_, "/org/freedesktop/Notifications", node->interfaces[0],
                                        &answers, this, nullptr, nullptr);
      g_dbus_node_info_unref(node);
      g_variant_unref(g_dbus_connection_call_sync(
          bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
          g_variant_new("(su)", "org.freedesktop.Notifications", 0u), nullptr, G_DBUS_CALL_FLAGS_NONE,
          -1, nullptr, nullptr));
      started.unlock();
      g_main_loop_run(loop_);
      g_object_unref(bus_);
      g_main_context_pop_thread_default(context_);
    });
    started.lock();
    g_setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), TRUE);
  }
  ~NotificationService() {
    // The program's connection outlives the bus: it must not end the tests.
    if (GDBusConnection* session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
      g_dbus_connection_set_exit_on_close(session, FALSE);
      g_object_unref(session);
    }
    g_unsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (thread_.joinable()) {
      g_main_loop_quit(loop_);
      thread_.join();
    }
    if (daemon_ > 0) kill(daemon_, SIGTERM);
  }
  std::vector<std::string> Shown() {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
  }

 private:
  static constexpr char kInterface[] = R"(<node><interface name="org.freedesktop.Notifications">
    <method name="Notify"><arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/><arg type="s"/>
      <arg type="as"/><arg type="a{sv}"/><arg type="i"/><arg type="u" direction="out"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation"><arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/></method>
    <method name="CloseNotification"><arg type="u"/></method>
  </interface></node>)";
  static void Answer(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<NotificationService*>(data);
    if (std::strcmp(method, "Notify") == 0) {
      const gchar *summary = nullptr, *body = nullptr;
      g_variant_get_child(parameters, 3, "&s", &summary);
      g_variant_get_child(parameters, 4, "&s", &body);
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->shown_.push_back(std::string(summary) + "\n" + body);
      return g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", unsigned(self->shown_.size())));
    }
    if (std::strcmp(method, "GetCapabilities") == 0)
      return g_dbus_method_invocation_return_value(invocation, g_variant_new_parsed("(@as ['body'],)"));
    if (std::strcmp(method, "GetServerInformation") == 0)
      return g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "test", "test", "1", "1.2"));
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }

  GPid daemon_ = 0;
  std::string address_;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> shown_;
};

// The person at the desktop is told, once, when visits start failing and when
// the page answers again.
TEST_F(VisitTest, TheDesktopIsToldOnceWhenVisitsStartFailingAndWhenThePageAnswersAgain) {
  NotificationService desktop;
  TestServer::Response error;
  error.status = 500;
  server.Serve("/error.php", error);
  for (const char* path : {"/day.php", "/error.php", "/error.php", "/day.php", "/day.php"}) {
    ASSERT_TRUE(NextTickReaches(path));
    PumpFor(300);  // its end told
  }
  EXPECT_TRUE(PumpUntil([&] { return desktop.Shown().size() >= 2; }));
  PumpFor(300);
  const std::vector<std::string> shown = desktop.Shown();
  ASSERT_EQ(shown.size(), 2u);
  const std::string title = wxString(kApplicationTitle).utf8_string();
  EXPECT_EQ(shown[0].rfind(title + "\nページの訪問に失敗しました。\n", 0), 0u) << shown[0];
  EXPECT_NE(shown[0].find("500 エラー（サーバー内部）"), std::string::npos) << shown[0];
  EXPECT_EQ(shown[1].rfind(title + "\nページの応答が戻りました。\n", 0), 0u) << shown[1];
}

TEST(Application, FailedToolkitCheckGoesToStandardErrorWithoutADialog) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], STDERR_FILENO);
    wxOnAssert(__FILE__, __LINE__, "check", "1 == 2", "a toolkit check");
    _exit(0);
  }
  close(out[1]);
  const int status = WaitForTheEnd(child, 5000);
  const bool ended = status != -1;
  std::string written(4096, '\0');
  const ssize_t size = read(out[0], written.data(), written.size());
  written.resize(size > 0 ? size : 0);
  close(out[0]);
  EXPECT_TRUE(ended) << "still waiting after 5 s";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(written.find("a toolkit check"), std::string::npos) << written;

  // The toolkit's messages: here, in this process (a child made by fork may
  // not take the toolkit's locks).
  StandardErrorCapture standard_error;
  wxLogError("a logged error");
  wxLog::FlushActive();
  const std::string logged = standard_error.Text();
  EXPECT_NE(logged.find("a logged error"), std::string::npos) << logged;
}

// Whether `pid` has a handler of its own for `signal`.
bool Catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
  return false;
}

// The program itself, started in the working directory; returns once it has
// its window up and its stop signals in hand.
pid_t StartTheProgram(const std::function<void()>& environment = [] {}, const char* option = nullptr) {
  const pid_t program = fork();
  if (program == 0) {
    environment();
    execl(HPVISIT_BINARY, "hpvisit", option, nullptr);
    _exit(127);
  }
  if (program > 0) PumpUntil([&] { return Catches(program, SIGTERM); }, 20000);
  return program;
}

// Started in a directory with settings, left to settle as a program left
// running does, then stopped by the system (a logout, kill), it saves them as
// a closed window does and returns 0. The engine's files are kept in a private
// folder, in the session's runtime folder or, outside a session, in the
// temporary folder, and the sandbox's files in the runtime folder: all are
// removed at the end, and so are those of an earlier run that was killed
// (only the folders the engine shares with other programs stay, empty).
// Nothing is left under HOME.
TEST(Program, StopsLikeAClosedWindowAndReturnsZero) {
  for (const bool in_session : {false, true}) {
    SCOPED_TRACE(in_session ? "runtime folder" : "no runtime folder");
    TempWorkingDirectory dir;
    std::string folder = (std::filesystem::temp_directory_path() / "hpvisit-tmp-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(folder.data()));
    const pid_t killed = fork();
    if (killed == 0) _exit(0);
    waitpid(killed, nullptr, 0);
    const std::string dead = std::to_string(killed);
    std::filesystem::create_directories(folder + "/hpvisit-" + dead + "-aB3xYz/cache");
    if (in_session) {
      std::filesystem::create_directories(folder + "/.flatpak/webkit-" + dead + "-4");
      WriteBytes(folder + "/.flatpak/webkit-" + dead + "-4/bwrapinfo.json", "{}");
    }
    WriteBytes("udat.txt", "90\n1\nhttp://127.0.0.1:9/day.php\nhttp://127.0.0.1:9/night.php");
    const pid_t program = StartTheProgram([&] {
      if (in_session) return (void)setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
      unsetenv("XDG_RUNTIME_DIR");
      setenv("TMPDIR", folder.c_str(), 1);
    });
    ASSERT_GT(program, 0);
    ASSERT_TRUE(Catches(program, SIGTERM));
    PumpFor(2000);  // at rest: nothing left to do until its timer
    kill(program, SIGTERM);
    const int status = WaitForTheEnd(program, 20000);
    ASSERT_NE(status, -1) << "the program did not end";
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadBytes("udat.txt"),
              "60\r\n1\r\nhttp://127.0.0.1:9/day.php\r\nhttp://127.0.0.1:9/night.php");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"udat.txt"});
    std::vector<std::string> left;  // but the engine's folders that other programs share, empty
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
      if (entry.path() != folder + "/.flatpak" && entry.path() != folder + "/webkitgtk")
        left.push_back(entry.path().string());
    EXPECT_TRUE(left.empty()) << testing::PrintToString(left);
    EXPECT_TRUE(FilesWrittenUnderHome().empty()) << testing::PrintToString(FilesWrittenUnderHome());
    std::filesystem::remove_all(folder);
  }
}

// One visitor per settings folder: of two copies started in the same moment,
// one visits; a copy started where one runs ends, and makes no visit: started
// unattended (--run) at once, with a line on standard error; started by a
// person, once it has brought the running window to the front. A copy in
// another folder visits beside it. What a copy that was killed left never
// keeps a new one from visiting, whatever it names.
TEST(Program, OneVisitorPerSettingsFolder) {
  TestServer server;
  TempWorkingDirectory dir;
  const auto settings = [&](const std::string& page) {
    WriteBytes("udat.txt", "60\r\n0\r\n" + server.Url(page) + "\r\n" + server.Url(page));
  };
  settings("/first.php");
  pid_t together[2];
  for (int i = 0; i < 2; ++i) {
    together[i] = fork();
    if (together[i] == 0) {
      (void)!freopen(("err" + std::to_string(i)).c_str(), "w", stderr);
      execl(HPVISIT_BINARY, "hpvisit", "--run", nullptr);
      _exit(127);
    }
  }
  int ended = -1, status = -1;
  EXPECT_TRUE(PumpUntil([&] {
    for (int i = 0; i < 2 && ended < 0; ++i)
      if (waitpid(together[i], &status, WNOHANG) == together[i]) ended = i;
    return ended >= 0;
  }, 20000));
  ASSERT_GE(ended, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadBytes("err" + std::to_string(ended)),
            "hpvisit: another copy already visits from this folder; this one ends\n");
  const pid_t first = together[1 - ended];
  ASSERT_TRUE(PumpUntil([&] { return Catches(first, SIGTERM); }, 20000));
  EXPECT_TRUE(server.WaitForRequests("/first.php", 1));

  wxFrame* cover = new wxFrame(nullptr, wxID_ANY, "cover", wxPoint(200, 100), wxSize(900, 700));
  cover->Show();
  EXPECT_TRUE(PumpUntil([&] { return StackingPosition(getpid()) > StackingPosition(first); }));
  const pid_t by_hand = fork();
  if (by_hand == 0) {
    execl(HPVISIT_BINARY, "hpvisit", nullptr);
    _exit(127);
  }
  EXPECT_EQ(WaitForTheEnd(by_hand, 20000), 0);
  EXPECT_TRUE(PumpUntil([&] { return StackingPosition(first) > StackingPosition(getpid()); }, 2000));
  cover->Destroy();

  std::filesystem::create_directory("other");
  std::filesystem::current_path("other");
  settings("/other.php");
  const pid_t other = StartTheProgram([] {}, "--run");
  EXPECT_TRUE(server.WaitForRequests("/other.php", 1));
  PumpFor(500);
  EXPECT_EQ(server.CountRequests("/first.php"), 1);
  kill(other, SIGTERM);
  EXPECT_NE(WaitForTheEnd(other, 20000), -1);

  // Killed, the first leaves its files; they name a process that runs (this one).
  std::filesystem::current_path(dir.path());
  kill(first, SIGKILL);
  EXPECT_NE(WaitForTheEnd(first, 5000), -1);
  int left = 0;
  for (const auto& entry : std::filesystem::directory_iterator(getenv("XDG_RUNTIME_DIR")))
    if (entry.path().extension() == ".lock") WriteBytes(entry.path(), std::to_string(getpid())), ++left;
  EXPECT_GE(left, 1);
  const pid_t again = StartTheProgram([] {}, "--run");
  EXPECT_TRUE(server.WaitForRequests("/first.php", 2));
  kill(again, SIGTERM);
  EXPECT_NE(WaitForTheEnd(again, 20000), -1);
}

// The program keeps the next visit's time across a sleep: the system bus says
// when the machine sleeps and wakes (here a bus of the test's own, with the
// test as logind), and the wall clock, moved on over the sleep while the
// event loop's clock stood still, decides. Period 60 minutes: 5 minutes
// asleep, no visit on waking; two hours more, one visit at once, with its
// own word in the record.
TEST(Program, OnWakingTheVisitWhoseTimePassedIsMadeAtOnce) {
  TempWorkingDirectory dir;
  const char* fake_clock = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
  const std::string bus = "unix:path=" + dir.File("system_bus");
  int daemon = 0;
  if (std::FILE* out = popen(("dbus-daemon --session --fork --print-pid --address=" + bus + " 2>/dev/null").c_str(), "r")) {
    if (std::fscanf(out, "%d", &daemon) != 1) daemon = 0;
    pclose(out);
  }
  if (daemon <= 0 || !std::filesystem::exists(fake_clock)) GTEST_SKIP() << "no dbus-daemon or libfaketime";
  const std::shared_ptr<void> bus_ends(nullptr, [&](void*) { kill(daemon, SIGTERM); });
  GDBusConnection* logind = g_dbus_connection_new_for_address_sync(
      bus.c_str(), GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr, nullptr, nullptr);
  ASSERT_TRUE(logind);
  GVariant* named = g_dbus_connection_call_sync(
      logind, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
      g_variant_new("(su)", "org.freedesktop.login1", 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  ASSERT_TRUE(named);
  g_variant_unref(named);
  const auto prepare_for_sleep = [&](gboolean sleeping) {
    g_dbus_connection_emit_signal(logind, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                  "PrepareForSleep", g_variant_new("(b)", sleeping), nullptr);
    g_dbus_connection_flush_sync(logind, nullptr, nullptr);
  };
  TestServer server;
  WriteBytes("udat.txt", "60\r\n0\r\n" + server.Url("/cron.php") + "\r\n" + server.Url("/cron.php"));
  WriteBytes("faketime", "+0");
  const pid_t program = StartTheProgram([&] {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.c_str(), 1);
    setenv("LD_PRELOAD", fake_clock, 1);
    setenv("FAKETIME_TIMESTAMP_FILE", dir.File("faketime").c_str(), 1);
    setenv("FAKETIME_NO_CACHE", "1", 1);
    setenv("FAKETIME_DONT_FAKE_MONOTONIC", "1", 1);
    (void)!freopen("err", "w", stderr);
  }, "--run");
  EXPECT_TRUE(server.WaitForRequests("/cron.php", 1));
  PumpFor(1000);
  for (const auto& [clock, visits] : {std::pair{"+5m", 1}, std::pair{"+125m", 2}}) {
    prepare_for_sleep(true);
    WriteBytes("faketime", clock);
    prepare_for_sleep(false);
    if (visits == 1) PumpFor(3000);  // none to come
    EXPECT_TRUE(server.WaitForRequests("/cron.php", visits, 5000)) << clock;
    PumpFor(500);
    EXPECT_EQ(server.CountRequests("/cron.php"), visits) << clock;
  }
  kill(program, SIGTERM);
  EXPECT_EQ(WaitForTheEnd(program, 20000), 0);
  g_object_unref(logind);
  EXPECT_NE(ReadBytes("err").find(" wake day \"200 OK\""), std::string::npos) << ReadBytes("err");
}

// --help and --version answer on standard output and end at once; any other
// option, and a settings folder that cannot be entered, end with a line on
// standard error and status 2, before any window.
TEST(Program, AnswersHelpAndVersionAndRefusesOtherOptions) {
  TempWorkingDirectory dir;
  WriteBytes("file", "");
  const struct {
    const char* option;
    int status;
    std::string out, err;
  } rows[] = {
      {"--help", 0, "Usage: hpvisit [--folder DIR] [--run]\n", ""},
      {"--version", 0, "hpvisit version " HPVISIT_VERSION "\n", ""},
      {"-run", 2, "", "hpvisit: unknown option -run\nUsage: hpvisit [--folder DIR] [--run]\n"},
      {"--run --folder", 2, "", "hpvisit: --folder needs a folder\n"},
      {"--folder missing --run", 2, "", "hpvisit: cannot use the folder missing: No such file or directory\n"},
      {"--folder file", 2, "", "hpvisit: cannot use the folder file: Not a directory\n"},
  };
  for (const auto& row : rows) {
    const std::string command = std::string(HPVISIT_BINARY) + " " + row.option + " >out 2>err";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.status) << row.option;
    EXPECT_EQ(ReadBytes("out").substr(0, row.out.size()), row.out) << row.option;
    EXPECT_EQ(ReadBytes("err").substr(0, row.err.size()), row.err) << row.option;
  }
  EXPECT_FALSE(std::filesystem::exists("udat.txt"));  // no window: nothing saved
}

// With invalid minutes, Run opens the error box; the system's stop closes it
// and ends the program at once, saving nothing (the minutes cannot be saved).
TEST(Program, StopsWhileTheErrorBoxIsOpen) {
  TempWorkingDirectory dir;
  const std::string stored = "5\r\n0\r\nhttp://127.0.0.1:9/day.php\r\nhttp://127.0.0.1:9/night.php";
  WriteBytes("udat.txt", stored);
  const pid_t program = StartTheProgram();
  ASSERT_GT(program, 0);
  PumpFor(1000);
  // The window is where the layout puts it; no window manager moves it here.
  const wxPoint client(291, 142);
  wxUIActionSimulator user;
  user.MouseMove(client + wxPoint(464 + 28, 32 + 10));  // the minutes box
  PumpFor(50);
  user.MouseClick();
  PumpFor(100);
  user.Char('a', wxMOD_CONTROL);
  user.Text("abc");
  user.MouseMove(client + wxPoint(616 + 37, 32 + 12));  // Run
  PumpFor(50);
  user.MouseClick();
  EXPECT_TRUE(PumpUntil([] { return WindowsTitled(Application->GetTitle()) == 1; }, 5000));
  kill(program, SIGTERM);
  const int status = WaitForTheEnd(program, 3000);
  ASSERT_NE(status, -1) << "the program was still running 3 s after the signal";
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytes("udat.txt"), stored);
}

// The launcher for a machine without a desktop, started as the user units
// start it (with --run): in the settings' folder, or given it with --folder,
// with no display of its own caller's, and the test's folder as its temporary
// one, so that anything it leaves behind shows.
class Headless : public testing::Test {
 protected:
  void Start(const char* folder = nullptr) {
    launcher = fork();
    if (launcher == 0) {
      for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY"}) unsetenv(name);
      setenv("TMPDIR", dir.path().c_str(), 1);
      const auto path = std::filesystem::path(HPVISIT_BINARY).parent_path() / "hpvisit-headless";
      if (folder) execl(path.c_str(), "hpvisit-headless", "--folder", folder, "--run", nullptr);
      execl(path.c_str(), "hpvisit-headless", "--run", nullptr);
      _exit(127);
    }
    ASSERT_GT(launcher, 0);
    // Up: the program has shown its window and handles the stop signal.
    const auto up = [&] { return (program = Child("hpvisit")) && Catches(program, SIGTERM); };
    ASSERT_TRUE(PumpUntil(up, 30000));
    xvfb = Child("Xvfb");
    ASSERT_GT(xvfb, 0);
    std::ifstream environment("/proc/" + std::to_string(program) + "/environ");
    for (std::string variable; std::getline(environment, variable, '\0');)
      if (variable.rfind("DISPLAY=:", 0) == 0) display = variable.substr(9);
    ASSERT_FALSE(display.empty());
  }
  // The launcher's process of that name.
  pid_t Child(const std::string& name) {
    for (const TProcess& process : Descendants(launcher))
      if (process.name == name) return process.pid;
    return 0;
  }
  // The launcher's exit status, once it has ended.
  int WaitForTheLauncher() {
    const int status = WaitForTheEnd(launcher, 30000);
    if (status == -1) ADD_FAILURE() << "the launcher did not end";
    launcher = 0;
    return status;
  }
  // Nothing of the display is left: its process, its socket, its lock file.
  void ExpectTheDisplayGone() {
    EXPECT_NE(kill(xvfb, 0), 0) << "Xvfb is still running";
    EXPECT_FALSE(std::filesystem::exists("/tmp/.X11-unix/X" + display));
    EXPECT_FALSE(std::filesystem::exists("/tmp/.X" + display + "-lock"));
  }
  void TearDown() override {
    if (launcher <= 0) return;
    for (pid_t pid : {Child("hpvisit"), Child("Xvfb"), launcher})
      if (pid > 0) kill(pid, SIGKILL);
    waitpid(launcher, nullptr, 0);
  }

  TempWorkingDirectory dir;
  pid_t launcher = 0, program = 0, xvfb = 0;
  std::string display;
};

// Given its settings folder (--folder), it visits the page of that folder's
// settings at once, as Run does; stopped, the settings are saved there, the
// display ends and the folder holds the settings file alone.
TEST_F(Headless, VisitsThenStopsWithTheSettingsSavedAndNothingLeft) {
  TestServer server;
  const std::string page = server.Url("/a.php");
  const std::filesystem::path folder = std::filesystem::path(dir.path()) / "設定 a";
  std::filesystem::create_directory(folder);
  WriteBytes(folder / "udat.txt", "90\n0\n" + page + "\n" + page);
  Start(folder.c_str());
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(server.WaitForRequests("/a.php", 1, 10000));
  // A copy opened by hand in the folder cannot bring that window here: it
  // says so in a box, visits nothing, and ends once the box is answered.
  const pid_t by_hand = fork();
  if (by_hand == 0) {
    execl(HPVISIT_BINARY, "hpvisit", "--folder", folder.c_str(), nullptr);
    _exit(127);
  }
  EXPECT_TRUE(PumpUntil([&] { return StackingPosition(by_hand) >= 0; }, 20000));
  EXPECT_EQ(WindowsTitled(Application->GetTitle()), 1);
  // Keys go where the pointer is; with no window manager, the box is at the corner.
  wxUIActionSimulator user;
  user.MouseMove(30, 30);
  PumpFor(100);
  user.Char(WXK_RETURN);
  EXPECT_EQ(WaitForTheEnd(by_hand, 10000), 0);
  EXPECT_EQ(server.CountRequests("/a.php"), 1);
  kill(launcher, SIGTERM);
  const int status = WaitForTheLauncher();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytes(folder / "udat.txt"), "60\r\n0\r\n" + page + "\r\n" + page);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"設定 a"});
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
  ExpectTheDisplayGone();
}

// A program killed (the out-of-memory killer, kill -9) ends the launcher with
// a failure, so that the service manager starts it again.
TEST_F(Headless, EndsWithAFailureWhenTheProgramIsKilled) {
  Start();
  ASSERT_FALSE(HasFatalFailure());
  kill(program, SIGKILL);
  const int status = WaitForTheLauncher();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGKILL);
  ExpectTheDisplayGone();
}

}  // namespace
