#include "pane/engine_memory.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include <glib.h>

namespace {

// How often the memory is read: once a second while the web processes hold
// less than half the limit, and ten times a second above it, so that a page
// taking memory without end (1 GB a second here) gets about 0.1 GB past the
// limit. The thread lets the system move each reading by a twentieth of its
// period, so that it wakes along with others.
constexpr unsigned kAtRestMilliseconds = 1000;
constexpr unsigned kNearLimitMilliseconds = 100;

// The most memory a web process may hold: a quarter of the machine's memory,
// at least 256 MiB and at most 1 GiB. No normal page comes near it.
long long Limit() {
  static const long long limit = [] {
    const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
    const long long quarter = pages > 0 && page_size > 0 ? 1LL * pages * page_size / 4 : 1LL << 30;
    return std::clamp(quarter, 256LL << 20, 1LL << 30);
  }();
  return limit;
}

// The memory a process holds now (its resident set), from its open statm;
// -1 once it has ended.
long long ResidentMemory(int statm) {
  char text[128];
  const ssize_t n = pread(statm, text, sizeof text - 1, 0);
  if (n <= 0) return -1;
  text[n] = '\0';
  long long size = 0, resident = -1;
  if (std::sscanf(text, "%lld %lld", &size, &resident) != 2) return -1;
  return resident * sysconf(_SC_PAGESIZE);
}

int OpenProcess(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// Whether the process a handle holds is still running.
bool IsRunning(int handle) {
  pollfd ended = {handle, POLLIN, 0};
  return poll(&ended, 1, 0) == 0;
}

// Whether any of the processes their handles hold has ended (or was not held).
bool AnyEnded(const std::vector<int>& handles) {
  std::vector<pollfd> ended;
  for (int handle : handles) ended.push_back({handle, POLLIN, 0});
  return std::find(handles.begin(), handles.end(), -1) != handles.end() ||
         (!ended.empty() && poll(ended.data(), ended.size(), 0) != 0);
}

bool Kill(int handle) { return syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0) == 0; }

}  // namespace

TMemoryWatch::TMemoryWatch(std::function<void()> ended)
    : ended_(std::move(ended)), thread_([this] { Watch(); }) {}

TMemoryWatch::~TMemoryWatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  thread_.join();
  if (over_limit_source_) g_source_remove(over_limit_source_);
  Forget();
  for (int handle : found_) close(handle);
}

void TMemoryWatch::FindProcesses() {
  std::vector<pid_t> children;
  const bool whole = own_children_.Read(children);
  if (settled_ && whole && children == children_ && !AnyEnded(found_)) return;  // nothing new
  children_ = std::move(children);

  constexpr int kFirstToGo = 1000;  // raising it needs no privilege
  std::vector<int> found;  // a handle on each process found
  std::vector<pid_t> running;
  std::vector<Watched> web;
  bool starting = false;  // a process is still becoming what bubblewrap starts
  const std::vector<TProcess> processes = Descendants(getpid());
  for (const TProcess& process : processes) {
    if (std::find(adjusted_.begin(), adjusted_.end(), process.pid) == adjusted_.end()) {
      std::ofstream("/proc/" + std::to_string(process.pid) + "/oom_score_adj") << kFirstToGo;
      adjusted_.push_back(process.pid);
    }
    const bool has_children = std::any_of(processes.begin(), processes.end(),
                                          [&](const TProcess& p) { return p.parent == process.pid; });
    starting = starting || (process.name == "bwrap" && !has_children);
    // Held from here on: the number, just read from the process tree, can
    // only be another's once the process has ended, and the handle is its own.
    const int handle = OpenProcess(process.pid);
    found.push_back(handle);
    running.push_back(process.pid);
    if (process.name != "WebKitWebProces" || handle < 0) continue;
    const std::string statm = "/proc/" + std::to_string(process.pid) + "/statm";
    const int memory = open(statm.c_str(), O_RDONLY | O_CLOEXEC);
    // Its own statm only if it still ran once that was open.
    if (memory >= 0 && IsRunning(handle)) {
      const int own = fcntl(handle, F_DUPFD_CLOEXEC, 0);
      if (own >= 0) {
        web.push_back({process.pid, own, memory});
        continue;
      }
    }
    if (memory >= 0) close(memory);
  }
  // Those no longer running are forgotten, with their numbers.
  adjusted_.erase(std::remove_if(adjusted_.begin(), adjusted_.end(),
                                 [&](pid_t pid) {
                                   return std::find(running.begin(), running.end(), pid) == running.end();
                                 }),
                  adjusted_.end());
  for (int handle : found_) close(handle);
  found_ = std::move(found);
  settled_ = !web.empty() && !starting;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Watched& process : web)  // one ended already, and not yet gone, is not ended again
    process.killed = std::any_of(web_processes_.begin(), web_processes_.end(), [&](const Watched& old) {
      return old.pid == process.pid && old.killed;
    });
  std::swap(web_processes_, web);
  for (const Watched& process : web) close(process.handle), close(process.statm);
}

void TMemoryWatch::Forget() {
  settled_ = false;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Watched& process : web_processes_) close(process.handle), close(process.statm);
  web_processes_.clear();
}

void TMemoryWatch::Watch() {
  const long long limit = Limit();
  unsigned period = kAtRestMilliseconds;
  prctl(PR_SET_TIMERSLACK, period * 1000000UL / 20);
  pthread_setname_np(pthread_self(), "MemoryWatch");
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_.wait_for(lock, std::chrono::milliseconds(period), [this] { return stopping_; })) {
    bool near_limit = false, over_limit = false;
    for (const Watched& process : web_processes_) {
      const long long held = process.killed ? -1 : ResidentMemory(process.statm);
      near_limit = near_limit || held > limit / 2;
      over_limit = over_limit || held > limit;
    }
    // Ended on the event loop, in one of its turns, so that what the engine
    // has told of the visit so far is known when `ended` is called.
    if (over_limit && !over_limit_source_)
      over_limit_source_ = g_idle_add_full(
          G_PRIORITY_DEFAULT,
          [](gpointer self) {
            static_cast<TMemoryWatch*>(self)->EndThoseOverTheLimit();
            return gboolean(G_SOURCE_REMOVE);
          },
          this, nullptr);
    const unsigned next = near_limit ? kNearLimitMilliseconds : kAtRestMilliseconds;
    if (next != period) prctl(PR_SET_TIMERSLACK, next * 1000000UL / 20);
    period = next;
  }
}

void TMemoryWatch::EndThoseOverTheLimit() {
  bool ended = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    over_limit_source_ = 0;
    // Each is ended once: one that has not gone yet is not counted again.
    for (Watched& process : web_processes_)
      if (!process.killed && ResidentMemory(process.statm) > Limit() && Kill(process.handle))
        ended = process.killed = true;
  }
  if (ended) ended_();
}
