// visit/ holds the visits: Run, the timer's tick, day and night, the period's
// clamp, and the words told of each visit (here). Of the pane it uses only
// the outcome header.
//
// What is told of each visit once it has ended: one line of the record, on
// standard error (the journal, under the service), and the status line under
// the pane. Nothing is written to a file.
#pragma once

#include <string>

#include <wx/datetime.h>
#include <wx/string.h>

#include "pane/visit_outcome.h"

// A visit as VisitPage made it.
struct TVisitMade {
  bool by_timer;  // the timer's tick, or Run
  bool night;
  wxDateTime when;
};

// One line of the record, with its fields in a fixed order and the address
// last: "visit 2026-12-07T21:40:05 timer day "200 OK" 35ms http://...", the
// address where a redirect ended after " -> ".
std::string VisitRecordLine(const TVisitMade& visit, const TVisitOutcome& outcome);

// The status line's account of the last visit, in Japanese: its time, day or
// night, its outcome and how long it took.
wxString LastVisitText(const TVisitMade& visit, const TVisitOutcome& outcome);

// The status line: the last visit (empty before the first), and when the next will be.
wxString VisitStatusLine(const wxString& last_visit, const wxDateTime& next);
