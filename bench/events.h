// What the bench hooks (hooks.cpp, inside hpvisit) and the floor (floor.cpp)
// share. Both take commands, one a line, from the fifo HPVISIT_BENCH_CONTROL
// names, and write what happened, with CLOCK_MONOTONIC nanoseconds, to the
// fifo HPVISIT_BENCH_EVENTS names: "<event> <t>[ <number>]".
#pragma once

#include <fcntl.h>
#include <glib-unix.h>
#include <time.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

inline int events_fd = -1;
inline void (*execute)(const std::string& command);
inline void (*next_visit)();                // starts a visit of a "loop" from the main loop
inline long loop_left = 0, loop_total = 0;  // visits of the loop still to start, and in all

inline long long NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

inline void Emit(const char* what, long long t, long extra = -1) {
  char line[96];
  const int n = extra < 0 ? std::snprintf(line, sizeof line, "%s %lld\n", what, t)
                          : std::snprintf(line, sizeof line, "%s %lld %ld\n", what, t, extra);
  if (events_fd >= 0 && write(events_fd, line, n) < 0) return;  // the harness has gone
}

// Whether the bench drives this process; opens the events fifo if so.
inline bool OpenEvents() {
  if (!std::getenv("HPVISIT_BENCH_CONTROL")) return false;
  if (const char* events = std::getenv("HPVISIT_BENCH_EVENTS"))
    events_fd = open(events, O_WRONLY | O_APPEND | O_CLOEXEC);
  return true;
}

inline void OnLoadChanged(WebKitWebView*, WebKitLoadEvent load_event, gpointer) {
  if (load_event != WEBKIT_LOAD_FINISHED) return;
  Emit("finished", NowNs());
  if (loop_left > 0) {
    --loop_left;
    next_visit();
  } else if (loop_total > 0) {
    Emit("loopdone", NowNs(), loop_total);
    loop_total = 0;
  }
}

// Hands each command but "loop <n>" to run, and reports the ends of the pane's loads
// ("finished", "failed", "loopdone"); false if the control fifo cannot be opened.
inline bool Listen(WebKitWebView* pane, void (*run)(const std::string&), void (*next)()) {
  // Read and write: the fifo then never reports an end while the harness reopens it.
  const int fd = open(std::getenv("HPVISIT_BENCH_CONTROL"), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  execute = run;
  next_visit = next;
  g_unix_fd_add(fd, G_IO_IN, [](gint fd, GIOCondition, gpointer) -> gboolean {
    static std::string pending;  // text read but not yet ended by a line feed
    char buffer[512];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) pending.append(buffer, size_t(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      const std::string line = pending.substr(0, end);
      if (line.rfind("loop ", 0) == 0) {  // n visits, each as soon as the previous page has loaded
        loop_total = std::strtol(line.c_str() + 5, nullptr, 10);
        loop_left = loop_total - 1;
        if (loop_total > 0) next_visit();
      } else {
        execute(line);
      }
    }
    return G_SOURCE_CONTINUE;
  }, nullptr);
  if (!pane) return true;
  g_signal_connect(pane, "load-changed", G_CALLBACK(OnLoadChanged), nullptr);
  g_signal_connect(pane, "load-failed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar*,
                                                       GError* error, gpointer) -> gboolean {
    Emit("failed", NowNs(), error ? error->code : 0);
    return FALSE;
  }), nullptr);
  return true;
}

}  // namespace bench
