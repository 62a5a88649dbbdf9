// Movies in whole-engine headless runs: what the shots, the audio dump and
// the variable dump show, that every run is the same, and that closing the
// window mid-movie saves and exits cleanly; and a slider dragged by the
// runner.
#include <gtest/gtest.h>

#include <filesystem>

#include "EngineTestSupport.h"
#include "engine/InputDriver.h"
#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"
#include "support/TempDir.h"
#include "video/MovieFixture.h"

namespace {

void WriteGame(TempDir& game) {
  game.Write("system.ini", "[WINDOW]\nWIDTH=64\nHEIGHT=48\n[SYSTEM]\nBOOT=start.iet\n");
  // A scene whose one layer covers only a corner: the rest of the screen
  // keeps the picture of the full-screen layer drawn before.
  std::vector<uint8_t> bg, dot(2 * 2 * 4, 0xFF);
  for (int i = 0; i < 64 * 48; ++i) bg.insert(bg.end(), {0x99, 0x66, 0x33, 0xFF});
  ASSERT_FALSE(WriteScreenshotPng(game / "bg.png", bg, 64, 48));
  ASSERT_FALSE(WriteScreenshotPng(game / "dot.png", dot, 2, 2));
  game.Write("start.iet",
             "*start\r\n[autosave allow=1]\r\n[lyc id=bg file=bg]\r\n[flip]\r\n[wait time=50]\r\n"
             "[lyc id=dot file=dot]\r\n[lydel id=bg]\r\n[flip]\r\n[wait time=50]\r\n"
             "[var name=f.x data=5]\r\n[video file=movie.avi]\r\n"
             "[var name=f.after data=1]\r\n[wait time=100000]\r\n");
  MovieSpec clip;  // three seconds: red, green, blue
  clip.sampleRate = 22050;
  clip.channels = 1;
  clip.audioMs = 3000;
  clip.toneStartMs = 1000;
  clip.toneEndMs = 1200;
  ASSERT_FALSE(WriteMovie(game / "movie.avi", clip));
}

// The centre pixel of a shot (0xRRGGBB).
uint32_t Centre(const std::string& path) {
  CSurface shot;
  CPackFileFactory files;
  CGraphicLoaders loaders(&files);
  loaders.AddLoader(new CPng());
  if (loaders.LoadFile(&shot, path.c_str()) || shot.GetWidth() != 64) return 0xDEADBEEF;
  const uint8_t* p = shot.GetLine(24) + 32 * 4;
  return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}

bool Near(uint32_t got, uint32_t want) {
  for (int shift : {0, 8, 16})
    if (std::abs(int((got >> shift) & 255) - int((want >> shift) & 255)) > 12) return false;
  return true;
}

}  // namespace

TEST(MovieRun, ShotsSoundAndVariablesAreTheSameEveryRun) {
  std::string results[2][4];
  for (auto& result : results) {
    TempDir game;
    WriteGame(game);
    game.Write("input.txt",
               "30 shot a.png\n100 shot b.png\n100 dumpvars before.txt\n239 dumpvars after.txt\n239 shot c.png\n");
    ScopedCurrentDir cd(game.Path());
    ASSERT_EQ(RunVelmira({"-headless", "-frames", "240", "-input", "input.txt", "-audiodump", "dump.wav", "-log",
                          "run.log", game.Path()}),
              0);
    EXPECT_TRUE(Near(Centre("a.png"), 0xFF0000)) << std::hex << Centre("a.png");
    EXPECT_TRUE(Near(Centre("b.png"), 0x00FF00)) << std::hex << Centre("b.png");
    // After the movie the screen shows the scene from before it again.
    EXPECT_EQ(Centre("c.png"), 0x336699u) << std::hex << Centre("c.png");
    // The script waits for the movie and goes on once it has ended.
    EXPECT_EQ(ReadFile(game / "before.txt").find("f.after"), std::string::npos);
    EXPECT_NE(ReadFile(game / "after.txt").find("f.after\ts\t1"), std::string::npos) << ReadFile(game / "after.txt");
    result[0] = ReadFile(game / "a.png") + ReadFile(game / "b.png") + ReadFile(game / "c.png");
    result[1] = ReadFile(game / "dump.wav");
    result[2] = ReadFile(game / "before.txt") + ReadFile(game / "after.txt");
    result[3] = ReadFile(game / "run.log");
    EXPECT_GT(result[1].size(), 44u + 3 * 44100 * 4);
  }
  for (int i = 0; i < 4; ++i) EXPECT_EQ(results[0][i], results[1][i]) << i;
}

