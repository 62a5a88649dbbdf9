// Whole runs on the GPU renderer: headless (EGL) shots against software, the
// full-screen switch, clicks in full screen and a lost context; and a run in a
// real SDL window under Xvfb. Skipped when the machine has no GL or no Xvfb.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "EngineTestSupport.h"
#include "engine/InputDriver.h"
#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"
#include "platform/TextCodec.h"
#include "platform/Process.h"
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

// The same picture within what GL's arithmetic allows for a composed scene:
// the mean difference at most 1, and 99 % of the channels within 8.
void ExpectClose(const CShot& gl, const CShot& sw, const std::string& what) {
  ASSERT_EQ(gl.width, sw.width) << what;
  ASSERT_EQ(gl.height, sw.height) << what;
  ASSERT_FALSE(gl.rgb.empty()) << what;
  double sum = 0;
  size_t within = 0;
  for (size_t i = 0; i < gl.rgb.size(); ++i) {
    const int diff = std::abs(int(gl.rgb[i]) - int(sw.rgb[i]));
    sum += diff;
    within += diff <= 8;
  }
  EXPECT_LE(sum / double(gl.rgb.size()), 1.0) << what;
  EXPECT_GE(double(within) / double(gl.rgb.size()), 0.99) << what;
}

// Runs a game headless on GL and on software with the same input; false
// (and nothing compared) when this machine has no GL.
bool RunBoth(const std::string& game, const std::string& input, TempDir& gl, TempDir& sw) {
  for (TempDir* out : {&gl, &sw}) {
    ScopedCurrentDir cd(out->Path());
    std::vector<std::string> args = {"-headless", "-input", input, "-log", "run.log", game};
    args.insert(args.begin() + 1, out == &gl ? "-renderer" : "-fsr");
    if (out == &gl) args.insert(args.begin() + 2, "gles");
    EXPECT_EQ(RunVelmira(args), 0);
    if (out == &gl && !RanOnGl(ReadFile(gl / "run.log"))) return false;
  }
  return true;
}

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
  ExpectClose(a, s, "the game");
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

TEST(GlesEngine, TransitionsMidwayAMessageWindowAndTheDemoMatchSoftware) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=320\nHEIGHT=240\n[SYSTEM]\nBOOT=start.iet\n");
  std::vector<uint8_t> one, two;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) {
      one.insert(one.end(), {uint8_t(x * 255 / 319), uint8_t(y), 0x40, 0xFF});
      two.insert(two.end(), {0x30, uint8_t(255 - y), uint8_t(x * 255 / 319), 0xFF});
    }
  ASSERT_FALSE(WriteScreenshotPng(game / "one.png", one, 320, 240));
  ASSERT_FALSE(WriteScreenshotPng(game / "two.png", two, 320, 240));
  // A message window over a cross-fade and over a rule transition (the
  // rule is the first picture's grey ramp), each shot half-way.
  game.Write("start.iet", Utf8ToCp932("[lyc id=bg file=one]\r\n[flip]\r\n"
                                      "[font size=16 left=10 top=160 width=300 height=70 color=ffffff]\r\n"
                                      "窓の文字、[ruby text=る]瑠[/ruby]璃色。\r\n"
                                      "[lyc id=bg file=two]\r\n[trans type=1 time=1000]\r\n"
                                      "[lyc id=bg file=one]\r\n[trans type=2 rule=two time=1000 vague=64]\r\n"
                                      "[wait time=100000]\r\n"));
  game.Write("input.txt", "30 shot fade.png\n90 shot rule.png\n130 shot end.png\n131 quit\n");
  TempDir gl, sw;
  if (!RunBoth(game.Path(), game / "input.txt", gl, sw)) GTEST_SKIP() << "no GL here";
  for (const char* shot : {"fade.png", "rule.png", "end.png"})
    ExpectClose(LoadShot(gl / shot), LoadShot(sw / shot), shot);
  // The two fades were caught half-way: neither the first nor the last picture.
  EXPECT_NE(LoadShot(sw / "fade.png").rgb, LoadShot(sw / "end.png").rgb);

  // The demo (a copy: runs write saves), past its opening into its scenes.
  TempDir dir;
  const std::filesystem::path demo = std::filesystem::path(dir.Path()) / "demo";
  std::filesystem::copy(std::filesystem::path(VELMIRA_TEST_DATA_DIR) / ".." / "games" / "demo", demo,
                        std::filesystem::copy_options::recursive);
  std::filesystem::remove_all(demo / "tests");
  dir.Write("input.txt", "100 shot a.png\n200 shot b.png\n201 quit\n");
  TempDir demoGl, demoSw;
  if (!RunBoth(demo.string(), dir / "input.txt", demoGl, demoSw)) GTEST_SKIP() << "no GL here";
  for (const char* shot : {"a.png", "b.png"}) ExpectClose(LoadShot(demoGl / shot), LoadShot(demoSw / shot), shot);
}

