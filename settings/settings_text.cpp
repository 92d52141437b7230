#include "settings/settings_text.h"

#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>

#include <wx/strconv.h>

#include "settings/stored_text_encoding.h"

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

namespace {
const std::string kUtf8Bom = "\xEF\xBB\xBF";

bool HasUtf8Bom(const std::string& bytes) { return bytes.rfind(kUtf8Bom, 0) == 0; }
}  // namespace

std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  // A byte-order mark, which many editors put at the start of a UTF-8 file,
  // is no part of the first line (the period).
  std::size_t start = HasUtf8Bom(bytes) ? kUtf8Bom.size() : 0;
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

namespace {

// Whether `bytes` are UTF-8 by the standard's rules.
bool IsValidUtf8(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    const unsigned char lead = *p++;
    if (lead < 0x80) continue;
    // The lead byte gives the length and the range of the first continuation
    // byte, which rules out overlong forms, surrogates and values past U+10FFFF.
    int more;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (end - p < more || *p < low || *p > high) return false;
    for (++p, --more; more > 0; ++p, --more)
      if (*p < 0x80 || *p > 0xBF) return false;
  }
  return true;
}

// Whether `encoding` is UTF-8, known by what it makes of one character.
bool IsUtf8(const wxMBConv& encoding) {
  const wxCharBuffer e_acute = wxString(wxUniChar(0xE9)).mb_str(encoding);
  return e_acute.length() == 2 && std::string(e_acute.data(), 2) == "\xC3\xA9";
}
}  // namespace

const wxMBConv& EncodingOfFile(const std::string& bytes) {
  return HasUtf8Bom(bytes) ? static_cast<const wxMBConv&>(wxConvUTF8) : StoredTextEncoding();
}

wxString DecodeStoredText(const std::string& bytes, const wxMBConv& encoding) {
  if (bytes.empty()) return {};
  // The toolkit's UTF-8 decoding lets through forms the standard forbids: a
  // file holding them was written in another encoding.
  if (!IsUtf8(encoding) || IsValidUtf8(bytes)) {
    wxString text(bytes.data(), encoding, bytes.size());
    if (!text.empty()) return text;
  }
  static const wxCSConv cp932("CP932");
  wxString text(bytes.data(), cp932, bytes.size());
  if (!text.empty()) return text;
  return wxString(bytes.data(), wxConvISO8859_1, bytes.size());  // never fails
}

std::string EncodeStoredText(const wxString& text, const wxMBConv& encoding) {
  const wxCharBuffer whole = text.mb_str(encoding);
  if (whole.length() > 0 || text.empty()) return std::string(whole.data(), whole.length());
  // One character at a time: a whole code point, also where the toolkit holds
  // text as UTF-16 (Windows), so that one character gives one '?'.
  const std::string utf8 = text.utf8_string();
  std::string out;
  for (std::size_t at = 0, next; at < utf8.size(); at = next) {
    next = at + 1;
    while (next < utf8.size() && (static_cast<unsigned char>(utf8[next]) & 0xC0) == 0x80) ++next;
    const wxCharBuffer one = wxString::FromUTF8(utf8.data() + at, next - at).mb_str(encoding);
    out += one.length() > 0 ? std::string(one.data(), one.length()) : std::string("?");
  }
  return out;
}
