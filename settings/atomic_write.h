#pragma once

#include <filesystem>
#include <string>
#include <system_error>

// Replaces the file at `path` with `content` so that the file is always either
// the old one, whole, or the new one, whole: the content is written beside it,
// flushed to disk and renamed over it. On failure the old file stays as it was
// and nothing is left behind. Returns why the new content is not in place, or
// nothing when it is.
std::error_code ReplaceFileAtomically(const std::filesystem::path& path, const std::string& content);
