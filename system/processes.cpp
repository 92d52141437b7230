#include "system/processes.h"

#include <system_error>

void RemoveLeftoversOfEndedRuns(
    const std::filesystem::path& folder,
    const std::function<long(const std::filesystem::path::string_type&)>& owner,
    const std::function<bool(const std::filesystem::directory_entry&)>& is_ours) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const long id = owner(it->path().filename().native());
    if (id <= 0 || !is_ours(*it)) continue;
    // A running copy's own is left to it.
    if (id != ThisProcessId() && ProcessIsRunning(id)) continue;
    std::error_code ignored;
    fs::remove_all(it->path(), ignored);
  }
}
