// udat.txt: what the window loads at start, what it writes back at close, and
// what survives between runs, with real files in a temporary directory: the
// tests that run on every platform (compiled for Windows too), whatever the
// encoding of the stored text.
#include <climits>

#include "settings/settings_text.h"
#include "tests/settings_fixture.h"

namespace {

TEST_F(SettingsFile, FirstStartInAnEmptyDirectoryShowsTheDefaults) {
  EXPECT_TRUE(defaults.day.StartsWith("http://")) << defaults.day;
  EXPECT_EQ(defaults.night, defaults.day);
  EXPECT_EQ(defaults.minutes, "4");
  EXPECT_FALSE(defaults.checked);
  EXPECT_TRUE(dir.List().empty());
  // So does a file that ends before its fourth line, but for a flag it holds.
  EXPECT_EQ(Load("90\r\n"), Defaults(false));
  EXPECT_EQ(Load("90\r\n1\r\n" + kDay), Defaults(true));
}

TEST(SettingsFileRules, WritingGivesCrLfLinesAndTheClampedPeriod) {
  const struct {
    TSettings settings;
    std::string bytes;
  } rows[] = {
      {{0, true, "http://a/", "http://b/"}, "1\r\n1\r\nhttp://a/\r\nhttp://b/"},
      {{600, false, "http://a/\n", ""}, "60\r\n0\r\nhttp://a/\r\n"},
      {{15, true, "", "x"}, "15\r\n1\r\n\r\nx"},
      {{-5, false, U(kJapanese), U(kSymbols + "\n")}, "1\r\n0\r\n" + Stored(kJapanese) + "\r\n" + Stored(kSymbols) + "\r\n"},
  };
  for (const auto& row : rows) EXPECT_EQ(SettingsBytes(row.settings, TStoredForm::kCodePage), row.bytes);
}

// A file read and written again keeps every character of its settings: in
// the system's code page where that holds them all, else in UTF-8 (a file
// that was UTF-8 stays as it was, byte for byte).
TEST(SettingsFileRules, EveryCharacterOfASettingSurvivesASave) {
  const std::string beyond = "http://例.jp/𠮷/über/😀.php";  // code page 932 holds none of 𠮷, ü, 😀
  const struct {
    const char* name;
    std::string before, after;
  } rows[] = {
      {"UTF-8 that the code page cannot hold", "5\r\n1\r\n" + beyond + "\r\n" + beyond, "5\r\n1\r\n" + beyond + "\r\n" + beyond},
      {"code page 932", "5\r\n1\r\n" + kJapaneseCp932 + "\r\n" + kSymbolsCp932, "5\r\n1\r\n" + Stored(kJapanese) + "\r\n" + Stored(kSymbols)},
      {"UTF-16", Utf16("\xEF\xBB\xBF" "5\r\n1\r\n" + kJapanese + "\r\nn"), "5\r\n1\r\n" + Stored(kJapanese) + "\r\nn"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const TStoredSettings found = ParseSettings(row.before);
    ASSERT_TRUE(found.Complete());
    const TSettings settings{*found.minutes, *found.night_visits, *found.day_address, *found.night_address};
    EXPECT_EQ(SettingsBytes(settings, found.form), row.after);
  }
}

TEST(SettingsText, LeadingIntegerReadsAsAtolAndSaturates) {
  const struct { const char* line; long value; } rows[] = {
      {"", 0}, {"x1", 0}, {"- 1", 0}, {"+-1", 0}, {"\t +42x", 42}, {"-0", 0},
      {"9223372036854775807", LONG_MAX}, {"9223372036854775808", LONG_MAX},
      {"-9223372036854775808", LONG_MIN}, {"-99999999999999999999", LONG_MIN},
  };
  for (const auto& row : rows) EXPECT_EQ(LeadingInteger(row.line), row.value) << row.line;
}

TEST_F(SettingsFile, WhatIsSavedComesBackAtTheNextStart) {
  const std::string long_address = "http://example.jp/?q=" + std::string(4979, 'x');
  std::string long_japanese = "http://例.jp/?q=";
  for (int i = 0; i < 5000 - 15; ++i) long_japanese += "語";
  const struct {
    const char* name;
    Boxes saved, loaded;
  } rows[] = {
      {"ASCII", {"15", true, U(kDay), U(kNight)}, {"15", true, U(kDay + "\n"), U(kNight)}},
      {"line feeds already there", {"1", false, U(kDay + "\n"), U(kNight + "\n")}, {"1", false, U(kDay + "\n"), U(kNight + "\n")}},
      {"Japanese", {"60", true, U(kJapanese), U(kSymbols)}, {"60", true, U(kJapanese + "\n"), U(kSymbols)}},
      {"5,000 characters", {"7", false, U(long_address), U(long_japanese)}, {"7", false, U(long_address + "\n"), U(long_japanese)}},
      {"empty night", {"33", true, U(kDay), ""}, {"33", true, U(kDay + "\n"), ""}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Fill(form, row.saved);
    form->SaveSettings();
    EXPECT_EQ(Read(form), row.saved);  // the minutes box keeps what was typed
    Restart();
    EXPECT_EQ(Read(form), row.loaded);
  }
}

TEST_F(SettingsFile, ClosingTheWindowWritesBackWhatItLoaded) {
  const struct {
    const char* name;
    std::string before, after;
  } rows[] = {
      {"written by the program", "15\r\n1\r\n" + kDay + "\r\n" + kNight, "15\r\n1\r\n" + kDay + "\r\n" + kNight},
      {"empty night", "15\r\n0\r\n" + kDay + "\r\n", "15\r\n0\r\n" + kDay + "\r\n"},
      {"LF, clamped, night with line feed", "90\n0\n" + kDay + "\n" + kNight + "\n", "60\r\n0\r\n" + kDay + "\r\n" + kNight + "\r\n"},
      {"code page 932", "5\r\n1\r\n" + kJapaneseCp932 + "\r\n" + kSymbolsCp932, "5\r\n1\r\n" + Stored(kJapanese) + "\r\n" + Stored(kSymbols)},
      {"code page 932, one line of which alone would pass for UTF-8", "4\r\n0\r\n\xC3\xA9\r\n\x82\xA0\r\n", "4\r\n0\r\n" + Stored("ﾃｩ") + "\r\n" + Stored("あ") + "\r\n"},
      {"UTF-8 that code page 932 cannot hold", "5\r\n1\r\nhttp://例.jp/𠮷/über\r\nhttp://例.jp/😀", "5\r\n1\r\nhttp://例.jp/𠮷/über\r\nhttp://例.jp/😀"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WriteBytes("udat.txt", row.before);
    Restart();
    ASSERT_TRUE(CloseTheWindow());
    EXPECT_EQ(ReadBytes("udat.txt"), row.after);
    form = new TForm1(nullptr);  // for the next row, and TearDown
  }
}

TEST_F(SettingsFile, ClosingWithInvalidMinutesKeepsWindowAndFile) {
  const std::string stored = "20\r\n1\r\n" + kDay + "\r\n" + kNight;
  WriteBytes("udat.txt", stored);
  Restart();
  ErrorCapture errors;
  const Boxes typed{"abc", false, U(kJapanese), "http://example.jp/typed"};
  Fill(form, typed);
  EXPECT_FALSE(CloseTheWindow());
  ASSERT_EQ(errors.messages.size(), 1u);
  // Which box, what it takes, and that nothing was saved.
  for (const wchar_t* words : {L"間隔（分）", L"1～60", L"保存できない"})
    EXPECT_NE(errors.messages[0].Find(words), wxNOT_FOUND) << errors.messages[0];
  EXPECT_TRUE(form->IsShown());
  EXPECT_EQ(Read(form), typed);
  EXPECT_TRUE(form->Timer1->IsRunning());
  EXPECT_EQ(ReadBytes("udat.txt"), stored);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"udat.txt"});

  // Closing again, with a valid value, saves and closes.
  form->Edit2->SetValue("25");
  ASSERT_TRUE(CloseTheWindow());
  EXPECT_EQ(errors.messages.size(), 1u);
  EXPECT_EQ(ReadBytes("udat.txt"), "25\r\n0\r\n" + Stored(kJapanese) + "\r\nhttp://example.jp/typed");
}


}  // namespace
