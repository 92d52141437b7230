#include "settings/temporary_files.h"

#include <string>
#include <system_error>

#include "system/processes.h"

namespace {

namespace fs = std::filesystem;
// Names as the system holds them (wide on Windows), so that no name in the
// folder needs converting.
using Name = fs::path::string_type;

constexpr int kAttempts = 100;

// The process id in `name` when it is the name of one of the save's
// temporaries for the file `file_name`; else -1.
long TemporaryOwner(const Name& name, const Name& file_name) {
  Name attempt;
  const long pid = ProcessIdInName(name, file_name + fs::path(".tmp-").native(), attempt);
  std::size_t at = 0;
  return pid > 0 && NumberInName(attempt, at, 2) >= 0 && at == attempt.size() ? pid : -1;
}

}  // namespace

fs::path MakeUnderTemporaryName(const fs::path& file, const std::function<TMade(const fs::path&)>& make) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    fs::path name = file;
    name += ".tmp-" + std::to_string(ThisProcessId()) + "-" + std::to_string(attempt);
    switch (make(name)) {
      case TMade::kMade:
        return name;
      case TMade::kNameTaken:
        continue;
      case TMade::kFailed:
        return {};
    }
  }
  return {};
}

void RemoveStaleTemporaries(const fs::path& link_or_path) {
  std::error_code error;
  // A save goes to the file a link points to; its temporaries lie beside that.
  fs::path path = link_or_path;
  if (fs::is_symlink(link_or_path, error)) path = fs::canonical(link_or_path, error);
  if (error || !path.has_filename()) return;
  const Name file_name = path.filename().native();
  RemoveLeftoversOfEndedRuns(
      path.parent_path().empty() ? fs::path(".") : path.parent_path(),
      [&](const Name& name) { return TemporaryOwner(name, file_name); },
      // Only a plain file: never a link, a folder or anything else of that name.
      // (This process saves one file at a time, and not now.)
      [](const fs::directory_entry& entry) {
        std::error_code status_error;
        return entry.is_regular_file(status_error) && !entry.is_symlink(status_error) &&
               !status_error;
      });
}