// The GPU renderer keeps its frame to itself; the picture from before the
// movie comes back there too. Skipped where this machine has no GL.
TEST(MovieRun, OnTheGpuTheSceneFromBeforeTheMovieComesBack) {
  TempDir game;
  WriteGame(game);
  game.Write("input.txt", "30 shot a.png\n239 shot c.png\n");
  ScopedCurrentDir cd(game.Path());
  ASSERT_EQ(RunVelmira({"-headless", "-renderer", "gles", "-frames", "240", "-input", "input.txt", "-log", "run.log",
                        game.Path()}),
            0);
  if (ReadFile(game / "run.log").find("CGlesRenderer::Init") != std::string::npos)
    GTEST_SKIP() << "no GL here: " << ReadFile(game / "run.log");
  EXPECT_TRUE(Near(Centre("a.png"), 0xFF0000)) << std::hex << Centre("a.png");
  EXPECT_EQ(Centre("c.png"), 0x336699u) << std::hex << Centre("c.png");
}

TEST(MovieRun, ClosingTheWindowMidMovieSavesAndExits) {
  TempDir game;
  WriteGame(game);
  game.Write("input.txt", "40 quit\n");
  ScopedCurrentDir cd(game.Path());
  // The decoding thread is joined on the way out; a leak or a late access
  // would fail the sanitizers.
  EXPECT_EQ(RunVelmira({"-headless", "-frames", "240", "-input", "input.txt", game.Path()}), 0);
  EXPECT_TRUE(std::filesystem::exists(game / "saveg.dat"));
}

// The runner's move, down and up drag a slider; dumpvars shows the value.
TEST(MovieRun, TheRunnerDragsASliderBoundToAVariable) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=64\nHEIGHT=48\n[SYSTEM]\nBOOT=start.iet\n");
  std::vector<uint8_t> track(50 * 4 * 4, 0x80), knob(4 * 4 * 4, 0xFF);
  ASSERT_FALSE(WriteScreenshotPng(game / "track.png", track, 50, 4));
  ASSERT_FALSE(WriteScreenshotPng(game / "knob.png", knob, 4, 4));
  // x 10, width 41: the knob starts at 10 + 50 * 40 / 100 = 30.
  game.Write("start.iet",
             "*start\r\n[var name=s.bgmvol data=500]\r\n[slider id=v x=10 y=20 width=41 background_path=track "
             "controller_path=knob var_min=0 var_max=1000 var_name=s.bgmvol]\r\n[stop]\r\n");
  game.Write("input.txt",
             "5 move 31 21\n6 down LBUTTON\n7 move 41 21\n8 move 60 21\n9 move 45 21\n10 up LBUTTON\n"
             "11 dumpvars vars.txt\n");
  ScopedCurrentDir cd(game.Path());
  EXPECT_EQ(RunVelmira({"-headless", "-frames", "12", "-input", "input.txt", game.Path()}), 0);
  // 41 is 40 + 1 and 60 is past the end (ignored); from 41 to 45 the knob
  // moves 4 more: 30 + 10 + 4 = 44 on a track from 10, (44 - 10) * 1000 / 40.
  EXPECT_NE(ReadFile(game / "vars.txt").find("s.bgmvol\ti\t850"), std::string::npos) << ReadFile(game / "vars.txt");
}
