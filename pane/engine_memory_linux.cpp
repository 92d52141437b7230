#include "pane/engine_memory.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
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

int OpenProcess(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// Whether the process a handle holds is still running.
bool IsRunning(int handle) {
  pollfd ended = {handle, POLLIN, 0};
  return poll(&ended, 1, 0) == 0;
}

bool Kill(int handle) { return syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0) == 0; }

}  // namespace

TMemoryWatch::TMemoryWatch(std::function<void()> ended) : ended_(std::move(ended)) {
  CheckIn(kAtRestMilliseconds);
}

TMemoryWatch::~TMemoryWatch() {
  g_source_remove(source_);
  Forget();
}

void TMemoryWatch::FindProcesses() {
  constexpr int kFirstToGo = 1000;  // raising it needs no privilege
  Forget();
  std::vector<pid_t> seen;
  for (const TProcess& process : Descendants(getpid())) {
    seen.push_back(process.pid);
    if (std::find(adjusted_.begin(), adjusted_.end(), process.pid) == adjusted_.end())
      std::ofstream("/proc/" + std::to_string(process.pid) + "/oom_score_adj") << kFirstToGo;
    if (process.name != "WebKitWebProces") continue;
    // Held from here on: the number, just read from the process tree, can
    // only be another's once the process has ended, and the handle is its own.
    const int handle = OpenProcess(process.pid);
    if (handle >= 0) web_processes_.push_back({process.pid, handle});
  }
  adjusted_ = std::move(seen);
}

void TMemoryWatch::Forget() {
  for (const Watched& process : web_processes_) close(process.handle);
  web_processes_.clear();
}

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
  bool near_limit = false, ended = false;
  for (const Watched& process : web_processes_) {
    const long long held = ResidentMemory(process.pid);
    // The reading is the process's own only if it still runs after it.
    if (held < 0 || !IsRunning(process.handle)) continue;
    if (held > limit && Kill(process.handle)) ended = true;
    near_limit = near_limit || held > limit / 2;
  }
  CheckIn(near_limit ? kNearLimitMilliseconds : kAtRestMilliseconds);
  if (ended) ended_();
}
