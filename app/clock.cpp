#include "app/clock.h"

#include <utility>

namespace {
std::function<TDateTime()>& Clock() {
  static std::function<TDateTime()> clock;
  return clock;
}
}  // namespace

TDateTime Now() { return Clock() ? Clock()() : wxDateTime::Now(); }

void DecodeTime(const TDateTime& dateTime, unsigned short& hour, unsigned short& minute,
                unsigned short& second, unsigned short& millisecond) {
  const wxDateTime::Tm tm = dateTime.GetTm(wxDateTime::Local);
  hour = tm.hour;
  minute = tm.min;
  second = tm.sec;
  millisecond = tm.msec;
}

void SetClockForTesting(std::function<TDateTime()> clock) { Clock() = std::move(clock); }
