// The browser pane on WebKitGTK: the view, its engine's settings, and the
// events it follows (pane/engine_events_gtk.h).
#include "pane/web_browser.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstring>

#include "pane/engine_events_gtk.h"
#include "pane/engine_folders.h"
#include "pane/sandbox.h"
#include "pane/web_dialogs.h"
#include "pane/with_scheme.h"

namespace {

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

// The engine's view, in the pane's holder: made once the window is on screen
// (or by the first visit, if that comes first), since the engine's context
// and view take longer to make than the whole window.
WebKitWebView* View(TCppWebBrowser::Engine& engine) {
  if (engine.view) return engine.view;
  WebKitWebView* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(SharedContext()));
  engine.view = view;

  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  webkit_settings_set_enable_page_cache(settings, FALSE);

  using Engine = TCppWebBrowser::Engine;
  Engine* self = &engine;
  // Seen before they are answered (pane/web_dialogs.h).
  g_signal_connect(view, "decide-policy", G_CALLBACK(Engine::OnDecidePolicy), self);
  g_signal_connect(view, "authenticate", G_CALLBACK(Engine::OnAuthenticate), self);
  AnswerWithoutShowing(view, &engine.owner->Silent);
  g_signal_connect(view, "resource-load-started", G_CALLBACK(Engine::OnResourceLoadStarted), self);
  g_signal_connect(view, "load-changed", G_CALLBACK(Engine::OnLoadChanged), self);
  g_signal_connect(view, "notify::is-loading", G_CALLBACK(Engine::OnLoadingChanged), self);
  g_signal_connect(view, "load-failed", G_CALLBACK(Engine::OnLoadFailed), self);
  g_signal_connect(view, "load-failed-with-tls-errors", G_CALLBACK(Engine::OnTlsErrors), self);
  g_signal_connect(view, "map", G_CALLBACK(Engine::OnFirstMap), self);
  g_signal_connect(view, "notify::is-web-process-responsive",
                   G_CALLBACK(Engine::OnResponsivenessChanged), self);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(Engine::OnWebProcessTerminated), self);

  gtk_box_pack_start(GTK_BOX(engine.owner->GetHandle()), GTK_WIDGET(view), TRUE, TRUE, 0);
  gtk_widget_show(GTK_WIDGET(view));
  return view;
}

}  // namespace

TCppWebBrowser::TCppWebBrowser(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                               const wxSize& size)
    : engine_(new Engine{nullptr, this}) {
  GtkWidget* holder = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_show(holder);
  Create(parent, id, holder);
  SetSize(wxRect(pos, size));
  g_signal_connect(holder, "map", G_CALLBACK(+[](GtkWidget* widget, Engine* engine) {
    g_signal_handlers_disconnect_by_data(widget, engine);
    engine->making_view = g_idle_add(
        [](gpointer data) {
          auto* engine = static_cast<Engine*>(data);
          engine->making_view = 0;
          View(*engine);
          return gboolean(G_SOURCE_REMOVE);
        },
        engine);
  }), engine_.get());
}

TCppWebBrowser::~TCppWebBrowser() {
  for (const guint source : {engine_->making_view, engine_->first_load})
    if (source) g_source_remove(source);
  engine_->Unbind();
  if (!engine_->view) return;
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
  engine.visit.emplace();
  engine.visit->typed = WithScheme(url.utf8_string());
  engine.visit->began = Engine::Clock::now();
  View(engine);
  engine.LoadVisit();
  engine.EndIfStuck();  // found not answering before this visit
}

void TCppWebBrowser::Stop() { engine_->End(Engine::Kind::kStopped); }

wxString TCppWebBrowser::LocationURL() const {
  const char* uri = engine_->view ? webkit_web_view_get_uri(engine_->view) : nullptr;
  return uri && std::strcmp(uri, Engine::kBlank) != 0 ? wxString::FromUTF8(uri) : wxString();
}

