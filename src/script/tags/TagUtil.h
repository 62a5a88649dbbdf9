// Small helpers shared by the tag handlers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Cp932.h"
#include "script/TagRegistry.h"

class CMainScript;
class CScriptBlock;

namespace tagutil {

// First byte of a CP932 double-byte character.
using cp932::IsLeadByte;

// A number attribute: leading blanks, an optional sign and decimal digits;
// anything else (or nothing) reads as 0. Out-of-range values saturate.
int Atoi(std::string_view text);

// Splits a comma list: a double-byte character counts as one character, each
// comma ends a piece (empty pieces between commas are kept), and the last
// piece is kept only when it is not empty. Nothing is trimmed.
std::vector<std::string> SplitCommaList(std::string_view text);

// Replaces every occurrence of token in text, skipping double-byte
// characters so that a trail byte never starts a match.
std::string ReplaceToken(std::string_view text, std::string_view token, std::string_view value);

// Handler of a tag whose subsystem is not wired in yet: recognised (so it
// is never taken for a macro), no effect.
template <class State>
bool NotYet(State&, CMainScript&, const CScriptBlock&, bool) {
  return false;
}

// Adds a family's rows; a name registered twice is a programming error that
// must not pass silently.
void AddFamilyOrDie(CTagRegistry& registry, const char* name, CTagRegistry::StateFactory factory,
                    std::vector<CTagRow> rows);

}  // namespace tagutil
