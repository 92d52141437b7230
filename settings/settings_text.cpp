#include "settings/settings_text.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <langinfo.h>

#include <wx/strconv.h>

std::string SettingsPath() {
  // The directory's own bytes, whatever their encoding; quietly nothing when the
  // working directory is gone.
  std::error_code error;
  const std::filesystem::path cwd = std::filesystem::current_path(error);
  if (error || cwd.empty()) return {};
  return (cwd / "udat.txt").string();
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  // Plain stdio: a read error (udat.txt being a directory, say) must come back
  // as "nothing", never as an exception out of the window's creation.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, got);
  if (std::ferror(file.get())) return std::nullopt;
  return bytes;
}

std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
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

const wxMBConv& StoredTextEncoding() {
  static const wxMBConv* encoding = [] () -> const wxMBConv* {
    const std::string codeset = nl_langinfo(CODESET);
    if (codeset == "UTF-8" || codeset == "utf8" || codeset == "ANSI_X3.4-1968" ||
        codeset == "ASCII")
      return &wxConvUTF8;
    auto* locale_encoding = new wxCSConv(codeset);
    if (!locale_encoding->IsOk()) {
      delete locale_encoding;
      return &wxConvUTF8;
    }
    return locale_encoding;
  }();
  return *encoding;
}

wxString DecodeStoredText(const std::string& bytes, const wxMBConv& encoding) {
  if (bytes.empty()) return {};
  wxString text(bytes.data(), encoding, bytes.size());
  if (!text.empty()) return text;
  static const wxCSConv cp932("CP932");
  text = wxString(bytes.data(), cp932, bytes.size());
  if (!text.empty()) return text;
  return wxString(bytes.data(), wxConvISO8859_1, bytes.size());  // never fails
}

std::string EncodeStoredText(const wxString& text, const wxMBConv& encoding) {
  const wxCharBuffer whole = text.mb_str(encoding);
  if (whole.length() > 0 || text.empty()) return std::string(whole.data(), whole.length());
  std::string out;
  for (wxUniChar c : text) {
    const wxCharBuffer one = wxString(c).mb_str(encoding);
    out += one.length() > 0 ? std::string(one.data(), one.length()) : std::string("?");
  }
  return out;
}