// An 800 x 600 game with two clickable layers: a (red, 100..164 x 100..164)
// counts its clicks in f.a, b (green, 240..304 x 120..184) in f.b.
void WriteClickGame(TempDir& game) {
  game.Write("system.ini", "[WINDOW]\nWIDTH=800\nHEIGHT=600\n[SYSTEM]\nBOOT=start.iet\n");
  std::vector<uint8_t> red, green;
  for (int i = 0; i < 64 * 64; ++i) {
    red.insert(red.end(), {0x00, 0x00, 0xFF, 0xFF});
    green.insert(green.end(), {0x00, 0xFF, 0x00, 0xFF});
  }
  ASSERT_FALSE(WriteScreenshotPng(game / "red.png", red, 64, 64));
  ASSERT_FALSE(WriteScreenshotPng(game / "green.png", green, 64, 64));
  game.Write("start.iet",
             "[lyc id=a file=red][lyprop id=a left=100 top=100]\n"
             "[lyc id=b file=green][lyprop id=b left=240 top=120][flip]\n"
             "[setonclick id=a label=hita][setonclick id=b label=hitb]\n"
             "*wait\n@\n[jump label=wait]\n"
             "*hita\n[var name=f.a data=$f.a+1]\n[jump label=wait]\n"
             "*hitb\n[var name=f.b data=$f.b+1]\n[jump label=wait]\n");
}

// A variable's value in a dumpvars file; "" when it is not there.
std::string VarValue(const std::string& vars, const std::string& name) {
  const size_t at = vars.find(name + "\t");
  if (at == std::string::npos || (at > 0 && vars[at - 1] != '\n')) return std::string();
  const std::string line = vars.substr(at, vars.find('\n', at) - at);
  return line.substr(line.rfind('\t') + 1);
}

// In full screen at 1920 x 1080 the 800 x 600 scene is scaled by 1.8 and
// starts 240 pixels in: layer a's (120, 130) is at (456, 234) on the screen,
// and (120, 130) on the screen is the left bar. Read as a client position
// unshifted, (456, 234) would land on layer b.
const char kClickInput[] =
    "3 click 120 130\n6 dumpvars one.txt\n8 syskey RETURN\n12 click 456 234\n14 dumpvars two.txt\n"
    "16 click 120 130\n18 dumpvars three.txt\n20 shot full.png\n21 quit\n";

