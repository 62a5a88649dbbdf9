// Message windows in headless runs: effects, a link chosen with the pointer
// and skipping with Ctrl give the same pixels, text and variables every run.
#include <gtest/gtest.h>

#include <filesystem>

#include "EngineTestSupport.h"
#include "platform/TextCodec.h"
#include "support/TempDir.h"

namespace {

// A fresh game folder (a run writes its save files there).
void WriteGame(TempDir& game) {
  game.Write("system.ini", "[WINDOW]\nWIDTH=320\nHEIGHT=240\n[SYSTEM]\nBOOT=start.iet\n");
  game.Write("start.iet", Utf8ToCp932("[scetween mode=add type=in param=alpha diff=-255 msec=300 delay=20]\r\n"
                                      "[scetween mode=add type=out param=entiretop diff=20 msec=300]\r\n"
                                      "はじめの頁。@\r\n[rp]\r\n"
                                      "[link label=left]ひだり[/link]　[link label=right]みぎ[/link][stop]\r\n"
                                      "*left\r\n[var name=f.pick data=1][rp]左を選んだ。@[rp]つぎ@[rp]おわり[stop]\r\n"
                                      "*right\r\n[var name=f.pick data=2][rp]右。@\r\n"));
  game.Write("input.txt",
             "30 click 300 200\n50 move 10 10\n52 dumptext hover.txt\n60 click 10 10\n70 down CONTROL\n"
             "100 up CONTROL\n110 dumptext text.txt\n110 dumpvars vars.txt\n111 shot shot.png\n112 quit\n");
}

}  // namespace

TEST(MessageRun, LinkClicksAndSkippingAreDeterministic) {
  TempDir out[2];
  for (TempDir& dir : out) {
    TempDir game;
    WriteGame(game);
    ScopedCurrentDir cd(dir.Path());
    EXPECT_EQ(RunVelmira({"-headless", "-frames", "120", "-input", game / "input.txt", "-log", "run.log", game.Path()}),
              0);
  }
  const std::string hover = ReadFile(out[0] / "hover.txt");
  EXPECT_NE(hover.find("link 0..2 areas 1 hover"), std::string::npos) << hover;
  const std::string vars = ReadFile(out[0] / "vars.txt");
  EXPECT_NE(vars.find("f.pick\ts\t1"), std::string::npos) << vars;
  EXPECT_NE(ReadFile(out[0] / "text.txt").find("window \"\" chars"), std::string::npos);
  for (const char* file : {"hover.txt", "text.txt", "vars.txt", "shot.png", "run.log"})
    EXPECT_EQ(ReadFile(out[0] / file), ReadFile(out[1] / file)) << file;
}
