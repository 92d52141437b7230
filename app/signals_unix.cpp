#include "app/signals.h"

#include <csignal>

#include <glib-unix.h>
#include <wx/window.h>

void CloseOnTerminationSignals(wxWindow* window) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    g_unix_signal_add(
        signal,
        [](gpointer data) -> gboolean {
          static_cast<wxWindow*>(data)->Close(true);  // forced: cannot be refused
          return G_SOURCE_CONTINUE;
        },
        window);
  }
}
