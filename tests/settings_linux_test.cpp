// udat.txt where the stored text is UTF-8 (the locale's encoding here) and
// the system is POSIX: file modes and links, a write refused by a file-size
// limit, a save killed half-way, the window manager's close.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <memory>
#include <optional>

#include <wx/strconv.h>

#include "app/exception.h"
#include "settings/atomic_write.h"
#include "settings/settings_text.h"
#include "tests/settings_fixture.h"

namespace {

// The files this process holds open in `directory`.
int OpenFilesIn(const std::string& directory) {
  int count = 0;
  for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = fs::read_symlink(fd.path(), ec).string();
    count += !ec && target.rfind(directory + "/", 0) == 0;
  }
  return count;
}

// What reading finds in each line, in each encoding a file may come in.
TEST(SettingsFileRules, ReadingTakesEachSettingFromItsLine) {
  const std::string long_day = "http://example.jp/?" + std::string(300, 'd');
  const std::string long_night = "http://example.jp/?" + std::string(300, 'n');
  using F = TStoredForm;
  const struct {
    const char* name;
    std::string bytes;
    Found expected;
  } rows[] = {
      {"written by the program", "90\r\n1\r\n" + kDay + "\r\n" + kNight, {60, true, U(kDay + "\n"), U(kNight)}},
      {"LF line ends", "15\n0\n" + kDay + "\n" + kNight, {15, false, U(kDay + "\n"), U(kNight)}},
      {"night with its line feed", "5\r\n1\r\n" + kDay + "\r\n" + kNight + "\r\n", {5, true, U(kDay + "\n"), U(kNight + "\n")}},
      {"period abc", "abc\r\n0\r\nd\r\nn", {1, false, "d\n", "n"}},
      {"period -3", "-3\r\n0\r\nd\r\nn", {1, false, "d\n", "n"}},
      {"period 12 after a blank", " 12abc\r\n0\r\nd\r\nn", {12, false, "d\n", "n"}},
      {"period 007", "007\r\n0\r\nd\r\nn", {7, false, "d\n", "n"}},
      {"period too large for long", "99999999999999999999\r\n0\r\nd\r\nn", {60, false, "d\n", "n"}},
      {"period too small for long", "-99999999999999999999\r\n0\r\nd\r\nn", {1, false, "d\n", "n"}},
      {"flag 2", "30\r\n2\r\nd\r\nn", {30, true, "d\n", "n"}},
      {"flag 0", "30\r\n0\r\nd\r\nn", {30, false, "d\n", "n"}},
      {"flag abc", "30\r\nabc\r\nd\r\nn", {30, false, "d\n", "n"}},
      {"three whole lines: empty night", "30\r\n1\r\n" + kDay + "\r\n", {30, true, U(kDay + "\n"), ""}},
      {"addresses over 259 bytes", "30\r\n1\r\n" + long_day + "\r\n" + long_night, {30, true, U(long_day + "\n"), U(long_night)}},
      {"UTF-8 Japanese", "30\r\n1\r\n" + kJapanese + "\r\n" + kSymbols, {30, true, U(kJapanese + "\n"), U(kSymbols), F::kUtf8}},
      {"code page 932 Japanese", "30\r\n1\r\n" + kJapaneseCp932 + "\r\n" + kSymbolsCp932, {30, true, U(kJapanese + "\n"), U(kSymbols)}},
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" "3\r\n1\r\n" + kJapanese + "\r\n" + kNight, {3, true, U(kJapanese + "\n"), U(kNight), F::kUtf8WithBom}},
      {"UTF-16 with its byte-order mark", Utf16("\xEF\xBB\xBF" "3\r\n1\r\n" + kJapanese + "\r\n𠮷"), {3, true, U(kJapanese + "\n"), U("𠮷"), F::kUtf16}},
      {"UTF-8 at the edges of its ranges", "30\r\n1\r\n\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\r\n\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
       {30, true, U("\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\n"), U("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), F::kUtf8}},
      // One encoding for the whole file: code page 932 as soon as any byte is
      // not UTF-8, even where a line alone would pass for UTF-8 (half-width ﾃｩ).
      {"code page 932 that one line alone would pass for UTF-8", "4\r\n0\r\n\xC3\xA9\r\n\x82\xA0\r\n", {4, false, U("ﾃｩ\n"), U("あ\n")}},
      {"code page 932 bytes only Windows maps", "4\r\n0\r\nd\x80\r\n\x82\xA0\xA0\xFD\xFE\xFF", {4, false, wxString(L"d\u0080\n"), wxString(L"\u3042\uF8F0\uF8F1\uF8F2\uF8F3")}},
      // Code page 932 text that the toolkit's UTF-8 decoding would take for an
      // overlong form and a surrogate; bytes that are neither are kept as bytes.
      {"code page 932 that UTF-8 forbids", "30\r\n1\r\n?\xE0\x9F\xB1\r\n?\xED\xA0\xB1", {30, true, U("?燹ｱ\n"), U("?恝ｱ")}},
      {"past U+10FFFF, not code page 932", "30\r\n1\r\nd\r\n\xF4\x9B\x88\x88", {30, true, "d\n", wxString(L"\u00F4\u009B\u0088\u0088")}},
      // A file that ends before its fourth line (the window then shows the
      // defaults, but for a flag already read).
      {"empty file", "", {}},
      {"period only", "90\r\n", {60}},
      {"period and flag", "90\r\n1\r\n", {60, true}},
      {"flag without line feed", "90\r\n1", {60, true}},
      {"day without line feed", "90\r\n1\r\n" + kDay, {60, true, U(kDay)}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Found(ParseSettings(row.bytes)), row.expected);
  }
}

TEST_F(SettingsFile, LoadAndSaveUseTheWorkingDirectoryOfTheMoment) {
  const std::string stored = "20\r\n1\r\n" + kDay + "\r\n" + kNight;
  Load(stored);  // here, before moving
  // Directory names in the locale's encoding, and in none (code page 932 bytes).
  for (const std::string name : {"設定 other", "\x90\xdd\x92\xe8"}) {
    SCOPED_TRACE(name);
    const std::string other = dir.File(name);
    fs::create_directory(other);
    fs::current_path(other);
    Fill(form, {"45", true, U(kDay), U(kNight)});
    form->SaveSettings();
    EXPECT_EQ(ReadBytes(other + "/udat.txt"), "45\r\n1\r\n" + kDay + "\r\n" + kNight);
    WriteBytes("udat.txt", "9\r\n0\r\nd\r\nn");
    form->LoadSettings();
    EXPECT_EQ(Read(form), (Boxes{"9", false, "d\n", "n"}));
    fs::current_path(dir.path());
    EXPECT_EQ(ReadBytes(dir.File("udat.txt")), stored);
  }
}

// A save replaces the content, not the kind of file the user made: its
// permissions stay, and a link to a file elsewhere stays a link.
TEST_F(SettingsFile, SaveKeepsPermissionsAndLinks) {
  WriteBytes("udat.txt", "5\r\n0\r\nd\r\nn");
  fs::permissions("udat.txt", fs::perms::owner_read | fs::perms::owner_write);
  Fill(form, {"6", false, "d", "n"});
  form->SaveSettings();
  EXPECT_EQ(fs::status("udat.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  fs::create_directory("elsewhere");
  fs::rename("udat.txt", "elsewhere/udat.txt");
  fs::create_symlink("elsewhere/udat.txt", "udat.txt");
  Fill(form, {"7", true, "d", "n"});
  form->SaveSettings();
  EXPECT_TRUE(fs::is_symlink("udat.txt"));
  EXPECT_EQ(ReadBytes("elsewhere/udat.txt"), "7\r\n1\r\nd\r\nn");
  EXPECT_EQ(std::distance(fs::directory_iterator("elsewhere"), fs::directory_iterator()), 1);
}

TEST_F(SettingsFile, FailedSaveLeavesTheStoredFileWhole) {
  const std::string stored = "20\r\n1\r\n" + kDay + "\r\n" + kNight;
  struct sigaction ignore {}, previous_action {};
  ignore.sa_handler = SIG_IGN;
  rlimit previous_limit {};
  const struct {
    const char* name;
    const char* minutes;
    std::function<void()> before, after;
  } rows[] = {
      {"minutes not an integer", "abc", [] {}, [] {}},
      {"write refused past 8 bytes", "30",
       [&] {
         sigaction(SIGXFSZ, &ignore, &previous_action);
         getrlimit(RLIMIT_FSIZE, &previous_limit);
         rlimit small = previous_limit;
         small.rlim_cur = 8;
         setrlimit(RLIMIT_FSIZE, &small);
       },
       [&] {
         setrlimit(RLIMIT_FSIZE, &previous_limit);
         sigaction(SIGXFSZ, &previous_action, nullptr);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WriteBytes("udat.txt", stored);
    Fill(form, {row.minutes, false, U(kJapanese), "http://example.jp/new"});
    row.before();
    std::optional<wxString> error;
    try {
      form->SaveSettings();
    } catch (const EConvertError& e) {
      error = e.Message;
    }
    row.after();
    EXPECT_EQ(error.has_value(), row.minutes == std::string("abc"));
    EXPECT_EQ(ReadBytes("udat.txt"), stored);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"udat.txt"});
    EXPECT_EQ(OpenFilesIn(dir.path()), 0);
  }
}

// Nothing opens over the window when the settings cannot be read or saved; a
// save that fails says why, once, on standard error (the journal, under the service).
TEST_F(SettingsFile, UnusableDirectoryOrFileSaysWhyOnlyOnStandardError) {
  // udat.txt is a directory: nothing can be read or written in its place.
  fs::create_directory("udat.txt");
  Fill(form, {"Edit2", false, "Edit1", "Edit3"});
  form->LoadSettings();
  EXPECT_EQ(Read(form), Defaults(false));
  Fill(form, {"30", true, "a", "b"});
  {
    StandardErrorCapture standard_error;
    EXPECT_NO_THROW(form->SaveSettings());
    EXPECT_EQ(standard_error.Lines("hpvisit: "),
              std::vector<std::string>{"hpvisit: the settings were not saved to " + dir.File("udat.txt") +
                                       ": Is a directory"});
  }
  EXPECT_TRUE(fs::is_directory("udat.txt"));
  EXPECT_EQ(dir.List(), std::vector<std::string>{"udat.txt"});

  // The working directory has been removed.
  fs::create_directory("gone");
  fs::current_path("gone");
  fs::remove(dir.File("gone"));
  Fill(form, {"Edit2", false, "Edit1", "Edit3"});
  form->LoadSettings();
  EXPECT_EQ(Read(form), Defaults(false));
  {
    StandardErrorCapture standard_error;
    EXPECT_NO_THROW(form->SaveSettings());
    EXPECT_EQ(standard_error.Lines("hpvisit: "),
              std::vector<std::string>{"hpvisit: the settings were not saved to udat.txt: the working directory is gone"});
  }
  fs::current_path(dir.path());
}

TEST_F(SettingsFile, KilledWhileSavingLeavesOneWholeFileAndNothingElse) {
  const std::string stored = "20\r\n1\r\n" + kDay + "\r\n" + kNight;
  WriteBytes("udat.txt", stored);
  const std::string big(16 << 20, 'x');
  const std::string path = dir.File("udat.txt");
  const pid_t child = fork();
  if (child == 0) _exit(ReplaceFileAtomically(path, big) ? 1 : 0);
  // Kill it as soon as it has its new file open.
  bool caught = false;
  const std::string fds = "/proc/" + std::to_string(child) + "/fd";
  while (!caught && waitpid(child, nullptr, WNOHANG) == 0) {
    std::error_code ec;  // the child may be gone halfway through the listing
    for (fs::directory_iterator fd(fds, ec), end; !ec && fd != end; fd.increment(ec)) {
      const std::string target = fs::read_symlink(fd->path(), ec).string();
      if (!ec && target.rfind(dir.path() + "/", 0) == 0 && target != path) caught = true;
    }
  }
  if (caught) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  const std::string after = ReadBytes("udat.txt");
  EXPECT_TRUE(after == stored || after.size() == big.size()) << after.size();
  EXPECT_EQ(dir.List(), std::vector<std::string>{"udat.txt"});
  if (!caught) GTEST_SKIP() << "the save finished before it could be interrupted";
}

// A save killed after naming its new file, before renaming it, leaves that
// file; the next start or save removes it, and nothing else.
TEST_F(SettingsFile, TemporariesOfKilledSavesGoAtTheNextStartOrSave) {
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string killed = "udat.txt.tmp-" + std::to_string(dead) + "-";
  const std::string running = "udat.txt.tmp-" + std::to_string(getppid()) + "-0";  // another copy
  const std::vector<std::string> kept = {
      killed + "07", killed + "0x", killed + "100", "other.txt.tmp-" + std::to_string(dead) + "-0",
      running, killed + "3", killed + "4"};
  WriteBytes("udat.txt", "20\r\n1\r\nd\r\nn");
  for (const std::string& name : {killed + "0", killed + "99", kept[0], kept[1], kept[2], kept[3], running})
    WriteBytes(name, "5\r\n0\r\nd");
  fs::create_directory(kept[5]);                 // not a plain file
  fs::create_symlink("udat.txt", kept[6]);       // a link, even to the file itself
  auto sorted = [](std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
  };
  std::vector<std::string> expected = kept;
  expected.push_back("udat.txt");
  Restart();
  EXPECT_EQ(sorted(dir.List()), sorted(expected));
  EXPECT_EQ(Read(form), (Boxes{"20", true, "d\n", "n"}));

  WriteBytes(killed + "1", "5\r\n0\r\nd");
  const std::string own = "udat.txt.tmp-" + std::to_string(getpid()) + "-0";  // an earlier run's
  WriteBytes(own, "5\r\n0\r\nd");
  form->SaveSettings();
  EXPECT_EQ(sorted(dir.List()), sorted(expected));
  EXPECT_EQ(ReadBytes("udat.txt"), "20\r\n1\r\nd\r\nn");
}

// A close that cannot be refused (the session's end, a stop signal) with no
// number in the minutes box saves the rest, with the period last saved, and
// says so on standard error.
TEST_F(SettingsFile, ForcedCloseWithInvalidMinutesSavesTheRestWithTheStoredPeriod) {
  WriteBytes("udat.txt", "20\r\n0\r\n" + kDay + "\r\n" + kNight);
  Restart();
  Fill(form, {"abc", true, U(kJapanese), "http://example.jp/typed"});
  StandardErrorCapture standard_error;
  form->Close(true);
  PumpFor(50);
  form = nullptr;
  EXPECT_EQ(ReadBytes("udat.txt"), "20\r\n1\r\n" + Stored(kJapanese) + "\r\nhttp://example.jp/typed");
  const std::string said = standard_error.Text();
  EXPECT_NE(said.find("'abc'"), std::string::npos) << said;
}

TEST(SettingsText, EncodingKeepsWhatTheEncodingCannotHold) {
  const wxCSConv latin1("ISO-8859-1"), euc_jp("EUC-JP");
  ASSERT_TRUE(latin1.IsOk());
  ASSERT_TRUE(euc_jp.IsOk());
  const struct {
    const wxMBConv& encoding;
    const char* text;
    std::string bytes;
  } rows[] = {
      {latin1, "http://example.jp/例?ä=1", "http://example.jp/??\xe4=1"},
      {euc_jp, "http://例.jp/★😀abc", "http://\xce\xe3.jp/\xa1\xfa?abc"},
      {StoredTextEncoding(), "http://例.jp/★😀abc", "http://例.jp/★😀abc"},  // UTF-8 here
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(EncodeStoredText(U(row.text), row.encoding), row.bytes);
  }
}

}  // namespace
