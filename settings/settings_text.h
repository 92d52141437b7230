// The pieces of the settings file: its place, its lines, its numbers and its text.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <wx/string.h>

class wxMBConv;

// The working directory and "udat.txt", joined with the platform's separator;
// empty when the working directory cannot be had.
std::filesystem::path SettingsPath();

// The whole file, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// Splits file bytes into lines, each with its line feed when it has one.
// A CR before a line feed is dropped, so CR LF and LF read the same; a UTF-8
// byte-order mark at the start of the file is dropped.
std::vector<std::string> SplitLines(const std::string& bytes);

// Every line feed written as CR LF, as the file has always been written.
std::string WithCrLf(const std::string& text);

// The leading decimal integer of a line as atol reads it (blanks, sign,
// digits up to the first non-digit; none gives 0), saturating at the limits.
long LeadingInteger(const std::string& line);

// The encoding of a whole file's text: UTF-8 when it starts with a UTF-8
// byte-order mark (an editor saved it so), else the stored-text encoding.
const wxMBConv& EncodingOfFile(const std::string& bytes);

// Text from the file. Bytes that are not valid in `encoding` (a file written on
// a Japanese Windows system) are read as code page 932; for UTF-8, valid means
// by the standard's rules: no overlong forms, no surrogates, nothing past U+10FFFF.
wxString DecodeStoredText(const std::string& bytes, const wxMBConv& encoding);

// Text for the file. A character `encoding` cannot hold is written as '?';
// the rest of the text is kept whole.
std::string EncodeStoredText(const wxString& text, const wxMBConv& encoding);