TEST(GlesEngine, ClicksInFullScreenHitWhatThePlayerSees) {
  TempDir game, gl, sw;
  WriteClickGame(game);
  game.Write("input.txt", kClickInput);
  {
    ScopedCurrentDir cd(gl.Path());
    ASSERT_EQ(RunVelmira({"-headless", "-renderer", "gles", "-screen", "1920x1080", "-input", game / "input.txt",
                          "-log", "run.log", game.Path()}),
              0);
  }
  if (!RanOnGl(ReadFile(gl / "run.log"))) GTEST_SKIP() << "no GL here: " << ReadFile(gl / "run.log");
  EXPECT_EQ(LoadShot(gl / "full.png").width, 1440);
  // The scaled click hits a again; the bar takes the unscaled one.
  EXPECT_EQ(VarValue(ReadFile(gl / "one.txt"), "f.a"), "1");
  EXPECT_EQ(VarValue(ReadFile(gl / "two.txt"), "f.a"), "2");
  EXPECT_EQ(VarValue(ReadFile(gl / "three.txt"), "f.a"), "2");
  EXPECT_EQ(VarValue(ReadFile(gl / "three.txt"), "f.b"), "") << ReadFile(gl / "three.txt");

  // Software stays in the window: the scaled position is empty scene and
  // the unscaled one still hits a.
  {
    ScopedCurrentDir cd(sw.Path());
    ASSERT_EQ(RunVelmira({"-headless", "-fsr", "-screen", "1920x1080", "-input", game / "input.txt", "-log", "run.log",
                          game.Path()}),
              0);
  }
  EXPECT_EQ(LoadShot(sw / "full.png").width, 800);
  EXPECT_EQ(VarValue(ReadFile(sw / "one.txt"), "f.a"), "1");
  EXPECT_EQ(VarValue(ReadFile(sw / "two.txt"), "f.a"), "1");
  EXPECT_EQ(VarValue(ReadFile(sw / "three.txt"), "f.a"), "2");
  EXPECT_EQ(VarValue(ReadFile(sw / "three.txt"), "f.b"), "") << ReadFile(sw / "three.txt");

  // Without a choice on a software rasterizer the GPU renderer declines and
  // the software one draws: the switch is ignored as with -fsr.
  TempDir fallback;
  {
    ScopedCurrentDir cd(fallback.Path());
    ASSERT_EQ(
        RunVelmira({"-headless", "-screen", "1920x1080", "-input", game / "input.txt", "-log", "run.log", game.Path()}),
        0);
  }
  const std::string log = ReadFile(fallback / "run.log");
  if (log.find("slower than the software renderer") == std::string::npos) return;
  EXPECT_EQ(LoadShot(fallback / "full.png").width, 800) << log;
  EXPECT_EQ(VarValue(ReadFile(fallback / "two.txt"), "f.a"), "1");
  EXPECT_EQ(VarValue(ReadFile(fallback / "three.txt"), "f.a"), "2");
}

