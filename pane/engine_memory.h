// The memory of the engine's web processes. A page whose script takes memory
// without end would take the machine's memory with it, and the engine's own
// checks run only when the script pauses: its web process is ended once it
// holds more than the limit, and the next visit starts a new one. Each
// process is held by a handle of its own (a pidfd), so that the signal can
// only ever reach that process, never another that took its number later.
//
// The memory is read by a thread of the watch's own, which wakes for nothing
// else: the program's event loop, and all that runs with each of its turns,
// is woken only when a process holds more than the limit, to end it there.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "pane/process_tree.h"

class TMemoryWatch {
 public:
  // `ended` is called when a web process has been ended for its memory.
  explicit TMemoryWatch(std::function<void()> ended);
  ~TMemoryWatch();
  TMemoryWatch(const TMemoryWatch&) = delete;
  TMemoryWatch& operator=(const TMemoryWatch&) = delete;

  // Finds the engine's processes again (a page began loading: one may be new).
  // Should the system run out of memory, the kernel is to end one of them,
  // which the next visit replaces, rather than this one: they are made its
  // likelier choice, each once. The processes are looked for only when they
  // may have changed: when this process's own children did, or one of those
  // found has ended, or no web process was found yet.
  void FindProcesses();
  // The web process has ended.
  void Forget();

 private:
  struct Watched {
    pid_t pid;
    int handle;  // the process's pidfd
    int statm;   // its /proc/PID/statm, open: it reads nothing once the process has ended
    bool killed = false;
  };
  // The thread's loop: reads the web processes' memory every second, ten
  // times a second near the limit, and calls for EndThoseOverTheLimit.
  void Watch();
  // On the event loop: ends the web processes that hold more than the limit.
  void EndThoseOverTheLimit();

  std::function<void()> ended_;
  // Shared with the thread.
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::vector<Watched> web_processes_;
  unsigned over_limit_source_ = 0;  // EndThoseOverTheLimit, due on the event loop
  // The event loop's own.
  TOwnChildren own_children_;
  std::vector<pid_t> children_;  // this process's children when the processes were last found
  std::vector<int> found_;       // a handle on each of the processes then found
  bool settled_ = false;         // they held a web process, and none was still being started
  std::vector<pid_t> adjusted_;  // processes whose kill score was raised
  std::thread thread_;
};
