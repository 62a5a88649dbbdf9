// Small helpers shared by the tag handlers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tagutil {

// First byte of a CP932 double-byte character.
inline bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// A number attribute: leading blanks, an optional sign and decimal digits;
// anything else (or nothing) reads as 0. Out-of-range values saturate.
int Atoi(std::string_view text);

// Splits a comma list: a double-byte character counts as one character, each
// comma ends a piece (empty pieces between commas are kept), and the last
// piece is kept only when it is not empty. Nothing is trimmed.
std::vector<std::string> SplitCommaList(std::string_view text);

// Replaces every occurrence of token in text, skipping double-byte
// characters so that a trail byte never starts a match.
bool ContainsToken(std::string_view text, std::string_view token);
std::string ReplaceToken(std::string_view text, std::string_view token, std::string_view value);

}  // namespace tagutil
