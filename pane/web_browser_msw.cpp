// The browser pane on Windows: the system's browser control (MSHTML), held by
// the toolkit's IE web view inside the pane's own window. Nothing is written
// to the registry: the control runs at the emulation level it has.
#include "pane/web_browser.h"

#include <windows.h>

#include <exdisp.h>
#include <exdispid.h>
#include <oleauto.h>

#include <chrono>
#include <cstdio>
#include <optional>

#include <wx/msw/ole/activex.h>
#include <wx/webview.h>

#include "pane/navigation_errors.h"

namespace {

constexpr wchar_t kBlank[] = L"about:blank";
// A visit neither reads the control's cache nor writes to it, nor to its history.
constexpr long kVisitFlags = navNoHistory | navNoReadFromCache | navNoWriteToCache;

bool IsBoolReference(const VARIANTARG& argument) { return argument.vt == (VT_BYREF | VT_BOOL); }

// An event's argument, or the variant it refers to.
const VARIANT& Value(const VARIANTARG& argument) {
  return argument.vt == (VT_BYREF | VT_VARIANT) && argument.pvarVal ? *argument.pvarVal : argument;
}

// A text argument, without the blanks around it.
wxString Text(const VARIANTARG& argument) {
  const VARIANT& value = Value(argument);
  wxString text = value.vt == VT_BSTR && value.bstrVal ? wxString(value.bstrVal) : wxString();
  return text.Trim(true).Trim(false);
}

}  // namespace

struct TCppWebBrowser::Engine {
  using Clock = std::chrono::steady_clock;
  using Kind = TVisitOutcome::Kind;

  // The visit under way, from Navigate to its end.
  struct Visit {
    unsigned long number = 0;  // which visit of the pane's
    TVisitOutcome outcome;
    Clock::time_point began;
    bool started = false;   // the control has begun navigating to it
    bool answered = false;  // its answer came (the page is being shown)
    wxString asked;         // its address as the control wrote it when it began
  };

  TCppWebBrowser* owner = nullptr;
  wxWebView* view = nullptr;
  IWebBrowser2* browser = nullptr;  // the view's own control; null if it could not start
  std::optional<Visit> visit;
  unsigned long visits = 0;  // made so far

  // The visit under way has ended: it is reported once.
  void End(Kind kind) {
    if (!visit) return;
    TVisitOutcome outcome = visit->outcome;
    outcome.kind = kind;
    outcome.milliseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - visit->began).count());
    visit.reset();
    if (owner->OnVisitEnded) owner->OnVisitEnded(outcome);
  }

  // The visit `number`, if still under way with no answer and no error, was
  // answered with nothing to show, once the control has stopped.
  void EndIfTheControlHasStopped(unsigned long number) {
    VARIANT_BOOL busy = VARIANT_TRUE;
    if (visit && visit->number == number && !visit->answered && browser &&
        SUCCEEDED(browser->get_Busy(&busy)) && busy == VARIANT_FALSE)
      End(Kind::kResponse);
  }

  // Whether an event is of the page itself, not of a frame in it.
  bool IsPage(const VARIANTARG& argument) const {
    const VARIANT& value = Value(argument);
    if (value.vt != VT_DISPATCH || !value.pdispVal || !browser) return false;
    IUnknown* of_event = nullptr;
    IUnknown* of_page = nullptr;
    value.pdispVal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&of_event));
    browser->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&of_page));
    const bool same = of_event && of_event == of_page;
    if (of_event) of_event->Release();
    if (of_page) of_page->Release();
    return same;
  }

  // The control's events, before the web view's own handler sees them.
  void OnControlEvent(wxActiveXEvent& event) {
    const DISPPARAMS* params = event.GetNativeParameters()->pDispParams;
    const UINT count = params->cArgs;
    VARIANTARG* args = params->rgvarg;  // in reverse order
    switch (event.GetDispatchId()) {
      case DISPID_NEWWINDOW2:  // (IDispatch** window, VARIANT_BOOL* cancel)
        // window.open and target=_blank make no window (the web view refuses
        // the later NewWindow3 too).
        if (count == 2 && IsBoolReference(args[0])) *args[0].pboolVal = VARIANT_TRUE;
        break;
      case DISPID_FILEDOWNLOAD:  // (VARIANT_BOOL active_document, VARIANT_BOOL* cancel)
        // A response that is not a page to show would be a download, with the
        // control's own prompt: refused before the prompt. The answer came.
        if (count == 2 && IsBoolReference(args[0]) && args[1].vt == VT_BOOL &&
            args[1].boolVal == VARIANT_FALSE) {
          *args[0].pboolVal = VARIANT_TRUE;
          if (visit && visit->started) End(Kind::kResponse);
        }
        break;
      case DISPID_BEFORENAVIGATE2:  // (page, address, flags, frame, post data, headers, cancel)
        if (visit && !visit->started && count == 7 && IsPage(args[6])) {
          visit->started = true;
          visit->asked = Text(args[5]);
        }
        break;
      case DISPID_NAVIGATECOMPLETE2:  // (page, address): the answer came; the control tells no status
        if (visit && visit->started && count == 2 && IsPage(args[1])) {
          visit->answered = true;
          // Where it ended, if the server sent it elsewhere.
          if (const wxString address = Text(args[0]); address != visit->asked) visit->outcome.address = address;
        }
        break;
      case DISPID_DOWNLOADCOMPLETE:
        // The answer came and there was nothing to show (204 No Content): the
        // control ends the navigation with no other word. But the event names
        // no page, and it also comes when an earlier navigation is halted, once
        // the visit has begun: so it ends the visit only once the control's
        // events of the moment are through, no error ended the visit among
        // them, and the control is no longer busy; else the visit's own
        // events decide.
        if (visit && visit->started && !visit->answered)
          owner->CallAfter([this, number = visit->number] { EndIfTheControlHasStopped(number); });
        break;
      case DISPID_DOCUMENTCOMPLETE:  // (page, address)
        if (visit && visit->answered && count == 2 && IsPage(args[1])) End(Kind::kResponse);
        break;
      case DISPID_NAVIGATEERROR:  // (page, address, frame, status code, cancel)
        if (visit && visit->started && count == 5 && IsPage(args[4])) {
          const VARIANT& code = Value(args[1]);
          DescribeNavigationError(code.vt == VT_I4 ? code.lVal : 0, visit->outcome);
          if (const wxString address = Text(args[3]); !address.empty()) visit->outcome.address = address;
          End(visit->outcome.kind);
        }
        break;
      default:
        break;
    }
    event.Skip();
  }
};

