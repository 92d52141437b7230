#include "app/str_to_int.h"

#include <cstdint>
#include <limits>

#include "app/exception.h"

namespace {

bool IsBlank(wxUniChar c) { return c == ' ' || c == '\t' || c == 0x3000; }

// The value of a decimal digit, ASCII or full width; -1 for anything else.
int DigitValue(wxUniChar c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c.GetValue() - '0');
  if (c >= 0xFF10 && c <= 0xFF19) return static_cast<int>(c.GetValue() - 0xFF10);
  return -1;
}

[[noreturn]] void Fail(const wxString& text) {
  throw EConvertError(wxString::Format(L"'%s' は有効な整数値ではありません", text));
}

}  // namespace

int StrToInt(const wxString& text) {
  auto it = text.begin();
  const auto end = text.end();
  while (it != end && IsBlank(*it)) ++it;

  bool negative = false;
  if (it != end && (*it == '+' || *it == 0xFF0B)) {
    ++it;
  } else if (it != end && (*it == '-' || *it == 0xFF0D || *it == 0x2212)) {
    negative = true;
    ++it;
  }
  if (it == end) Fail(text);

  // Accumulate as a magnitude; the negative side holds one more than the positive.
  const std::int64_t limit =
      negative ? -static_cast<std::int64_t>(std::numeric_limits<int>::min())
               : std::numeric_limits<int>::max();
  std::int64_t value = 0;
  for (; it != end; ++it) {
    const int digit = DigitValue(*it);
    if (digit < 0) Fail(text);
    value = value * 10 + digit;
    if (value > limit) Fail(text);
  }
  return static_cast<int>(negative ? -value : value);
}

int MinutesInBox(const wxString& text, const wxString& consequence) {
  try {
    return StrToInt(text);
  } catch (const EConvertError&) {
    throw EConvertError(L"間隔（分）には 1～60 の数字を入力してください。" + consequence);
  }
}
