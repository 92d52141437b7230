// The processes a process started, and theirs (Linux: read from /proc).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct TProcess {
  pid_t pid;
  std::string name;  // the command name, as the system shortens it (15 bytes)
  pid_t parent;
};

// The children of `pid` running now: those started by any of its threads.
std::vector<pid_t> Children(pid_t pid);

// Every descendant of `pid` that is running now, parents before their children.
std::vector<TProcess> Descendants(pid_t pid);
