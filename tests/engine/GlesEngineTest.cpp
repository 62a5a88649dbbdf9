// Whole runs on the GPU renderer (headless EGL): shots against software, the
// full-screen switch and a lost context. Skipped when the machine has no GL.
#include <gtest/gtest.h>

#include <cmath>

#include "EngineTestSupport.h"
#include "engine/InputDriver.h"
#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"
#include "support/TempDir.h"

namespace {

struct CShot {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

CShot LoadShot(const std::string& path) {
  CShot shot;
  CSurface surface;
  CPackFileFactory files;
  CGraphicLoaders loaders(&files);
  loaders.AddLoader(new CPng());
  if (loaders.LoadFile(&surface, path.c_str())) return shot;
  shot.width = surface.GetWidth();
  shot.height = surface.GetHeight();
  for (int y = 0; y < shot.height; ++y) {
    const uint8_t* line = surface.GetLine(y);
    for (int x = 0; x < shot.width; ++x) shot.rgb.insert(shot.rgb.end(), line + 4 * x, line + 4 * x + 3);
  }
  return shot;
}

// A game of 800 x 600: a full-screen gradient, and pictures over it in add,
// multiply and screen, one turned and scaled.
void WriteGame(TempDir& game) {
  game.Write("system.ini", "[WINDOW]\nWIDTH=800\nHEIGHT=600\n[SYSTEM]\nBOOT=start.iet\n");
  std::vector<uint8_t> bg, spot;
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 800; ++x)
      bg.insert(bg.end(), {uint8_t(x / 4), uint8_t(y * 255 / 599), uint8_t(255 - x / 4), 0xFF});
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) spot.insert(spot.end(), {uint8_t(x * 4), 0x80, uint8_t(y * 4), 0xFF});
  ASSERT_FALSE(WriteScreenshotPng(game / "bg.png", bg, 800, 600));
  ASSERT_FALSE(WriteScreenshotPng(game / "spot.png", spot, 64, 64));
  game.Write("start.iet",
             "*start\r\n[lyc id=bg file=bg]\r\n"
             "[lyc id=a file=spot]\r\n[lyprop id=a left=100 top=100 layermode=add]\r\n"
             "[lyc id=m file=spot]\r\n[lyprop id=m left=300 top=100 layermode=multiply alpha=128]\r\n"
             "[lyc id=s file=spot]\r\n[lyprop id=s left=500 top=100 layermode=screen]\r\n"
             "[lyc id=r file=spot]\r\n[lyprop id=r left=300 top=350 anchorx=32 anchory=32 rotate=30 xscale=150]\r\n"
             "[flip]\r\n[wait time=100000]\r\n");
}

bool RanOnGl(const std::string& log) { return log.find("CGlesRenderer::Init") == std::string::npos; }

TEST(GlesEngine, ShotsMatchSoftwareAndSurviveTheSwitchAndALostContext) {
  TempDir game;
  WriteGame(game);
  game.Write("input.txt",
             "3 shot a.png\n4 syskey RETURN\n6 shot b.png\n7 losecontext\n9 shot c.png\n10 syskey RETURN\n"
             "12 shot d.png\n13 quit\n");
  TempDir gl, sw;
  {
    ScopedCurrentDir cd(gl.Path());
    ASSERT_EQ(RunVelmira({"-headless", "-renderer", "gles", "-screen", "1920x1080", "-input", game / "input.txt",
                          "-log", "run.log", game.Path()}),
              0);
  }
  if (!RanOnGl(ReadFile(gl / "run.log"))) GTEST_SKIP() << "no GL here: " << ReadFile(gl / "run.log");
  {
    ScopedCurrentDir cd(sw.Path());
    ASSERT_EQ(RunVelmira({"-headless", "-fsr", "-screen", "1920x1080", "-input", game / "input.txt", "-log", "run.log",
                          game.Path()}),
              0);
  }
  const CShot a = LoadShot(gl / "a.png"), b = LoadShot(gl / "b.png"), c = LoadShot(gl / "c.png"),
              d = LoadShot(gl / "d.png");
  const CShot s = LoadShot(sw / "a.png"), sb = LoadShot(sw / "b.png");
  ASSERT_EQ(a.width, 800);
  ASSERT_EQ(s.width, 800);
  // Software ignores the switch.
  EXPECT_EQ(sb.width, 800);
  EXPECT_EQ(sb.rgb, s.rgb);
  double sum = 0;
  size_t within = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    const int diff = std::abs(int(a.rgb[i]) - int(s.rgb[i]));
    sum += diff;
    within += diff <= 8;
  }
  EXPECT_LE(sum / double(a.rgb.size()), 1.0);
  EXPECT_GE(double(within) / double(a.rgb.size()), 0.99);
  // Full screen at scale 1.8, the same after the context came back, and
  // back in the window the first picture byte for byte.
  EXPECT_EQ(b.width, 1440);
  EXPECT_EQ(b.height, 1080);
  EXPECT_EQ(c.rgb, b.rgb);
  EXPECT_EQ(d.width, 800);
  EXPECT_EQ(d.rgb, a.rgb);
}

TEST(GlesEngine, RunsRepeatByteForByte) {
  TempDir game;
  WriteGame(game);
  game.Write("input.txt", "3 shot a.png\n4 quit\n");
  TempDir one, two;
  for (TempDir* out : {&one, &two}) {
    ScopedCurrentDir cd(out->Path());
    ASSERT_EQ(
        RunVelmira({"-headless", "-renderer", "gles", "-input", game / "input.txt", "-log", "run.log", game.Path()}),
        0);
  }
  if (!RanOnGl(ReadFile(one / "run.log"))) GTEST_SKIP() << "no GL here";
  EXPECT_EQ(ReadFile(one / "a.png"), ReadFile(two / "a.png"));
}

}  // namespace
