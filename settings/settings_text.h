// The pieces of the settings file: its place, its bytes, its lines and its numbers
// (its text: settings/stored_text_encoding.h).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The working directory and "udat.txt", joined with the platform's separator;
// empty when the working directory cannot be had.
std::filesystem::path SettingsPath();

// The whole file, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// The length of the UTF-8 byte-order mark that starts `bytes`, which many
// editors put at the start of a UTF-8 file; 0 when there is none.
inline std::size_t Utf8BomLength(const std::string& bytes) {
  return bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
}

// Splits file bytes into lines, each with its line feed when it has one.
// A CR before a line feed is dropped, so CR LF and LF read the same; a UTF-8
// byte-order mark at the start of the file is dropped.
std::vector<std::string> SplitLines(const std::string& bytes);

// Every line feed written as CR LF, as the file has always been written.
std::string WithCrLf(const std::string& text);

// The leading decimal integer of a line as atol reads it (blanks, sign,
// digits up to the first non-digit; none gives 0), saturating at the limits.
long LeadingInteger(const std::string& line);
