// Numbers in attribute texts, read the way game scripts were written for:
// 32-bit results that saturate instead of wrapping.
#pragma once

#include <climits>
#include <cstdint>
#include <string_view>

namespace numbers {

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Leading blanks, an optional sign and decimal digits; anything else (or
// nothing) reads as 0. Out-of-range values saturate.
inline int Atoi(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return static_cast<int>(value);
}

// An unsigned 32-bit number in base 16: leading blanks, an optional sign,
// an optional "0x", hexadecimal digits. A value past 32 bits reads as
// 0xFFFFFFFF, and a minus sign negates what fits.
inline uint32_t HexToU32(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  auto digit = [&](size_t at) -> int {
    if (at >= text.size()) return -1;
    const char c = text[at];
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') && digit(i + 2) >= 0) i += 2;
  uint64_t value = 0;
  for (int d; (d = digit(i)) >= 0; ++i) {
    value = value * 16 + uint64_t(d);
    if (value > UINT32_MAX) return UINT32_MAX;
  }
  return negative ? uint32_t(0u - uint32_t(value)) : uint32_t(value);
}

}  // namespace numbers