TCppWebBrowser::TCppWebBrowser(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                               const wxSize& size)
    : engine_(new Engine) {
  engine_->owner = this;
  // The pane's own window, which the web view fills.
  HWND host = ::CreateWindowExW(WS_EX_CONTROLPARENT, L"STATIC", L"",
                                WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | SS_NOTIFY, pos.x, pos.y,
                                size.x, size.y, static_cast<HWND>(parent->GetHandle()), nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
  Create(parent, id, host);
  SetSize(wxRect(pos, size));

  Engine* engine = engine_.get();
  engine->view = wxWebView::New(this, wxID_ANY, kBlank, wxPoint(0, 0), GetClientSize(),
                                wxWebViewBackendIE);
  if (engine->view) {
    engine->browser = static_cast<IWebBrowser2*>(engine->view->GetNativeBackend());
    engine->view->Bind(wxEVT_ACTIVEX, &Engine::OnControlEvent, engine);
  }
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    if (engine_->view) engine_->view->SetSize(GetClientSize());
    event.Skip();
  });
}

TCppWebBrowser::~TCppWebBrowser() {
  wxWebView* view = engine_->view;
  if (!view) return;
  if (engine_->browser) engine_->browser->Stop();
  // The toolkit's web view gives the control an event sink that keeps a plain
  // pointer to the web view's container and is never disconnected, and the
  // control still calls it for a visit that was under way when the window
  // closed (under Wine it did, and the program crashed on its way out). So
  // the web view outlives the pane: out of the window, hidden, taking no more
  // events, until the program ends.
  view->Unbind(wxEVT_ACTIVEX, &Engine::OnControlEvent, engine_.get());
  view->Bind(wxEVT_ACTIVEX, [](wxActiveXEvent&) {});  // not skipped: goes no further
  view->Hide();
  RemoveChild(view);
  ::SetParent(static_cast<HWND>(view->GetHandle()), HWND_MESSAGE);
}

// The control needs nothing ahead of the toolkit.
void TCppWebBrowser::Prepare() {}

void TCppWebBrowser::Navigate(const wxString& url) {
  Engine& engine = *engine_;
  if (engine.visit) engine.End(engine.visit->answered ? Engine::Kind::kCutShort : Engine::Kind::kNoAnswer);
  engine.visit = Engine::Visit{};
  engine.visit->number = ++engine.visits;
  engine.visit->began = Engine::Clock::now();
  // As the control takes it: blanks around it (a line feed from the settings file) do not count.
  wxString requested = url;
  engine.visit->outcome.requested = engine.visit->outcome.address = requested.Trim(true).Trim(false);
  IWebBrowser2* browser = engine.browser;
  if (!browser) {
    engine.visit->outcome.detail = "no browser control";
    return engine.End(Engine::Kind::kFailed);
  }
  // On the control itself, before every visit: no script error box, no dialog.
  browser->put_Silent(Silent ? VARIANT_TRUE : VARIANT_FALSE);
  VARIANT address, flags, none;
  ::VariantInit(&address);
  address.vt = VT_BSTR;
  address.bstrVal = ::SysAllocString(url.wc_str());
  ::VariantInit(&flags);
  flags.vt = VT_I4;
  flags.lVal = kVisitFlags;
  ::VariantInit(&none);
  const HRESULT refused = browser->Navigate2(&address, &flags, &none, &none, &none);
  ::VariantClear(&address);
  // A navigation the control refuses ends here, with its reason.
  if (FAILED(refused) && engine.visit) {
    char detail[40];
    std::snprintf(detail, sizeof detail, "error 0x%08lX", static_cast<unsigned long>(refused));
    engine.visit->outcome.detail = detail;
    engine.End(Engine::Kind::kFailed);
  }
}

void TCppWebBrowser::Stop() { engine_->End(Engine::Kind::kStopped); }

wxString TCppWebBrowser::LocationURL() const {
  BSTR location = nullptr;
  if (!engine_->browser || FAILED(engine_->browser->get_LocationURL(&location)) || !location)
    return {};
  const wxString url(location, ::SysStringLen(location));
  ::SysFreeString(location);
  return url == kBlank ? wxString() : url;
}
