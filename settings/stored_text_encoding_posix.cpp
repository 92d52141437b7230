// Stored text on POSIX systems: the locale's encoding.
#include <langinfo.h>

#include <string>

#include <wx/string.h>
#include <wx/strconv.h>

#include "settings/stored_text_encoding.h"

// UTF-8 where the locale is UTF-8 or plain C/POSIX.
const wxMBConv& StoredTextEncoding() {
  static const wxMBConv* encoding = [] () -> const wxMBConv* {
    const std::string codeset = nl_langinfo(CODESET);
    if (codeset == "UTF-8" || codeset == "utf8" || codeset == "ANSI_X3.4-1968" ||
        codeset == "ASCII")
      return &wxConvUTF8;
    auto* locale_encoding = new wxCSConv(codeset);
    if (!locale_encoding->IsOk()) {
      delete locale_encoding;
      return &wxConvUTF8;
    }
    return locale_encoding;
  }();
  return *encoding;
}
