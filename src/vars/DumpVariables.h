#pragma once

#include <string>
#include <string_view>

class CVariables;

// Lists every variable of the store's main map, sorted by name bytes, one line each:
// name, TAB, "i" or "s", TAB, value, LF. Names and texts are converted from CP932 to UTF-8;
// backslash, TAB, LF and CR are written as \\, \t, \n and \r.
std::string DumpVariables(const CVariables& store);

// The escaping used by DumpVariables, applied to UTF-8 text.
std::string EscapeDumpText(std::string_view utf8);