// A screen dump of Xvfb (-fbdir): an XWD file, 32 bits a pixel.
struct CScreen {
  int width = 0, height = 0;
  std::string bytes;
  size_t pixels = 0, pitch = 0;
  uint32_t Word(size_t i) const {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + 4 * i;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  }
  bool Load(const std::string& text) {
    bytes = text;
    if (bytes.size() < 100 || Word(11) != 32) return false;
    width = int(Word(4));
    height = int(Word(5));
    pitch = Word(12);
    pixels = size_t(Word(0)) + size_t(Word(19)) * 12;
    return pixels + pitch * size_t(height) <= bytes.size();
  }
  // R, G, B of a pixel as one number 0xRRGGBB.
  uint32_t At(int x, int y) const {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + pixels + pitch * size_t(y) + 4 * size_t(x);
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
};

// The window path: the engine in an SDL window on GL under Xvfb, switched to
// full screen and back. The run happens in a child of this program (SDL's
// video starts once a process and unloads libraries the leak checker then
// cannot name); the child's half is the test below.
TEST(GlesEngine, SdlWindowRunsOnGlAndSwitchesFullScreen) {
  if (!std::filesystem::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "no Xvfb";
  TempDir dir;
  platform::ProcessOptions server;
  server.outputPath = dir / "xvfb.txt";
  int xvfb = -1;
  // -displayfd: Xvfb takes a free display itself and writes its number when
  // it is ready.
  ASSERT_FALSE(platform::StartProcess(
      {"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1920x1080x24", "-fbdir", dir.Path(), "-nolisten", "tcp"},
      server, xvfb));
  std::string display;
  for (int i = 0; i < 500 && display.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int status = 0;
    if (platform::PollProcess(xvfb, status)) break;
    const std::string out = ReadFile(dir / "xvfb.txt");
    size_t end = out.find('\n');
    for (size_t begin = 0; end != std::string::npos; begin = end + 1, end = out.find('\n', begin)) {
      const std::string line = out.substr(begin, end - begin);
      if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) display = ":" + line;
    }
  }
  if (display.empty()) {
    platform::StopProcess(xvfb, true);
    platform::WaitProcess(xvfb, 5000);
    GTEST_SKIP() << "Xvfb did not start: " << ReadFile(dir / "xvfb.txt");
  }
  platform::ProcessOptions child;
  child.outputPath = dir / "child.txt";
  child.environment = {"DISPLAY=" + display, "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
                       "ASAN_OPTIONS=detect_leaks=0", "VELMIRA_SDL_GL_CHILD=" + dir.Path()};
  int pid = -1;
  const bool startFailed = platform::StartProcess(
      {std::filesystem::read_symlink("/proc/self/exe").string(), "--gtest_filter=GlesEngine.SdlWindowChild"}, child,
      pid);
  // Bounded: a hung child is killed (-2) and fails the test.
  const int status = startFailed ? -1 : platform::WaitProcess(pid, 120000);
  platform::StopProcess(xvfb);
  platform::WaitProcess(xvfb, 5000);
  ASSERT_FALSE(startFailed);
  const std::string out = ReadFile(dir / "child.txt");
  if (status == 0 && out.find("[  SKIPPED ] GlesEngine.SdlWindowChild") != std::string::npos)
    GTEST_SKIP() << "the window run skipped:\n" << out;
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

TEST(GlesEngine, SdlWindowChild) {
  const char* parentDir = std::getenv("VELMIRA_SDL_GL_CHILD");
  if (!parentDir) GTEST_SKIP() << "run by SdlWindowRunsOnGlAndSwitchesFullScreen";
  const std::string screenFile = std::string(parentDir) + "/Xvfb_screen0";
  TempDir game, run;
  WriteClickGame(game);
  // The window runs in real time: frames that catch up after a slow one (the
  // start, a switch) skip drawing, so each shot waits well over a second's
  // worth of frames after the switch before it.
  game.Write("input.txt",
             "3 click 120 130\n90 shot window.png\n100 syskey RETURN\n130 click 456 234\n190 shot full.png\n"
             "290 syskey RETURN\n380 shot back.png\n385 dumpvars vars.txt\n");
  // What the screen shows while full screen: taken a moment after the shot
  // of it, well before the switch back.
  std::atomic<bool> running{true};
  std::string screen;
  std::thread watcher([&] {
    for (int i = 0; i < 6000 && running && !std::filesystem::exists(run / "full.png"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!running) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    screen = ReadFile(screenFile);
  });
  int status = 0;
  {
    ScopedCurrentDir cd(run.Path());
    status = RunVelmira({"-renderer", "gles", "-screen", "1920x1080", "-frames", "390", "-input", game / "input.txt",
                         "-log", "run.log", game.Path()});
  }
  running = false;
  watcher.join();
  const std::string log = ReadFile(run / "run.log");
  if (!RanOnGl(log)) GTEST_SKIP() << "no GL in the window: " << log;
  EXPECT_EQ(status, 0) << log;
  const CShot window = LoadShot(run / "window.png"), full = LoadShot(run / "full.png"),
              back = LoadShot(run / "back.png");
  EXPECT_EQ(window.width, 800);
  EXPECT_EQ(full.width, 1440);
  EXPECT_EQ(full.height, 1080);
  EXPECT_EQ(back.width, 800);
  EXPECT_EQ(back.rgb, window.rgb);
  const std::string vars = ReadFile(run / "vars.txt");
  EXPECT_EQ(VarValue(vars, "f.a"), "2") << vars;
  EXPECT_EQ(VarValue(vars, "f.b"), "") << vars;
  // On the screen: black bars either side, the layers scaled in between.
  CScreen shown;
  ASSERT_TRUE(shown.Load(screen)) << screen.size() << " bytes from " << screenFile;
  ASSERT_EQ(shown.width, 1920);
  ASSERT_EQ(shown.height, 1080);
  EXPECT_EQ(shown.At(100, 540), 0x000000u);
  EXPECT_EQ(shown.At(1800, 540), 0x000000u);
  EXPECT_EQ(shown.At(478, 238), 0xFF0000u);  // a's middle, (132, 132) in the scene
  EXPECT_EQ(shown.At(730, 274), 0x00FF00u);  // b's middle, (272, 152)
  EXPECT_EQ(shown.At(240 + 700 * 18 / 10, 500 * 18 / 10), 0x000000u);
}

}  // namespace
