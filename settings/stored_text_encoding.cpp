#include "settings/stored_text_encoding.h"

#include <wx/strconv.h>

#include "settings/settings_text.h"

namespace {

// Whether `bytes` are UTF-8 by the standard's rules.
bool IsValidUtf8(const char* begin, const char* end) {
  const auto* p = reinterpret_cast<const unsigned char*>(begin);
  const auto* const last = reinterpret_cast<const unsigned char*>(end);
  while (p < last) {
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
    if (last - p < more || *p < low || *p > high) return false;
    for (++p, --more; more > 0; ++p, --more)
      if (*p < 0x80 || *p > 0xBF) return false;
  }
  return true;
}

// Whether `encoding` writes `text` as `bytes`.
bool Writes(const wxMBConv& encoding, const wchar_t* text, const std::string& bytes) {
  const wxCharBuffer written = wxString(text).mb_str(encoding);
  return std::string(written.data(), written.length()) == bytes;
}

bool IsUtf8(const wxMBConv& encoding) { return Writes(encoding, L"\u00E9", "\xC3\xA9"); }
// Code page 932 or plain Shift_JIS, which share their lead and trail bytes.
bool IsShiftJis(const wxMBConv& encoding) { return Writes(encoding, L"\u3042\uFF71", "\x82\xA0\xB1"); }

const wxMBConv& CodePage932() {
  static const wxCSConv cp932("CP932");
  return cp932;
}

// What Windows makes of the single bytes of code page 932 that other
// converters refuse; 0 for the others.
wchar_t WindowsSingleByte932(unsigned char byte) {
  switch (byte) {
    case 0x80: return 0x0080;
    case 0xA0: return 0xF8F0;
    case 0xFD: return 0xF8F1;
    case 0xFE: return 0xF8F2;
    case 0xFF: return 0xF8F3;
    default: return 0;
  }
}

bool IsLeadByte932(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Shift_JIS text, read character by character: the runs between the single
// bytes above go to the converter. False when the converter refuses a run.
bool DecodeShiftJis(const std::string& bytes, const wxMBConv& encoding, wxString& text) {
  std::size_t run = 0;
  const auto flush = [&](std::size_t end) {
    if (end == run) return true;
    const wxString part(bytes.data() + run, encoding, end - run);
    text += part;
    return !part.empty();
  };
  for (std::size_t at = 0; at < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (const wchar_t single = WindowsSingleByte932(byte)) {
      if (!flush(at)) return false;
      text += single;
      run = ++at;
    } else {
      at += IsLeadByte932(byte) && at + 1 < bytes.size() ? 2 : 1;
    }
  }
  return flush(bytes.size());
}

}  // namespace

const wxMBConv& EncodingOfFile(const std::string& bytes) {
  const std::size_t start = Utf8BomLength(bytes);
  if (start > 0 || IsValidUtf8(bytes.data() + start, bytes.data() + bytes.size())) return wxConvUTF8;
  const wxMBConv& system = StoredTextEncoding();
  return IsUtf8(system) ? CodePage932() : system;
}

wxString DecodeStoredText(const std::string& bytes, const wxMBConv& encoding) {
  if (bytes.empty()) return {};
  if (IsShiftJis(encoding)) {
    wxString text;
    if (DecodeShiftJis(bytes, encoding, text)) return text;
  } else {
    const wxString text(bytes.data(), encoding, bytes.size());
    if (!text.empty()) return text;  // empty: refused
  }
  return wxString(bytes.data(), wxConvISO8859_1, bytes.size());  // never fails
}

std::string EncodeStoredText(const wxString& text, const wxMBConv& encoding, bool* whole) {
  const wxCharBuffer all = text.mb_str(encoding);
  if (all.length() > 0 || text.empty()) return std::string(all.data(), all.length());
  // One character at a time: a whole code point, also where the toolkit holds
  // text as UTF-16 (Windows), so that one character gives one '?'.
  const std::string utf8 = text.utf8_string();
  std::string out;
  for (std::size_t at = 0, next; at < utf8.size(); at = next) {
    next = at + 1;
    while (next < utf8.size() && (static_cast<unsigned char>(utf8[next]) & 0xC0) == 0x80) ++next;
    const wxCharBuffer one = wxString::FromUTF8(utf8.data() + at, next - at).mb_str(encoding);
    if (one.length() > 0) {
      out.append(one.data(), one.length());
    } else {
      out += '?';
      if (whole) *whole = false;
    }
  }
  return out;
}
