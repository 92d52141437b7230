#include "pane/engine_events_gtk.h"

#include <cstring>

namespace {

// The engine's own "internal error": a load lost with the process that made
// its requests.
constexpr char kEngineErrorDomain[] = "WebKitErrorDomain";
constexpr int kInternalError = 300;

// What kind of failure a failed load was.
TVisitOutcome::Kind KindOf(const GError* error) {
  using Kind = TVisitOutcome::Kind;
  if (error->domain == G_RESOLVER_ERROR) return Kind::kUnresolved;
  if (error->domain == G_TLS_ERROR) return Kind::kCertificate;
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CONNECTION_REFUSED:
        return Kind::kRefused;
      case G_IO_ERROR_HOST_UNREACHABLE:
      case G_IO_ERROR_NETWORK_UNREACHABLE:
        return Kind::kUnreachable;
      case G_IO_ERROR_CONNECTION_CLOSED:
      case G_IO_ERROR_PARTIAL_INPUT:
        return Kind::kReset;
      default:
        break;
    }
  }
  return Kind::kFailed;
}

// The connection failed while the answer was coming: closed or reset before
// the end its headers promised.
bool IsCutShort(const GError* error) {
  return error->domain == G_IO_ERROR && error->code != G_IO_ERROR_CANCELLED;
}

bool IsEngineInternalError(const GError* error) {
  return std::strcmp(g_quark_to_string(error->domain), kEngineErrorDomain) == 0 &&
         error->code == kInternalError;
}

// Cancelled: by the load that took its place, or by the engine on its way to
// another failure it tells of (a certificate refused).
bool IsCancelled(const GError* error) {
  return g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
         g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

// An address with every byte outside ASCII percent-encoded, as the engine
// encodes them (a request object of its own reads text as Latin-1).
std::string AsciiOnly(const std::string& address) {
  std::string ascii;
  for (const unsigned char c : address) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (c < 0x80) ascii += static_cast<char>(c);
    else ascii += {'%', kHex[c >> 4], kHex[c & 15]};
  }
  return ascii;
}

// An address without its fragment: the part a request is made for.
std::string Requested(const char* uri) {
  const std::string address = uri ? uri : "";
  return address.substr(0, address.find('#'));
}

}  // namespace

void TCppWebBrowser::Engine::LoadVisit() {
  Unbind();
  visit->considered = visit->sent = visit->replaced = false;
  // As the engine parses it: lower-case scheme and host, punycode, the path
  // percent-encoded, a default port left out. (Asked of a request of its own:
  // the view's address may still change with the end of an earlier load.)
  WebKitURIRequest* request = webkit_uri_request_new(AsciiOnly(visit->typed).c_str());
  const char* parsed = webkit_uri_request_get_uri(request);
  webkit_web_view_load_uri(view, visit->typed.c_str());
  visit->requested = Requested(parsed && *parsed ? parsed : webkit_web_view_get_uri(view));
  g_object_unref(request);
}

void TCppWebBrowser::Engine::End(Kind kind, const std::string& detail) {
  if (!visit) return;
  TVisitOutcome outcome;
  outcome.kind = kind;
  outcome.status = visit->status;
  outcome.requested = wxString::FromUTF8(visit->typed);
  outcome.address = wxString::FromUTF8(visit->redirected && !visit->address.empty() ? visit->address
                                                                                    : visit->typed);
  outcome.detail = wxString::FromUTF8(detail);
  outcome.milliseconds = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - visit->began).count());
  Unbind();
  visit.reset();
  if (owner->OnVisitEnded) owner->OnVisitEnded(outcome);
}

void TCppWebBrowser::Engine::Failed(const GError* error) {
  if (IsEngineInternalError(error)) return LostWithItsProcess();
  if (visit->status != 0) return End(IsCutShort(error) ? Kind::kIncomplete : Kind::kResponse);
  End(KindOf(error), error->message);
}

bool TCppWebBrowser::Engine::IsVisits(WebKitWebResource* resource) const {
  return visit && visit->resource == resource;
}

void TCppWebBrowser::Engine::Unbind() {
  if (!visit || !visit->resource) return;
  g_signal_handlers_disconnect_by_data(visit->resource, this);
  g_object_unref(visit->resource);
  visit->resource = nullptr;
}

gboolean TCppWebBrowser::Engine::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                                WebKitPolicyDecisionType type, Engine* self) {
  if (!self->visit || type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const bool its_own =
      Requested(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action))) ==
      self->visit->requested;
  if (its_own) self->visit->considered = true;
  else if (self->visit->replaced && !webkit_navigation_action_is_redirect(action))
    self->End(Kind::kLeftByPage);
  return FALSE;  // decided elsewhere (pane/web_dialogs.h)
}

void TCppWebBrowser::Engine::OnResourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource,
                                                   WebKitURIRequest* request, Engine* self) {
  if (!self->visit || webkit_web_view_get_main_resource(view) != resource ||
      Requested(webkit_uri_request_get_uri(request)) != self->visit->requested)
    return;
  self->Unbind();
  self->visit->replaced = false;
  self->visit->resource = WEBKIT_WEB_RESOURCE(g_object_ref(resource));
  g_signal_connect(resource, "sent-request", G_CALLBACK(OnSentRequest), self);
  g_signal_connect(resource, "notify::response", G_CALLBACK(OnResponse), self);
  g_signal_connect(resource, "finished", G_CALLBACK(OnResourceFinished), self);
  g_signal_connect(resource, "failed", G_CALLBACK(OnResourceFailed), self);
  g_signal_connect(resource, "failed-with-tls-errors", G_CALLBACK(OnResourceTlsErrors), self);
}

