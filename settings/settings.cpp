// udat.txt: the four settings, loaded when the window is created and saved
// when it closes.
#include <cstdio>
#include <string>

#include "app/form1.h"
#include "app/str_to_int.h"
#include "settings/atomic_write.h"
#include "settings/settings_text.h"
#include "settings/stored_text_encoding.h"
#include "settings/temporary_files.h"
#include "visit/clamp_interval.h"

namespace {
const wxString kDefaultAddress = "http://example.com/index.html";
const wxString kDefaultMinutes = "4";

void SayWhyNotSaved(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "hpvisit: the settings were not saved to %s: %s\n", file.c_str(), reason.c_str());
  std::fflush(stderr);
}
}  // namespace

void TForm1::FormCreate(wxObject*) { LoadSettings(); }

void TForm1::FormClose(wxObject*, TCloseAction&) { SaveSettings(); }

void TForm1::ApplyDefaults() {
  Edit1->SetValue(kDefaultAddress);
  Edit3->SetValue(kDefaultAddress);
  Edit2->SetValue(kDefaultMinutes);
}

void TForm1::LoadSettings() {
  const std::filesystem::path path = SettingsPath();
  if (!path.empty()) RemoveStaleTemporaries(path);
  const std::optional<std::string> bytes = path.empty() ? std::nullopt : ReadWholeFile(path);
  if (!bytes) return ApplyDefaults();
  const std::vector<std::string> lines = SplitLines(*bytes);
  const wxMBConv& encoding = EncodingOfFile(*bytes);

  if (lines.size() < 1) return ApplyDefaults();
  Edit2->SetValue(wxString::Format("%ld", ClampInterval(LeadingInteger(lines[0]))));

  if (lines.size() < 2) return ApplyDefaults();
  CheckBox1->SetValue(LeadingInteger(lines[1]) != 0);

  if (lines.size() < 3) return ApplyDefaults();
  Edit1->SetValue(DecodeStoredText(lines[2], encoding));

  if (lines.size() < 4) {
    // An empty night address is saved as nothing after the day address's line feed.
    if (lines[2].back() == '\n') return Edit3->SetValue(wxString());
    return ApplyDefaults();
  }
  Edit3->SetValue(DecodeStoredText(lines[3], encoding));
}

void TForm1::SaveSettings() {
  // An invalid period raises here, before the file is touched.
  const long minutes = ClampInterval(StrToInt(Edit2->GetValue()));

  const std::filesystem::path path = SettingsPath();
  if (path.empty()) return SayWhyNotSaved("udat.txt", "the working directory is gone");
  const wxMBConv& encoding = StoredTextEncoding();

  std::string content = std::to_string(minutes) + "\n";
  content += CheckBox1->GetValue() ? "1\n" : "0\n";
  const std::string day = EncodeStoredText(Edit1->GetValue(), encoding);
  content += day;
  if (day.empty() || day.back() != '\n') content += '\n';
  content += EncodeStoredText(Edit3->GetValue(), encoding);

  RemoveStaleTemporaries(path);
  // The window stays silent and the old file stays whole; standard error says why.
  if (const std::error_code error = ReplaceFileAtomically(path, WithCrLf(content))) {
    const std::u8string name = path.u8string();
    SayWhyNotSaved(std::string(name.begin(), name.end()), error.message());
  }
}
