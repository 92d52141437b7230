#pragma once

#include <filesystem>
#include <string>

// Replaces the file at `path` with `content` so that the file is always either
// the old one, whole, or the new one, whole: the content is written beside it,
// flushed to disk and renamed over it. On failure the old file stays as it was
// and nothing is left behind. Returns whether the new content is in place.
bool ReplaceFileAtomically(const std::filesystem::path& path, const std::string& content);

// Removes what saves of the file at `path` that never finished (the process
// was killed) left beside it: only regular files named as this program names
// its temporaries for that file, and not those of another running copy.
void RemoveStaleTemporaries(const std::filesystem::path& path);
