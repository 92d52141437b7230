// The window's timer: on schedule, and restarted when its period is set (the
// tests that run on every platform, compiled for Windows too).
#include <chrono>

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
  timer.SetInterval(50);
  timer.SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return ticks.size() >= 20; }, 5000));
  timer.SetEnabled(false);
  ASSERT_GE(ticks.size(), 20u);
  // Lateness of the 20th tick against its ideal time: a drifting timer would
  // have lost the handler's 15 ms at every tick, 285 ms in all.
  const auto late = std::chrono::duration_cast<std::chrono::milliseconds>(
      ticks[19] - start - std::chrono::milliseconds(50 * 20));
  EXPECT_GE(late.count(), -1);
  EXPECT_LT(late.count(), 30);
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

}  // namespace
