// What the window keeps of the visits since the program started, for the
// status line under the pane: the last visit, the failures counted with the
// time of the last, and the last visits for the line's tip.
#pragma once

#include <deque>
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
  // "前回の訪問 22:12:55（昼）正常（200）、0.2 秒　次回の訪問 22:17:55　失敗 3 回（最後 03:15）".
  wxString StatusLine(const wxDateTime* next, const wxDateTime* retry = nullptr) const;

  // The last visits, newest first, one a line.
  wxString Tip() const;

  // The same for the service manager's status, in the record's words:
  // "last visit 22:12:55 "200 OK"; next visit 22:17:55; 3 failed since the start".
  std::string ServiceStatus(const wxDateTime* next, const wxDateTime* retry = nullptr) const;

  int Failures() const { return failures_; }

 private:
  std::deque<wxString> recent_;  // newest first
  wxString last_;
  std::string last_in_record_;
  int failures_ = 0;
  wxDateTime last_failure_;
  bool failing_ = false;  // the last visit failed
};
