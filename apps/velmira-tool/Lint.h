// What velmira-tool lint gathers about a game and what its checks report.
// Checks live in several files (cmd_parse.cpp and lint_*.cpp); each one looks
// at the whole game and appends its findings. The lint runs standing in the
// game folder with the game's files started, so the engine's loaders find
// files as the engine would.
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

using LintCheck = void (*)(const LintGame& game, std::vector<LintFinding>& findings);

// Image files of the layer tags (lyc, anime, masks, rules) that do not load
// or would be refused, anime frames added before their animation exists, and
// layer ids whose byte order (the drawing order) differs from their numbers.
void CheckLayerAssets(const LintGame& game, std::vector<LintFinding>& findings);

// Prerendered fonts (.rft) with a short index or entries outside the file,
// prerendered fonts the font tags name but the game lacks, and faces that
// only a fallback face can draw.
void CheckFonts(const LintGame& game, std::vector<LintFinding>& findings);

// Movies that cannot play and sliders whose literal parameters the slider
// refuses (lint_video.cpp).
void CheckVideoTags(const LintGame& game, std::vector<LintFinding>& findings);

// openbrowser tags whose literal address is not one the engine opens
// (lint_browser.cpp).
void CheckBrowserTags(const LintGame& game, std::vector<LintFinding>& findings);
