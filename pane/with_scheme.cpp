#include "pane/with_scheme.h"

#include <cstring>

namespace {
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::string WithScheme(const std::string& typed) {
  const char* blanks = " \t\r\n\f\v";
  const std::size_t first = typed.find_first_not_of(blanks);
  if (first == std::string::npos) return typed;
  const std::string address = typed.substr(first, typed.find_last_not_of(blanks) + 1 - first);
  std::size_t at = 0;
  if (IsAsciiLetter(address[0]))
    while (at < address.size() && (IsAsciiLetter(address[at]) || IsAsciiDigit(address[at]) ||
                                   std::strchr("+-.", address[at])))
      ++at;
  if (at > 0 && at < address.size() && address[at] == ':') {
    std::size_t digits_end = at + 1;
    while (digits_end < address.size() && IsAsciiDigit(address[digits_end])) ++digits_end;
    const bool port = digits_end > at + 1 &&
                      (digits_end == address.size() || std::strchr("/?#", address[digits_end]));
    if (!port) return address;  // a scheme of its own
  }
  return "http://" + address;
}
