// The window's timer: on schedule, and restarted when its period is set (the
// tests that run on every platform, compiled for Windows too).
#include <algorithm>
#include <chrono>

#include "app/clock.h"
#include "app/timer.h"
#include "tests/support.h"

namespace {

TEST(Timer, TicksKeepToTheirScheduleWithoutDrift) {
  using Clock = std::chrono::steady_clock;
  wxEvtHandler owner;
  TTimer timer(&owner, 1);
  std::vector<Clock::time_point> ticks;
  owner.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    ticks.push_back(Clock::now());
    const auto busy_until = Clock::now() + std::chrono::milliseconds(15);  // a slow handler
    while (Clock::now() < busy_until) {
    }
  });
  const auto start = Clock::now();
  timer.SetInterval(100);
  timer.SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return ticks.size() >= 12; }, 5000));
  timer.SetEnabled(false);
  ASSERT_GE(ticks.size(), 12u);
  // Lateness of the 10th to 12th ticks against their ideal times: none early,
  // and the least late of them within 30 ms (a machine busy for less than a
  // period holds up a tick, not the schedule). A drifting timer would have
  // lost the handler's 15 ms at every tick, 135 ms and more by then.
  long least_late = 1000;
  for (std::size_t n = 10; n <= 12; ++n) {
    const auto late = std::chrono::duration_cast<std::chrono::milliseconds>(
        ticks[n - 1] - start - std::chrono::milliseconds(100 * n));
    EXPECT_GE(late.count(), -1) << "tick " << n;
    least_late = std::min<long>(least_late, late.count());
  }
  EXPECT_LT(least_late, 30);
}

TEST(Timer, SettingTheIntervalRestartsTheCountdown) {
  wxEvtHandler owner;
  TTimer timer(&owner, 1);
  int ticks = 0;
  owner.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { ++ticks; });
  timer.SetInterval(300);
  timer.SetEnabled(true);
  for (int i = 0; i < 4; ++i) {
    PumpFor(150);
    timer.SetInterval(300);
  }
  EXPECT_EQ(ticks, 0);
  EXPECT_TRUE(PumpUntil([&] { return ticks == 1; }, 1000));
}

// The event loop's clock stands still while the machine sleeps; the wall
// clock decides on waking. Here the wall clock moves alone, as it does over
// a sleep.
TEST(Timer, OnWakingTheWallClockDecidesWhenTheNextTickIs) {
  wxDateTime wall = wxDateTime::Now();
  SetClockForTesting([&] { return wall; });
  wxEvtHandler owner;
  TTimer timer(&owner, 1);
  timer.SetInterval(60 * 60000);
  timer.SetEnabled(true);
  const struct {
    int slept_minutes;
    bool tick_now;
    int next_in_minutes;
  } rows[] = {
      {10, false, 50},     // its time has not come: at that time, not a period after the start
      {8 * 60, true, 60},  // periods slept through: one tick now, the next a period later
      {60, true, 60},      // due at the very moment
  };
  for (const auto& row : rows) {
    wall += wxTimeSpan::Minutes(row.slept_minutes);
    EXPECT_EQ(timer.CatchUpAfterSleep(), row.tick_now) << row.slept_minutes;
    const auto next = timer.TimeToNextTick();
    ASSERT_TRUE(next.has_value());
    EXPECT_NEAR(static_cast<double>(next->count()), row.next_in_minutes * 60000.0, 2000.0)
        << row.slept_minutes;
  }
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.CatchUpAfterSleep());
  SetClockForTesting({});
}

}  // namespace
