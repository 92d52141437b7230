// app/ holds the window and its shell: the entry function, the application
// object, this main window with its layout, the command line, the icon, the
// theme, the stop signals, the clock and the timer. It may use every other part.
//
// The main window. Its controls are the program's whole state; the handlers
// live with the subsystem that owns them (settings/, visit/).
#pragma once

#include <wx/checkbox.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <deque>

#include "app/desktop_notification.h"
#include "app/timer.h"
#include "pane/web_browser.h"
#include "visit/visit_history.h"

// What becomes of the window once OnClose has run.
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

class TForm1 : public wxFrame {
 public:
  explicit TForm1(wxWindow* owner);
  ~TForm1() override;

  wxTextCtrl* Edit1;
  wxTextCtrl* Edit2;
  wxTextCtrl* Edit3;
  wxCheckBox* CheckBox1;
  wxButton* Button1;
  TCppWebBrowser* WebBrowser1;
  TTimer* Timer1;
  wxStaticText* Label1;
  wxStaticText* Label2;
  wxStaticText* Label3;
  wxStaticText* Label4;
  wxStaticText* Label5;  // the status line: the last visit and the next

  void Button1Click(wxObject* Sender);
  void Timer1Timer(wxObject* Sender);
  void FormCreate(wxObject* Sender);
  void FormClose(wxObject* Sender, TCloseAction& Action);

  // Steps the handlers share.
  void VisitPage(bool resetIndicatorOnDayVisit, TVisitBy by);
  // The machine has woken from sleep: the visit whose time passed meanwhile
  // is made now.
  void Woke();
  // Another try of the last visit, whose request never went out, and the
  // end of the tries (a visit of the next period is made).
  void RetryVisit();
  void CancelRetry();
  void LoadSettings();
  void SaveSettings();
  void ApplyDefaults();
  // For a close that cannot be refused while the minutes box holds no number:
  // the rest is saved with the period last saved.
  void SaveSettingsWithTheStoredPeriod();
  // A visit the pane has ended: its line in the record, and the status line.
  void VisitEnded(const TVisitOutcome& outcome);
  // Shows the last visit and when the next will be; a little later, for
  // QueueVisitStatus.
  void ShowVisitStatus();
  void QueueVisitStatus();

  // Presses Run as a person would, once the event loop runs (hpvisit --run).
  void QueueRunPress();

  // The window's own colour, also the check box's colour outside night visits.
  static wxColour BtnFace();

 private:
  void OnCloseWindow(wxCloseEvent& event);
  wxPanel* client_;
  // Visits the pane has not yet ended, oldest first (the pane ends them in order).
  std::deque<TVisitMade> visits_;
  TVisitHistory history_;
  // Visits ending in quick succession change the status line once.
  wxTimer status_update_;
  // The next try of a visit whose request never went out: when (invalid
  // while none waits), how many were made, and whether the visit was the
  // timer's (visit/retry.h).
  wxTimer retry_;
  wxDateTime retry_at_;
  int retries_ = 0;
  bool retry_resets_indicator_ = false;
  TDesktopNotifier notifier_;
};

extern TForm1* Form1;
