#include "app/icon.h"

#include <cstddef>

#include <wx/bitmap.h>
#include <wx/image.h>

extern const unsigned char hpvisit_png[];
extern const std::size_t hpvisit_png_size;

wxIcon ApplicationIcon() {
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  wxIcon icon;
  icon.CopyFromBitmap(wxBitmap::NewFromPNGData(hpvisit_png, hpvisit_png_size));
  return icon;
}
