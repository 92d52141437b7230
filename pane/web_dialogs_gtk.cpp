#include "pane/web_dialogs.h"

#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

namespace {

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

gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, const bool* silent) {
  if (!*silent) return FALSE;
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

gboolean OnAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request, const bool* silent) {
  if (!*silent) return FALSE;
  webkit_authentication_request_cancel(request);
  return TRUE;
}

gboolean OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, const bool* silent) {
  if (!*silent) return FALSE;
  webkit_permission_request_deny(request);
  return TRUE;
}

gboolean OnFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, const bool* silent) {
  if (!*silent) return FALSE;
  webkit_file_chooser_request_cancel(request);
  return TRUE;
}

// Handled, with nothing shown: no print dialog, no notification.
gboolean Handled(WebKitWebView*, gpointer, const bool* silent) { return *silent; }

}  // namespace

void AnswerWithoutShowing(WebKitWebView* view, const bool* silent) {
  auto* data = const_cast<bool*>(silent);
  g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecidePolicy), nullptr);
  g_signal_connect(view, "script-dialog", G_CALLBACK(OnScriptDialog), data);
  g_signal_connect(view, "authenticate", G_CALLBACK(OnAuthenticate), data);
  g_signal_connect(view, "permission-request", G_CALLBACK(OnPermissionRequest), data);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(OnFileChooser), data);
  g_signal_connect(view, "print", G_CALLBACK(Handled), data);
  g_signal_connect(view, "show-notification", G_CALLBACK(Handled), data);
  // "create" (window.open) and "close" (window.close) are left unanswered:
  // no window is made and none is closed.
}

void RefuseDownloads(WebKitWebContext* context) {
  g_signal_connect(context, "download-started",
                   G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download, gpointer) {
                     webkit_download_cancel(download);
                   }),
                   nullptr);
}
