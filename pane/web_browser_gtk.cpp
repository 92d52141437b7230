// The browser pane on WebKitGTK.
#include "pane/web_browser.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#include "pane/engine_folders.h"
#include "pane/engine_memory.h"
#include "pane/sandbox.h"
#include "pane/web_dialogs.h"
#include "pane/with_scheme.h"

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
    RefuseDownloads(ctx);
    return ctx;
  }();
  return context;
}

// What kind of failure a failed load was.
TVisitOutcome::Kind KindOf(const GError* error) {
  using Kind = TVisitOutcome::Kind;
  if (error->domain == G_RESOLVER_ERROR) return Kind::kUnresolved;
  if (error->domain == G_TLS_ERROR) return Kind::kCertificate;
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CONNECTION_REFUSED:
        return Kind::kRefused;
      case G_IO_ERROR_CONNECTION_CLOSED:
      case G_IO_ERROR_PARTIAL_INPUT:
        return Kind::kReset;
      default:
        break;
    }
  }
  return Kind::kFailed;
}

}  // namespace

struct TCppWebBrowser::Engine {
  using Clock = std::chrono::steady_clock;
  using Kind = TVisitOutcome::Kind;

  // The visit under way, from Navigate to its end.
  struct Visit {
    std::string requested;
    Clock::time_point began;
    int loads_before = 0;    // loads asked for before it that the engine has yet to start
    bool started = false;    // the engine has started loading it
    bool restarted = false;  // started again after losing its web process
    int status = 0;          // its answer's HTTP status, once the answer came
    std::string address;     // where it ended up, once the answer came
  };

  WebKitWebView* view;
  TCppWebBrowser* owner;
  std::optional<Visit> visit = {};
  // The engine starts the loads it is asked for in their order, each with
  // its own events, from start to finish: loads asked for and not yet started.
  int loads_to_start = 0;
  // The web processes' memory, watched while the pane lives.
  TMemoryWatch memory = {};

  void Load(const char* uri) {
    ++loads_to_start;
    webkit_web_view_load_uri(view, uri);
  }

  void LoadVisit() {
    visit->loads_before = loads_to_start;
    visit->started = false;
    Load(visit->requested.c_str());
  }

