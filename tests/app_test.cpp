// The window as built, StrToInt, and the error paths of the application object.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include <gtk/gtk.h>
#include <wx/fontenum.h>
#include <wx/log.h>
#include <wx/uiaction.h>

#include "app/application.h"
#include "app/exception.h"
#include "app/str_to_int.h"
#include "tests/support.h"

namespace {

// A real click: the pointer moves onto the control and presses its button.
void ClickWithThePointer(wxWindow* control) {
  PumpUntil([&] { return control->IsShownOnScreen(); });
  PumpFor(100);
  wxUIActionSimulator pointer;
  pointer.MouseMove(control->GetScreenRect().GetPosition() + control->GetSize() / 2);
  PumpFor(50);
  pointer.MouseClick();
}

// What the window manager does when the user closes the window.
void CloseAsTheUserDoes(wxWindow* window) { gtk_window_close(GTK_WINDOW(window->GetHandle())); }

class WindowTest : public testing::Test {
 protected:
  void SetUp() override { form = new TForm1(nullptr); }
  void TearDown() override { DestroyForm(form); }

  TempWorkingDirectory dir;
  TForm1* form = nullptr;
};

TEST_F(WindowTest, LayoutMatchesTheTable) {
  EXPECT_EQ(form->GetTitle(), L"TAVIK支援　ＨＰ定期訪問");
  EXPECT_EQ(form->GetPosition(), wxPoint(291, 142));
  EXPECT_EQ(form->GetClientSize(), wxSize(788, 495));

  const std::wstring example = L"http://example.jp/a.php";
  struct Row {
    wxWindow* control;
    const char* name;
    int left, top, width, height;
    bool may_grow;  // a label's width may grow so that its whole caption shows
    std::wstring caption;
  };
  const Row rows[] = {
      {form->Label1, "Label1", 16, 16, 236, 12, true, L"ＵＲＬ記述　昼用　例）" + example},
      {form->Edit1, "Edit1", 16, 32, 425, 20, false, L""},
      {form->Label3, "Label3", 464, 16, 56, 12, true, L"分　（間隔）"},
      {form->Edit2, "Edit2", 464, 32, 57, 20, false, L""},
      {form->Button1, "Button1", 616, 32, 75, 25, false, L"実行"},
      {form->Label2, "Label2", 16, 64, 236, 12, true, L"ＵＲＬ記述　夜用　例）" + example},
      {form->Edit3, "Edit3", 16, 80, 425, 20, false, L""},
      {form->CheckBox1, "CheckBox1", 464, 80, 177, 17, true, L"夜間訪問　0:00 ～6:59"},
      {form->Label4, "Label4", 16, 112, 98, 12, true, L"訪問したＨＰの表示"},
      {form->WebBrowser1, "WebBrowser1", 16, 136, 713, 313, false, L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const wxRect rect = row.control->GetRect();
    EXPECT_EQ(rect.GetPosition(), wxPoint(row.left, row.top));
    if (row.may_grow) {
      EXPECT_GE(rect.width, row.width);
      EXPECT_GE(rect.width, row.control->GetBestSize().x);  // the whole caption shows
    } else {
      EXPECT_EQ(rect.width, row.width);
    }
    // Heights follow the table unless the theme needs more to show the text whole.
    EXPECT_GE(rect.height, row.height);
    EXPECT_GE(rect.height, row.control->GetBestSize().y);
    EXPECT_LE(rect.height, row.height + 8);
    if (!row.caption.empty()) {
      EXPECT_EQ(row.control->GetLabel(), row.caption);
    }
  }

  // No two controls overlap, but for a label's last pixel of line spacing,
  // where the theme made the label taller than the layout gives it.
  for (const Row& a : rows)
    for (const Row& b : rows) {
      if (&a >= &b) continue;
      const wxRect common = a.control->GetRect().Intersect(b.control->GetRect());
      if (common.IsEmpty()) continue;
      const bool label_over_box = a.may_grow && a.control != form->CheckBox1;
      EXPECT_TRUE(label_over_box && common.height <= 2) << a.name << " overlaps " << b.name;
    }
}

TEST_F(WindowTest, TabOrderFollowsTheTable) {
  std::vector<wxWindow*> focusable;
  for (wxWindow* child : form->Edit1->GetParent()->GetChildren())
    if (child->AcceptsFocusFromKeyboard() || child == form->WebBrowser1) focusable.push_back(child);
  const std::vector<wxWindow*> expected = {form->Edit1,     form->Edit2,   form->Edit3,
                                           form->CheckBox1, form->Button1, form->WebBrowser1};
  EXPECT_EQ(focusable, expected);
}

TEST_F(WindowTest, StartsWithTimerRunningBlankPaneAndClearBox) {
  EXPECT_TRUE(form->Timer1->GetEnabled());
  EXPECT_TRUE(form->Timer1->IsRunning());
  EXPECT_EQ(form->Timer1->GetInterval(), 60000u);
  EXPECT_TRUE(form->WebBrowser1->LocationURL().empty());
  EXPECT_FALSE(form->CheckBox1->GetValue());
  EXPECT_EQ(form->CheckBox1->GetBackgroundColour(), TForm1::BtnFace());
  // The design texts never show: settings (or their defaults) replaced them.
  EXPECT_NE(form->Edit1->GetValue(), "Edit1");
  EXPECT_NE(form->Edit2->GetValue(), "Edit2");
  EXPECT_NE(form->Edit3->GetValue(), "Edit3");
}

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

TEST_F(WindowTest, ResizingLeavesEveryControlWhereItWas) {
  std::vector<wxRect> before;
  for (wxWindow* child : form->Edit1->GetParent()->GetChildren()) before.push_back(child->GetRect());
  form->SetClientSize(400, 300);
  PumpFor(50);
  form->SetClientSize(1200, 900);
  PumpFor(50);
  std::vector<wxRect> after;
  for (wxWindow* child : form->Edit1->GetParent()->GetChildren()) after.push_back(child->GetRect());
  EXPECT_EQ(before, after);
}

TEST_F(WindowTest, PaneLoadsAnAddressItIsGiven) {
  TestServer server;
  form->Show();
  form->WebBrowser1->Navigate(server.Url("/hello.php"));
  EXPECT_TRUE(server.WaitForRequests("/hello.php", 1));
  EXPECT_TRUE(PumpUntil([&] { return form->WebBrowser1->LocationURL() == server.Url("/hello.php"); }));
}

TEST(StrToInt, ConvertsDecimalText) {
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("15"), 15);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("-5"), -5);
  EXPECT_EQ(StrToInt("007"), 7);
  EXPECT_EQ(StrToInt(" 12"), 12);
  EXPECT_EQ(StrToInt(L"１５"), 15);
  EXPECT_EQ(StrToInt(L"－３"), -3);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
}

