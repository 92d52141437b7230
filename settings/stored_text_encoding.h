// The text of the settings file: the encoding it is stored in, and the
// conversions each way.
#pragma once

#include <string>

#include <wx/string.h>

class wxMBConv;

// The encoding text is stored in: the system's own (one body per platform:
// the locale's encoding, or the ANSI code page on Windows).
const wxMBConv& StoredTextEncoding();

// The encoding of a whole file's text, decided once for all its lines: UTF-8
// after a UTF-8 byte-order mark, or where the whole content is valid UTF-8 by
// the standard's rules (no overlong forms, no surrogates, nothing past
// U+10FFFF); else the system's code page: the stored-text encoding where that
// is not UTF-8, else code page 932, which the Windows version writes.
const wxMBConv& EncodingOfFile(const std::string& bytes);

// Text from the file, in the encoding of the file. Code page 932 is read as
// Windows reads it, also the single bytes other converters refuse (80, A0,
// FD to FF); bytes the encoding cannot read at all are kept one character
// each (as ISO 8859-1), so that nothing is lost.
wxString DecodeStoredText(const std::string& bytes, const wxMBConv& encoding);

// Text for the file. A character `encoding` cannot hold is written as '?'
// (and `whole`, if given, is set to false); the rest of the text is kept.
std::string EncodeStoredText(const wxString& text, const wxMBConv& encoding, bool* whole = nullptr);
