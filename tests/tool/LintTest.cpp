// velmira-tool lint, run as authors run it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "ImageBytes.h"
#include "LintRun.h"
#include "support/TempDir.h"

namespace {

// A complete 8x8 PNG of the given kind.
std::string PngHeader(int bitDepth, int colorType) { return image_bytes::MakePng(8, 8, bitDepth, colorType); }

}  // namespace

TEST(Lint, ReportsParseErrorsAndPngsTheEngineWillNotLoad) {
  TempDir game;
  game.Write("start.iet", "*start\r\n[wait time=10]\r\n");
  game.Write("image/rgba.png", PngHeader(8, 6));
  game.Write("image/palette.png", PngHeader(8, 3));
  game.Write("image/deep.png", PngHeader(16, 2));
  game.Write("image/greyalpha.png", PngHeader(8, 4));
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_NE(out.find("image/palette.png: warning:"), std::string::npos) << out;
  EXPECT_NE(out.find("image/deep.png: warning:"), std::string::npos) << out;
  EXPECT_NE(out.find("image/greyalpha.png: warning:"), std::string::npos) << out;
  EXPECT_EQ(out.find("rgba.png"), std::string::npos) << out;

  game.Write("image/palette.png", PngHeader(8, 2));
  game.Write("image/deep.png", PngHeader(8, 0));
  game.Write("image/greyalpha.png", PngHeader(8, 6));
  EXPECT_EQ(RunLint(game.Path(), out), 0) << out;
  game.Write("broken.iet", "[lyc id=x\n");
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_EQ(out.rfind("broken.iet(2): ", 0), 0u) << out;
}

TEST(Lint, ReportsTagsThatAreNeitherKnownNorMacros) {
  TempDir game;
  game.Write("start.iet",
             "*start\r\n[macroadd file=more]\r\n[status][greet][print data=hi]\r\n[lyc id=bg file=$f.bg]\r\n"
             "[nosuch a=1]\r\n");
  game.Write("macro.iet", "*status\r\n[return]\r\n");
  game.Write("more.iet", "*greet\r\n[return]\r\n");
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_EQ(out.find("status"), std::string::npos) << out;
  EXPECT_EQ(out.find("greet"), std::string::npos) << out;
  EXPECT_EQ(out.find("lyc"), std::string::npos) << out;
  EXPECT_EQ(out.find("print"), std::string::npos) << out;  // the tag that becomes text
  EXPECT_EQ(out.rfind("start.iet(5): [nosuch] ", 0), 0u) << out;

  // A required attribute that is missing comes from the same tag rows.
  game.Write("start.iet", "*start\r\n[lyc id=bg]\r\n");
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_NE(out.find("start.iet(2): [ERROR]"), std::string::npos) << out;
  EXPECT_NE(out.find(" lyc "), std::string::npos) << out;
}

// Lua blocks are compiled, never run: a syntax error is a finding on the
// block's line, and a block that would fail only when run is not.
TEST(Lint, CompilesLuaBlocksWithoutRunningThem) {
  TempDir game;
  game.Write("start.iet",
             "*start\r\n[lua]function ok() return 1 end[/lua]\r\n[lua]os.exit(3)[/lua]\r\n"
             "[lua]function broken( return end[/lua]\r\n");
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_EQ(out.rfind("start.iet(4): [LUA] ", 0), 0u) << out;
  EXPECT_EQ(out.find("start.iet(2)"), std::string::npos) << out;
  EXPECT_EQ(out.find("start.iet(3)"), std::string::npos) << out;
}
