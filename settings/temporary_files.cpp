#include "settings/temporary_files.h"

#include <string>
#include <system_error>

#include "app/processes.h"

namespace {

namespace fs = std::filesystem;
// Names as the system holds them (wide on Windows), so that no name in the
// folder needs converting.
using Name = fs::path::string_type;

constexpr int kAttempts = 100;

// Reads the decimal number at `at` in `text` as the program writes it (no
// sign, no leading zero, at most `max_digits` digits); -1 when there is none.
long ReadNumber(const Name& text, std::size_t& at, std::size_t max_digits) {
  const std::size_t start = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  const std::size_t digits = at - start;
  if (digits == 0 || digits > max_digits || (digits > 1 && text[start] == '0')) return -1;
  return std::stol(text.substr(start, digits));
}

// The process id in `name` when it is the name of one of the save's
// temporaries for the file `file_name`; else -1.
long TemporaryOwner(const Name& name, const Name& file_name) {
  const Name prefix = file_name + fs::path(".tmp-").native();
  if (name.rfind(prefix, 0) != 0) return -1;
  std::size_t at = prefix.size();
  const long pid = ReadNumber(name, at, 9);
  if (pid <= 0 || at >= name.size() || name[at++] != '-') return -1;
  const long attempt = ReadNumber(name, at, 2);
  return attempt >= 0 && at == name.size() ? pid : -1;
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
