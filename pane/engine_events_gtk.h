// The browser pane on WebKitGTK: the engine's events, and the visit they tell of.
//
// A visit is one load of its address. The engine tells which load is which
// only through the load's main resource: each is an object of its own, with
// the request as it went out, the answer, and the end. So a visit follows the
// main resource the engine starts for its address, and nothing else: the
// events of earlier loads, of loads the engine never started, and of the
// page's own navigations cannot reach it, and nothing is counted across
// visits.
#pragma once

#include <webkit2/webkit2.h>

#include <chrono>
#include <optional>
#include <string>

#include "pane/engine_memory.h"
#include "pane/web_browser.h"

struct TCppWebBrowser::Engine {
  using Clock = std::chrono::steady_clock;
  using Kind = TVisitOutcome::Kind;
  static constexpr char kBlank[] = "about:blank";

  // The visit under way, from Navigate to its end.
  struct Visit {
    std::string typed;      // the address with its scheme, as the record shows it
    std::string requested;  // as the engine writes it, without its fragment
    Clock::time_point began;
    WebKitWebResource* resource = nullptr;  // its main resource, once started (a reference held)
    bool considered = false;                // the engine has decided on loading its address
    bool sent = false;                      // its request went out: the visit is made
    bool restarted = false;                 // made again after its web process was lost
    bool reloaded = false;    // loaded again where the engine kept it in the page shown
    bool redirected = false;  // the server redirected it
    bool replaced = false;    // its load was cancelled, before its answer, by the page's own
    int status = 0;           // its answer's HTTP status, once the answer came
    std::string address;      // where it ended up, once the answer came
  };

  WebKitWebView* view;  // made once the window is on screen (pane/web_browser_gtk.cpp)
  TCppWebBrowser* owner;
  std::optional<Visit> visit = {};
  std::string shown = {};  // the address of the page in the pane, without its fragment
  guint first_load = 0;    // the blank page's load, once the pane is on screen
  guint making_view = 0;   // the view's making, once the window is on screen
  // The web processes' memory, bounded while the pane lives: a web process
  // ended for it is told of as the engine's end of it (OnWebProcessTerminated).
  TMemoryWatch memory{};

  // Asks the engine for the visit's address.
  void LoadVisit();
  // The visit under way has ended: it is reported once.
  void End(Kind kind, const std::string& detail = {});
  // How a visit whose load failed ended: an answer that came and was not
  // shown (a download refused, no content, a password asked for) is the
  // visit's answer, but one whose connection failed before its end is cut
  // short; a load lost with its web process is made again where it may be
  // (LostWithItsProcess).
  void Failed(const GError* error);
  bool IsVisits(WebKitWebResource* resource) const;
  void Unbind();
  // The engine decided on a navigation: one to the visit's address is its
  // own; one of the page's own to another address, once it has replaced the
  // visit's load, ends the visit.
  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, Engine* self);
  // A main resource for the visit's address is the visit's; one for another
  // address (the page's own navigation) is not, and neither are those of
  // loads before it.
  static void OnResourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource,
                                    WebKitURIRequest* request, Engine* self);
  // The request went out: the visit has been made, whatever becomes of it.
  static void OnSentRequest(WebKitWebResource* resource, WebKitURIRequest*,
                            WebKitURIResponse* redirected_from, Engine* self);
  static void OnResponse(WebKitWebResource* resource, GParamSpec*, Engine* self);
  static void OnResourceFinished(WebKitWebResource* resource, Engine* self);
  static void OnResourceFailed(WebKitWebResource* resource, GError* error, Engine* self);
  static void OnResourceTlsErrors(WebKitWebResource* resource, GTlsCertificate*,
                                  GTlsCertificateFlags, Engine* self);
  // The engine asks for a password: the answer was 401, or 407 from a proxy.
  // (pane/web_dialogs.h answers it.)
  static gboolean OnAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request,
                                 Engine* self);
  // A load that fails before its main resource starts (an address the engine
  // cannot take) is told only here. Failures of the visit's load are handled:
  // no error page is loaded in the way of the next visit.
  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* failing_uri, GError* error,
                               Engine* self);
  static gboolean OnTlsErrors(WebKitWebView*, gchar* failing_uri, GTlsCertificate*,
                              GTlsCertificateFlags, Engine* self);
  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, Engine* self);
  // The engine has decided on the visit's address and stopped loading without
  // starting its load: it kept it in the page shown, as an address that
  // differs from the page's only after '#' (the page then only scrolls). The
  // page is loaded again, under that address: one request, as for any visit.
  static void OnLoadingChanged(WebKitWebView* view, GParamSpec*, Engine* self);
  // A visit whose request had not gone out when its web process was lost (a
  // crash, or the memory bound ending the page before it) is made again in
  // the new one, once: a page that makes its process crash is not loaded
  // again and again. A visit made is never made again.
  void LostWithItsProcess(bool for_memory = false);
  static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                     Engine* self);
  // A page whose script never ends holds its web process, and with it every
  // later visit. When the engine finds the process not answering while a
  // visit waits for its request to go out, the process is ended, and the
  // visit is made in a new one. The page that holds the process is left alone
  // until then: its own visit has been made.
  void EndIfStuck();
  static void OnResponsivenessChanged(WebKitWebView*, GParamSpec*, Engine* self);
  // The web process is started as soon as the pane is on screen, with a
  // blank page, so that the first visit does not wait for it.
  static void OnFirstMap(GtkWidget* widget, Engine* self);
};
