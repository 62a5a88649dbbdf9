// velmira-tool test (replays with goldens) and velmira-tool stats, run as
// authors run them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "files/MemoryFile.h"
#include "graphics/Png.h"
#include "graphics/PngWriter.h"
#include "graphics/Surface.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status = -1;
  std::string out;
};

Outcome Tool(const std::string& arguments) {
  Outcome o;
  FILE* pipe = popen((std::string(VELMIRA_TOOL) + " " + arguments + " 2>/dev/null").c_str(), "r");
  if (!pipe) return o;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) o.out.append(buffer, n);
  const int raw = pclose(pipe);
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return o;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// The demo with its tests, in a folder of the test's own.
fs::path CopyDemo(const TempDir& dir) {
  const fs::path demo = fs::path(VELMIRA_TEST_DATA_DIR) / ".." / "games" / "demo";
  const fs::path copy = fs::path(dir.Path()) / "demo";
  fs::copy(demo, copy, fs::copy_options::recursive);
  return copy;
}

std::string Engine() { return std::string(" --engine ") + VELMIRA_ENGINE; }

// Flips the green byte of one pixel of a PNG screenshot.
void AlterPixel(const fs::path& png, int x, int y) {
  const std::string bytes = Slurp(png);
  CMemoryFile file(bytes.data(), bytes.size());
  CSurface surface;
  CPng loader;
  ASSERT_FALSE(loader.Load(&surface, &file));
  const int w = surface.GetWidth(), h = surface.GetHeight();
  std::vector<uint8_t> bgra;
  for (int row = 0; row < h; ++row) bgra.insert(bgra.end(), surface.GetLine(row), surface.GetLine(row) + w * 4);
  bgra[(static_cast<size_t>(y) * w + x) * 4 + 1] ^= 0xFF;
  std::vector<uint8_t> out;
  ASSERT_FALSE(EncodeBgraAsRgbPng(bgra.data(), w, h, out));
  Spit(png, std::string(out.begin(), out.end()));
}

// The first golden of a kind a test has.
fs::path FirstGolden(const fs::path& game, const std::string& test, const std::string& extension) {
  for (const auto& entry : fs::directory_iterator(game / "tests" / "golden" / test)) {
    if (entry.path().extension() == extension) return entry.path();
  }
  return {};
}

}  // namespace

TEST(TestTool, DemoPassesFailsOnAlteredGoldensAndUpdateMendsThem) {
  TempDir dir;
  const fs::path game = CopyDemo(dir);
  const std::string test = "opening";
  // Saves from the author's own play stay out of the test runs: with them
  // the global and system variables would differ from the goldens'.
  const std::string play = std::string(VELMIRA_ENGINE) + " -headless -frames 600 " + game.string() + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(play.c_str()), 0);
  ASSERT_TRUE(fs::exists(game / "saveg.dat"));
  Outcome pass = Tool("test " + game.string() + " --only " + test + Engine());
  ASSERT_EQ(pass.status, 0) << pass.out;
  EXPECT_NE(pass.out.find("PASS " + test), std::string::npos) << pass.out;
  EXPECT_NE(pass.out.find("1 test: 1 passed, 0 failed"), std::string::npos) << pass.out;
  // The scratch copy took the run's saves; the game folder has none.
  EXPECT_FALSE(fs::exists(game / "tests" / "failed"));

  const fs::path shot = FirstGolden(game, test, ".png");
  const fs::path dump = FirstGolden(game, test, ".txt");
  ASSERT_FALSE(shot.empty());
  ASSERT_FALSE(dump.empty());
  AlterPixel(shot, 17, 9);
  // One variable's value changes; the others stay.
  std::string vars = Slurp(dump);
  const size_t tab = vars.find('\t');
  ASSERT_NE(tab, std::string::npos);
  const std::string name = vars.substr(0, tab);
  const size_t end = vars.find('\n');
  vars.insert(end, "9");
  Spit(dump, vars);

  Outcome fail = Tool("test " + game.string() + " --only " + test + Engine());
  EXPECT_EQ(fail.status, 1) << fail.out;
  EXPECT_NE(fail.out.find("FAIL " + test), std::string::npos) << fail.out;
  EXPECT_NE(fail.out.find(shot.filename().string() + ": 1 pixel differs in (17,9)-(17,9)"), std::string::npos)
      << fail.out;
  EXPECT_NE(fail.out.find(dump.filename().string() + ": 1 variable differs: " + name), std::string::npos) << fail.out;
  fs::path diff = game / "tests" / "failed" / test / shot.filename();
  diff.replace_extension(".diff.png");
  EXPECT_TRUE(fs::exists(diff)) << fail.out;
  EXPECT_TRUE(fs::exists(game / "tests" / "failed" / test / shot.filename()));

  Outcome update = Tool("test " + game.string() + " --only " + test + " --update" + Engine());
  EXPECT_EQ(update.status, 0) << update.out;
  EXPECT_NE(update.out.find("UPDATED " + test), std::string::npos) << update.out;
  Outcome again = Tool("test " + game.string() + " --only " + test + Engine());
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_FALSE(fs::exists(game / "tests" / "failed"));
}

