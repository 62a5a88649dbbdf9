#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/TextCodec.h"
#include "EngineTestSupport.h"
#include "engine/EngineMain.h"
#include "engine/InputDriver.h"
#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"
#include "support/TempDir.h"

TEST(EngineRun, MissingSystemIniStartsWithDefaults) {
  TempDir game;
  // Without system.ini the boot script is named after the executable.
  std::string exe = std::filesystem::read_symlink("/proc/self/exe").filename().string();
  game.Write(exe + ".iet", "*start\r\n");
  std::string log = game / "run.log";
  EXPECT_EQ(RunVelmira({"-headless", "-frames", "3", "-log", log, game.Path()}), 0);
  std::string text = ReadFile(log);
  EXPECT_NE(text.find("起動エラー: システム設定ファイル system.ini が実行ファイルと同じフォルダに見つかりません。"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("ウィンドウの生成に失敗"), std::string::npos);
}

TEST(EngineRun, MissingBootScriptFailsStartUpWithExitZero) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=320\nHEIGHT=240\n[SYSTEM]\nBOOT=nothere.iet\n");
  std::string log = game / "run.log";
  EXPECT_EQ(RunVelmira({"-headless", "-frames", "3", "-log", log, game.Path()}), 0);
  std::string text = ReadFile(log);
  EXPECT_NE(
      text.find("ウィンドウの生成に失敗したか、起動スクリプトの読み込みに失敗したため、エンジンを起動できません。"),
      std::string::npos)
      << text;
}

TEST(EngineRun, HeadlessRunsAreDeterministic) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=64\nHEIGHT=48\n[SYSTEM]\nBOOT=start.iet\n");
  game.Write("start.iet", "*start\r\n[wait time=100000]\r\n");
  game.Write("input.txt", "2 press RETURN\n4 shot shot.png\n6 dumpvars vars.txt\n8 quit\n");
  TempDir out1, out2;
  for (TempDir* out : {&out1, &out2}) {
    ScopedCurrentDir cd(out->Path());
    EXPECT_EQ(RunVelmira({"-headless", "-frames", "120", "-input", game / "input.txt", "-log", "run.log", game.Path()}),
              0);
  }
  std::string shot = ReadFile(out1 / "shot.png");
  ASSERT_GT(shot.size(), 8u);
  EXPECT_EQ(shot.substr(1, 3), "PNG");
  EXPECT_EQ(shot, ReadFile(out2 / "shot.png"));
  EXPECT_EQ(ReadFile(out1 / "run.log"), ReadFile(out2 / "run.log"));
  EXPECT_TRUE(std::filesystem::exists(out1 / "vars.txt"));
}

TEST(EngineRun, MissingGameFolderIsAnError) { EXPECT_NE(RunVelmira({"-headless", "/nonexistent/velmira/game"}), 0); }

TEST(EngineRun, WindowedRunThroughTheSdlBackend) {
  // The SDL backend without a display server: its dummy video driver still
  // makes windows, so the windowed path runs (and is paced) in CI.
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=64\nHEIGHT=48\n[SYSTEM]\nBOOT=start.iet\n");
  game.Write("start.iet", "*start\r\n[wait time=100000]\r\n");
  std::string log = game / "run.log";
  EXPECT_EQ(RunVelmira({"-frames", "6", "-log", log, game.Path()}), 0);
  EXPECT_EQ(ReadFile(log).find("起動エラー"), std::string::npos) << ReadFile(log);
}

TEST(EngineRun, LayerTagsShowAndMoveImages) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=32\nHEIGHT=24\n[SYSTEM]\nBOOT=start.iet\n");
  // A 4x2 orange image, written with the screenshot writer.
  std::vector<uint8_t> bgra;
  for (int i = 0; i < 8; ++i) bgra.insert(bgra.end(), {0x20, 0x80, 0xF0, 0xFF});
  ASSERT_FALSE(WriteScreenshotPng(game / "a.png", bgra, 4, 2));
  game.Write("start.iet",
             "*start\r\n[lyc id=a file=a]\r\n[lyprop id=a left=10 top=5]\r\n[lyprop id=missing left=1]\r\n"
             "[lyc id=b file=nothing.png]\r\n[flip]\r\n[wait time=100000]\r\n");
  game.Write("input.txt", "3 shot shot.png\n4 quit\n");
  std::string log = game / "run.log";
  ScopedCurrentDir cd(game.Path());
  EXPECT_EQ(RunVelmira({"-headless", "-input", "input.txt", "-log", log, game.Path()}), 0);
  // The shot, read back with the engine's own loader: the image at 10,5.
  CSurface shot;
  CPackFileFactory files;
  CGraphicLoaders loaders(&files);
  loaders.AddLoader(new CPng());
  ASSERT_FALSE(loaders.LoadFile(&shot, "shot.png"));
  ASSERT_EQ(shot.GetWidth(), 32);
  auto pixel = [&](int x, int y) {
    const uint8_t* p = shot.GetLine(y) + x * 4;
    return (p[2] << 16) | (p[1] << 8) | p[0];
  };
  EXPECT_EQ(pixel(10, 5), 0xF08020);
  EXPECT_EQ(pixel(13, 6), 0xF08020);
  EXPECT_EQ(pixel(9, 5), 0);
  EXPECT_EQ(pixel(14, 5), 0);
  EXPECT_EQ(pixel(10, 7), 0);
  EXPECT_NE(ReadFile(log).find("start.iet(4): [lyprop id=\"missing\"] 指定されたレイヤーが見つかりません。"),
            std::string::npos)
      << ReadFile(log);
  // A missing image is named in the -log only; the game shows nothing of it.
  EXPECT_NE(ReadFile(log).find("start.iet(5): [lyc id=\"b\" file=\"nothing.png\"] 画像を読み込めません。"),
            std::string::npos);
}

