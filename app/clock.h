// The local clock. Tests replace it so that times such as 6:59:59 can be tried.
#pragma once

#include <functional>

#include <wx/datetime.h>

using TDateTime = wxDateTime;

// The local date and time.
TDateTime Now();

// Splits a time of day; the hour runs from 0 to 23.
void DecodeTime(const TDateTime& dateTime, unsigned short& hour, unsigned short& minute,
                unsigned short& second, unsigned short& millisecond);

// Replaces the clock that Now reads; an empty function restores the real one.
void SetClockForTesting(std::function<TDateTime()> clock);
