#include "pane/process_tree.h"

#include <filesystem>
#include <fstream>
#include <system_error>

std::vector<TProcess> Descendants(pid_t pid) {
  std::vector<TProcess> found;
  std::vector<pid_t> parents = {pid};
  // Every thread of a parent has children of its own.
  for (std::size_t next = 0; next < parents.size(); ++next) {
    const std::filesystem::path tasks = "/proc/" + std::to_string(parents[next]) + "/task";
    std::error_code error;
    for (std::filesystem::directory_iterator it(tasks, error), end; !error && it != end;
         it.increment(error)) {
      std::ifstream children(it->path() / "children");
      for (pid_t child; children >> child;) {
        std::string name;
        std::getline(std::ifstream("/proc/" + std::to_string(child) + "/comm"), name);
        parents.push_back(child);
        found.push_back({child, name});
      }
    }
  }
  return found;
}
