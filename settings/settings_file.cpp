#include "settings/settings_file.h"

#include <functional>
#include <vector>

#include <wx/strconv.h>

#include "settings/atomic_write.h"
#include "settings/settings_text.h"
#include "settings/stored_text_encoding.h"
#include "settings/temporary_files.h"
#include "visit/clamp_interval.h"

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// UTF-16 text after its byte-order mark, as UTF-8; nothing without the mark.
std::optional<std::string> Utf16AsUtf8(const std::string& bytes) {
  const bool little = bytes.rfind("\xFF\xFE", 0) == 0, big = bytes.rfind("\xFE\xFF", 0) == 0;
  if (!little && !big) return std::nullopt;
  const std::size_t length =
      (bytes.size() - 2) & ~std::size_t(1);  // a last odd byte is no character
  if (length == 0) return std::string();
  const wxString text = little ? wxString(bytes.data() + 2, wxMBConvUTF16LE(), length)
                               : wxString(bytes.data() + 2, wxMBConvUTF16BE(), length);
  return text.utf8_string();
}

bool IsAscii(const std::string& bytes) {
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// The file's text for `settings`, each address put into bytes by `encode`.
std::string Content(const TSettings& settings,
                    const std::function<std::string(const wxString&)>& encode) {
  std::string content = std::to_string(ClampInterval(settings.minutes)) + "\n";
  content += settings.night_visits ? "1\n" : "0\n";
  const std::string day = encode(settings.day_address);
  content += day;
  if (day.empty() || day.back() != '\n') content += '\n';
  content += encode(settings.night_address);
  return WithCrLf(content);
}

}  // namespace

TStoredSettings ParseSettings(const std::string& file_bytes) {
  TStoredSettings found;
  std::string bytes = file_bytes;
  const wxMBConv* encoding = &wxConvUTF8;
  if (std::optional<std::string> utf8 = Utf16AsUtf8(file_bytes)) {
    found.form = TStoredForm::kUtf16;
    bytes = std::move(*utf8);
  } else {
    encoding = &EncodingOfFile(bytes);
    if (Utf8BomLength(bytes) > 0) {
      found.form = TStoredForm::kUtf8WithBom;
    } else if (encoding == &wxConvUTF8 && !IsAscii(bytes)) {
      found.form = TStoredForm::kUtf8;
    }
  }
  const std::vector<std::string> lines = SplitLines(bytes);
  if (lines.size() >= 1) found.minutes = ClampInterval(LeadingInteger(lines[0]));
  if (lines.size() >= 2) found.night_visits = LeadingInteger(lines[1]) != 0;
  if (lines.size() >= 3) found.day_address = DecodeStoredText(lines[2], *encoding);
  if (lines.size() >= 4) {
    found.night_address = DecodeStoredText(lines[3], *encoding);
  } else if (lines.size() == 3 && lines[2].back() == '\n') {
    found.night_address = wxString();
  }
  return found;
}

std::string SettingsBytes(const TSettings& settings, TStoredForm stored_form) {
  bool whole = true;
  const std::string in_code_page = Content(settings, [&](const wxString& text) {
    return EncodeStoredText(text, StoredTextEncoding(), &whole);
  });
  if (whole) return in_code_page;
  const std::string utf8 =
      Content(settings, [](const wxString& text) { return text.utf8_string(); });
  return stored_form == TStoredForm::kUtf8 ? utf8 : kUtf8Bom + utf8;
}

std::optional<TStoredSettings> ReadSettingsFile(const std::filesystem::path& path) {
  const std::optional<std::string> bytes = ReadWholeFile(path);
  if (!bytes) return std::nullopt;
  return ParseSettings(*bytes);
}

std::error_code WriteSettingsFile(const std::filesystem::path& path, const TSettings& settings) {
  const std::optional<TStoredSettings> stored = ReadSettingsFile(path);
  RemoveStaleTemporaries(path);
  return ReplaceFileAtomically(
      path, SettingsBytes(settings, stored ? stored->form : TStoredForm::kCodePage));
}
