#include "visit/visit_history.h"

bool TVisitHistory::Add(const TVisitMade& visit, const TVisitOutcome& outcome) {
  last_ = VisitInJapanese(visit, outcome);
  last_in_record_ =
      visit.when.Format("%H:%M:%S").utf8_string() + " \"" + OutcomeInRecord(outcome) + "\"";
  recent_.push_front(visit.when.Format("%m/%d ") + last_);  // with its day
  if (recent_.size() > kTipVisits) recent_.pop_back();
  const bool failed = IsFailure(outcome), answers_again = failing_ && !failed;
  failing_ = failed;
  if (failed) {
    ++failures_;
    last_failure_ = visit.when;
  }
  return answers_again;
}

wxString TVisitHistory::StatusLine(const wxDateTime* next, const wxDateTime* retry) const {
  wxString line;
  const auto add = [&](const wxString& part) { line += (line.empty() ? L"" : L"　") + part; };
  if (!last_.empty()) add(L"前回の訪問 " + last_);
  if (next) add(L"次回の訪問 " + next->Format("%H:%M:%S"));
  if (retry) add(L"再試行 " + retry->Format("%H:%M:%S"));
  if (failures_ > 0) {
    // The day too, once it is not today's.
    const char* format = last_failure_.IsSameDate(wxDateTime::Now()) ? "%H:%M" : "%m/%d %H:%M";
    add(wxString::Format(L"失敗 %d 回（最後 %s）", failures_, last_failure_.Format(format)));
  }
  return line;
}

wxString TVisitHistory::Tip() const {
  wxString tip;
  for (const wxString& visit : recent_) tip += (tip.empty() ? L"" : L"\n") + visit;
  return tip;
}

std::string TVisitHistory::ServiceStatus(const wxDateTime* next, const wxDateTime* retry) const {
  std::string status = last_in_record_.empty() ? "no visit yet" : "last visit " + last_in_record_;
  if (next) status += "; next visit " + next->Format("%H:%M:%S").utf8_string();
  if (retry) status += "; trying again at " + retry->Format("%H:%M:%S").utf8_string();
  if (failures_ > 0)
    status += "; " + std::to_string(failures_) + " failed since the start, the last at " +
              last_failure_.Format("%Y-%m-%d %H:%M").utf8_string();
  return status;
}
