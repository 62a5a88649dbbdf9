// os.exit from Lua closes the game the way its window's close box does.
#include <gtest/gtest.h>

#include <filesystem>

#include "EngineTestSupport.h"
#include "support/TempDir.h"

namespace {

TEST(LuaExit, ClosesThroughTheEnginesClosePathWithItsSaves) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=16\nHEIGHT=16\n[SYSTEM]\nBOOT=start.iet\n");
  game.Write("start.iet",
             "*start\r\n[autosave allow=1]\r\n[var name=g.kept data=7]\r\n"
             "[lua]function quit(o) pcall(os.exit, 5) o:tag{'var', name='g.kept', data=8} end[/lua]\r\n"
             "[wait time=100]\r\n[calllua function=quit]\r\n[var name=g.kept data=9]\r\n[wait time=100000]\r\n");
  game.Write("input.txt", "60 shot late.png\n");
  ScopedCurrentDir cd(game.Path());
  EXPECT_EQ(RunVelmira({"-headless", "-frames", "100", "-input", "input.txt", "-log", "run.log", game.Path()}), 0);
  EXPECT_FALSE(std::filesystem::exists(game / "late.png"));
  // Closing in the middle of the game writes the globals (nothing else
  // flushed them: the script only waited on a timer).
  EXPECT_TRUE(std::filesystem::exists(game / "saveg.dat"));
  const std::string log = ReadFile(game / "run.log");
  EXPECT_NE(log.find("os.exit"), std::string::npos) << log;
  EXPECT_EQ(log.find("[LUA]"), std::string::npos) << log;
}

}  // namespace
