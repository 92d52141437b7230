// udat.txt on Windows: a save that the system refuses, and text the code page
// cannot hold.
#include "settings/settings_text.h"
#include "tests/settings_fixture.h"

namespace {

// The new content cannot take the stored file's place (here udat.txt is a
// folder; on Windows a read-only udat.txt, or one another program holds open,
// refuses it too, but Wine lets those through): the save fails quietly and
// the temporary file it wrote is gone again.
TEST_F(SettingsFile, SaveThatCannotReplaceTheFileLeavesNothingBehind) {
  fs::create_directory("udat.txt");
  Fill(form, {"30", false, U(kJapanese), "http://example.jp/new"});
  EXPECT_NO_THROW(form->SaveSettings());
  EXPECT_TRUE(fs::is_directory("udat.txt"));
  EXPECT_EQ(dir.List(), std::vector<std::string>{"udat.txt"});
}

// A file an editor saved as UTF-8 with a byte-order mark is read as UTF-8,
// and saved back in the system's code page.
TEST_F(SettingsFile, FileSavedAsUtf8WithAByteOrderMarkReadsWhole) {
  WriteBytes("udat.txt", "\xEF\xBB\xBF" "3\r\n1\r\n" + kJapanese + "\r\nhttp://example.jp/n");
  Restart();
  EXPECT_EQ(Read(form), (Boxes{"3", true, U(kJapanese + "\n"), "http://example.jp/n"}));
  form->SaveSettings();
  EXPECT_EQ(ReadBytes("udat.txt"), "3\r\n1\r\n" + Stored(kJapanese) + "\r\nhttp://example.jp/n");
}

// A character outside the code page, even one that Windows holds as two
// UTF-16 units, is written as one '?'; the rest is kept.
TEST(SettingsText, CharacterTheCodePageCannotHoldIsOneQuestionMark) {
  EXPECT_EQ(EncodeStoredText(wxString::FromUTF8("a\xF0\x9F\x98\x80" "b\xC3\xA9"), StoredTextEncoding()),
            "a?b?");
}

}  // namespace
