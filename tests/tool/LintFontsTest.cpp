// velmira-tool lint on fonts: prerendered font files with a short index or
// entries outside the file, prerendered fonts the font tags name but the game
// lacks, and faces only a fallback can draw.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "LintRun.h"
#include "support/TempDir.h"
#include "text/RftFile.h"

namespace {

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += char((v >> (8 * i)) & 0xFF);
}

// A whole "rft1" index whose entries are all empty, one of them (code 0x41)
// pointing bad bytes past the end when bad is set.
std::string Rft(bool bad) {
  std::string out = "rft1";
  CRftFile::ForEachIndexCode('1', [&](uint16_t code) {
    Put32(out, bad && code == 0x41 ? 0xFFFFFFF0u : 0);
    Put32(out, bad && code == 0x41 ? 0x20u : 0);
  });
  return out;
}

}  // namespace

TEST(LintFonts, PrerenderedFilesAndFaces) {
  TempDir game;
  game.Write("good_24.rft", Rft(false));
  game.Write("font/bad_24.rft", Rft(true));
  std::string cut = Rft(false);
  cut.resize(4 + 8 * 100 + 3);
  game.Write("cut_24.rft", cut);
  game.Write("junk.rft", "RFT1");
  game.Write("start.iet",
             "[font face=good rendered=1 size=24][font face=lost rendered=1 size=300][font face=$f.x rendered=1 "
             "size=24]\n"
             "[font face=\"Velmira No Such Face\"][font face=\"Velmira No Such Face\" size=30]\n");
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_TRUE(Has(out, "cut_24.rft: warning: the index ends after 100 of 13180 entries")) << out;
  EXPECT_TRUE(Has(out, "font/bad_24.rft: warning: 1 index entry points outside the file (the first for 0x0041)"))
      << out;
  EXPECT_FALSE(Has(out, "good_24.rft:")) << out;
  EXPECT_TRUE(Has(out, "junk.rft: warning: not a prerendered font")) << out;
  // Sizes are clamped to 255 as the engine does.
  EXPECT_TRUE(Has(out,
                  "start.iet(1): warning: [font face=\"lost\" rendered=\"1\"] the prerendered font "
                  "\"lost_255.rft\" is missing"))
      << out;
  EXPECT_EQ(out.find("start.iet(1)"), out.rfind("start.iet(1)")) << out;
  EXPECT_TRUE(Has(out, "start.iet(2): warning: [font face=\"Velmira No Such Face\"] this face is not installed"))
      << out;
}
