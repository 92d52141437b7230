// udat.txt and the window: the four settings loaded into the controls when the
// window is created, and saved from them when it closes.
#include <cstdio>
#include <string>

#include "app/form1.h"
#include "app/str_to_int.h"
#include "settings/settings_file.h"
#include "settings/settings_text.h"
#include "settings/temporary_files.h"

namespace {
const wxString kDefaultAddress = "http://example.com/index.html";
const wxString kDefaultMinutes = "4";

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

// The window stays silent; standard error (the journal, under the service) says why.
void Say(const std::string& what) {
  std::fprintf(stderr, "hpvisit: %s\n", what.c_str());
  std::fflush(stderr);
}

// The settings in the window's controls, with the period `minutes`.
TSettings InControls(const TForm1& form, long minutes) {
  TSettings settings;
  settings.minutes = minutes;
  settings.night_visits = form.CheckBox1->GetValue();
  settings.day_address = form.Edit1->GetValue();
  settings.night_address = form.Edit3->GetValue();
  return settings;
}

void Save(const TSettings& settings) {
  const std::filesystem::path path = SettingsPath();
  if (path.empty()) return Say("the settings were not saved to udat.txt: the working directory is gone");
  // The old file stays whole.
  if (const std::error_code error = WriteSettingsFile(path, settings))
    Say("the settings were not saved to " + Utf8(path) + ": " + error.message());
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
  const std::optional<TStoredSettings> stored = path.empty() ? std::nullopt : ReadSettingsFile(path);
  if (!stored) return ApplyDefaults();
  // A file that ends early gives the defaults, but for a night box already read.
  if (stored->night_visits) CheckBox1->SetValue(*stored->night_visits);
  if (!stored->Complete()) return ApplyDefaults();
  Edit2->SetValue(wxString::Format("%ld", *stored->minutes));
  Edit1->SetValue(*stored->day_address);
  Edit3->SetValue(*stored->night_address);
}

void TForm1::SaveSettings() {
  // An invalid period raises here, before the file is touched.
  Save(InControls(*this, MinutesInBox(Edit2->GetValue(),
                                      L"\n\n設定を保存できないため、ウィンドウは閉じていません。")));
}

void TForm1::SaveSettingsWithTheStoredPeriod() {
  const std::filesystem::path path = SettingsPath();
  const std::optional<TStoredSettings> stored = path.empty() ? std::nullopt : ReadSettingsFile(path);
  const TSettings settings =
      InControls(*this, stored && stored->minutes ? *stored->minutes : StrToInt(kDefaultMinutes));
  Say("the minutes '" + Edit2->GetValue().utf8_string() + "' are not a number: the settings are saved with " +
      std::to_string(settings.minutes) + ", the period last saved");
  Save(settings);
}
