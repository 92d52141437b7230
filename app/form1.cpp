// The main window's layout and event wiring.
#include "app/form1.h"

#include <algorithm>

#include <wx/settings.h>

#include "app/icon.h"
#include "app/system_events.h"

TForm1* Form1 = nullptr;

namespace {

const wxString kCaption = L"TAVIK支援　ＨＰ定期訪問";
const wxString kExampleAddress = "http://example.jp/a.php";

// The layout's face, else a metric-compatible one, else the system's sans
// face (which fontconfig completes with a Japanese font). The text engine
// takes the first of the list that exists.
wxFont LayoutFont() {
  // 12-pixel characters at the layout's 96 pixels per inch: 9 points. (A pixel
  // size would be taken as the line's height, leading included, by the toolkit.)
  return wxFont(wxFontInfo(9).FaceName(L"ＭＳ Ｐゴシック,IPAPGothic,Sans"));
}

// Puts a control where the layout says. A control keeps its place, and is
// only made larger where the theme needs more room to show its text whole.
// The layout is in pixels at 96 per inch; on a display scaled to 125 % or 150 %
// it grows with the text (FromDIP; GTK scales by itself, and there it changes nothing).
void Place(wxWindow* control, int left, int top, int width, int height, bool may_widen) {
  const wxPoint at = control->FromDIP(wxPoint(left, top));
  const wxSize size = control->FromDIP(wxSize(width, height));
  const wxSize best = control->GetBestSize();
  control->SetSize(at.x, at.y, may_widen ? std::max(size.x, best.x) : size.x,
                   std::max(size.y, best.y));
}

}  // namespace

wxColour TForm1::BtnFace() { return wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE); }

TForm1::TForm1(wxWindow* owner)
    : wxFrame(owner, wxID_ANY, kCaption, wxPoint(291, 142), wxDefaultSize) {
  SetIcon(ApplicationIcon());
  SetFont(LayoutFont());
  // The theme's colours, asked once: otherwise the frame asks the theme again
  // at every redraw of the page in the pane.
  const wxVisualAttributes theme = GetDefaultAttributes();
  SetOwnBackgroundColour(theme.colBg);
  SetOwnForegroundColour(theme.colFg);
  client_ = new wxPanel(this);
  client_->SetBackgroundColour(BtnFace());
  SetClientSize(FromDIP(wxSize(788, 495)));

  // Created in this order: the tab order of the focusable controls follows it.
  Label1 = new wxStaticText(client_, wxID_ANY, L"ＵＲＬ記述　昼用　例）" + kExampleAddress);
  Label2 = new wxStaticText(client_, wxID_ANY, L"ＵＲＬ記述　夜用　例）" + kExampleAddress);
  Label3 = new wxStaticText(client_, wxID_ANY, L"分　（間隔）");
  Label4 = new wxStaticText(client_, wxID_ANY, L"訪問したＨＰの表示");
  // In the strip under the pane: it moves nothing, and long text is cut short.
  Label5 = new wxStaticText(client_, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                            wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
  Edit1 = new wxTextCtrl(client_, wxID_ANY, "Edit1");
  Edit2 = new wxTextCtrl(client_, wxID_ANY, "Edit2");
  Edit3 = new wxTextCtrl(client_, wxID_ANY, "Edit3");
  CheckBox1 = new wxCheckBox(client_, wxID_ANY, L"夜間訪問　0:00 ～6:59");
  Button1 = new wxButton(client_, wxID_ANY, L"実行");
  WebBrowser1 = new TCppWebBrowser(client_, wxID_ANY, FromDIP(wxPoint(16, 136)),
                                   FromDIP(wxSize(713, 313)));
  Timer1 = new TTimer(this, wxID_ANY);

  Place(Label1, 16, 16, 236, 12, true);
  Place(Edit1, 16, 32, 425, 20, false);
  Place(Label3, 464, 16, 56, 12, true);
  Place(Edit2, 464, 32, 57, 20, false);
  Place(Button1, 616, 32, 75, 25, false);
  Place(Label2, 16, 64, 236, 12, true);
  Place(Edit3, 16, 80, 425, 20, false);
  Place(CheckBox1, 464, 80, 177, 17, true);
  Place(Label4, 16, 112, 98, 12, true);
  Place(Label5, 16, 460, 713, 12, false);
  CheckBox1->SetBackgroundColour(BtnFace());

  Button1->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Button1Click(Button1); });
  WebBrowser1->OnVisitEnded = [this](const TVisitOutcome& outcome) { VisitEnded(outcome); };
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Timer1Timer(Timer1); }, Timer1->GetId());
  status_update_.SetOwner(this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { ShowVisitStatus(); }, status_update_.GetId());
  retry_.SetOwner(this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { RetryVisit(); }, retry_.GetId());
  CallOnWaking(this, [this] { Woke(); });
  Bind(wxEVT_CLOSE_WINDOW, &TForm1::OnCloseWindow, this);
  Timer1->SetInterval(60000);
  Timer1->SetEnabled(true);

  // The whole layout exists: OnCreate.
  FormCreate(this);
  ShowVisitStatus();
}

TForm1::~TForm1() {
  CancelRetry();
  delete Timer1;
}

void TForm1::QueueRunPress() {
  auto* click = new wxCommandEvent(wxEVT_BUTTON, Button1->GetId());
  click->SetEventObject(Button1);
  Button1->GetEventHandler()->QueueEvent(click);
}

void TForm1::OnCloseWindow(wxCloseEvent& event) {
  TCloseAction action = TCloseAction::caFree;
  try {
    FormClose(this, action);
  } catch (...) {
    // The window stays open with everything in it. Only a close that cannot
    // be refused (the system stopping the program) goes on, and saves what it can.
    if (event.CanVeto()) {
      event.Veto();
      throw;
    }
    SaveSettingsWithTheStoredPeriod();
  }
  if (action == TCloseAction::caNone && event.CanVeto()) {
    event.Veto();
    return;
  }
  WebBrowser1->Stop();  // a visit under way gets its line
  event.Skip();  // the frame's own handler destroys the window
}
