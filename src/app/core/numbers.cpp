#include "numbers.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Skips leading white space and one sign; returns the index after them.
size_t SkipSpaceAndSign(std::string_view text, bool* negative) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  *negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    *negative = text[i] == '-';
    ++i;
  }
  return i;
}

// Only ASCII can be part of a number; the first other character ends it.
std::string AsciiPrefix(std::wstring_view text) {
  std::string out;
  for (wchar_t c : text) {
    if (c <= 0 || c > 0x7e) break;
    out.push_back(static_cast<char>(c));
  }
  return out;
}

}  // namespace

double LeadingDouble(std::string_view text) {
  size_t consumed = 0;
  return ParseDoublePrefix(text, &consumed);
}

double ParseDoublePrefix(std::string_view text, size_t* consumed) {
  *consumed = 0;
  bool negative = false;
  size_t i = SkipSpaceAndSign(text, &negative);
  // from_chars takes no sign of its own here, so "+-1" stays unreadable.
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) return 0.0;
  double value = 0.0;
  std::string_view rest = text.substr(i);
  auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (end == rest.data()) return 0.0;
  *consumed = i + static_cast<size_t>(end - rest.data());
  if (ec == std::errc::result_out_of_range) {
    // strtod gives ±HUGE_VAL on overflow and 0 (or a denormal) on underflow;
    // from_chars leaves the value alone, so decide by the exponent's sign.
    std::string_view digits(rest.data(), static_cast<size_t>(end - rest.data()));
    size_t e = digits.find_first_of("eE");
    bool tiny = e != std::string_view::npos && e + 1 < digits.size() && digits[e + 1] == '-';
    value = tiny ? 0.0 : HUGE_VAL;
  }
  return negative ? -value : value;
}

long long ParseIntPrefix(std::string_view text, size_t* consumed) {
  *consumed = 0;
  bool negative = false;
  size_t i = SkipSpaceAndSign(text, &negative);
  size_t digits = i;
  unsigned long long value = 0;
  constexpr unsigned long long kLimit = 1ull << 63;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value > kLimit / 10 ? kLimit : value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (i == digits) return 0;
  *consumed = i;
  if (negative) return value >= kLimit ? LLONG_MIN : -static_cast<long long>(value);
  return value >= kLimit ? LLONG_MAX : static_cast<long long>(value);
}

double LeadingDouble(std::wstring_view text) { return LeadingDouble(AsciiPrefix(text)); }

int LeadingInt(std::wstring_view text) {
  size_t consumed = 0;
  long long value = ParseIntPrefix(AsciiPrefix(text), &consumed);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}
