#include "settings/settings_text.h"

#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>


std::filesystem::path SettingsPath() {
  // The directory's own bytes, whatever their encoding; quietly nothing when the
  // working directory is gone.
  std::error_code error;
  const std::filesystem::path cwd = std::filesystem::current_path(error);
  if (error || cwd.empty()) return {};
  return cwd / "udat.txt";
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  // A stream without exceptions, opened by the path's own characters: a read
  // error (udat.txt being a directory, say) comes back as "nothing", never as
  // an exception out of the window's creation.
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0)
    bytes.append(buffer, static_cast<std::size_t>(file.gcount()));
  if (file.bad()) return std::nullopt;
  return bytes;
}

std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  // A byte-order mark, which many editors put at the start of a UTF-8 file,
  // is no part of the first line (the period).
  std::size_t start = Utf8BomLength(bytes);
  while (start < bytes.size()) {
    const std::size_t lf = bytes.find('\n', start);
    const std::size_t end = lf == std::string::npos ? bytes.size() : lf;
    std::string line = bytes.substr(start, end - start);
    if (lf != std::string::npos) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      line += '\n';
    }
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

long LeadingInteger(const std::string& line) {
  auto it = line.begin();
  while (it != line.end() && std::isspace(static_cast<unsigned char>(*it))) ++it;
  bool negative = false;
  if (it != line.end() && (*it == '+' || *it == '-')) negative = *it++ == '-';
  long value = 0;
  for (; it != line.end() && *it >= '0' && *it <= '9'; ++it) {
    const int digit = *it - '0';
    if (negative) {
      value = value < (LONG_MIN + digit) / 10 ? LONG_MIN : value * 10 - digit;
    } else {
      value = value > (LONG_MAX - digit) / 10 ? LONG_MAX : value * 10 + digit;
    }
  }
  return value;
}
