// The memory of the engine's web processes. A page whose script takes memory
// without end would take the machine's memory with it, and the engine's own
// checks run only when the script pauses: its web process is ended once it
// holds more than the limit, and the next visit starts a new one.
//
// Where the kernel bounds the memory of the program's control group (the
// service's MemoryMax=, with no swap to spill into), the kernel ends the
// process that takes it, and nothing of the program wakes to watch. Elsewhere
// a thread of the watch's own reads the web processes' memory, every second,
// ten times a second near the limit; the program's event loop is not woken
// for it. The thread finds the web processes (this process's children, and
// theirs through the sandbox's bwrap) whenever this process's children
// change, also those no page was loaded into yet, and holds each by a handle
// of its own (a pidfd) taken before its parent and name are read again: it
// is ended through that handle, so that the signal can only ever reach that
// process, never another that took its number later.
#pragma once

#include <atomic>
#include <string>
#include <thread>

class TMemoryWatch {
 public:
  TMemoryWatch();
  ~TMemoryWatch();
  TMemoryWatch(const TMemoryWatch&) = delete;
  TMemoryWatch& operator=(const TMemoryWatch&) = delete;

  // Should the system run out of memory, the kernel is to end one of the
  // engine's processes, which the next visit replaces, rather than this one:
  // they are made its likelier choice. Called when a page begins loading
  // (the thread, where there is one, also does it as it finds them).
  void PutEngineProcessesFirst();
  // Whether a web process has been ended for its memory (by the watch or by
  // the kernel's bound) since the last call: asked when the engine tells that
  // its web process ended.
  bool EndedOne();

 private:
  // This process's children, as the engine starts them.
  struct TChildren {
    TChildren();
    ~TChildren();
    // Whether they changed since the last call (true at the first).
    bool Changed();
    int file;  // the list of the first thread's children, open
    std::string then;
    bool read = false;
  };
  // The thread's loop, until stop_ is written to.
  void Watch();

  std::string kernel_events_;  // the group's memory.events, where the kernel bounds it
  unsigned long long kernel_ends_ = 0;  // its count of processes ended, when last asked
  TChildren children_;                  // as the event loop saw them last
  std::atomic<bool> ended_{false};  // the thread has ended one
  int stop_[2] = {-1, -1};          // a pipe: the thread ends once it is written to
  std::thread thread_;
};
