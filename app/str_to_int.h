#pragma once

#include <wx/string.h>

// Decimal text with an optional sign, as a 32-bit integer. Leading blanks are
// skipped; digits typed in full width ("１５") count as digits. Anything else
// (empty text, letters, a value outside the 32-bit range) raises EConvertError.
int StrToInt(const wxString& text);

// The minutes box's text as StrToInt reads it; where it is not a number, the
// EConvertError says which box and what it takes, and then `consequence`.
int MinutesInBox(const wxString& text, const wxString& consequence = {});
