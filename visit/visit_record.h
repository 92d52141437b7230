// visit/ holds the visits: Run, the timer's tick, day and night, the period's
// clamp, and the words told of each visit (here). Of the pane it uses only
// the outcome header; visit.cpp, the window's own handlers, uses app/form1.h.
//
// What is told of each visit once it has ended: one line of the record, on
// standard error (the journal, under the service), and the status line under
// the pane. Nothing is written to a file.
#pragma once

#include <string>

#include <wx/datetime.h>
#include <wx/string.h>

#include "pane/visit_outcome.h"

// What made a visit: Run, the timer's tick, the tick made on waking from
// sleep, or another try of a visit whose request never went out.
enum class TVisitBy { kRun, kTimer, kWake, kRetry };

// A visit as VisitPage made it.
struct TVisitMade {
  TVisitBy by;
  bool night;
  wxDateTime when;
};

// One line of the record, with its fields in a fixed order and the address
// last: "visit 2026-12-07T21:40:05 timer day "200 OK" 35ms http://...", the
// address where a redirect ended after " -> ".
std::string VisitRecordLine(const TVisitMade& visit, const TVisitOutcome& outcome);

// Whether a visit failed: anything but an answer under 400.
bool IsFailure(const TVisitOutcome& outcome);

// The outcome as the record's line says it ("200 OK", "connection refused"),
// and the short name of its kind ("response", "refused").
std::string OutcomeInRecord(const TVisitOutcome& outcome);
const char* OutcomeKindName(const TVisitOutcome& outcome);

// The record's word for what made a visit: "run", "timer", "wake", "retry".
const char* TriggerName(TVisitBy by);

// How much of a visit the window tells, from all of it (the tip's line) to
// its time and outcome alone (a status line short of room).
enum class TTelling {
  kInFull,        // "22:12:55（昼用）404 エラー（ページなし）、0.2 秒", and the engine's reason
                  // for a load that failed otherwise: "読み込み失敗（…）"
  kWithMeaning,   // the same without the engine's reason
  kWithDuration,  // "22:12:55（昼用）404 エラー、0.2 秒"
  kShortest,      // "22:12:55（昼用）404 エラー"
};

// A visit in Japanese: its time, the address used (day or night), its outcome
// ("正常（200）", "404 エラー", "受信未完了（200）") and how long it took.
wxString VisitInJapanese(const TVisitMade& visit, const TVisitOutcome& outcome, TTelling telling);

// A duration in Japanese: "0.1 秒未満", "0.2 秒", "5 分 0 秒".
wxString DurationInJapanese(long milliseconds);
