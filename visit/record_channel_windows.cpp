#include <cstdio>

#include "visit/record_channel.h"

void ReportVisit(const TVisitMade& visit, const TVisitOutcome& outcome, bool) {
  std::fprintf(stderr, "%s\n", VisitRecordLine(visit, outcome).c_str());
  std::fflush(stderr);
}
