// A visit whose request never went out is tried again within its period:
// which visits, and when.
#pragma once

#include <chrono>

#include "pane/visit_outcome.h"

// Whether a visit may be tried again: only one whose request never reached
// the server (its name not resolved, its connection refused, unreachable or
// not made in time). One whose request went out never is, whatever came back
// (an error status, an answer cut short, no answer): its page may have done
// its work. Neither is a refused certificate, nor an address the engine
// would not load: trying again changes nothing there.
bool MayBeTriedAgain(const TVisitOutcome& outcome);

// How long after the try that failed the next one comes: 10 s after the
// visit, then twice as long each time, at most 2 minutes. `tries` counts the
// tries made again so far.
std::chrono::milliseconds RetryDelay(int tries);
