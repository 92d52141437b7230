#include "visit/retry.h"

#include <algorithm>

bool MayBeTriedAgain(const TVisitOutcome& outcome) {
  using Kind = TVisitOutcome::Kind;
  switch (outcome.kind) {
    case Kind::kUnresolved:
    case Kind::kRefused:
    case Kind::kUnreachable:
    case Kind::kTimedOut:
      return true;
    default:
      return false;
  }
}

std::chrono::milliseconds RetryDelay(int tries) {
  using std::chrono::seconds;
  const seconds first(10), longest(120);
  return tries >= 4 ? longest : std::min(longest, first * (1 << std::max(tries, 0)));
}
