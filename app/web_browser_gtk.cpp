// The browser pane on WebKitGTK.
#include "app/web_browser.h"

#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <cstring>
#include <string>

#include "app/engine_folders.h"
#include "app/engine_memory.h"
#include "app/sandbox.h"
#include "app/with_scheme.h"

namespace {

constexpr char kBlank[] = "about:blank";
// The engine's own "internal error", as a failed load reports it.
constexpr char kEngineErrorDomain[] = "WebKitErrorDomain";
constexpr int kInternalError = 300;

// One engine context for the process: in memory only, no cache.
WebKitWebContext* SharedContext() {
  static WebKitWebContext* context = [] {
    WebKitWebContext* ctx = webkit_web_context_new_ephemeral();
    webkit_web_context_set_cache_model(ctx, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    webkit_web_context_set_sandbox_enabled(ctx, SandboxCanRun());
    webkit_website_data_manager_set_tls_errors_policy(
        webkit_web_context_get_website_data_manager(ctx), WEBKIT_TLS_ERRORS_POLICY_FAIL);
    // A download is never wanted: nothing but the settings file is written.
    g_signal_connect(ctx, "download-started",
                     G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download, gpointer) {
                       webkit_download_cancel(download);
                     }),
                     nullptr);
    return ctx;
  }();
  return context;
}

bool IsAttachment(WebKitURIResponse* response) {
  SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
  if (!headers) return false;
  const char* disposition = soup_message_headers_get_one(headers, "Content-Disposition");
  if (!disposition) return false;
  while (g_ascii_isspace(*disposition)) ++disposition;
  return g_ascii_strncasecmp(disposition, "attachment", 10) == 0;
}

gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer) {
  switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
      webkit_policy_decision_ignore(decision);  // target=_blank, window.open
      return TRUE;
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
      auto* response_decision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
      if (!webkit_response_policy_decision_is_mime_type_supported(response_decision) ||
          IsAttachment(webkit_response_policy_decision_get_response(response_decision))) {
        webkit_policy_decision_ignore(decision);  // it would be a download
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

struct TCppWebBrowser::Engine {
  WebKitWebView* view;
  TCppWebBrowser* owner;
  // The address of a visit not yet finished; whether the engine has started
  // loading it; whether it was started again after losing its web process.
  std::string pending = {};
  bool started = false;
  bool restarted = false;
  // The web processes' memory, watched while the pane lives.
  TMemoryWatch memory = {};

  void Load(const std::string& url) {
    pending = url;
    started = false;
    webkit_web_view_load_uri(view, url.c_str());
  }

  static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, Engine* self) {
    // Events of the load before may still arrive after Navigate; only those
    // after this visit's own start speak of it.
    if (event == WEBKIT_LOAD_STARTED) {
      self->started = true;
      self->memory.FindProcesses();
    }
    if (event == WEBKIT_LOAD_FINISHED && self->started) self->pending.clear();
  }

  // A visit asked for just as one of the engine's processes died can be lost
  // with it: start it once more in the new process. Only once, so that a page
  // that makes a process crash does not make it crash again and again.
  bool RestartOnce() {
    if (pending.empty() || restarted) return false;
    restarted = true;
    Load(pending);
    return true;
  }

  static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                     Engine* self) {
    self->memory.Forget();
    // A page that took more memory than allowed is not loaded again: its
    // visit was made, and ends here.
    if (self->memory.TakeEnded() && self->started)
      return self->pending.clear();
    self->RestartOnce();
  }

  // The process that makes the requests has no signal of its own: a visit
  // lost with it fails with the engine's internal error.
  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error,
                               Engine* self) {
    const bool lost = std::strcmp(g_quark_to_string(error->domain), kEngineErrorDomain) == 0 &&
                      error->code == kInternalError;
    return lost && self->RestartOnce();  // restarted: no error page in its way
  }

  // A page whose script never ends holds its web process, and with it every
  // later visit. When the engine finds the process not answering while a
  // visit waits for it to begin, the process is ended, and the visit starts
  // again in a new one (once, as after a crash). The page that holds the
  // process is left alone until then: its own visit has begun.
  void EndIfStuck() {
    if (!pending.empty() && !started && !restarted &&
        !webkit_web_view_get_is_web_process_responsive(view))
      webkit_web_view_terminate_web_process(view);
  }

  static void OnResponsivenessChanged(WebKitWebView*, GParamSpec*, Engine* self) {
    self->EndIfStuck();
  }

  bool silent() const { return owner->Silent; }

  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, Engine* self) {
    if (!self->silent()) return FALSE;
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
      case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
        break;
      case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);  // never hold up the next visit
        break;
      default:  // alert; a prompt keeps its default answer
        break;
    }
    return TRUE;
  }

  static gboolean OnAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request,
                                 Engine* self) {
    if (!self->silent()) return FALSE;
    webkit_authentication_request_cancel(request);
    return TRUE;
  }

  static gboolean OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request,
                                      Engine* self) {
    if (!self->silent()) return FALSE;
    webkit_permission_request_deny(request);
    return TRUE;
  }

  static gboolean OnFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, Engine* self) {
    if (!self->silent()) return FALSE;
    webkit_file_chooser_request_cancel(request);
    return TRUE;
  }

  static gboolean OnPrint(WebKitWebView*, WebKitPrintOperation*, Engine* self) {
    return self->silent();  // handled: no print dialog
  }

  // The web process is started as soon as the pane is on screen, with a
  // blank page, so that the first visit does not wait for it.
  static void OnFirstMap(GtkWidget* widget, Engine* self) {
    g_signal_handlers_disconnect_by_func(widget, reinterpret_cast<gpointer>(&OnFirstMap), self);
    if (!webkit_web_view_get_uri(self->view)) webkit_web_view_load_uri(self->view, kBlank);
  }

  static gboolean OnShowNotification(WebKitWebView*, WebKitNotification*, Engine* self) {
    return self->silent();
  }
};

