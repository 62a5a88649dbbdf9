// Conversion between CP932 (the engine's text) and UTF-8 (the system's).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Bytes that do not form a CP932 character become U+FFFD.
std::string ConvertCp932ToUtf8(std::string_view cp932);
// Characters without a CP932 form become '?'.
std::string ConvertUtf8ToCp932(std::string_view utf8);
// One CP932 character, a single byte or lead * 256 + trail, as a Unicode code
// point. Returns true when the code is not a CP932 character (a lone lead
// byte, a pair the code page does not define).
bool ConvertCp932CharToUnicode(uint16_t code, uint32_t& out);

}  // namespace platform

// The same conversions under the names the rest of the engine uses.
inline std::string Cp932ToUtf8(std::string_view cp932) { return platform::ConvertCp932ToUtf8(cp932); }
inline std::string Utf8ToCp932(std::string_view utf8) { return platform::ConvertUtf8ToCp932(utf8); }
