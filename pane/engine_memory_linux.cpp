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
#include <vector>

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

// What /proc/PID/stat, open, tells of a process: its name, its parent, the
// memory it holds (its resident set, in bytes). False once it has ended and
// been reaped (the open file stays its own: it never reads another's).
struct TStat {
  std::string name;
  pid_t parent = 0;
  long long resident = 0;
};
bool ReadStat(int fd, TStat& stat) {
  char text[1024];
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
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

int OpenStat(pid_t pid) {
  char path[40];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  return open(path, O_RDONLY | O_CLOEXEC);
}

int Hold(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

bool Kill(int handle) { return syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0) == 0; }

// A web process found: a handle on it (its pidfd) and its stat, open.
struct TWebProcess {
  int handle;
  int stat;
};

// Every web process `parent` started, directly or through the sandbox, that
// runs now, held. Its parent and name, read to find it, are read again once
// its handle is taken: the process they describe still ran then, so that the
// number was still its own, and the handle is its own.
//
// Should the system run out of memory, the kernel is to end one of the
// engine's processes found on the way, which the next visit replaces, rather
// than this one: they are made its likelier choice.
void FindWebProcesses(pid_t parent, std::vector<TWebProcess>& found) {
  for (const pid_t child : Children(parent)) {
    const int stat = OpenStat(child);
    if (stat < 0) continue;
    TStat read;
    const bool is_child = ReadStat(stat, read) && read.parent == parent;
    if (is_child) std::ofstream("/proc/" + std::to_string(child) + "/oom_score_adj") << "1000";
    if (is_child && read.name == kSandbox) FindWebProcesses(child, found);
    const int handle = is_child && read.name == kWebProcess ? Hold(child) : -1;
    if (handle >= 0 && ReadStat(stat, read) && read.parent == parent && read.name == kWebProcess) {
      found.push_back({handle, stat});
      continue;
    }
    if (handle >= 0) close(handle);
    close(stat);
  }
}

void Close(const std::vector<TWebProcess>& processes) {
  for (const TWebProcess& process : processes) close(process.handle), close(process.stat);
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

// The engine starts its processes from the event loop, on this process's
// first thread: they are looked for again whenever that thread's children
// change, and not otherwise.
TMemoryWatch::TChildren::TChildren()
    : file(open(("/proc/self/task/" + std::to_string(getpid()) + "/children").c_str(), O_RDONLY | O_CLOEXEC)) {}

TMemoryWatch::TChildren::~TChildren() {
  if (file >= 0) close(file);
}

bool TMemoryWatch::TChildren::Changed() {
  std::string now;
  char text[4096];
  ssize_t n;
  for (off_t at = 0; (n = pread(file, text, sizeof text, at)) > 0; at += n) now.append(text, std::size_t(n));
  if (file >= 0 && read && now == then) return false;
  then = std::move(now);
  read = true;
  return true;
}

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
  if (!children_.Changed()) return;
  std::vector<TWebProcess> found;
  FindWebProcesses(getpid(), found);
  Close(found);
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
  // Between two searches, only the web processes' own stat is read, one
  // system call each.
  TChildren children;
  std::vector<TWebProcess> found;
  int period = kAtRestMilliseconds;
  prctl(PR_SET_TIMERSLACK, period * 1000000UL / 20);
  for (pollfd stop = {stop_[0], POLLIN, 0}; poll(&stop, 1, period) == 0;) {
    if (children.Changed()) {
      Close(found);
      found.clear();
      FindWebProcesses(getpid(), found);
    }
    bool near_limit = false;
    for (auto process = found.begin(); process != found.end();) {
      TStat now;
      if (!ReadStat(process->stat, now)) {  // it has ended
        Close({*process});
        process = found.erase(process);
        continue;
      }
      near_limit = near_limit || now.resident > limit / 2;
      if (now.resident > limit) {
        // Told before the signal, so that the engine, which learns of the
        // end on another thread, finds it told.
        const bool before = ended_.exchange(true);
        if (!Kill(process->handle)) ended_ = before;
      }
      ++process;
    }
    const int next = near_limit ? kNearLimitMilliseconds : kAtRestMilliseconds;
    if (next != period) prctl(PR_SET_TIMERSLACK, next * 1000000UL / 20);
    period = next;
  }
  Close(found);
}
