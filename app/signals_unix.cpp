#include "app/signals.h"

#include <csignal>

#include <glib-unix.h>
#include <wx/app.h>
#include <wx/weakref.h>
#include <wx/window.h>

void CloseOnTerminationSignals(wxWindow* window) {
  // Held for the program's life: a second signal (Ctrl+C pressed twice) may
  // come after the window is gone.
  auto* target = new wxWeakRef<wxWindow>(window);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    g_unix_signal_add(
        signal,
        [](gpointer data) -> gboolean {
          wxWindow* window = *static_cast<wxWeakRef<wxWindow>*>(data);
          if (window && !window->IsBeingDeleted()) {
            window->Close(true);  // forced: cannot be refused
            // The closed window is destroyed, and the program ends, when the
            // toolkit next runs its idle work; a signal is not an event of
            // the toolkit's own, so it must be told that there is work to do.
            wxWakeUpIdle();
          }
          return G_SOURCE_CONTINUE;
        },
        target);
  }
}
