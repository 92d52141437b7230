#include "visit/visit_history.h"

bool TVisitHistory::Add(const TVisitMade& visit, const TVisitOutcome& outcome) {
  recent_.push_front({visit, outcome});
  if (recent_.size() > kTipVisits) recent_.pop_back();
  const bool failed = IsFailure(outcome), answers_again = failing_ && !failed;
  failing_ = failed;
  if (failed) {
    ++failures_;
    last_failure_ = visit.when;
  }
  return answers_again;
}

wxString TVisitHistory::StatusLine(const wxDateTime* next, const wxDateTime* retry,
                                   const std::function<bool(const wxString&)>& fits) const {
  wxString rest;
  if (next) rest += L"　次回 " + next->Format("%H:%M:%S");
  if (retry) rest += L"　再試行 " + retry->Format("%H:%M:%S");
  if (failures_ > 0) {
    // The day too, once it is not today's.
    const char* format = last_failure_.IsSameDate(wxDateTime::Now()) ? "%H:%M" : "%m/%d %H:%M";
    rest += wxString::Format(L"　失敗 %d 回（最終 %s）", failures_, last_failure_.Format(format));
  }
  if (!recent_.empty()) {
    const Ended& last = recent_.front();
    // The last visit, from the whole of it to its time and outcome.
    for (const TTelling telling : {TTelling::kWithMeaning, TTelling::kWithDuration, TTelling::kShortest}) {
      const wxString line = L"前回 " + VisitInJapanese(last.visit, last.outcome, telling) + rest;
      if (fits(line)) return line;
    }
  }
  return rest.empty() ? rest : rest.Mid(1);
}

wxString TVisitHistory::Tip() const {
  if (recent_.empty()) return {};
  wxString tip = wxString::Format(L"直近 %zu 回の訪問（新しい順）", recent_.size());
  for (const Ended& ended : recent_)
    tip += L"\n" + ended.visit.when.Format("%m/%d ") + VisitInJapanese(ended.visit, ended.outcome, TTelling::kInFull);
  return tip;
}

std::string TVisitHistory::ServiceStatus(const wxDateTime* next, const wxDateTime* retry) const {
  std::string status = "no visit yet";
  if (!recent_.empty())
    status = "last visit " + recent_.front().visit.when.Format("%H:%M:%S").utf8_string() + " \"" +
             OutcomeInRecord(recent_.front().outcome) + "\"";
  if (next) status += "; next visit " + next->Format("%H:%M:%S").utf8_string();
  if (retry) status += "; trying again at " + retry->Format("%H:%M:%S").utf8_string();
  if (failures_ > 0)
    status += "; " + std::to_string(failures_) + " failed since the start, the last at " +
              last_failure_.Format("%Y-%m-%d %H:%M").utf8_string();
  return status;
}
