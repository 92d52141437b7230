#include "pane/engine_memory.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <utility>

#include <glib.h>

#include "pane/process_tree.h"

namespace {

// How often the memory is checked: once a second while the web processes hold
// less than half the limit, which costs nothing at rest, and ten times a second
// above it, so that a page taking memory without end (1 GB a second here) gets
// about 0.1 GB past the limit.
constexpr unsigned kAtRestMilliseconds = 1000;
constexpr unsigned kNearLimitMilliseconds = 100;

// The most memory a web process may hold: a quarter of the machine's memory,
// at least 256 MiB and at most 1 GiB. No normal page comes near it.
long long Limit() {
  const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
  const long long quarter = pages > 0 && page_size > 0 ? 1LL * pages * page_size / 4 : 1LL << 30;
  return std::clamp(quarter, 256LL << 20, 1LL << 30);
}

// The memory a process holds now (its resident set); -1 once it is gone.
long long ResidentMemory(pid_t pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  long long size = 0, resident = -1;
  if (!(statm >> size >> resident)) return -1;
  return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace

TMemoryWatch::TMemoryWatch() { CheckIn(kAtRestMilliseconds); }

TMemoryWatch::~TMemoryWatch() { g_source_remove(source_); }

void TMemoryWatch::FindProcesses() {
  constexpr int kFirstToGo = 1000;  // raising it needs no privilege
  web_processes_.clear();
  for (const TProcess& process : Descendants(getpid())) {
    const std::string score = "/proc/" + std::to_string(process.pid) + "/oom_score_adj";
    int now = 0;
    if (std::ifstream(score) >> now && now < kFirstToGo) std::ofstream(score) << kFirstToGo;
    if (process.name == "WebKitWebProces") web_processes_.push_back(process.pid);
  }
}

bool TMemoryWatch::TakeEnded() { return std::exchange(ended_, false); }

void TMemoryWatch::CheckIn(unsigned milliseconds) {
  source_ = g_timeout_add(
      milliseconds,
      [](gpointer self) {
        static_cast<TMemoryWatch*>(self)->Check();
        return gboolean(G_SOURCE_REMOVE);
      },
      this);
}

void TMemoryWatch::Check() {
  static const long long limit = Limit();
  bool near_limit = false;
  for (pid_t pid : web_processes_) {
    const long long held = ResidentMemory(pid);
    if (held > limit && kill(pid, SIGKILL) == 0) ended_ = true;
    near_limit = near_limit || held > limit / 2;
  }
  CheckIn(near_limit ? kNearLimitMilliseconds : kAtRestMilliseconds);
}
