// What the tests of udat.txt share: its texts, the four boxes the settings
// live in, and a window started in an empty temporary directory. (Shared by
// several test programs: nothing here is in an unnamed namespace, so that a
// program that links two of them has one fixture.)
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include <wx/strconv.h>

#include "settings/settings_file.h"
#include "settings/settings_text.h"
#include "settings/stored_text_encoding.h"
#include "tests/support.h"

namespace fs = std::filesystem;

inline const std::string kDay = "http://example.jp/day.php";
inline const std::string kNight = "http://example.jp/night.php";
// "http://例え.jp/日本語/表示.php" and "～①" as a Japanese Windows system stores them:
// code page 932, with a 0x5C trail byte and two characters plain Shift-JIS lacks.
inline const std::string kJapaneseCp932 =
    "http://\x97\xe1\x82\xa6.jp/\x93\xfa\x96{\x8c\xea/\x95\\\x8e\xa6.php";
inline const std::string kJapanese = "http://例え.jp/日本語/表示.php";
inline const std::string kSymbolsCp932 = "\x81\x60\x87\x40";
inline const std::string kSymbols = "\xef\xbd\x9e\xe2\x91\xa0";  // U+FF5E U+2460

// Text as the system stores it in udat.txt: UTF-8 here, code page 932 on a
// Japanese Windows system.
inline std::string Stored(const std::string& utf8) {
  return EncodeStoredText(wxString::FromUTF8(utf8), StoredTextEncoding());
}
inline wxString U(const std::string& utf8) { return wxString::FromUTF8(utf8); }

// What the user sees: the four controls the settings live in.
struct Boxes {
  wxString minutes;
  bool checked;
  wxString day, night;
  bool operator==(const Boxes& o) const {
    return minutes == o.minutes && checked == o.checked && day == o.day && night == o.night;
  }
};
inline void PrintTo(const Boxes& b, std::ostream* os) {
  *os << "{" << b.minutes.utf8_string() << ", " << b.checked << ", \"" << b.day.utf8_string()
      << "\" (" << b.day.length() << "), \"" << b.night.utf8_string() << "\" (" << b.night.length()
      << ")}";
}

// What reading a file found, as the tests write it.
struct Found {
  std::optional<long> minutes;
  std::optional<bool> checked;
  std::optional<wxString> day, night;
  TStoredForm form = TStoredForm::kCodePage;
  Found(std::optional<long> m = {}, std::optional<bool> c = {}, std::optional<wxString> d = {},
        std::optional<wxString> n = {}, TStoredForm f = TStoredForm::kCodePage)
      : minutes(m), checked(c), day(std::move(d)), night(std::move(n)), form(f) {}
  explicit Found(const TStoredSettings& s)
      : Found(s.minutes, s.night_visits, s.day_address, s.night_address, s.form) {}
  bool operator==(const Found& o) const {
    return minutes == o.minutes && checked == o.checked && day == o.day && night == o.night && form == o.form;
  }
};
inline void PrintTo(const Found& f, std::ostream* os) {
  const auto text = [](const std::optional<wxString>& t) { return t ? "\"" + t->utf8_string() + "\"" : "-"; };
  *os << "{" << (f.minutes ? std::to_string(*f.minutes) : "-") << ", "
      << (f.checked ? std::to_string(*f.checked) : "-") << ", " << text(f.day) << ", " << text(f.night)
      << ", form " << static_cast<int>(f.form) << "}";
}

// UTF-8 text as UTF-16 little-endian bytes, as Notepad saves "Unicode".
inline std::string Utf16(const std::string& utf8) {
  const wxString text = wxString::FromUTF8(utf8);
  const wxMBConvUTF16LE utf16;
  const std::size_t size = utf16.FromWChar(nullptr, 0, text.wc_str(), text.length());
  std::string bytes(size, '\0');
  utf16.FromWChar(bytes.data(), size, text.wc_str(), text.length());
  return bytes;
}

inline Boxes Read(TForm1* form) {
  return {form->Edit2->GetValue(), form->CheckBox1->GetValue(), form->Edit1->GetValue(),
          form->Edit3->GetValue()};
}
inline void Fill(TForm1* form, const Boxes& b) {
  form->Edit2->SetValue(b.minutes);
  form->CheckBox1->SetValue(b.checked);
  form->Edit1->SetValue(b.day);
  form->Edit3->SetValue(b.night);
}

class SettingsFile : public testing::Test {
 protected:
  // The first start, in the empty directory.
  void SetUp() override {
    form = new TForm1(nullptr);
    defaults = Read(form);
  }
  void TearDown() override {
    if (form) DestroyForm(form);
  }

  // Loads `bytes` as udat.txt into boxes holding the layout's own texts.
  Boxes Load(const std::string& bytes) {
    WriteBytes("udat.txt", bytes);
    Fill(form, {"Edit2", false, "Edit1", "Edit3"});
    form->LoadSettings();
    return Read(form);
  }
  Boxes Defaults(bool checked) const { return {defaults.minutes, checked, defaults.day, defaults.night}; }

  // A new window, started as the program starts, in the working directory.
  void Restart() {
    DestroyForm(form);
    form = new TForm1(nullptr);
  }
  // Closes the window as the window manager does; returns whether it went away.
  bool CloseTheWindow() {
    auto destroyed = std::make_shared<bool>(false), asked = std::make_shared<bool>(false);
    form->Bind(wxEVT_DESTROY, [destroyed, f = form](wxWindowDestroyEvent& e) {
      if (e.GetEventObject() == f) *destroyed = true;
      e.Skip();
    });
    form->Bind(wxEVT_CLOSE_WINDOW, [asked](wxCloseEvent& e) {
      *asked = true;
      e.Skip();
    });
    form->Show();
    PumpUntil([&] { return form->IsShownOnScreen(); }, 2000);
    CloseWindowAsTheUserDoes(form);
    // Once asked, the window is gone soon after, unless the close was refused.
    PumpUntil([&] { return *asked; }, 5000);
    PumpUntil([&] { return *destroyed; }, 1000);
    if (*destroyed) form = nullptr;
    return *destroyed;
  }

  TempWorkingDirectory dir;
  TForm1* form = nullptr;
  Boxes defaults;
};

