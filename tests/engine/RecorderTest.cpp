// Recording plays (-record) and frame statistics (-stats).
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "EngineTestSupport.h"
#include "engine/FrameStatsFile.h"
#include "engine/InputDriver.h"
#include "engine/InputRecorder.h"
#include "platform/Process.h"
#include "support/TempDir.h"
#include "support/Xvfb.h"

namespace {

class NullHooks : public CGameApplication::IFrameHooks {
 public:
  bool BeforeFrame(int) override { return false; }
  void AfterFrame(int) override {}
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace

TEST(Recorder, EveryKeyNameReadsBackAsItsCode) {
  for (int code = 1; code < 256; ++code) {
    const std::string name = CInputRecorder::KeyName(code);
    EXPECT_EQ(CInputDriver::KeyFromName(name), code) << name;
    // Names are single words: the driver splits its lines at blanks.
    EXPECT_EQ(name.find_first_of(" \t#"), std::string::npos) << name;
  }
  // Codes below ten have no digit spelling that a digit key could take.
  EXPECT_EQ(CInputRecorder::KeyName(3), "003");
  EXPECT_EQ(CInputDriver::KeyFromName("3"), '3');
  // Bytes of CP932 text are no key and no digit.
  EXPECT_EQ(CInputDriver::KeyFromName("\x82\x50"), -1);
  EXPECT_EQ(CInputDriver::KeyFromName("F\x82\x50"), -1);
  EXPECT_EQ(CInputDriver::KeyFromName("NUMPADX"), -1);
}

TEST(Recorder, RecordedLinesParseIntoTheSameInput) {
  CFrameTimer timer(60);
  CInputRecorder recorder(0, timer, nullptr);
  CInputRecorder::KeyStates keys{};
  recorder.Record(0, keys, {10, 20});
  keys[platform::VK_RETURN] = true;
  keys[platform::VK_LBUTTON] = true;
  keys[platform::VK_F1 + 4] = true;
  recorder.Record(3, keys, {10, 20});
  keys[platform::VK_RETURN] = false;
  recorder.Record(4, keys, {-5, 700});
  keys = {};
  recorder.Record(9, keys, {-5, 700});
  recorder.OnMessage(10, {0, platform::WM_MOUSEWHEEL, uintptr_t{120} << 16, 0});
  recorder.OnMessage(10, {0, platform::WM_MOUSEWHEEL, uintptr_t{0xFF88} << 16, 0});
  recorder.OnMessage(11, {0, platform::WM_MOUSEWHEEL, uintptr_t{240} << 16, 0});  // the game takes no other amount

  std::vector<std::string> errors;
  auto actions = CInputDriver::Parse(recorder.Pending(), errors);
  EXPECT_TRUE(errors.empty()) << errors[0];
  std::vector<std::string> seen;
  for (const auto& a : actions) {
    std::string s = std::to_string(a.frame) + " " + a.verb;
    if (a.verb == "down" || a.verb == "up") s += " " + std::to_string(a.key);
    if (a.verb == "move") s += " " + std::to_string(a.x) + "," + std::to_string(a.y);
    if (a.verb == "wheel") s += a.up ? " up" : " down";
    seen.push_back(s);
  }
  const std::vector<std::string> expected = {"0 move 10,20",  "3 down 1", "3 down 13", "3 down 116",  "4 up 13",
                                             "4 move -5,700", "9 up 1",   "9 up 116",  "10 wheel up", "10 wheel down"};
  EXPECT_EQ(seen, expected) << recorder.Pending();
}

TEST(Recorder, FullScreenSwitchesAndScreenPositionsReplay) {
  CFrameTimer timer(60);
  CInputRecorder recorder(0, timer, nullptr);
  recorder.OnMessage(5, {0, platform::WM_SYSKEYDOWN, platform::VK_RETURN, 0});
  std::vector<std::string> errors;
  auto actions = CInputDriver::Parse(recorder.Pending(), errors);
  ASSERT_TRUE(errors.empty()) << errors[0];
  ASSERT_EQ(actions.size(), 1u) << recorder.Pending();
  EXPECT_EQ(actions[0].frame, 5);
  EXPECT_EQ(actions[0].verb, "syskey");
  EXPECT_EQ(actions[0].key, platform::VK_RETURN);
}

TEST(Recorder, CloseIsRecordedOnceAsQuit) {
  CFrameTimer timer(60);
  CInputRecorder recorder(0, timer, nullptr);
  recorder.OnMessage(7, {0, platform::WM_CLOSE, 0, 0});
  recorder.OnMessage(7, {0, platform::WM_DESTROY, 0, 0});
  EXPECT_EQ(recorder.Pending(), "7 quit\n");
}

TEST(Recorder, ChecksumFollowsTheScripts) {
  TempDir game;
  EXPECT_EQ(CInputRecorder::ScriptChecksum(game.Path()), "");
  game.Write("start.iet", "*start\r\n");
  game.Write("sub/more.iet", "*more\r\n");
  game.Write("image.png", "not a script");
  const std::string first = CInputRecorder::ScriptChecksum(game.Path());
  EXPECT_EQ(first.size(), 16u);
  game.Write("image.png", "still not a script");
  EXPECT_EQ(CInputRecorder::ScriptChecksum(game.Path()), first);
  game.Write("sub/more.iet", "*more\r\n[wait time=1]\r\n");
  EXPECT_NE(CInputRecorder::ScriptChecksum(game.Path()), first);
}

TEST(Recorder, RefusedWithHeadlessAndWithoutAFile) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=32\nHEIGHT=24\n[SYSTEM]\nBOOT=start.iet\n");
  game.Write("start.iet", "*start\r\n");
  EXPECT_EQ(RunVelmira({"-headless", "-record", game / "rec.txt", "-frames", "3", game.Path()}), 2);
  EXPECT_FALSE(std::filesystem::exists(game / "rec.txt"));
}

namespace {

// A game whose picture and variables follow Return presses and the pointer.
void WriteCountingGame(const TempDir& game) {
  game.Write("system.ini", "[WINDOW]\nWIDTH=96\nHEIGHT=64\nFPS=60\n[SYSTEM]\nBOOT=start.iet\n");
  std::vector<uint8_t> bgra;
  for (int i = 0; i < 16 * 16; ++i) bgra.insert(bgra.end(), {0x20, 0x80, 0xF0, 0xFF});
  ASSERT_FALSE(WriteScreenshotPng(game / "box.png", bgra, 16, 16));
  game.Write("start.iet",
             "*start\r\n[var name=f.n data=0]\r\n[lyc id=box file=box]\r\n[flip]\r\n*again\r\n@\r\n"
             "[var name=f.n data=$f.n+1]\r\n[var name=f.r system=random]\r\n"
             "[lyprop id=box left=$f.n*8 top=$f.n*4]\r\n[flip]\r\n[jump label=again]\r\n");
}

// Plays the counting game in a window with Return pressed through SDL's own
// event queue, records it, replays the recording headless and compares the
// screenshots and dumps both runs took at the same frames.
void RecordAndReplay(const std::string& videoDriver, bool windowTakesKeys) {
  // Each run has a fresh game folder: the first one leaves its saves behind.
  TempDir game, fresh, played, replayed;
  WriteCountingGame(game);
  WriteCountingGame(fresh);
  const std::string marks = "20 shot a.png\n60 shot b.png\n60 dumpvars a.txt\n100 shot c.png\n100 dumpvars b.txt\n";
  game.Write("marks.txt", marks);
  setenv("SDL_VIDEODRIVER", videoDriver.c_str(), 1);

  std::atomic<bool> running{true};
  const std::string recordingPath = played / "rec.txt";
  std::thread presser([&running, recordingPath]() {
    // Waits for the first frame (the recorder has written it), then presses
    // Return now and then.
    for (int i = 0; i < 2000 && running && ReadFile(recordingPath).find("\n0 move") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (int press = 0; press < 4 && running; ++press) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      SDL_Event e{};
      e.type = SDL_KEYDOWN;
      e.key.keysym.scancode = SDL_SCANCODE_RETURN;
      e.key.keysym.sym = SDLK_RETURN;
      SDL_PushEvent(&e);
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
      e.type = SDL_KEYUP;
      SDL_PushEvent(&e);
    }
  });
  {
    ScopedCurrentDir cd(played.Path());
    EXPECT_EQ(RunVelmira({"-fsr", "-record", "rec.txt", "-input", game / "marks.txt", "-frames", "110", "-log",
                          "run.log", game.Path()}),
              0);
  }
  running = false;
  presser.join();

  const std::string recording = ReadFile(played / "rec.txt");
  const std::vector<std::string> lines = Lines(recording);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("# velmira ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(CInputRecorder::ScriptChecksum(game.Path())), std::string::npos) << lines[0];
  // SDL's dummy windows never have the focus: the game takes no keys there,
  // and the recording must not hold them either.
  EXPECT_EQ(recording.find(" down RETURN") != std::string::npos, windowTakesKeys) << recording;
  game.Write("replay.txt", recording + marks);
  {
    ScopedCurrentDir cd(replayed.Path());
    EXPECT_EQ(
        RunVelmira({"-headless", "-input", game / "replay.txt", "-frames", "110", "-log", "run.log", fresh.Path()}), 0);
  }
  for (const char* name : {"a.png", "b.png", "c.png", "a.txt", "b.txt"}) {
    const std::string a = ReadFile(played / name);
    EXPECT_FALSE(a.empty()) << name;
    EXPECT_EQ(a, ReadFile(replayed / name)) << name << "\n" << recording;
  }
  const std::string vars = ReadFile(played / "b.txt");
  const size_t at = vars.find("f.n\t");
  ASSERT_NE(at, std::string::npos) << vars;
  const std::string count = vars.substr(at, vars.find('\n', at) - at);
  EXPECT_EQ(count.back() != '0', windowTakesKeys) << count;
}

}  // namespace

TEST(Recorder, PlayInSdlDummyWindowReplaysHeadlessIdentically) { RecordAndReplay("dummy", false); }

TEST(Recorder, PlayUnderXvfbReplaysHeadlessIdentically) {
  XvfbDisplay display;
  std::string why;
  if (!display.Start(why)) GTEST_SKIP() << why;
  display.RunChildTest("Recorder.XvfbChild", "VELMIRA_XVFB_CHILD");
}

// The half of the test above that runs inside the child.
TEST(Recorder, XvfbChild) {
  if (!std::getenv("VELMIRA_XVFB_CHILD")) GTEST_SKIP() << "run by PlayUnderXvfbReplaysHeadlessIdentically";
  RecordAndReplay("x11", true);
}

TEST(FrameStats, OneRowPerFrameWhosePartsAddUpToTheFrame) {
  // The demo (a copy: runs write saves) with its images, tweens and
  // transitions; 200 frames reach the cross-fade.
  TempDir dir;
  const std::filesystem::path game = std::filesystem::path(dir.Path()) / "demo";
  std::filesystem::copy(std::filesystem::path(VELMIRA_TEST_DATA_DIR) / ".." / "games" / "demo", game,
                        std::filesystem::copy_options::recursive);
  std::filesystem::remove_all(game / "tests");
  const std::string csv = dir / "stats.csv";
  ASSERT_EQ(RunVelmira({"-headless", "-frames", "200", "-stats", csv, game.string()}), 0);
  const std::vector<std::string> lines = Lines(ReadFile(csv));
  ASSERT_EQ(lines.size(), 201u);
  EXPECT_EQ(lines[0], CFrameStatsFile::Header());
  double frameTotal = 0, partsTotal = 0;
  unsigned records = 0, layers = 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<long long> cells;
    std::istringstream in(lines[i]);
    for (std::string cell; std::getline(in, cell, ',');) cells.push_back(std::stoll(cell));
    ASSERT_EQ(cells.size(), 14u) << lines[i];
    EXPECT_EQ(cells[0], static_cast<long long>(i - 1));
    // The virtual clock: one period of 1024000/60 ticks per frame.
    EXPECT_EQ(cells[1], static_cast<long long>((1000000ull * 1024 + (i - 1) * (1024000 / 60)) >> 10));
    long long parts = 0;
    for (int c = 4; c <= 9; ++c) parts += cells[c];
    // The parts lie inside their frame. A frame may hold a little more than
    // its parts (the machine can stop the engine between two of them), so
    // coverage is checked over the whole run.
    EXPECT_LE(double(parts), double(cells[3]) * 1.05 + 100) << lines[i];
    frameTotal += cells[3];
    partsTotal += parts;
    records += static_cast<unsigned>(cells[10]);
    layers += static_cast<unsigned>(cells[11]);
  }
  EXPECT_GT(frameTotal, 0);
  EXPECT_NEAR(partsTotal / frameTotal, 1.0, 0.05) << partsTotal << " of " << frameTotal;
  EXPECT_GT(records, 20u);
  // The demo opens with a movie (drawn without layers); its scene's layers
  // are counted in the frames after it.
  EXPECT_GT(layers, 0u);
}
