// The Windows browser control's navigation errors, as visits' outcomes.
#include <gtest/gtest.h>

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

}  // namespace
