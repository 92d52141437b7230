#include "pane/process_tree.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

std::vector<TProcess> Descendants(pid_t pid) {
  std::vector<TProcess> found;
  std::vector<pid_t> parents = {pid};
  // Every thread of a parent has children of its own.
  for (std::size_t next = 0; next < parents.size(); ++next) {
    const pid_t parent = parents[next];
    const std::filesystem::path tasks = "/proc/" + std::to_string(parent) + "/task";
    std::error_code error;
    for (std::filesystem::directory_iterator it(tasks, error), end; !error && it != end;
         it.increment(error)) {
      std::ifstream children(it->path() / "children");
      for (pid_t child; children >> child;) {
        std::string name;
        std::getline(std::ifstream("/proc/" + std::to_string(child) + "/comm"), name);
        parents.push_back(child);
        found.push_back({child, name, parent});
      }
    }
  }
  return found;
}

TOwnChildren::TOwnChildren() : tasks_(opendir("/proc/self/task")) {}

TOwnChildren::~TOwnChildren() {
  for (const auto& thread : threads_) close(thread.second);
  if (tasks_) closedir(tasks_);
}

bool TOwnChildren::Read(std::vector<pid_t>& children) {
  children.clear();
  if (!tasks_) return false;
  // The threads now: those that ended are let go, new ones opened.
  std::vector<std::pair<pid_t, int>> now;
  rewinddir(tasks_);
  while (const dirent* entry = readdir(tasks_)) {
    if (entry->d_name[0] == '.') continue;
    const pid_t thread = static_cast<pid_t>(std::atoi(entry->d_name));
    const auto known = std::find_if(threads_.begin(), threads_.end(),
                                    [thread](const auto& t) { return t.first == thread; });
    if (known != threads_.end()) {
      now.push_back(*known);
      known->second = -1;  // moved
      continue;
    }
    const std::string file = std::string(entry->d_name) + "/children";
    const int fd = openat(dirfd(tasks_), file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) now.push_back({thread, fd});
  }
  for (const auto& thread : threads_)
    if (thread.second >= 0) close(thread.second);
  threads_ = std::move(now);

  bool whole = true;
  for (const auto& thread : threads_) {
    char text[4096];
    std::string all;
    ssize_t n;
    for (off_t at = 0; (n = pread(thread.second, text, sizeof text, at)) > 0; at += n)
      all.append(text, static_cast<std::size_t>(n));
    if (n < 0) whole = false;  // the thread has ended: its children went to another one
    for (const char* p = all.c_str(); *p;) {
      char* end;
      const long child = std::strtol(p, &end, 10);
      if (end == p) break;
      children.push_back(static_cast<pid_t>(child));
      p = end;
    }
  }
  std::sort(children.begin(), children.end());
  return whole;
}