TEST(StrToInt, RejectsWhatIsNotAnInteger) {
  for (const wchar_t* text : {L"", L" ", L"abc", L"12abc", L"1 2", L"12 ", L"+", L"-", L"1.5",
                              L"0x10", L"2147483648", L"-2147483649", L"99999999999999999999"}) {
    SCOPED_TRACE(wxString(text).utf8_string());
    try {
      StrToInt(text);
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& error) {
      EXPECT_NE(error.Message.Find(wxString("'") + text + "'"), wxNOT_FOUND) << error.what();
      EXPECT_NE(error.Message.Find(L"整数"), wxNOT_FOUND) << error.what();
    }
  }
}

TEST_F(WindowTest, ErrorInAHandlerIsShownAndTheLoopGoesOn) {
  ErrorCapture errors;
  form->Edit2->SetValue("abc");
  form->Show();
  ClickWithThePointer(form->Button1);
  EXPECT_TRUE(PumpUntil([&] { return !errors.messages.empty(); }));
  bool later_event_ran = false;
  form->CallAfter([&] { later_event_ran = true; });
  EXPECT_TRUE(PumpUntil([&] { return later_event_ran; }));
  ASSERT_EQ(errors.messages.size(), 1u);
  EXPECT_NE(errors.messages[0].Find("'abc'"), wxNOT_FOUND);
}

TEST_F(WindowTest, ErrorInTheCloseHandlerKeepsTheWindowOpen) {
  ErrorCapture errors;
  form->Show();
  form->Edit2->SetValue("abc");
  form->Edit1->SetValue("http://127.0.0.1/kept.php");
  CloseAsTheUserDoes(form);
  PumpFor(100);
  EXPECT_FALSE(form->IsBeingDeleted());
  EXPECT_TRUE(form->IsShown());
  EXPECT_EQ(form->Edit1->GetValue(), "http://127.0.0.1/kept.php");
  EXPECT_EQ(form->Edit2->GetValue(), "abc");
  EXPECT_TRUE(form->Timer1->IsRunning());
  EXPECT_EQ(errors.messages.size(), 1u);
}

TEST(Application, ErrorOfAnotherKindIsShownWithAnEmptyMessage) {
  ErrorCapture errors;
  try {
    throw 42;
  } catch (...) {
    EXPECT_TRUE(Application->OnExceptionInMainLoop());
  }
  ASSERT_EQ(errors.messages.size(), 1u);
  EXPECT_EQ(errors.messages[0], "");
}

