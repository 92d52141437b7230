// The floor: a bare WebKitGTK 4.1 window, a GTK window holding a WebKitWebView
// with the engine's defaults and nothing else. What it costs is the least any
// program with a real browser pane costs on this machine.
//
// Usage: floor URL. Driven by bench/run through the same fifos, commands and
// events as the bench build of hpvisit (see hooks.cpp): "run" and each "loop" step load
// URL, "interval <ms>" ticks at start + n x ms (0 stops), "blank" loads
// about:blank, "quit" ends.
#include <fcntl.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
WebKitWebView* view;
const char* url;
int events_fd = -1;
std::string pending;
long loop_left = 0, loop_total = 0;
GSource* ticker;
gint64 period_us = 0;

void Emit(const char* what, long long t, long extra = -1) {
  char line[96];
  const int n = extra < 0 ? std::snprintf(line, sizeof line, "%s %lld\n", what, t)
                          : std::snprintf(line, sizeof line, "%s %lld %ld\n", what, t, extra);
  if (events_fd >= 0 && write(events_fd, line, n) < 0) {
  }
}

long long NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

gboolean Tick(gpointer) {  // aimed at start + n x period: no drift
  Emit("tick", NowNs());
  g_source_set_ready_time(ticker, g_source_get_ready_time(ticker) + period_us);
  webkit_web_view_load_uri(view, url);
  return G_SOURCE_CONTINUE;
}

void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer) {
  if (event != WEBKIT_LOAD_FINISHED) return;
  Emit("finished", NowNs());
  if (loop_left > 0) {
    --loop_left;
    g_idle_add([](gpointer) { webkit_web_view_load_uri(view, url); return G_SOURCE_REMOVE; }, nullptr);
  } else if (loop_total > 0) {
    Emit("loopdone", NowNs(), loop_total);
    loop_total = 0;
  }
}

gboolean OnControl(gint fd, GIOCondition, gpointer) {
  char buffer[512];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) pending.append(buffer, n);
  for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
    const std::string line = pending.substr(0, end);
    if (line == "run") {
      const long long t = NowNs();
      webkit_web_view_load_uri(view, url);
      Emit("run", t);
    } else if (line.rfind("interval ", 0) == 0) {
      const long ms = std::strtol(line.c_str() + 9, nullptr, 10);
      const long long t = NowNs();
      period_us = ms * 1000LL;
      g_source_set_ready_time(ticker, ms > 0 ? t / 1000 + period_us : -1);
      Emit("interval", t, ms);
    } else if (line.rfind("loop ", 0) == 0) {
      loop_total = loop_left = std::strtol(line.c_str() + 5, nullptr, 10) - 1;
      ++loop_total;
      webkit_web_view_load_uri(view, url);
    } else if (line == "blank") {
      webkit_web_view_load_uri(view, "about:blank");
    } else if (line == "quit") {
      gtk_main_quit();
    }
  }
  return G_SOURCE_CONTINUE;
}
}  // namespace

int main(int argc, char** argv) {
  const long long loaded = NowNs();
  gtk_init(&argc, &argv);
  if (argc < 2) return 2;
  url = argv[1];
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 713, 313);  // hpvisit's pane
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  view = WEBKIT_WEB_VIEW(webkit_web_view_new());
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
  gtk_widget_show_all(window);

  if (const char* control = std::getenv("HPVISIT_BENCH_CONTROL")) {
    if (const char* events = std::getenv("HPVISIT_BENCH_EVENTS"))
      events_fd = open(events, O_WRONLY | O_APPEND | O_CLOEXEC);
    Emit("loaded", loaded);
    g_unix_fd_add(open(control, O_RDWR | O_NONBLOCK | O_CLOEXEC), G_IO_IN, OnControl, nullptr);
    g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), nullptr);
    static GSourceFuncs fired_at_ready_time = {
        nullptr, nullptr, [](GSource*, GSourceFunc f, gpointer d) { return f(d); }, nullptr, {}, {}};
    ticker = g_source_new(&fired_at_ready_time, sizeof(GSource));
    g_source_set_callback(ticker, Tick, nullptr, nullptr);
    g_source_set_ready_time(ticker, -1);
    g_source_attach(ticker, nullptr);
    Emit("ready", NowNs());
  }
  gtk_main();
  return 0;
}
