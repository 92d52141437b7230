// The browser pane on Windows: the system's browser control (MSHTML), held by
// the toolkit's IE web view inside the pane's own window. Nothing is written
// to the registry: the control runs at the emulation level it has.
#include "app/web_browser.h"

#include <windows.h>

#include <exdisp.h>
#include <exdispid.h>
#include <oleauto.h>

#include <wx/msw/ole/activex.h>
#include <wx/webview.h>

namespace {

constexpr wchar_t kBlank[] = L"about:blank";
// A visit neither reads the control's cache nor writes to it, nor to its history.
constexpr long kVisitFlags = navNoHistory | navNoReadFromCache | navNoWriteToCache;

bool IsBoolReference(const VARIANTARG& argument) { return argument.vt == (VT_BYREF | VT_BOOL); }

}  // namespace

struct TCppWebBrowser::Engine {
  wxWebView* view = nullptr;
  IWebBrowser2* browser = nullptr;  // the view's own control; null if it could not start

  // The control's events, before the web view's own handler sees them.
  void OnControlEvent(wxActiveXEvent& event) {
    const DISPPARAMS* params = event.GetNativeParameters()->pDispParams;
    switch (event.GetDispatchId()) {
      case DISPID_NEWWINDOW2:  // (IDispatch** window, VARIANT_BOOL* cancel)
        // window.open and target=_blank make no window (the web view refuses
        // the later NewWindow3 too).
        if (params->cArgs == 2 && IsBoolReference(params->rgvarg[0]))
          *params->rgvarg[0].pboolVal = VARIANT_TRUE;
        break;
      case DISPID_FILEDOWNLOAD:  // (VARIANT_BOOL active_document, VARIANT_BOOL* cancel)
        // A response that is not a page to show would be a download, with the
        // control's own prompt: refused before the prompt.
        if (params->cArgs == 2 && IsBoolReference(params->rgvarg[0]) &&
            params->rgvarg[1].vt == VT_BOOL && params->rgvarg[1].boolVal == VARIANT_FALSE)
          *params->rgvarg[0].pboolVal = VARIANT_TRUE;
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
  IWebBrowser2* browser = engine_->browser;
  if (!browser) return;
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
  browser->Navigate2(&address, &flags, &none, &none, &none);
  ::VariantClear(&address);
}

wxString TCppWebBrowser::LocationURL() const {
  BSTR location = nullptr;
  if (!engine_->browser || FAILED(engine_->browser->get_LocationURL(&location)) || !location)
    return {};
  const wxString url(location, ::SysStringLen(location));
  ::SysFreeString(location);
  return url == kBlank ? wxString() : url;
}
