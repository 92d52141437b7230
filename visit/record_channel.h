// Where each visit's line of the record goes, besides the window. One body
// per platform:
// - Linux: standard error, one line a visit; where standard error is the
//   journal (under systemd), one journal entry a visit instead, with the same
//   text, priority info for an answer under 400 and warning for anything
//   else, and fields a tool can select on.
// - Windows: standard error, and the Application event log: a failed visit is
//   a warning, the first answer after failures an information event; other
//   visits write nothing there.
#pragma once

#include "visit/visit_record.h"

// `answers_again`: the first answer after one or more failed visits.
void ReportVisit(const TVisitMade& visit, const TVisitOutcome& outcome, bool answers_again);
