#include "app/theme.h"

#include <gtk/gtk.h>

void UseCompactControls() {
  // A background colour given to a check box reaches its box too, where the
  // theme draws a white tick on its own colour: the box is filled instead,
  // dark with a white tick, above the colours given to single controls.
  static const char kCss[] =
      "entry { min-height: 0; padding-top: 0; padding-bottom: 0; }"
      "button { min-height: 0; padding-top: 0; padding-bottom: 0; }"
      "checkbutton { min-height: 0; padding-top: 0; padding-bottom: 0; }"
      "checkbutton check:checked { background-color: #1a5fb4; background-image: none;"
      "  border-color: #0d3a75; color: #ffffff; }";
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, kCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(),
                                            GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_USER);
  g_object_unref(provider);
}
