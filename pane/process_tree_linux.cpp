#include "pane/process_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

std::vector<pid_t> Children(pid_t pid) {
  std::vector<pid_t> children;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (!dir) return children;
  // Each thread lists the children it started; the file is read whole.
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string file = std::string(entry->d_name) + "/children";
    const int fd = openat(dirfd(dir), file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    std::string all;
    char text[4096];
    for (ssize_t n; (n = read(fd, text, sizeof text)) > 0;) all.append(text, static_cast<std::size_t>(n));
    close(fd);
    for (const char* p = all.c_str();;) {
      char* end;
      const long child = std::strtol(p, &end, 10);
      if (end == p) break;
      children.push_back(static_cast<pid_t>(child));
      p = end;
    }
  }
  closedir(dir);
  return children;
}

std::vector<TProcess> Descendants(pid_t pid) {
  std::vector<TProcess> found;
  std::vector<pid_t> parents = {pid};
  for (std::size_t next = 0; next < parents.size(); ++next)
    for (const pid_t child : Children(parents[next])) {
      std::string name;
      std::getline(std::ifstream("/proc/" + std::to_string(child) + "/comm"), name);
      parents.push_back(child);
      found.push_back({child, name, parents[next]});
    }
  return found;
}
