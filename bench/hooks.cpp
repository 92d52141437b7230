// Hooks for the benchmark (bench/run), linked only into a build configured
// with -DHPVISIT_BENCH=ON. The shipped program has none of this.
//
// When HPVISIT_BENCH_CONTROL names a fifo, the program reads commands from it,
// one per line, and writes what happened, with CLOCK_MONOTONIC nanoseconds,
// to the fifo or file named by HPVISIT_BENCH_EVENTS:
//
//   run            press Run (Button1Click)           -> "run <t>"   t taken just before the click
//   interval <ms>  set Timer1's period                 -> "interval <t> <ms>"
//   loop <n>       n visits, each started as a tick    -> "loopdone <t> <n>"
//                  (Timer1Timer) as soon as the previous
//                  page has finished loading
//   blank          load about:blank into the pane, as a program would that
//                  starts its web process with the window (an experiment)
//   quit           close the window (FormClose runs)
//
// and, unasked: "loaded <t>" before main runs (every library is loaded and
// initialised by then), "ready <t>" once the window exists and commands are read,
// "tick <t>" when a Timer1 event reaches the window, before any handler runs,
// and "finished <t>" / "failed <t>" when the pane ends a load.
#include <fcntl.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <time.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <wx/app.h>
#include <wx/eventfilter.h>
#include <wx/timer.h>

#include "app/form1.h"

namespace {

int events_fd = -1;
std::string pending;  // command text read but not yet ended by a line feed
long loop_left = 0;
long loop_total = 0;

long long NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void Emit(const char* what, long long t, long extra = -1) {
  char line[96];
  const int n = extra < 0 ? std::snprintf(line, sizeof line, "%s %lld\n", what, t)
                          : std::snprintf(line, sizeof line, "%s %lld %ld\n", what, t, extra);
  if (events_fd >= 0 && write(events_fd, line, n) < 0) {
    // The harness has gone; nothing to report to.
  }
}

// Sees Timer1's events before the window's own handler does.
class TickTap : public wxEventFilter {
 public:
  int FilterEvent(wxEvent& event) override {
    if (event.GetEventType() == wxEVT_TIMER && Form1 &&
        &static_cast<wxTimerEvent&>(event).GetTimer() == Form1->Timer1)
      Emit("tick", NowNs());
    return Event_Skip;
  }
};

void LoopStep() {
  if (loop_left <= 0) return;
  --loop_left;
  Form1->Timer1Timer(Form1->Timer1);
}

void OnLoadChanged(WebKitWebView*, WebKitLoadEvent load_event, gpointer) {
  if (load_event != WEBKIT_LOAD_FINISHED) return;
  Emit("finished", NowNs());
  if (loop_left > 0) {
    wxTheApp->CallAfter([] { LoopStep(); });
  } else if (loop_total > 0) {
    Emit("loopdone", NowNs(), loop_total);
    loop_total = 0;
  }
}

gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error, gpointer) {
  Emit("failed", NowNs(), error ? error->code : 0);
  return FALSE;
}

void Execute(const std::string& line) {
  if (!Form1) return;
  if (line == "run") {
    wxTheApp->CallAfter([] {
      const long long t = NowNs();
      Form1->Button1Click(Form1->Button1);
      Emit("run", t);
    });
  } else if (line.rfind("interval ", 0) == 0) {
    const long ms = std::strtol(line.c_str() + 9, nullptr, 10);
    wxTheApp->CallAfter([ms] {
      const long long t = NowNs();
      Form1->Timer1->SetInterval(static_cast<unsigned>(ms));
      Emit("interval", t, ms);
    });
  } else if (line.rfind("loop ", 0) == 0) {
    const long n = std::strtol(line.c_str() + 5, nullptr, 10);
    if (n <= 0) return;
    loop_left = loop_total = n;
    wxTheApp->CallAfter([] { LoopStep(); });
  } else if (line == "blank") {
    wxTheApp->CallAfter([] {
      auto* widget = static_cast<GtkWidget*>(Form1->WebBrowser1->GetHandle());
      if (widget && WEBKIT_IS_WEB_VIEW(widget))
        webkit_web_view_load_uri(WEBKIT_WEB_VIEW(widget), "about:blank");
    });
  } else if (line == "quit") {
    wxTheApp->CallAfter([] { Form1->Close(); });
  }
}

gboolean OnControl(gint fd, GIOCondition, gpointer) {
  char buffer[512];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
  }
  for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
    const std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    Execute(line);
  }
  return G_SOURCE_CONTINUE;
}

gboolean Install(gpointer) {
  if (!Form1 || !wxTheApp) {
    g_timeout_add(10, Install, nullptr);  // the window is not built yet
    return G_SOURCE_REMOVE;
  }
  const char* control = std::getenv("HPVISIT_BENCH_CONTROL");
  // Read and write: the fifo then never reports an end while the harness reopens it.
  const int control_fd = open(control, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (control_fd < 0) {
    std::fprintf(stderr, "hpvisit bench: cannot open %s\n", control);
    return G_SOURCE_REMOVE;
  }
  g_unix_fd_add(control_fd, G_IO_IN, OnControl, nullptr);
  wxEvtHandler::AddFilter(new TickTap);  // lives as long as the program

  auto* widget = static_cast<GtkWidget*>(Form1->WebBrowser1->GetHandle());
  if (widget && WEBKIT_IS_WEB_VIEW(widget)) {
    g_signal_connect(widget, "load-changed", G_CALLBACK(OnLoadChanged), nullptr);
    g_signal_connect(widget, "load-failed", G_CALLBACK(OnLoadFailed), nullptr);
  } else {
    std::fprintf(stderr, "hpvisit bench: the pane is not a WebKitWebView\n");
  }
  Emit("ready", NowNs());
  return G_SOURCE_REMOVE;
}

// Runs before main: the first time the event loop is idle, the window exists.
[[maybe_unused]] const bool installed = [] {
  if (!std::getenv("HPVISIT_BENCH_CONTROL")) return false;
  if (const char* events = std::getenv("HPVISIT_BENCH_EVENTS"))
    events_fd = open(events, O_WRONLY | O_APPEND | O_CLOEXEC);
  Emit("loaded", NowNs());
  g_idle_add(Install, nullptr);
  return true;
}();

}  // namespace
