// Stored text on Windows: the system's ANSI code page (932 on a Japanese
// system), so that the file is the one the program has always written.
#include <windows.h>

#include <wx/strconv.h>

#include "settings/stored_text_encoding.h"

namespace {

// Text in a Windows code page. Bytes the code page does not define, and
// characters it cannot hold, fail the conversion instead of becoming a
// look-alike or a default character: the caller decides what to do with them.
class CodePageConv : public wxMBConv {
 public:
  explicit CodePageConv(UINT code_page) : code_page_(code_page) {}

  size_t ToWChar(wchar_t* dst, size_t dst_len, const char* src,
                 size_t src_len = wxNO_LEN) const override {
    const int in = src_len == wxNO_LEN ? -1 : static_cast<int>(src_len);
    if (in == 0) return 0;
    const int out = ::MultiByteToWideChar(code_page_, MB_ERR_INVALID_CHARS, src, in, dst,
                                          dst ? static_cast<int>(dst_len) : 0);
    return out > 0 ? static_cast<size_t>(out) : wxCONV_FAILED;
  }

  size_t FromWChar(char* dst, size_t dst_len, const wchar_t* src,
                   size_t src_len = wxNO_LEN) const override {
    const int in = src_len == wxNO_LEN ? -1 : static_cast<int>(src_len);
    if (in == 0) return 0;
    BOOL used_default = FALSE;
    const int out = ::WideCharToMultiByte(code_page_, WC_NO_BEST_FIT_CHARS, src, in, dst,
                                          dst ? static_cast<int>(dst_len) : 0, nullptr,
                                          &used_default);
    return out > 0 && !used_default ? static_cast<size_t>(out) : wxCONV_FAILED;
  }

  size_t GetMBNulLen() const override { return 1; }
  wxMBConv* Clone() const override { return new CodePageConv(code_page_); }

 private:
  UINT code_page_;
};

}  // namespace

const wxMBConv& StoredTextEncoding() {
  // A system set to UTF-8 as its ANSI code page stores UTF-8.
  static const wxMBConv* encoding = ::GetACP() == CP_UTF8
                                        ? static_cast<const wxMBConv*>(&wxConvUTF8)
                                        : new CodePageConv(::GetACP());
  return *encoding;
}
