// The processes a process started, and theirs (Linux: read from /proc).
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

struct TProcess {
  pid_t pid;
  std::string name;  // the command name, as the system shortens it (15 bytes)
  pid_t parent;
};

// Every descendant of `pid` that is running now, parents before their children.
std::vector<TProcess> Descendants(pid_t pid);

// This process's own children, read again and again at little cost: the
// files that list each thread's children stay open and are read again in
// place, so that a reading takes a few system calls and no file is opened
// unless a thread is new.
class TOwnChildren {
 public:
  TOwnChildren();
  ~TOwnChildren();
  TOwnChildren(const TOwnChildren&) = delete;
  TOwnChildren& operator=(const TOwnChildren&) = delete;

  // The ids of the children running now, in ascending order. False when the
  // reading may have missed one (a thread ended while it was read): the
  // children are then better looked for again.
  bool Read(std::vector<pid_t>& children);

 private:
  DIR* tasks_;  // this process's threads
  std::vector<std::pair<pid_t, int>> threads_;  // each thread's id and its open children file
};
