#include "app/timer.h"

#include <algorithm>

TTimer::TTimer(wxEvtHandler* owner, int id) : wxTimer(owner, id) {}

void TTimer::SetInterval(unsigned milliseconds) {
  interval_ = milliseconds;
  Restart();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Restart();
}

void TTimer::Restart() {
  Stop();
  if (enabled_ && interval_ > 0) ArmFor(Clock::now() + std::chrono::milliseconds(interval_));
}

void TTimer::ArmFor(Clock::time_point due) {
  due_ = due;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due_ - Clock::now());
  due_on_the_wall_ = Now() + wxTimeSpan::Milliseconds(wait.count());
  Start(static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 1)),
        wxTIMER_ONE_SHOT);
}

std::optional<std::chrono::milliseconds> TTimer::TimeToNextTick() const {
  if (!IsRunning()) return std::nullopt;
  return std::max(std::chrono::milliseconds(0),
                  std::chrono::ceil<std::chrono::milliseconds>(due_ - Clock::now()));
}

void TTimer::Notify() {
  // Aim the next tick before this one is handled, so that a handler that
  // raises an error cannot stop the schedule.
  const auto period = std::chrono::milliseconds(interval_);
  auto next = due_ + period;
  const auto now = Clock::now();
  if (next <= now) next = now + period;  // a whole period late (a machine held up): tick once, then resume
  ArmFor(next);
  wxTimer::Notify();
}

bool TTimer::CatchUpAfterSleep() {
  if (!IsRunning()) return false;
  const wxLongLong left = (due_on_the_wall_ - Now()).GetMilliseconds();
  if (left <= 0) {
    ArmFor(Clock::now() + std::chrono::milliseconds(interval_));
    return true;
  }
  ArmFor(Clock::now() + std::chrono::milliseconds(left.GetValue()));
  return false;
}
