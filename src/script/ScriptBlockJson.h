// Records as JSON, for the author tools.
#pragma once

#include <string>
#include <string_view>

#include "core/ScriptBlock.h"

// One record as {"type":T,"line":L,"text":"...","attr":{"name":"value",...}}
// (attributes in the record's order, no line feed). Texts are converted from
// CP932 to UTF-8, bytes that do not convert becoming U+FFFD; with raw, the
// exact bytes are kept and each byte above 0x7F is written as \u00XX.
std::string ScriptBlockToJson(const CScriptBlock& block, bool raw);

// Appends a CP932 text as a JSON string, as above.
void AppendJsonString(std::string& out, std::string_view cp932, bool raw);
