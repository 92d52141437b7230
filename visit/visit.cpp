// Visits: Run, the timer's tick, the tick on waking, the tries again of a
// visit whose request never went out, and the choice between day and night.
#include "app/application.h"
#include "app/clock.h"
#include "app/service_manager.h"
#include "app/form1.h"
#include "app/str_to_int.h"
#include "app/system_events.h"
#include "visit/clamp_interval.h"
#include "visit/record_channel.h"
#include "visit/retry.h"

namespace {
constexpr unsigned short kNightEndsAtHour = 7;  // 0:00:00 to 6:59:59 is night
constexpr long kMillisecondsPerMinute = 60000;
const wxColour kNightIndicator(0, 255, 255);  // aqua
constexpr int kStatusUpdateMilliseconds = 250;
}  // namespace

void TForm1::VisitPage(bool resetIndicatorOnDayVisit, TVisitBy by) {
  bool night = false;
  if (CheckBox1->GetValue()) {
    unsigned short hour, minute, second, millisecond;
    DecodeTime(Now(), hour, minute, second, millisecond);
    night = hour < kNightEndsAtHour;
  }
  // For the record and the status line, which tell the time on the wall.
  visits_.push_back({by, night, wxDateTime::Now()});
  if (night) {
    CheckBox1->SetBackgroundColour(kNightIndicator);
    WebBrowser1->Silent = true;
    WebBrowser1->Navigate(Edit3->GetValue());
  } else {
    if (resetIndicatorOnDayVisit) CheckBox1->SetBackgroundColour(BtnFace());
    WebBrowser1->Silent = true;
    WebBrowser1->Navigate(Edit1->GetValue());
  }
  // The next visit's time, once this one's request is under way.
  QueueVisitStatus();
}

void TForm1::Button1Click(wxObject*) {
  const long minutes = ClampInterval(MinutesInBox(Edit2->GetValue()));
  CancelRetry();
  VisitPage(false, TVisitBy::kRun);
  Timer1->SetInterval(static_cast<unsigned>(minutes * kMillisecondsPerMinute));
  Timer1->SetEnabled(true);
}

void TForm1::Timer1Timer(wxObject*) {
  CancelRetry();
  VisitPage(true, TVisitBy::kTimer);
}

void TForm1::Woke() {
  if (Timer1->CatchUpAfterSleep()) {
    CancelRetry();
    VisitPage(true, TVisitBy::kWake);
  } else {
    QueueVisitStatus();  // the next visit's time as the wall clock has it
  }
}

void TForm1::RetryVisit() {
  if (!retry_at_.IsValid()) return;  // none waits: one is under way, or the period's visit came
  retry_.Stop();
  retry_at_ = wxDateTime();
  CallWhenTheNetworkComesBack({});
  VisitPage(retry_resets_indicator_, TVisitBy::kRetry);
}

void TForm1::CancelRetry() {
  if (retry_at_.IsValid()) CallWhenTheNetworkComesBack({});
  retry_.Stop();
  retry_at_ = wxDateTime();
  retries_ = 0;
}

// The status line changes a little after a visit has started or ended, once
// for visits in quick succession, and never while one starts: the window's
// work would then come between the engine's first steps and the request.
void TForm1::VisitEnded(const TVisitOutcome& outcome) {
  if (visits_.empty()) return;
  const TVisitMade visit = visits_.front();
  visits_.pop_front();
  const bool was_failing = history_.Failing();
  ReportVisit(visit, outcome, history_.Add(visit, outcome));
  // The last visit made, whose request never went out, is tried again, if
  // the try comes before the next period's visit.
  if (visits_.empty() && MayBeTriedAgain(outcome)) {
    const auto delay = RetryDelay(retries_);
    const auto next = Timer1->TimeToNextTick();
    if (!next || delay < *next) {
      ++retries_;
      if (visit.by != TVisitBy::kRetry) retry_resets_indicator_ = visit.by != TVisitBy::kRun;
      retry_at_ = wxDateTime::Now() + wxTimeSpan::Milliseconds(delay.count());
      retry_.StartOnce(static_cast<int>(delay.count()));
      CallWhenTheNetworkComesBack([this] { RetryVisit(); });
    }
  }
  // The person at the desktop hears when visits start failing and when the
  // page answers again, once each time (not of a visit the closing window ended).
  if (history_.Failing() != was_failing && outcome.kind != TVisitOutcome::Kind::kStopped)
    notifier_.Show(Application->GetTitle(),
                   (was_failing ? L"ページの応答が戻りました。\n" : L"ページの訪問に失敗しました。\n") +
                       VisitInJapanese(visit, outcome, TTelling::kInFull));
  QueueVisitStatus();
}

void TForm1::QueueVisitStatus() {
  if (!status_update_.IsRunning()) status_update_.StartOnce(kStatusUpdateMilliseconds);
}

void TForm1::ShowVisitStatus() {
  const auto wait = Timer1->TimeToNextTick();
  const TDateTime next = wxDateTime::Now() + wxTimeSpan::Milliseconds(wait ? wait->count() : 0);
  const wxDateTime* retry = retry_at_.IsValid() ? &retry_at_ : nullptr;
  // Whole words only: what the strip cannot hold is left to its tip.
  const int room = Label5->GetClientSize().x;
  Label5->SetLabel(history_.StatusLine(wait ? &next : nullptr, retry, [&](const wxString& text) {
    return Label5->GetTextExtent(text).x <= room;
  }));
  Label5->SetToolTip(history_.Tip());
  TellTheServiceManagerStatus(history_.ServiceStatus(wait ? &next : nullptr, retry));
}
