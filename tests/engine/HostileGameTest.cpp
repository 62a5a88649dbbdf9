// What hostile or careless game folders, saves and disks do to the engine:
// each case once hung, crashed, lost data or failed silently.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "EngineTestSupport.h"
#include "engine/EngineMain.h"
#include "files/PackTool.h"
#include "graphics/GraphicLoader.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace {

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

const char kSystemIni[] = "[WINDOW]\nWIDTH=64\nHEIGHT=48\n[SYSTEM]\nBOOT=game.iet\n";

}  // namespace

TEST(HostileGame, SaveFilesThatAreNotRegularFilesAreTreatedAsAbsent) {
  TempDir game;
  game.Write("system.ini", kSystemIni);
  game.Write("game.iet", "[var name=g.x data=1]@\n");
  // A pipe blocked start-up for ever; a link to /dev/zero read without end.
  ASSERT_EQ(mkfifo((game / "saveg.dat").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", game / "system.dat");
  const std::string log = game / "run.log";
  EXPECT_EQ(RunVelmira({"-headless", "-frames", "5", "-input", "/dev/zero", "-log", log, game.Path()}), 0);
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find("saveg.dat not loaded: not a regular file"), std::string::npos) << text;
  EXPECT_NE(text.find("system.dat not loaded: not a regular file"), std::string::npos) << text;
}

TEST(HostileGame, FailedSavesAreReportedOnceAndUnreadableOnesKeptAside) {
  TempDir game;
  game.Write("system.ini", kSystemIni);
  game.Write("game.iet", "[var name=g.x data=1]@[var name=g.x data=2]@[var name=s.y data=3]@\n");
  // saveg.dat is a folder: nothing can be saved there.
  std::filesystem::create_directory(game / "saveg.dat");
  // system.dat holds something that is not a save of this engine.
  game.Write("system.dat", "precious notes, not a save");
  game.Write("clicks.txt", "2 click 1 1\n5 click 1 1\n8 click 1 1\n");
  const std::string log = game / "run.log";
  EXPECT_EQ(RunVelmira({"-headless", "-frames", "12", "-input", game / "clicks.txt", "-log", log, game.Path()}), 0);
  const std::string text = ReadFile(log);
  EXPECT_EQ(Count(text, "saveg.dat not saved: is a folder"), 1u) << text;
  EXPECT_NE(text.find("system.dat not loaded: not a save file of this engine; kept as system.dat.bad"),
            std::string::npos)
      << text;
  EXPECT_EQ(ReadFile(game / "system.dat.bad"), "precious notes, not a save");
  // No temporary is left behind by the failed writes.
  for (const auto& entry : std::filesystem::directory_iterator(game.Path()))
    EXPECT_FALSE(platform::IsAtomicWriteTemporary(entry.path().filename().string())) << entry.path();
}

TEST(HostileGame, StaleTemporariesOfKilledSavesGoAtStartUp) {
  TempDir game;
  game.Write("system.ini", kSystemIni);
  game.Write("game.iet", "@\n");
  // A process that has ended: its temporaries are stale.
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  const std::string stale = "saveg.dat.tmp" + std::to_string(child);
  game.Write(stale, "half a save");
  game.Write("notes.tmp", "not ours");
  EXPECT_EQ(RunVelmira({"-headless", "-frames", "2", game.Path()}), 0);
  EXPECT_FALSE(std::filesystem::exists(game / stale));
  EXPECT_TRUE(std::filesystem::exists(game / "notes.tmp"));
}

// Each side the engine cannot make takes its default; a side it can make
// stays as the game asked.
TEST(HostileGame, AWindowSizeTheEngineCannotMakeFallsBackToTheDefault) {
  struct Case {
    const char* window;
    const char* reported;
    std::string ihdr;  // PNG width and height, big-endian
  };
  const Case cases[] = {
      {"WIDTH=0\nHEIGHT=-5\n", "a 0x-5 window cannot be made", std::string("\0\0\x03\x20\0\0\x02\x58", 8)},
      {"WIDTH=300\n", "a 300x0 window cannot be made (each side 1 to 16384); the game runs at 300x600",
       std::string("\0\0\x01\x2C\0\0\x02\x58", 8)},
  };
  for (const Case& c : cases) {
    TempDir game;
    game.Write("system.ini", std::string("[WINDOW]\n") + c.window + "[SYSTEM]\nBOOT=game.iet\n");
    game.Write("game.iet", "@\n");
    game.Write("shot.txt", "1 shot " + (game / "shot.png") + "\n");
    const std::string log = game / "run.log";
    EXPECT_EQ(RunVelmira({"-headless", "-frames", "3", "-input", game / "shot.txt", "-log", log, game.Path()}), 0);
    EXPECT_NE(ReadFile(log).find(c.reported), std::string::npos) << ReadFile(log);
    const std::string png = ReadFile(game / "shot.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(16, 8), c.ihdr) << c.window;
  }
}

TEST(HostileGame, StrictRunsFailOnAnyReportedProblem) {
  TempDir game;
  game.Write("system.ini", kSystemIni);
  game.Write("game.iet", "[nosuch]@\n");
  EXPECT_EQ(RunVelmira({"-headless", "-strict", "-frames", "3", game.Path()}), 3);
  EXPECT_EQ(RunVelmira({"-headless", "-frames", "3", game.Path()}), 0);
  game.Write("game.iet", "[var name=t.x data=1]@\n");
  EXPECT_EQ(RunVelmira({"-headless", "-strict", "-frames", "3", game.Path()}), 0);
  // An image that does not load is quiet for the player, not for the author.
  game.Write("game.iet", "[lyc id=bg file=nosuch.png]@\n");
  const std::string log = game / "run.log";
  EXPECT_EQ(RunVelmira({"-headless", "-strict", "-frames", "3", "-log", log, game.Path()}), 3);
  EXPECT_NE(ReadFile(log).find("game.iet(1): [lyc id=\"bg\" file=\"nosuch.png\"] 画像を読み込めません。"),
            std::string::npos)
      << ReadFile(log);
}

TEST(HostileGame, RepeatedReportsAreCollapsedAndRunawayLoopsToldOnce) {
  TempDir game;
  game.Write("system.ini", kSystemIni);
  // Fails on every turn and never waits.
  game.Write("game.iet", "*l\n[jump label=nowhere]\n[jump label=l]\n");
  const std::string log = game / "run.log";
  EXPECT_EQ(RunVelmira({"-headless", "-frames", "3", "-log", log, game.Path()}), 0);
  const std::string text = ReadFile(log);
  // Written once before the loop is told about and once after it.
  EXPECT_EQ(Count(text, "label=\"nowhere\"]"), 2u) << text.substr(0, 2000);
  EXPECT_NE(text.find("(the report above repeated "), std::string::npos);
  EXPECT_EQ(Count(text, "スクリプトが待たずに実行を続けています"), 1u);
  EXPECT_LT(text.size(), 4096u);
}

TEST(HostileGame, LongLoopsEndInTheirFrameAndEndlessOnesAreANoteNotAProblem) {
  TempDir game;
  game.Write("system.ini", kSystemIni);
  // 40,000 turns of a loop (120,000 records) that never waits.
  game.Write("game.iet", "[loop estimate=i<40000][var name=i data=$i+1][/loop][var name=done data=1]@\n");
  game.Write("driver.txt", "0 dumpvars " + (game / "vars.txt") + "\n");
  EXPECT_EQ(RunVelmira({"-headless", "-strict", "-frames", "2", "-input", game / "driver.txt", game.Path()}), 0);
  const std::string vars = ReadFile(game / "vars.txt");
  EXPECT_NE(vars.find("done\ts\t1"), std::string::npos) << vars;
  EXPECT_NE(vars.find("i\ts\t40000"), std::string::npos) << vars;

  // A loop without end still gives the engine its frames, and says so once,
  // without failing a strict run.
  game.Write("game.iet", "*l\n[var name=t.n data=$t.n+1][jump label=l]\n");
  const std::string log = game / "run.log";
  EXPECT_EQ(RunVelmira({"-headless", "-strict", "-frames", "3", "-log", log, game.Path()}), 0);
  EXPECT_EQ(Count(ReadFile(log), "スクリプトが待たずに実行を続けています"), 1u);
}

TEST(HostileGame, GamesRunFromFoldersCp932CannotSpell) {
  // A packed game in a folder named with characters CP932 lacks (é, the
  // wave dash U+301C as Linux input writes it) runs as from a plain folder.
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").filename().string();
  TempDir root;
  root.Write("src/system.ini", kSystemIni);
  root.Write("src/game.iet", "[var name=t.where data=packed]@\n");
  root.Write("driver.txt", "2 dumpvars " + (root / "vars.txt") + "\n");
  std::string results[3];
  const std::string folders[3] = {"plain", "café", "ゲーム〜体験版"};
  for (int i = 0; i < 3; ++i) {
    const std::string dir = root / folders[i];
    std::filesystem::create_directories(dir);
    std::string error;
    ASSERT_FALSE(packtool::PackDirectory(root / "src", dir + "/" + exe + ".pfs", packtool::SPackOptions(), error))
        << error;
    ASSERT_EQ(RunVelmira({"-headless", "-frames", "4", "-input", root / "driver.txt", dir}), 0);
    results[i] = ReadFile(root / "vars.txt");
    EXPECT_NE(results[i].find("t.where\ts\tpacked"), std::string::npos) << folders[i] << ": " << results[i];
  }
  EXPECT_EQ(results[1], results[0]);
  EXPECT_EQ(results[2], results[0]);

  // Loose, without a BOOT key: the boot script is named after the executable.
  const std::string loose = root / "ゲーム〜体験版/loose";
  std::filesystem::create_directories(loose);
  std::ofstream(loose + "/" + exe + ".iet") << "[var name=t.where data=loose]@\n";
  ASSERT_EQ(RunVelmira({"-headless", "-frames", "4", "-input", root / "driver.txt", loose}), 0);
  EXPECT_NE(ReadFile(root / "vars.txt").find("t.where\ts\tloose"), std::string::npos);
}

TEST(HostileGame, AFrameLimitThatIsNotANumberIsReported) {
  TempDir game;
  game.Write("system.ini", kSystemIni);
  game.Write("game.iet", "[return]\n");
  // The game ends by itself; the bad limit is reported, not taken as zero.
  const std::string log = game / "run.log";
  EXPECT_EQ(RunVelmira({"-headless", "-strict", "-frames", "abc", "-log", log, game.Path()}), 3);
  EXPECT_NE(ReadFile(log).find("-frames abc: not a number of frames"), std::string::npos) << ReadFile(log);
}