// Waits up to `timeout_ms` for a child process to end; its wait status, or
// -1 when it had to be killed.
int WaitForTheEnd(pid_t program, int timeout_ms) {
  int status = -1;
  bool ended = false;
  PumpUntil([&] { return ended = ended || waitpid(program, &status, WNOHANG) == program; }, timeout_ms);
  if (ended) return status;
  kill(program, SIGKILL);
  waitpid(program, &status, 0);
  return -1;
}

// A failed check inside the toolkit (a program built for users has them on)
// and the toolkit's error messages are written to the standard error stream;
// no dialog waits for an answer.
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
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  FILE* log = std::tmpfile();
  dup2(fileno(log), STDERR_FILENO);
  wxLogError("a logged error");
  wxLog::FlushActive();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::rewind(log);
  std::string logged(4096, '\0');
  logged.resize(std::fread(logged.data(), 1, logged.size(), log));
  std::fclose(log);
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
pid_t StartTheProgram(const std::function<void()>& environment = [] {}) {
  const pid_t program = fork();
  if (program == 0) {
    environment();
    execl(HPVISIT_BINARY, "hpvisit", nullptr);
    _exit(127);
  }
  if (program > 0) PumpUntil([&] { return Catches(program, SIGTERM); }, 20000);
  return program;
}

// Started in a directory with settings, left to settle as a program left
// running does, then stopped by the system (a logout, kill), it saves them as
// a closed window does and returns 0. Started outside a desktop session (no
// runtime folder), the engine's files are kept in a private folder, removed
// at the end: nothing is left under HOME or in the temporary folder.
TEST(Program, StopsLikeAClosedWindowAndReturnsZero) {
  TempWorkingDirectory dir;
  std::string temporary = (std::filesystem::temp_directory_path() / "hpvisit-tmp-XXXXXX").string();
  ASSERT_TRUE(mkdtemp(temporary.data()));
  WriteBytes("udat.txt", "90\n1\nhttp://127.0.0.1:9/day.php\nhttp://127.0.0.1:9/night.php");
  const pid_t program = StartTheProgram([&] {
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", temporary.c_str(), 1);
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
  EXPECT_TRUE(std::filesystem::is_empty(temporary));
  EXPECT_TRUE(FilesWrittenUnderHome().empty()) << testing::PrintToString(FilesWrittenUnderHome());
  std::filesystem::remove_all(temporary);
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

// The launcher for a machine without a desktop, started as the user service
// starts it: in the settings' folder, with no display of its own caller's, and
// that folder as its temporary one, so that anything it leaves behind shows.
class Headless : public testing::Test {
 protected:
  void Start() {
    launcher = fork();
    if (launcher == 0) {
      for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY"}) unsetenv(name);
      setenv("TMPDIR", dir.path().c_str(), 1);
      const auto path = std::filesystem::path(HPVISIT_BINARY).parent_path() / "hpvisit-headless";
      execl(path.c_str(), "hpvisit-headless", nullptr);
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
  // The launcher's child of that name.
  pid_t Child(const std::string& name) {
    const std::string pid = std::to_string(launcher);
    std::ifstream children("/proc/" + pid + "/task/" + pid + "/children");
    for (pid_t child; children >> child;) {
      std::string comm;
      std::getline(std::ifstream("/proc/" + std::to_string(child) + "/comm") >> std::ws, comm);
      if (comm == name) return child;
    }
    return 0;
  }
  // The launcher's exit status, once it has ended.
  int WaitForTheLauncher() {
    int status = -1;
    bool ended = false;
    PumpUntil([&] { return ended = ended || waitpid(launcher, &status, WNOHANG) == launcher; },
              30000);
    if (!ended) {
      ADD_FAILURE() << "the launcher did not end";
      return -1;
    }
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

// Left to run, it visits the page (a minute after the window opens, as the
// program does before Run); stopped, the settings are saved, the display ends
// and the folder holds the settings file alone.
TEST_F(Headless, VisitsThenStopsWithTheSettingsSavedAndNothingLeft) {
  TestServer server;
  const std::string page = server.Url("/a.php");
  WriteBytes("udat.txt", "90\n0\n" + page + "\n" + page);
  Start();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(server.WaitForRequests("/a.php", 1, 90000));
  kill(launcher, SIGTERM);
  const int status = WaitForTheLauncher();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytes("udat.txt"), "60\r\n0\r\n" + page + "\r\n" + page);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"udat.txt"});
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
