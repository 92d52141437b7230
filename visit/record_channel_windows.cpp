// Windows: every visit's line goes to standard error; the Application event
// log, source "hpvisit", hears of what its reader must know: a failed visit is
// a warning, and the first answer after failures an information event saying
// that the page answers again. An ordinary answer writes nothing there, so
// that a period of one minute does not flood the log. Each event's one
// insertion string is the record's line; its text is in the program itself
// (packaging/windows/event_messages.mc), the message file the installer
// registers for the source.
#include <windows.h>

#include <cstdio>
#include <string>

#include <wx/string.h>

#include "event_messages.h"
#include "visit/record_channel.h"

namespace {

// Opened once; null where the log cannot be written (the program goes on without it).
HANDLE EventSource() {
  static const HANDLE source = ::RegisterEventSourceW(nullptr, L"hpvisit");
  return source;
}

}  // namespace

void ReportVisit(const TVisitMade& visit, const TVisitOutcome& outcome, bool answers_again) {
  const std::string line = VisitRecordLine(visit, outcome);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);

  const bool failed = IsFailure(outcome);
  if (!failed && !answers_again) return;
  const HANDLE source = EventSource();
  if (!source) return;
  const std::wstring text = wxString::FromUTF8(line).ToStdWstring();
  const wchar_t* strings[] = {text.c_str()};
  ::ReportEventW(source, failed ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, 0,
                 failed ? MSG_VISIT_FAILED : MSG_PAGE_ANSWERS_AGAIN, nullptr, 1, 0, strings, nullptr);
}
