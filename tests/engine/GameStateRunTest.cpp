// Game states across processes: one run plays a game through, a second
// quick-saves at a click wait and quits, a third quick-loads; the pictures
// and variables of the third equal the first's. And the load tag with a
// transition, through the whole engine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "EngineTestSupport.h"
#include "engine/InputDriver.h"
#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"
#include "platform/TextCodec.h"
#include "support/TempDir.h"

namespace {

std::string Wave(int frames) {
  auto u32 = [](uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  auto u16 = [](uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
  std::string pcm(static_cast<size_t>(frames * 2), '\x10');
  std::string body = "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(22050) + u32(44100) + u16(2) + u16(16) + "data" +
                     u32(static_cast<uint32_t>(pcm.size())) + pcm;
  return "RIFF" + u32(static_cast<uint32_t>(body.size())) + body;
}

void Image(const TempDir& game, const std::string& name, int w, int h, uint32_t rgb) {
  std::vector<uint8_t> bgra;
  for (int i = 0; i < w * h; ++i) bgra.insert(bgra.end(), {uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16), 0xFF});
  ASSERT_FALSE(WriteScreenshotPng(game / name, bgra, w, h));
}

// Variables by name and value: a loaded game's variables come back as texts.
std::map<std::string, std::string> Values(const std::string& dump) {
  std::map<std::string, std::string> values;
  std::istringstream lines(dump);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t tab1 = line.find('\t');
    const size_t tab2 = line.find('\t', tab1 + 1);
    if (tab2 != std::string::npos) values[line.substr(0, tab1)] = line.substr(tab2 + 1);
  }
  return values;
}

void WriteGame(const TempDir& game) {
  game.Write("system.ini", "[WINDOW]\nWIDTH=96\nHEIGHT=64\n[SYSTEM]\nBOOT=start.iet\n");
  // The background covers the scene and has no alpha, as a game's usually
  // does. An image with alpha blends with what the frame before left below
  // it (255/256 of the way), so where a layer moved across it the pixels
  // would remember the path, and a loaded game, which never saw the path,
  // could not draw the same picture.
  Image(game, "bg.png", 96, 64, 0xF08020);
  Image(game, "b.png", 4, 4, 0x2040F0);
  Image(game, "c.png", 4, 4, 0x20F040);
  game.Write("m.wav", Wave(4000));
  // A layer in a short tween (mid-way when the game is saved, done when the
  // pictures are taken), a slow yoyo, an animation, music, two message
  // windows with their fonts, ruby and a link, backlog pages, variables.
  game.Write("start.iet",
             Utf8ToCp932("[lyc id=bg file=bg]\r\n"
                         "[lyc id=mover file=b]\r\n[lyprop id=mover top=4]\r\n"
                         "[lytween id=mover param=left from=0 to=40 msec=300]\r\n"
                         "[lyc id=swing file=c]\r\n[lyprop id=swing top=20]\r\n"
                         "[lytween id=swing param=left from=10 to=12 msec=100000 yoyo=-1]\r\n"
                         "[anime id=spark mode=init file=b]\r\n[lyprop id=spark left=80 top=4]\r\n"
                         "[anime id=spark mode=add file=c time=20000]\r\n[anime id=spark mode=end time=40000]\r\n"
                         "[flip]\r\n[splay file=m.wav loop=1]\r\n"
                         "[chgmsg id=note]\r\n[font size=10 left=48 top=8 width=48 height=24 color=ffff00]\r\n"
                         "小窓\r\n[scein]\r\n[/chgmsg]\r\n"
                         "[font size=12 left=0 top=28 width=96 height=36 color=ffffff]\r\n"
                         "[ruby text=る]瑠[/ruby]璃[link label=next]色[/link]の空\r\n"
                         "[var name=score data=10]\r\n[var name=who data=abc]\r\n@\r\n*next\r\n[rp]\r\n"
                         "[var name=score data=20]\r\n[lyprop id=bg alpha=128]\r\n[flip]\r\n二頁目\r\n@\r\n[rp]\r\n"
                         "[var name=score data=30]\r\n[lyprop id=mover top=30]\r\n[flip]\r\n三頁目\r\n@\r\n"
                         "[var name=end data=1]\r\n@\r\n"));
}

TEST(GameStateRun, AQuickSaveFromAnotherRunLoadsToTheSamePicturesAndVariables) {
  TempDir gameA, gameBC, out;
  WriteGame(gameA);
  WriteGame(gameBC);
  const std::string checks =
      "30 shot 1.png\n30 dumpvars 1.txt\n30 dumptext 1t.txt\n31 press RETURN\n40 shot 2.png\n40 dumpvars 2.txt\n"
      "40 dumptext 2t.txt\n41 press RETURN\n50 shot 3.png\n50 dumpvars 3.txt\n50 dumptext 3t.txt\n51 quit\n";
  out.Write("a.txt", checks);
  out.Write("b.txt", "3 press S\n5 quit\n");
  out.Write("c.txt", "3 press L\n" + checks);
  ScopedCurrentDir cd(out.Path());
  ASSERT_EQ(RunVelmira({"-headless", "-input", "a.txt", "-log", "a.log", gameA.Path()}), 0);
  for (const std::string n : {"1", "2", "3"}) {
    for (const std::string suffix : {".png", ".txt", "t.txt"})
      std::filesystem::rename(out / (n + suffix), out / ("a" + n + suffix));
  }
  ASSERT_EQ(RunVelmira({"-headless", "-input", "b.txt", "-log", "b.log", gameBC.Path()}), 0);
  EXPECT_NE(ReadFile(out / "b.log").find("saved saveq.dat"), std::string::npos) << ReadFile(out / "b.log");
  // The fuzz target's seeds are saves the engine wrote.
  if (std::getenv("VELMIRA_WRITE_FIXTURES"))
    std::filesystem::copy_file(gameBC / "saveq.dat",
                               std::string(VELMIRA_TEST_DATA_DIR) + "/../fuzz/corpus/savestate/scene.dat",
                               std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(RunVelmira({"-headless", "-input", "c.txt", "-log", "c.log", gameBC.Path()}), 0);
  EXPECT_NE(ReadFile(out / "c.log").find("loaded saveq.dat"), std::string::npos) << ReadFile(out / "c.log");
  if (const char* keep = std::getenv("VELMIRA_KEEP_OUTPUT")) {
    const auto options = std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy(out.Path(), keep, options);
    std::filesystem::copy(gameBC.Path(), std::string(keep) + "/game", options);
  }
  for (const std::string n : {"1", "2", "3"}) {
    const std::string a = ReadFile(out / ("a" + n + ".png"));
    ASSERT_GT(a.size(), 8u) << n;
    EXPECT_TRUE(a == ReadFile(out / (n + ".png"))) << "picture at wait " << n;
    EXPECT_EQ(Values(ReadFile(out / ("a" + n + ".txt"))), Values(ReadFile(out / (n + ".txt"))))
        << "variables at wait " << n;
    // Both windows, the ruby, the link and the backlog's pages.
    const std::string text = ReadFile(out / ("a" + n + "t.txt"));
    EXPECT_EQ(text, ReadFile(out / (n + "t.txt"))) << "text at wait " << n;
    if (n == "1") {
      EXPECT_NE(text.find("ruby"), std::string::npos) << text;
      EXPECT_NE(text.find("link 3..3"), std::string::npos) << text;
      EXPECT_NE(text.find("\"小\""), std::string::npos) << text;
    }
    if (n == "3") {
      EXPECT_NE(text.find("backlog pages 2"), std::string::npos) << text;
    }
  }
}

TEST(GameStateRun, LoadWithATransitionRestoresThenCrossFades) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=16\nHEIGHT=16\n[SYSTEM]\nBOOT=start.iet\n");
  Image(game, "orange.png", 16, 16, 0xF08020);
  Image(game, "blue.png", 16, 16, 0x2040F0);
  game.Write("start.iet",
             "[lyc id=bg file=orange]\r\n[lyprop id=bg left=8 top=8]\r\n[flip]\r\n[save file=slot.dat]\r\n"
             "[if estimate=g.back==1]\r\n[wait time=100000]\r\n[/if]\r\n[var name=g.back data=1]\r\n"
             "[lyc id=bg file=blue]\r\n[lyprop id=bg left=8 top=8]\r\n[flip]\r\n[wait time=100]\r\n"
             "[load file=slot.dat type=1 time=500]\r\n");
  // The load runs at about frame 7; half-way through its fade at frame 22.
  game.Write("input.txt", "4 shot blue.png\n22 shot mid.png\n60 shot end.png\n61 quit\n");
  ScopedCurrentDir cd(game.Path());
  ASSERT_EQ(RunVelmira({"-headless", "-input", "input.txt", "-log", "run.log", game.Path()}), 0);
  EXPECT_NE(ReadFile("run.log").find("loaded slot.dat"), std::string::npos) << ReadFile("run.log");
  CPackFileFactory files;
  CGraphicLoaders loaders(&files);
  loaders.AddLoader(new CPng());
  auto pixel = [&](const char* file) {
    CSurface shot;
    if (loaders.LoadFile(&shot, file)) return 0xDEADBEEFu;
    const uint8_t* p = shot.GetLine(8) + 8 * 4;
    return uint32_t(p[2] << 16 | p[1] << 8 | p[0]);
  };
  EXPECT_EQ(pixel("blue.png"), 0x2040F0u);
  const uint32_t mid = pixel("mid.png");
  EXPECT_NE(mid, 0x2040F0u);
  EXPECT_NE(mid, 0xF08020u);
  EXPECT_GT(mid >> 16, 0x20u);  // on its way to orange
  EXPECT_EQ(pixel("end.png"), 0xF08020u);
}

}  // namespace
