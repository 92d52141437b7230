// What the window keeps of the visits since the program started, for the
// status line under the pane: the last visit, the failures counted with the
// time of the last, and the last visits for the line's tip.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>

#include <wx/datetime.h>
#include <wx/string.h>

#include "visit/visit_record.h"

class TVisitHistory {
 public:
  // How many visits the tip lists.
  static constexpr std::size_t kTipVisits = 20;

  // A visit has ended. Returns whether it is the first answer after failures.
  bool Add(const TVisitMade& visit, const TVisitOutcome& outcome);

  // The status line: the last visit (once there is one), the next one (when
  // the timer runs), the next try of a visit whose request never went out
  // (while one waits), and the failures since the start (once there are some):
  // "前回 22:12:55（昼用）404 エラー（ページなし）、0.2 秒　次回 22:17:55　再試行 22:13:05　失敗 3 回（最終 03:15）".
  // The tip tells each visit in full, the engine's reason for a failed load too.
  // Where the whole line does not `fit`, the last visit is told shorter, and
  // then left to the tip: the rest always stays whole.
  wxString StatusLine(const wxDateTime* next, const wxDateTime* retry,
                      const std::function<bool(const wxString&)>& fits) const;

  // The last visits, newest first, one a line, under a heading; empty before the first.
  wxString Tip() const;

  // The same for the service manager's status, in the record's words:
  // "last visit 22:12:55 "200 OK"; next visit 22:17:55; 3 failed since the start".
  std::string ServiceStatus(const wxDateTime* next, const wxDateTime* retry = nullptr) const;

  int Failures() const { return failures_; }
  // Whether the last visit failed.
  bool Failing() const { return failing_; }

 private:
  struct Ended {
    TVisitMade visit;
    TVisitOutcome outcome;
  };
  std::deque<Ended> recent_;  // newest first
  int failures_ = 0;
  wxDateTime last_failure_;
  bool failing_ = false;  // the last visit failed
};
