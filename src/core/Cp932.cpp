#include "core/Cp932.h"

#include "platform/TextCodec.h"

std::string Cp932ToUtf8(std::string_view cp932) { return platform::ConvertCp932ToUtf8(cp932); }
std::string Utf8ToCp932(std::string_view utf8) { return platform::ConvertUtf8ToCp932(utf8); }
