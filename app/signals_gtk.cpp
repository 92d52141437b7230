#include "app/signals.h"

#include <csignal>

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <wx/app.h>
#include <wx/weakref.h>
#include <wx/window.h>

namespace {
// An error box open over the window waits for an answer that no one will
// give once the program is told to stop: it is answered, so that the stop
// goes on.
void AnswerOpenDialogs() {
  GList* all = gtk_window_list_toplevels();
  for (GList* it = all; it; it = it->next)
    if (GTK_IS_DIALOG(it->data) && gtk_widget_get_visible(GTK_WIDGET(it->data)))
      gtk_dialog_response(GTK_DIALOG(it->data), GTK_RESPONSE_DELETE_EVENT);
  g_list_free(all);
}
}  // namespace

void CloseOnTerminationSignals(wxWindow* window) {
  // Held for the program's life: a second signal (Ctrl+C pressed twice) may
  // come after the window is gone.
  auto* target = new wxWeakRef<wxWindow>(window);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    g_unix_signal_add(
        signal,
        [](gpointer data) -> gboolean {
          wxWindow* window = *static_cast<wxWeakRef<wxWindow>*>(data);
          AnswerOpenDialogs();
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
