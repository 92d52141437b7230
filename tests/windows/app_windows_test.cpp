// The Windows browser control's navigation errors, as visits' outcomes.
#include <gtest/gtest.h>

#include "pane/navigation_errors.h"

namespace {

TEST(NavigationErrors, StatusCodesBecomeTheOutcomesOfEveryPlatform) {
  using Kind = TVisitOutcome::Kind;
  const struct {
    unsigned long code;
    Kind kind;
    int status;
  } rows[] = {
      {500, Kind::kResponse, 500},         {404, Kind::kResponse, 404},
      {401, Kind::kResponse, 401},         {0x800C0005, Kind::kUnresolved, 0},
      {12007, Kind::kUnresolved, 0},       {0x800C0004, Kind::kRefused, 0},
      {12029, Kind::kRefused, 0},          {0x800C0008, Kind::kReset, 0},
      {12031, Kind::kReset, 0},            {0x800C0019, Kind::kCertificate, 0},
      {12045, Kind::kCertificate, 0},      {0x800C000B, Kind::kFailed, 0},
  };
  for (const auto& row : rows) {
    TVisitOutcome outcome;
    DescribeNavigationError(static_cast<long>(row.code), outcome);
    EXPECT_EQ(outcome.kind, row.kind) << std::hex << row.code;
    EXPECT_EQ(outcome.status, row.status) << std::hex << row.code;
  }
  TVisitOutcome timed_out;
  DescribeNavigationError(static_cast<long>(0x800C000BUL), timed_out);
  EXPECT_EQ(timed_out.detail, "error 0x800C000B");
}

}  // namespace
