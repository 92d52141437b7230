#include "app/theme.h"

#include <gtk/gtk.h>

void UseCompactControls() {
  static const char kCss[] =
      "entry { min-height: 0; padding-top: 0; padding-bottom: 0; }"
      "button { min-height: 0; padding-top: 0; padding-bottom: 0; }"
      "checkbutton { min-height: 0; padding-top: 0; padding-bottom: 0; }";
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, kCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(),
                                            GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}
