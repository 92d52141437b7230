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

}  // namespace

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

  // Seen before they are answered (pane/web_dialogs.h).
  g_signal_connect(view, "decide-policy", G_CALLBACK(Engine::OnDecidePolicy), engine);
  g_signal_connect(view, "authenticate", G_CALLBACK(Engine::OnAuthenticate), engine);
  AnswerWithoutShowing(view, &Silent);
  g_signal_connect(view, "resource-load-started", G_CALLBACK(Engine::OnResourceLoadStarted), engine);
  g_signal_connect(view, "load-changed", G_CALLBACK(Engine::OnLoadChanged), engine);
  g_signal_connect(view, "notify::is-loading", G_CALLBACK(Engine::OnLoadingChanged), engine);
  g_signal_connect(view, "load-failed", G_CALLBACK(Engine::OnLoadFailed), engine);
  g_signal_connect(view, "load-failed-with-tls-errors", G_CALLBACK(Engine::OnTlsErrors), engine);
  g_signal_connect(view, "map", G_CALLBACK(Engine::OnFirstMap), engine);
  g_signal_connect(view, "notify::is-web-process-responsive",
                   G_CALLBACK(Engine::OnResponsivenessChanged), engine);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(Engine::OnWebProcessTerminated),
                   engine);

  gtk_widget_show(GTK_WIDGET(view));
  Create(parent, id, GTK_WIDGET(view));
  SetSize(wxRect(pos, size));
}

TCppWebBrowser::~TCppWebBrowser() {
  if (engine_->first_load) g_source_remove(engine_->first_load);
  engine_->Unbind();
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
  engine.LoadVisit();
  engine.EndIfStuck();  // found not answering before this visit
}

void TCppWebBrowser::Stop() { engine_->End(Engine::Kind::kStopped); }

wxString TCppWebBrowser::LocationURL() const {
  const char* uri = webkit_web_view_get_uri(engine_->view);
  return uri && std::strcmp(uri, Engine::kBlank) != 0 ? wxString::FromUTF8(uri) : wxString();
}

