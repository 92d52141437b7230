// settings/ holds udat.txt: the file as a value (here), its text, its atomic
// replacement, and LoadSettings / SaveSettings / ApplyDefaults, which move the
// value to and from the window's controls (settings.cpp, the window's own
// handlers, which use app/form1.h). The rest may use system/ and visit/'s clamp.
//
// udat.txt as a value: the four settings read from the file's bytes, and the
// bytes written for them, by the file's rules (its lines, the leading integer,
// the clamp, CR LF, its encodings). No window is needed for any of it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include <wx/string.h>

// The four settings, in the order of the file's lines.
struct TSettings {
  long minutes = 4;           // the period; written clamped to 1..60
  bool night_visits = false;  // visits from 0:00 to 6:59 go to the night address
  wxString day_address;
  wxString night_address;
};

// How a file's text was stored.
enum class TStoredForm {
  kCodePage,     // the system's code page (code page 932 where the system's is UTF-8)
  kUtf8,         // valid UTF-8 throughout
  kUtf8WithBom,  // UTF-8 after its byte-order mark
  kUtf16,        // UTF-16 after its byte-order mark (Notepad's "Unicode")
};

// What reading a settings file found: each setting its line held, nothing
// for a line the file ends before.
struct TStoredSettings {
  std::optional<long> minutes;  // the line's leading integer, clamped
  std::optional<bool> night_visits;
  // With its line feed where the line has one. A file that ends right after
  // the day address's line feed holds an empty night address: that is how an
  // empty one is written.
  std::optional<wxString> day_address;
  std::optional<wxString> night_address;
  TStoredForm form = TStoredForm::kCodePage;

  // Whether all four settings were there.
  bool Complete() const { return minutes && night_visits && day_address && night_address; }
};

// The settings in a file's bytes.
TStoredSettings ParseSettings(const std::string& bytes);

// The file's bytes for `settings`: the period clamped, each line but the last
// ended by CR LF (the day address's own line feed counts as its end). Text is
// in the system's code page; where that cannot hold every character, in UTF-8,
// so that the text reads back whole: with a byte-order mark, but for a file
// that was plain UTF-8 (`stored_form`), which stays as it was.
std::string SettingsBytes(const TSettings& settings, TStoredForm stored_form);

// The settings in the file at `path`; nothing when it cannot be read.
std::optional<TStoredSettings> ReadSettingsFile(const std::filesystem::path& path);

// Replaces the file at `path` with the bytes for `settings`, in one step (the
// old file stays whole on failure); why it failed, or nothing.
std::error_code WriteSettingsFile(const std::filesystem::path& path, const TSettings& settings);
