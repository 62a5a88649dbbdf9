// What velmira-tool lint knows about a game, shared by the checks that live
// in their own lint_*.cpp files.
#pragma once

#include <string>
#include <vector>

#include "core/ScriptBlock.h"

struct LintScript {
  std::string name;  // as shown: relative to the game folder, UTF-8
  std::vector<CScriptBlock> blocks;
};

struct LintImage {
  std::string name;    // as shown, UTF-8
  std::string reason;  // why the engine's loaders refuse it; "" when they load it
};

struct LintGame {
  std::vector<LintScript> scripts;
  std::vector<LintImage> pngs;
  // Scripts whose bytes look like UTF-8 (shown names).
  std::vector<std::string> utf8Scripts;
};

struct LintFinding {
  std::string file;     // UTF-8
  int line = 0;         // 0 for findings about a whole file
  std::string message;  // CP932
};

// Movies that cannot play and sliders whose literal parameters the slider
// refuses (lint_video.cpp).
void CheckVideoTags(const LintGame& game, std::vector<LintFinding>& findings);
