// The memory of the engine's web processes. A page whose script takes memory
// without end would take the machine's memory with it, and the engine's own
// checks wait for the script to pause: its web process is ended once it holds
// more than the limit, and the next visit starts a new one.
#pragma once

#include <sys/types.h>

#include <vector>

class TMemoryWatch {
 public:
  TMemoryWatch();
  ~TMemoryWatch();
  TMemoryWatch(const TMemoryWatch&) = delete;
  TMemoryWatch& operator=(const TMemoryWatch&) = delete;

  // Finds the engine's processes again (a page began loading: one may be new).
  // Should the system run out of memory, the kernel is to end one of them,
  // which the next visit replaces, rather than this one: they are made its
  // likelier choice.
  void FindProcesses();
  // The web process has ended.
  void Forget() { web_processes_.clear(); }
  // Whether a web process was ended for its memory since the last call.
  bool TakeEnded();

 private:
  void CheckIn(unsigned milliseconds);
  void Check();

  std::vector<pid_t> web_processes_;
  bool ended_ = false;
  unsigned source_ = 0;
};
