// The window and the program on GTK and POSIX: the face that draws the
// captions, the pane's first load, the window manager's close, and the
// program stopped by a signal.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include <gtk/gtk.h>
#include <wx/fontenum.h>

#include "app/application.h"
#include "app/exception.h"
#include "tests/support.h"

namespace {

// What the window manager does when the user closes the window.
void CloseAsTheUserDoes(wxWindow* window) { gtk_window_close(GTK_WINDOW(window->GetHandle())); }

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
  CloseAsTheUserDoes(form);
  PumpFor(100);
  EXPECT_FALSE(form->IsBeingDeleted());
  EXPECT_TRUE(form->IsShown());
  EXPECT_EQ(form->Edit1->GetValue(), "http://127.0.0.1/kept.php");
  EXPECT_EQ(form->Edit2->GetValue(), "abc");
  EXPECT_TRUE(form->Timer1->IsRunning());
  EXPECT_EQ(errors.messages.size(), 1u);
}

// Whether `pid` has a handler of its own for `signal`.
bool Catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
  return false;
}

// The program itself: started in a directory with settings, left to settle as
// a program left running does, then stopped by the system (a logout, kill), it
// saves them as a closed window does and returns 0.
TEST(Program, StopsLikeAClosedWindowAndReturnsZero) {
  TempWorkingDirectory dir;
  WriteBytes("udat.txt", "90\n1\nhttp://127.0.0.1:9/day.php\nhttp://127.0.0.1:9/night.php");
  const pid_t program = fork();
  if (program == 0) {
    execl(HPVISIT_BINARY, "hpvisit", nullptr);
    _exit(127);
  }
  ASSERT_GT(program, 0);
  PumpUntil([&] { return Catches(program, SIGTERM); }, 20000);
  ASSERT_TRUE(Catches(program, SIGTERM));
  PumpFor(2000);  // at rest: nothing left to do until its timer
  kill(program, SIGTERM);
  int status = -1;
  bool ended = false;
  PumpUntil([&] { return ended = ended || waitpid(program, &status, WNOHANG) == program; }, 20000);
  if (!ended) {
    kill(program, SIGKILL);
    waitpid(program, &status, 0);
    FAIL() << "the program did not end";
  }
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytes("udat.txt"),
            "60\r\n1\r\nhttp://127.0.0.1:9/day.php\r\nhttp://127.0.0.1:9/night.php");
}

}  // namespace