void TCppWebBrowser::Engine::OnSentRequest(WebKitWebResource* resource, WebKitURIRequest*,
                                           WebKitURIResponse* redirected_from, Engine* self) {
  if (!self->IsVisits(resource)) return;
  self->visit->sent = true;
  if (redirected_from) self->visit->redirected = true;
}

void TCppWebBrowser::Engine::OnResponse(WebKitWebResource* resource, GParamSpec*, Engine* self) {
  if (!self->IsVisits(resource)) return;
  WebKitURIResponse* response = webkit_web_resource_get_response(resource);
  if (!response) return;
  self->visit->status = static_cast<int>(webkit_uri_response_get_status_code(response));
  self->visit->address = webkit_uri_response_get_uri(response);
}

void TCppWebBrowser::Engine::OnResourceFinished(WebKitWebResource* resource, Engine* self) {
  if (self->IsVisits(resource)) self->End(Kind::kResponse);
}

void TCppWebBrowser::Engine::OnResourceFailed(WebKitWebResource* resource, GError* error,
                                              Engine* self) {
  if (!self->IsVisits(resource)) return;
  // Replaced, before its answer, by the page's own navigation: to the same
  // address, the load that replaced it is the visit's now; to another, the
  // visit ends when the engine decides on it (OnDecidePolicy).
  if (IsCancelled(error) && self->visit->status == 0) {
    self->visit->replaced = true;
    return self->Unbind();
  }
  self->Failed(error);
}

void TCppWebBrowser::Engine::OnResourceTlsErrors(WebKitWebResource* resource, GTlsCertificate*,
                                                 GTlsCertificateFlags, Engine* self) {
  if (self->IsVisits(resource)) self->End(Kind::kCertificate);
}

gboolean TCppWebBrowser::Engine::OnAuthenticate(WebKitWebView*,
                                                WebKitAuthenticationRequest* request,
                                                Engine* self) {
  if (self->visit && self->visit->resource && self->visit->status == 0)
    self->visit->status = webkit_authentication_request_is_for_proxy(request) ? 407 : 401;
  return FALSE;
}

gboolean TCppWebBrowser::Engine::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* failing_uri,
                                              GError* error, Engine* self) {
  if (!self->visit || Requested(failing_uri) != self->visit->requested) return FALSE;
  if (IsCancelled(error)) return FALSE;
  self->Failed(error);
  return TRUE;
}

gboolean TCppWebBrowser::Engine::OnTlsErrors(WebKitWebView*, gchar* failing_uri, GTlsCertificate*,
                                             GTlsCertificateFlags, Engine* self) {
  if (!self->visit || Requested(failing_uri) != self->visit->requested) return FALSE;
  self->End(Kind::kCertificate);
  return TRUE;
}

void TCppWebBrowser::Engine::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event,
                                           Engine* self) {
  if (event == WEBKIT_LOAD_STARTED) self->memory.PutEngineProcessesFirst();  // one may be new
  if (event != WEBKIT_LOAD_COMMITTED) return;
  self->shown = Requested(webkit_web_view_get_uri(view));
  // The engine keeps browsers from some ports (9, 6000, ...): it takes such
  // an address up and shows a blank page in its place, with no request.
  if (self->visit && self->visit->considered && !self->visit->resource && self->shown == kBlank &&
      self->visit->requested != kBlank)
    self->End(Kind::kFailed, "the engine would not load it");
}

void TCppWebBrowser::Engine::OnLoadingChanged(WebKitWebView* view, GParamSpec*, Engine* self) {
  if (webkit_web_view_is_loading(view) || !self->visit || !self->visit->considered ||
      self->visit->resource || self->visit->reloaded || self->shown != self->visit->requested)
    return;
  self->visit->reloaded = true;
  webkit_web_view_reload_bypass_cache(view);
}

void TCppWebBrowser::Engine::LostWithItsProcess(bool for_memory) {
  if (!visit) return;
  if (!visit->sent && !visit->restarted) {
    visit->restarted = true;
    return LoadVisit();
  }
  End(for_memory ? Kind::kMemoryLimit : Kind::kEngineEnded);
}

void TCppWebBrowser::Engine::OnWebProcessTerminated(WebKitWebView*,
                                                    WebKitWebProcessTerminationReason reason,
                                                    Engine* self) {
  const bool for_memory = self->memory.EndedOne();
  self->LostWithItsProcess(for_memory || reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT);
}

void TCppWebBrowser::Engine::EndIfStuck() {
  if (visit && !visit->sent && !visit->restarted &&
      !webkit_web_view_get_is_web_process_responsive(view))
    webkit_web_view_terminate_web_process(view);
}

void TCppWebBrowser::Engine::OnResponsivenessChanged(WebKitWebView*, GParamSpec*, Engine* self) {
  self->EndIfStuck();
}

void TCppWebBrowser::Engine::OnFirstMap(GtkWidget* widget, Engine* self) {
  g_signal_handlers_disconnect_by_func(widget, reinterpret_cast<gpointer>(&OnFirstMap), self);
  // Once the window is on screen: nothing of the engine's comes before it.
  self->first_load = g_idle_add(
      [](gpointer data) {
        auto* engine = static_cast<Engine*>(data);
        engine->first_load = 0;
        if (!webkit_web_view_get_uri(engine->view)) webkit_web_view_load_uri(engine->view, kBlank);
        return gboolean(G_SOURCE_REMOVE);
      },
      self);
}
