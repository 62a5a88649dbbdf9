// Pointer handlers of layers seen from outside, as an author would: the
// headless runner moves and clicks, the handlers' labels set variables that
// dumpvars writes, and the trace of mode 1 shows them in the -log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "graphics/PngWriter.h"
#include "support/TempDir.h"

namespace {

std::string SolidPng(int w, int h) {
  std::vector<uint8_t> pixels(size_t(w) * size_t(h) * 3, 0x80);
  PngImage image;
  image.width = w;
  image.height = h;
  image.pixels = pixels.data();
  image.pitch = size_t(w) * 3;
  std::vector<uint8_t> bytes;
  if (EncodePng(image, bytes)) return {};
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(PointerRun, HandlersAnswerMovesAndClicksFromTheRunner) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=64\nHEIGHT=48\n[SYSTEM]\nBOOT=start.iet\n");
  game.Write("b.png", SolidPng(16, 16));
  game.Write("start.iet",
             "[debug mode=1]\n"
             "[lyc id=b file=b][lyprop id=b left=8 top=8][flip]\n"
             "[setonclick id=b label=clicked][setonrollover id=b label=over][setonrollout id=b label=out]\n"
             "*wait\n@\n[jump label=wait]\n"
             "*clicked\n[var name=f.clicks data=$f.clicks+1]\n[jump label=wait]\n"
             "*over\n[var name=f.overs data=$f.overs+1]\n[jump label=wait]\n"
             "*out\n[var name=f.outs data=$f.outs+1]\n[jump label=wait]\n");
  // Outside, onto the layer, a click on it, then away again.
  game.Write("input.txt", "3 move 1 1\n6 move 12 12\n10 click 12 12\n14 move 60 40\n18 dumpvars vars.txt\n");
  ScopedCurrentDir cd(game.Path());
  ASSERT_EQ(RunVelmira({"-headless", "-frames", "20", "-input", "input.txt", "-log", "run.log", game.Path()}), 0);
  const std::string vars = ReadFile(game / "vars.txt");
  for (const char* name : {"f.overs", "f.clicks", "f.outs"}) {
    const size_t at = vars.find(std::string(name) + "\t");
    ASSERT_NE(at, std::string::npos) << name << "\n" << vars;
    const std::string line = vars.substr(at, vars.find('\n', at) - at);
    EXPECT_EQ(line.substr(line.rfind('\t') + 1), "1") << vars;
  }
  // The trace shows the handlers' lines in the order the pointer met them.
  const std::string log = ReadFile(game / "run.log");
  const size_t over = log.find("start.iet(11): var data=\"$f.overs+1\"(1)");
  const size_t click = log.find("start.iet(8): var data=\"$f.clicks+1\"(1)");
  const size_t out = log.find("start.iet(14): var data=\"$f.outs+1\"(1)");
  ASSERT_NE(over, std::string::npos) << log;
  ASSERT_NE(click, std::string::npos) << log;
  ASSERT_NE(out, std::string::npos) << log;
  EXPECT_LT(over, click);
  EXPECT_LT(click, out);
}
