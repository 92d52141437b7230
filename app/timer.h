// The window's timer. It ticks on the event loop at a fixed period and keeps
// to its schedule: each tick is aimed at start + n × period, so lateness in
// one tick does not push the later ones back and the period does not drift.
//
// The event loop counts on a clock that stands still while the machine
// sleeps; the time of the next tick is also kept on the wall clock (Now), and
// on waking the wall clock decides (CatchUpAfterSleep).
#pragma once

#include <chrono>
#include <optional>

#include <wx/timer.h>

#include "app/clock.h"

class TTimer : public wxTimer {
 public:
  // Ticks reach `owner` as wxEVT_TIMER events carrying `id`.
  TTimer(wxEvtHandler* owner, int id);

  // Milliseconds between ticks. Setting it, even to the same value,
  // restarts the countdown of a running timer.
  void SetInterval(unsigned milliseconds);
  unsigned GetInterval() const { return interval_; }

  // Turning an enabled timer on again changes nothing.
  void SetEnabled(bool enabled);
  bool GetEnabled() const { return enabled_; }

  // How long until the next tick; nothing while the timer is off.
  std::optional<std::chrono::milliseconds> TimeToNextTick() const;

  // The machine has woken from sleep. Returns whether the next tick's time
  // passed meanwhile: then the caller makes that tick's visit now (one,
  // however many periods were slept through) and the next tick comes a
  // period from now. Otherwise the tick comes at its time on the wall clock.
  bool CatchUpAfterSleep();

  void Notify() override;

 private:
  using Clock = std::chrono::steady_clock;
  void Restart();
  void ArmFor(Clock::time_point due);

  unsigned interval_ = 1000;
  bool enabled_ = false;
  Clock::time_point due_;
  TDateTime due_on_the_wall_;
};
