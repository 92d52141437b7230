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
    Restart();
    EXPECT_EQ(Read(form), row.loaded);
  }
}

}  // namespace
