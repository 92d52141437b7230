// What a page asks of the person at the window: script dialogs, a password,
// permissions, a file, printing, notifications, new windows, downloads. The
// pane on WebKitGTK answers them without showing anything while it is silent
// (*silent true); new windows and downloads are refused always.
#pragma once

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitWebContext WebKitWebContext;

void AnswerWithoutShowing(WebKitWebView* view, const bool* silent);

// Downloads are refused for every pane of `context`: nothing but the settings
// file is written.
void RefuseDownloads(WebKitWebContext* context);