TEST(TestTool, BadDriverLinesFailWithTheirLineNumbers) {
  TempDir dir;
  dir.Write("game/system.ini", "[WINDOW]\nWIDTH=32\nHEIGHT=24\n[SYSTEM]\nBOOT=start.iet\n");
  dir.Write("game/start.iet", "*start\r\n@\r\n");
  dir.Write("game/tests/broken.txt", "# a comment\n3 press RETURN\n5 jump\nten shot a.png\n8 shot a.png\n");
  dir.Write("game/tests/escape.txt", "4 shot ../../outside.png\n");
  dir.Write("game/tests/good.txt", "2 shot a.png\n2 dumpvars v.txt\n");
  const std::string game = dir / "game";
  Outcome o = Tool("test " + game + " --jobs 2" + Engine());
  EXPECT_EQ(o.status, 1) << o.out;
  EXPECT_NE(o.out.find("FAIL broken: broken.txt line 3: unknown action 'jump'; broken.txt line 4: a frame number"),
            std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("FAIL escape: shot ../../outside.png: outputs are plain names"), std::string::npos) << o.out;
  // A test without goldens fails and says how to make them.
  EXPECT_NE(o.out.find("FAIL good: a.png has no golden (run with --update)"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("3 tests: 0 passed, 3 failed"), std::string::npos) << o.out;
  EXPECT_FALSE(fs::exists(dir / "outside.png"));

  // --update writes goldens only for tests that ran cleanly.
  Outcome u = Tool("test " + game + " --update" + Engine());
  EXPECT_EQ(u.status, 1) << u.out;
  EXPECT_NE(u.out.find("UPDATED good (2 checks)"), std::string::npos) << u.out;
  EXPECT_TRUE(fs::exists(dir / "game/tests/golden/good/a.png"));
  EXPECT_FALSE(fs::exists(dir / "game/tests/golden/broken"));
  Outcome g = Tool("test " + game + " --only good" + Engine());
  EXPECT_EQ(g.status, 0) << g.out;
}

TEST(TestTool, UsageErrorsExitWithTwo) {
  TempDir dir;
  dir.Write("game/system.ini", "[WINDOW]\nWIDTH=32\nHEIGHT=24\n");
  dir.Write("game/tests/one.txt", "1 shot a.png\n");
  EXPECT_EQ(Tool("test").status, 2);
  EXPECT_EQ(Tool("test " + dir / "nothere").status, 2);
  EXPECT_EQ(Tool("test " + dir / "game --only two" + Engine()).status, 2);
  EXPECT_EQ(Tool("test " + dir / "game --jobs 0" + Engine()).status, 2);
  EXPECT_EQ(Tool("test " + dir / "game --frobnicate").status, 2);
  EXPECT_EQ(Tool("test " + dir / "game --engine " + dir / "no-engine").status, 2);
  fs::remove(dir / "game/tests/one.txt");
  EXPECT_EQ(Tool("test " + dir / "game" + Engine()).status, 2);
}

TEST(StatsTool, PercentilesAndTheSlowestFrames) {
  TempDir dir;
  std::string csv =
      "frame,virtual_ms,real_us,frame_us,input_us,tweens_us,script_us,layers_us,draw_us,present_us,"
      "records,layers,glyphs,sounds\n";
  for (int f = 0; f < 100; ++f) {
    const int draw = f == 42 ? 9000 : 100 + f;
    const int script = f == 7 ? 5000 : 10;
    csv += std::to_string(f) + "," + std::to_string(1000000 + f * 16) + "," + std::to_string(f * 16000) + "," +
           std::to_string(draw + script + 5) + ",1,1," + std::to_string(script) + ",1," + std::to_string(draw) +
           ",1,3,2,0,0\n";
  }
  dir.Write("stats.csv", csv);
  Outcome o = Tool("stats " + dir / "stats.csv");
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_NE(o.out.find("100 frames"), std::string::npos) << o.out;
  // draw_us: 100..199 but frame 42 at 9000; p50 is the 50th smallest.
  EXPECT_TRUE(std::regex_search(o.out, std::regex("draw_us +150 +195 +199 +9000"))) << o.out;
  const size_t slow = o.out.find("slowest frames:");
  ASSERT_NE(slow, std::string::npos);
  EXPECT_NE(o.out.find("frame 42: 9015 us, mostly draw (9000 us, 100 %)", slow), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("frame 7: 5112 us, mostly script (5000 us, 98 %)", slow), std::string::npos) << o.out;

  dir.Write("bad.csv", csv + "100,1,2\nx,y\n");
  Outcome bad = Tool("stats " + dir / "bad.csv");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(Tool("stats").status, 2);
  EXPECT_EQ(Tool("stats " + dir / "none.csv").status, 2);
}
