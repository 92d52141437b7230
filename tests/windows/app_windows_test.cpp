// The Windows browser control's navigation errors, as visits' outcomes, and
// the command line a copy registers to be started again after an update.
#include <windows.h>

#include <shellapi.h>

#include <sstream>

#include <gtest/gtest.h>
#include <wx/string.h>

#include "app/command_line.h"
#include "pane/navigation_errors.h"
#include "visit/retry.h"

namespace {

TEST(NavigationErrors, StatusCodesBecomeTheOutcomesOfEveryPlatform) {
  using Kind = TVisitOutcome::Kind;
  const struct {
    unsigned long code;
    Kind kind;
    int status;
    bool tried_again;  // the request never went out
  } rows[] = {
      {500, Kind::kResponse, 500, false},     {404, Kind::kResponse, 404, false},
      {401, Kind::kResponse, 401, false},     {0x800C0005, Kind::kUnresolved, 0, true},
      {12007, Kind::kUnresolved, 0, true},    {0x800C0004, Kind::kRefused, 0, true},
      {12029, Kind::kRefused, 0, true},       {0x800C000B, Kind::kTimedOut, 0, true},
      {0x800C0008, Kind::kReset, 0, false},   {12031, Kind::kReset, 0, false},
      {0x800C0019, Kind::kCertificate, 0, false}, {12045, Kind::kCertificate, 0, false},
      {12002, Kind::kFailed, 0, false},       {0x800C0010, Kind::kFailed, 0, false},
  };
  for (const auto& row : rows) {
    TVisitOutcome outcome;
    DescribeNavigationError(static_cast<long>(row.code), outcome);
    EXPECT_EQ(outcome.kind, row.kind) << std::hex << row.code;
    EXPECT_EQ(outcome.status, row.status) << std::hex << row.code;
    EXPECT_EQ(MayBeTriedAgain(outcome), row.tried_again) << std::hex << row.code;
  }
  TVisitOutcome other;
  DescribeNavigationError(static_cast<long>(0x800C0010UL), other);
  EXPECT_EQ(other.detail, "error 0x800C0010");
}

// Restart Manager starts a copy closed for an update with the command line
// it registered: read back as the program reads its own, it names the copy's
// settings folder whole (spaces, characters code page 932 lacks, a closing
// backslash) and keeps --run where the copy had it.
TEST(RestartAfterAnUpdate, CommandLineBringsTheCopyBackInItsFolder) {
  for (const std::wstring folder :
       {L"C:\\users\\x\\ペ ージ 𠮷", L"D:\\設定\\", L"C:\\", L"\\\\host\\共有 a\\b\\\\"}) {
    for (const bool run : {true, false}) {
      SCOPED_TRACE(wxString(folder).utf8_string() + (run ? " --run" : ""));
      const std::wstring line = L"hpvisit.exe " + RestartCommandLine(folder, run);
      int count = 0;
      wchar_t** words = ::CommandLineToArgvW(line.c_str(), &count);
      ASSERT_TRUE(words);
      const std::vector<std::filesystem::path> arguments(words + 1, words + count);
      ::LocalFree(words);
      std::ostringstream out, err;
      const TCommandLine read = ReadCommandLine(arguments, out, err);
      EXPECT_FALSE(read.exit_status) << err.str();
      ASSERT_TRUE(read.folder);
      EXPECT_EQ(read.folder->native(), folder);
      EXPECT_EQ(read.run, run);
    }
  }
}

}  // namespace
