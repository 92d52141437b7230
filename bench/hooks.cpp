// Hooks for the benchmark (bench/run), linked only into a build configured
// with -DHPVISIT_BENCH=ON; the shipped program has none of this. With
// HPVISIT_BENCH_CONTROL set, the program takes these commands (bench/events.h):
//   run            press Run (Button1Click)   -> "run <t>", t taken just before the click
//   interval <ms>  set Timer1's period        -> "interval <t> <ms>"
//   loop <n>       n visits, each started as a tick (Timer1Timer) -> "loopdone <t> <n>"
//   blank          load about:blank into the pane (an experiment)
//   quit           close the window (FormClose runs)
// and reports unasked "loaded <t>" before main runs (every library loaded and
// initialised), "ready <t>" once the window exists and commands are read, and
// "tick <t>" when a Timer1 event reaches the window, before any handler runs.
#include <gtk/gtk.h>
#include <wx/app.h>
#include <wx/eventfilter.h>
#include <wx/timer.h>

#include "app/form1.h"
#include "bench/events.h"

namespace {

using namespace bench;

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

// The engine's view, in the pane's holder once the window is on screen.
WebKitWebView* Pane() {
  auto* holder = static_cast<GtkWidget*>(Form1->WebBrowser1->GetHandle());
  if (!holder || !GTK_IS_CONTAINER(holder)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(holder));
  WebKitWebView* view = children && WEBKIT_IS_WEB_VIEW(children->data) ? WEBKIT_WEB_VIEW(children->data) : nullptr;
  g_list_free(children);
  return view;
}

void NextVisit() {  // the path a timer tick takes
  wxTheApp->CallAfter([] { Form1->Timer1Timer(Form1->Timer1); });
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
  } else if (line == "blank") {
    wxTheApp->CallAfter([] {
      if (WebKitWebView* pane = Pane()) webkit_web_view_load_uri(pane, "about:blank");
    });
  } else if (line == "quit") {
    wxTheApp->CallAfter([] { Form1->Close(); });
  }
}

gboolean Install(gpointer) {
  if (!Form1 || !wxTheApp || !Pane()) {
    g_timeout_add(10, Install, nullptr);  // the window or its engine's view is not made yet
    return G_SOURCE_REMOVE;
  }
  if (!Listen(Pane(), Execute, NextVisit)) {
    std::fprintf(stderr, "hpvisit bench: cannot open %s\n", std::getenv("HPVISIT_BENCH_CONTROL"));
    return G_SOURCE_REMOVE;
  }
  wxEvtHandler::AddFilter(new TickTap);  // lives as long as the program
  Emit("ready", NowNs());
  return G_SOURCE_REMOVE;
}

// Runs before main: the first time the event loop is idle, the window exists.
[[maybe_unused]] const bool installed = [] {
  if (!OpenEvents()) return false;
  Emit("loaded", NowNs());
  g_idle_add(Install, nullptr);
  return true;
}();

}  // namespace
