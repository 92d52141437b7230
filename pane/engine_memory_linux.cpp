#include "pane/engine_memory.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "pane/process_tree.h"

namespace {

// How often the memory is read: once a second while the web processes hold
// less than half the limit, and ten times a second above it, so that a page
// taking memory without end (1 GB a second here) gets about 0.1 GB past the
// limit. The thread lets the system move each reading by a twentieth of its
// period, so that it wakes along with others.
constexpr int kAtRestMilliseconds = 1000;
constexpr int kNearLimitMilliseconds = 100;

constexpr char kWebProcess[] = "WebKitWebProces";  // as the system shortens its name
constexpr char kSandbox[] = "bwrap";               // what the engine starts it under, if sandboxed

// The most memory a web process may hold: a quarter of the machine's memory,
// at least 256 MiB and at most 1 GiB. No normal page comes near it.
long long Limit() {
  const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
  const long long quarter = pages > 0 && page_size > 0 ? 1LL * pages * page_size / 4 : 1LL << 30;
  return std::clamp(quarter, 256LL << 20, 1LL << 30);
}

// What /proc/PID/stat tells of a process: its name, its parent, the memory it
// holds (its resident set, in bytes). False once it has ended.
struct TStat {
  std::string name;
  pid_t parent = 0;
  long long resident = 0;
};
bool ReadStat(pid_t pid, TStat& stat) {
  char path[40], text[1024];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return false;
  text[n] = '\0';
  // "pid (name) state ppid ..." (the name may hold spaces and parentheses),
  // the resident pages the 22nd field after the name.
  const char* open_paren = std::strchr(text, '(');
  const char* close_paren = std::strrchr(text, ')');
  if (!open_paren || !close_paren || close_paren < open_paren) return false;
  stat.name.assign(open_paren + 1, close_paren);
  const char* field = close_paren + 1;
  long long values[22];
  for (long long& value : values) {
    while (*field == ' ') ++field;
    if (!*field) return false;
    char* end;
    value = std::strtoll(field, &end, 10);  // the state, a letter, reads as 0
    field = *end == ' ' || !*end ? end : std::strchr(field, ' ');
    if (!field) return false;
  }
  stat.parent = static_cast<pid_t>(values[1]);
  stat.resident = values[21] * sysconf(_SC_PAGESIZE);
  return true;
}

int Hold(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

bool IsRunning(int handle) {
  pollfd ended = {handle, POLLIN, 0};
  return poll(&ended, 1, 0) == 0;
}

bool Kill(int handle) { return syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0) == 0; }

// Calls `each` for every web process `parent` started, directly or through
// the sandbox, that runs now: with a handle on it (closed after) and the
// memory it holds. Its parent and name, read to find it, are read again once
// it is held: a process still running then is the one they describe, and the
// handle is its own.
void ForEachWebProcess(pid_t parent, const std::function<void(int handle, long long resident)>& each) {
  for (const pid_t child : Children(parent)) {
    TStat stat;
    if (!ReadStat(child, stat) || stat.parent != parent) continue;
    if (stat.name == kSandbox) ForEachWebProcess(child, each);
    if (stat.name != kWebProcess) continue;
    const int handle = Hold(child);
    if (handle < 0) continue;
    if (ReadStat(child, stat) && stat.parent == parent && stat.name == kWebProcess && IsRunning(handle))
      each(handle, stat.resident);
    close(handle);
  }
}

std::string FirstWord(const std::string& file) {
  std::string word;
  std::ifstream(file) >> word;
  return word;
}

// The memory.events file of this process's control group where the kernel
// bounds the group's memory (cgroup v2: memory.max, and no swap the group
// could spill into instead); empty elsewhere.
std::string KernelBound() {
  std::ifstream own("/proc/self/cgroup");
  std::string group;
  for (std::string line; std::getline(own, line);)
    if (line.rfind("0::", 0) == 0) group = line.substr(3);
  if (group.empty() || group == "/") return {};
  std::ifstream meminfo("/proc/meminfo");
  bool swap = true;
  for (std::string line; std::getline(meminfo, line);)
    if (line.rfind("SwapTotal:", 0) == 0) swap = std::atoll(line.c_str() + 10) > 0;
  // cgroup v2 alone, or beside v1's hierarchies.
  for (const std::string root : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
    const std::string max = FirstWord(root + group + "/memory.max");
    if (max.empty() || max == "max") continue;
    if (swap && FirstWord(root + group + "/memory.swap.max") != "0") continue;
    return root + group + "/memory.events";
  }
  return {};
}

// How many processes of the group the kernel has ended for its bound.
unsigned long long KernelEnds(const std::string& events) {
  std::ifstream in(events);
  for (std::string key; in >> key;) {
    unsigned long long count = 0;
    in >> count;
    if (key == "oom_kill") return count;
  }
  return 0;
}

}  // namespace

TMemoryWatch::TMemoryWatch() : kernel_events_(KernelBound()) {
  if (!kernel_events_.empty()) {
    kernel_ends_ = KernelEnds(kernel_events_);
    return;
  }
  if (pipe2(stop_, O_CLOEXEC) == 0) thread_ = std::thread([this] { Watch(); });
}

TMemoryWatch::~TMemoryWatch() {
  if (thread_.joinable()) {
    (void)!write(stop_[1], "", 1);
    thread_.join();
  }
  for (int end : stop_)
    if (end >= 0) close(end);
}

void TMemoryWatch::PutEngineProcessesFirst() {
  constexpr char kFirstToGo[] = "1000";  // raising it needs no privilege
  for (const TProcess& process : Descendants(getpid()))
    std::ofstream("/proc/" + std::to_string(process.pid) + "/oom_score_adj") << kFirstToGo;
}

bool TMemoryWatch::EndedOne() {
  if (kernel_events_.empty()) return ended_.exchange(false);
  const unsigned long long ends = KernelEnds(kernel_events_);
  const bool ended = ends != kernel_ends_;
  kernel_ends_ = ends;
  return ended;
}

void TMemoryWatch::Watch() {
  pthread_setname_np(pthread_self(), "MemoryWatch");
  const long long limit = Limit();
  int period = kAtRestMilliseconds;
  prctl(PR_SET_TIMERSLACK, period * 1000000UL / 20);
  for (;;) {
    pollfd stop = {stop_[0], POLLIN, 0};
    if (poll(&stop, 1, period) != 0) return;
    bool near_limit = false;
    ForEachWebProcess(getpid(), [&](int handle, long long resident) {
      near_limit = near_limit || resident > limit / 2;
      if (resident <= limit) return;
      // Told before the signal, so that the engine, which learns of the end
      // on another thread, finds it told.
      const bool before = ended_.exchange(true);
      if (!Kill(handle)) ended_ = before;
    });
    const int next = near_limit ? kNearLimitMilliseconds : kAtRestMilliseconds;
    if (next != period) prctl(PR_SET_TIMERSLACK, next * 1000000UL / 20);
    period = next;
  }
}
