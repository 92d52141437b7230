// What the tests need of GTK itself.
#include <gtk/gtk.h>

#include "tests/support.h"

void CloseWindowAsTheUserDoes(wxWindow* window) { gtk_window_close(GTK_WINDOW(window->GetHandle())); }
