// The floor: a GTK window holding one WebKitWebView with the engine's defaults and
// nothing else, the least any program with a real browser pane costs on this machine.
// Usage: floor [--sandbox] [--software] URL. With --sandbox its web content is
// confined by bubblewrap, as hpvisit's is: where a trial run of bubblewrap,
// started before GTK's own start as hpvisit starts it, succeeds
// (pane/sandbox.h). With --software the engine draws without hardware
// acceleration, as hpvisit's pane does.
// It takes hpvisit's bench commands (hooks.cpp): "run" and each visit of a
// "loop" load URL, "interval <ms>" ticks at start + n x ms (0 stops), "blank", "quit".
#include <gtk/gtk.h>
#include <sys/wait.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "bench/events.h"
#include "pane/sandbox.h"

namespace {

using namespace bench;

WebKitWebView* view;
const char* url;
GSource* ticker;
gint64 period_us = 0;

gboolean Tick(gpointer) {  // aimed at start + n x period: no drift
  Emit("tick", NowNs());
  g_source_set_ready_time(ticker, g_source_get_ready_time(ticker) + period_us);
  webkit_web_view_load_uri(view, url);
  return G_SOURCE_CONTINUE;
}

void NextVisit() {
  g_idle_add([](gpointer) { webkit_web_view_load_uri(view, url); return G_SOURCE_REMOVE; }, nullptr);
}

void Execute(const std::string& line) {
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
  } else if (line == "blank") {
    webkit_web_view_load_uri(view, "about:blank");
  } else if (line == "quit") {
    gtk_main_quit();
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long long loaded = NowNs();
  int first = 1;  // the first argument after the options
  const bool sandbox = argc > first && std::strcmp(argv[first], "--sandbox") == 0 && ++first;
  const bool software = argc > first && std::strcmp(argv[first], "--software") == 0 && ++first;
  GPid trial = 0;
  if (gchar* bwrap = sandbox ? g_find_program_in_path(kSandboxTrial[0]) : nullptr) {
    std::vector<const char*> trial_argv(std::begin(kSandboxTrial), std::end(kSandboxTrial));
    trial_argv[0] = bwrap;  // by its full path, as hpvisit spawns it (posix_spawn)
    g_spawn_async(nullptr, const_cast<char**>(trial_argv.data()), nullptr,
                  GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_LEAVE_DESCRIPTORS_OPEN |
                              G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                  nullptr, nullptr, &trial, nullptr);
    g_free(bwrap);
  }
  gtk_init(&argc, &argv);
  if (argc <= first) return 2;
  url = argv[first];
  int status = 0;
  if (trial > 0 && waitpid(trial, &status, 0) == trial && WIFEXITED(status) && WEXITSTATUS(status) == 0)
    webkit_web_context_set_sandbox_enabled(webkit_web_context_get_default(), TRUE);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 713, 313);  // hpvisit's pane
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  view = WEBKIT_WEB_VIEW(webkit_web_view_new());
  if (software)
    webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(view),
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
  gtk_widget_show_all(window);
  if (OpenEvents()) {
    Emit("loaded", loaded);
    Listen(view, Execute, NextVisit);
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
