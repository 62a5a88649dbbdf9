// The engine's text is CP932 bytes; the system around it speaks UTF-8.
#pragma once

#include <string>
#include <string_view>

// Bytes that do not form a character become U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);
// Characters without a CP932 form become '?'.
std::string Utf8ToCp932(std::string_view utf8);