TCppWebBrowser::TCppWebBrowser(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                               const wxSize& size)
    : engine_(new Engine{nullptr, this}) {
  WebKitWebView* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(SharedContext()));
  Engine* engine = engine_.get();
  engine->view = view;

  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  webkit_settings_set_enable_page_cache(settings, FALSE);

  g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecidePolicy), nullptr);
  g_signal_connect(view, "script-dialog", G_CALLBACK(Engine::OnScriptDialog), engine);
  g_signal_connect(view, "authenticate", G_CALLBACK(Engine::OnAuthenticate), engine);
  g_signal_connect(view, "permission-request", G_CALLBACK(Engine::OnPermissionRequest), engine);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(Engine::OnFileChooser), engine);
  g_signal_connect(view, "print", G_CALLBACK(Engine::OnPrint), engine);
  g_signal_connect(view, "show-notification", G_CALLBACK(Engine::OnShowNotification), engine);
  g_signal_connect(view, "load-changed", G_CALLBACK(Engine::OnLoadChanged), engine);
  g_signal_connect(view, "map", G_CALLBACK(Engine::OnFirstMap), engine);
  g_signal_connect(view, "load-failed", G_CALLBACK(Engine::OnLoadFailed), engine);
  g_signal_connect(view, "notify::is-web-process-responsive",
                   G_CALLBACK(Engine::OnResponsivenessChanged), engine);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(Engine::OnWebProcessTerminated),
                   engine);
  // "create" (window.open) and "close" (window.close) are left unanswered:
  // no window is made and none is closed.

  gtk_widget_show(GTK_WIDGET(view));
  Create(parent, id, GTK_WIDGET(view));
  SetSize(wxRect(pos, size));
}

TCppWebBrowser::~TCppWebBrowser() {
  g_signal_handlers_disconnect_by_data(engine_->view, engine_.get());
}

void TCppWebBrowser::Prepare() {
  UsePrivateFolders();
  StartSandboxTrial();
}

void TCppWebBrowser::Navigate(const wxString& url) {
  engine_->restarted = false;
  engine_->memory.TakeEnded();  // a process ended now takes this visit with it: made again
  engine_->Load(WithScheme(url.utf8_string()));
  engine_->EndIfStuck();  // found not answering before this visit
}

wxString TCppWebBrowser::LocationURL() const {
  const char* uri = webkit_web_view_get_uri(engine_->view);
  return uri && std::strcmp(uri, kBlank) != 0 ? wxString::FromUTF8(uri) : wxString();
}
