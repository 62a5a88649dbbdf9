// Lint checks of the message tags: unpaired link and chgmsg tags, and
// scetween names the engine does not know.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/ScriptBlock.h"

// Findings (line, message) of one script's records, in record order.
std::vector<std::pair<int, std::string>> LintMessageTags(const std::vector<CScriptBlock>& blocks);

// The check over a whole game, for the lint's list of checks (the game's
// scripts have a name and blocks; a finding is {file, line, message}).
template <class Game, class Finding>
void CheckMessageTags(const Game& game, std::vector<Finding>& findings) {
  for (const auto& script : game.scripts)
    for (auto& [line, text] : LintMessageTags(script.blocks)) findings.push_back({script.name, line, text});
}