  // The visit under way has ended: it is reported once.
  void End(Kind kind, const std::string& detail = {}) {
    if (!visit) return;
    TVisitOutcome outcome;
    outcome.kind = kind;
    outcome.status = visit->status;
    outcome.requested = wxString::FromUTF8(visit->requested);
    outcome.address = wxString::FromUTF8(visit->address.empty() ? visit->requested : visit->address);
    outcome.detail = wxString::FromUTF8(detail);
    outcome.milliseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - visit->began).count());
    visit.reset();
    if (owner->OnVisitEnded) owner->OnVisitEnded(outcome);
  }

  static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, Engine* self) {
    if (event == WEBKIT_LOAD_STARTED) {
      self->loads_to_start = std::max(self->loads_to_start - 1, 0);
      self->memory.FindProcesses();  // one may be new
    }
    // Events of the loads before may still arrive after Navigate; only those
    // from this visit's own start on speak of it.
    if (!self->visit) return;
    if (event == WEBKIT_LOAD_STARTED && !self->visit->started)
      self->visit->started = self->visit->loads_before-- == 0;
    else if (event == WEBKIT_LOAD_FINISHED && self->visit->started)
      self->Finished();
  }

  // A web address that finished with no answer was never asked for: the
  // engine refused to (a port it keeps browsers from, such as 9 or 6000).
  void Finished() {
    const bool web = g_str_has_prefix(visit->requested.c_str(), "http://") ||
                     g_str_has_prefix(visit->requested.c_str(), "https://");
    if (web && visit->status == 0) return End(Kind::kFailed, "the engine would not load it");
    End(Kind::kResponse);
  }

  // The answer to the page itself (not to its images, frames or scripts): the
  // visit has been made, whatever becomes of the rest of it.
  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, Engine* self) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE || !self->visit || !self->visit->started)
      return FALSE;
    auto* response_decision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    if (!webkit_response_policy_decision_is_main_frame_main_resource(response_decision)) return FALSE;
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(response_decision);
    self->visit->status = static_cast<int>(webkit_uri_response_get_status_code(response));
    self->visit->address = webkit_uri_response_get_uri(response);
    return FALSE;  // decided elsewhere (pane/web_dialogs.h)
  }

  // A visit asked for just as one of the engine's processes died can be lost
  // with it: start it once more in the new process. Only once, so that a page
  // that makes a process crash does not make it crash again and again, and
  // only while no answer has come: one that came means the visit was made.
  bool RestartOnce() {
    if (!visit || visit->restarted || visit->status != 0) return false;
    visit->restarted = true;
    LoadVisit();
    return true;
  }

  static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                     Engine* self) {
    self->memory.Forget();
    self->loads_to_start = 0;  // those the process had not started are gone with it
    // A page that took more memory than allowed is not loaded again: its
    // visit was made, and ends here.
    const bool for_memory = self->memory.TakeEnded() && self->visit && self->visit->started;
    if (for_memory || !self->RestartOnce()) self->End(Kind::kEngineEnded);
  }

  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error,
                               Engine* self) {
    if (!self->visit) return FALSE;
    // The process that makes the requests has no signal of its own: a visit
    // lost with it fails with the engine's internal error.
    if (std::strcmp(g_quark_to_string(error->domain), kEngineErrorDomain) == 0 &&
        error->code == kInternalError) {
      if (!self->RestartOnce()) self->End(Kind::kEngineEnded);
      return TRUE;  // no error page in the way of the visit made again
    }
    // Cancelled: replaced by the next visit, which has ended this one.
    if (!self->visit->started || g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
      return FALSE;
    // An answer that came, and was not shown (a download refused): the visit was made.
    if (self->visit->status != 0) {
      self->End(Kind::kResponse);
    } else {
      self->End(KindOf(error), error->message);
    }
    return TRUE;  // handled: the status line says what went wrong; no error page is loaded
  }

  static gboolean OnTlsErrors(WebKitWebView*, gchar*, GTlsCertificate*, GTlsCertificateFlags,
                              Engine* self) {
    self->End(Kind::kCertificate);
    return TRUE;  // handled: no error page
  }

  // A page whose script never ends holds its web process, and with it every
  // later visit. When the engine finds the process not answering while a
  // visit waits for it to begin, the process is ended, and the visit starts
  // again in a new one (once, as after a crash). The page that holds the
  // process is left alone until then: its own visit has begun.
  void EndIfStuck() {
    if (visit && !visit->started && !visit->restarted &&
        !webkit_web_view_get_is_web_process_responsive(view))
      webkit_web_view_terminate_web_process(view);
  }

  static void OnResponsivenessChanged(WebKitWebView*, GParamSpec*, Engine* self) {
    self->EndIfStuck();
  }

  // The web process is started as soon as the pane is on screen, with a
  // blank page, so that the first visit does not wait for it.
  static void OnFirstMap(GtkWidget* widget, Engine* self) {
    g_signal_handlers_disconnect_by_func(widget, reinterpret_cast<gpointer>(&OnFirstMap), self);
    if (!webkit_web_view_get_uri(self->view)) self->Load(kBlank);
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

  // The answer is seen before it is decided on (and perhaps refused).
  g_signal_connect(view, "decide-policy", G_CALLBACK(Engine::OnDecidePolicy), engine);
  AnswerWithoutShowing(view, &Silent);
  g_signal_connect(view, "load-changed", G_CALLBACK(Engine::OnLoadChanged), engine);
  g_signal_connect(view, "load-failed-with-tls-errors", G_CALLBACK(Engine::OnTlsErrors), engine);
  g_signal_connect(view, "map", G_CALLBACK(Engine::OnFirstMap), engine);
  g_signal_connect(view, "load-failed", G_CALLBACK(Engine::OnLoadFailed), engine);
  g_signal_connect(view, "notify::is-web-process-responsive",
                   G_CALLBACK(Engine::OnResponsivenessChanged), engine);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(Engine::OnWebProcessTerminated),
                   engine);

  gtk_widget_show(GTK_WIDGET(view));
  Create(parent, id, GTK_WIDGET(view));
  SetSize(wxRect(pos, size));
}

TCppWebBrowser::~TCppWebBrowser() {
  g_signal_handlers_disconnect_by_data(engine_->view, engine_.get());
  g_signal_handlers_disconnect_by_data(engine_->view, &Silent);
}

void TCppWebBrowser::Prepare() {
  UsePrivateFolders();
  StartSandboxTrial();
}

void TCppWebBrowser::Navigate(const wxString& url) {
  Engine& engine = *engine_;
  if (engine.visit) engine.End(engine.visit->status != 0 ? Engine::Kind::kCutShort : Engine::Kind::kNoAnswer);
  engine.memory.TakeEnded();  // a process ended now takes this visit with it: made again
  engine.visit = Engine::Visit{WithScheme(url.utf8_string()), Engine::Clock::now()};
  engine.LoadVisit();
  engine.EndIfStuck();  // found not answering before this visit
}

wxString TCppWebBrowser::LocationURL() const {
  const char* uri = webkit_web_view_get_uri(engine_->view);
  return uri && std::strcmp(uri, kBlank) != 0 ? wxString::FromUTF8(uri) : wxString();
}