// Headless time is the frame number, so no frame is ever late: every frame
// is drawn, also after Ctrl has run the game unthrottled for a while.
TEST(EngineRun, HeadlessRunsDrawEveryFrameAfterCtrlIsLetGo) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=256\nHEIGHT=8\n[SYSTEM]\nBOOT=start.iet\n");
  std::vector<uint8_t> bgra;
  for (int i = 0; i < 4; ++i) bgra.insert(bgra.end(), {0x20, 0x80, 0xF0, 0xFF});
  ASSERT_FALSE(WriteScreenshotPng(game / "a.png", bgra, 2, 2));
  // The image moves four pixels every frame.
  game.Write("start.iet",
             "*start\r\n[lyc id=a file=a]\r\n[flip]\r\n"
             "[lytween id=a param=left from=0 to=240 msec=1000]\r\n[wait time=100000]\r\n");
  std::string input = "2 down CONTROL\n5 up CONTROL\n";
  for (int frame = 8; frame < 20; ++frame)
    input += std::to_string(frame) + " shot s" + std::to_string(frame) + ".png\n";
  game.Write("input.txt", input);
  ScopedCurrentDir cd(game.Path());
  ASSERT_EQ(RunVelmira({"-headless", "-frames", "21", "-input", "input.txt", game.Path()}), 0);
  for (int frame = 9; frame < 20; ++frame)
    EXPECT_NE(ReadFile(game / ("s" + std::to_string(frame) + ".png")),
              ReadFile(game / ("s" + std::to_string(frame - 1) + ".png")))
        << "frame " << frame << " shows the picture of the frame before";
}

TEST(EngineRun, ReturnWithEmptyStackEndsTheProcess) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=16\nHEIGHT=16\n[SYSTEM]\nBOOT=start.iet\n");
  game.Write("start.iet", "*start\r\n[var name=f.x data=1]\r\n[return]\r\n[wait time=100000]\r\n");
  game.Write("input.txt", "50 shot late.png\n");
  ScopedCurrentDir cd(game.Path());
  EXPECT_EQ(RunVelmira({"-headless", "-frames", "100", "-input", "input.txt", game.Path()}), 0);
  // The game ended long before frame 50 and the frame limit.
  EXPECT_FALSE(std::filesystem::exists(game / "late.png"));
}

TEST(EngineRun, DemoGameRunsTheSameEveryTime) {
  // Two fresh copies of the demo (its save files would otherwise carry the
  // first run's visit into the second) with the same input.
  std::string results[2][3];
  for (auto& result : results) {
    TempDir game;
    std::filesystem::copy(std::string(VELMIRA_TEST_DATA_DIR) + "/../games/demo", game.Path(),
                          std::filesystem::copy_options::recursive);
    for (const char* save : {"saveg.dat", "system.dat"}) std::filesystem::remove(game / save);
    game.Write("input.txt", "60 shot a.png\n100 click 400 300\n119 shot b.png\n119 dumpvars vars.txt\n");
    ScopedCurrentDir cd(game.Path());
    EXPECT_EQ(RunVelmira({"-headless", "-frames", "120", "-input", "input.txt", "-log", "run.log", game.Path()}), 0);
    result[0] = ReadFile(game / "b.png");
    result[1] = ReadFile(game / "run.log");
    result[2] = ReadFile(game / "vars.txt");
    EXPECT_GT(ReadFile(game / "a.png").size(), 1000u);
  }
  EXPECT_EQ(results[0][0], results[1][0]);
  EXPECT_EQ(results[0][1], results[1][1]);
  EXPECT_EQ(results[0][2], results[1][2]);
  EXPECT_NE(results[0][2].find("g.visits\ts\t1"), std::string::npos) << results[0][2];
}
