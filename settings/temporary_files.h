// The save's temporary files: each is named for the file it will replace and
// the process that made it, "<file>.tmp-<pid>-<attempt>", so that what a save
// that was killed left can be found again and removed.
#pragma once

#include <filesystem>
#include <functional>

// What became of one try to make a file under a name.
enum class TMade { kMade, kNameTaken, kFailed };

// Calls `make` with this process's temporary names for `file`, one after the
// other, until it has made one that was not taken. Returns that name, or an
// empty one when `make` failed or every name was taken.
std::filesystem::path MakeUnderTemporaryName(
    const std::filesystem::path& file, const std::function<TMade(const std::filesystem::path&)>& make);

// Removes what saves of the file at `path` that never finished (the process
// was killed) left beside it: only regular files named as this program names
// its temporaries for that file, and not those of another running copy.
void RemoveStaleTemporaries(const std::filesystem::path& path);
