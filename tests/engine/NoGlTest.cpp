// A machine without GL: asked for the GPU renderer, the engine says why it
// cannot have it, runs on software and tells scripts it has no GL.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "platform/Process.h"
#include "support/TempDir.h"

TEST(NoGl, SoftwareTakesOverAndTheLogSaysWhy) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=32\nHEIGHT=32\n[SYSTEM]\nBOOT=start.iet\n");
  game.Write("start.iet", "[var name=f.ran data=1]\r\n[wait time=100000]\r\n");
  game.Write("input.txt", "3 dumpvars vars.txt\n3 shot shot.png\n4 quit\n");
  platform::ProcessOptions options;
  options.workingDirectory = game.Path();
  options.outputPath = game / "out.txt";
  // The EGL dispatcher finds no vendor library here: as on a machine with
  // none installed. A child process, because a loaded EGL stays loaded.
  options.environment = {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent/none.json", "SDL_VIDEODRIVER=dummy",
                         "SDL_AUDIODRIVER=dummy"};
  int pid = 0;
  ASSERT_FALSE(platform::StartProcess(
      {VELMIRA_ENGINE, "-headless", "-renderer", "gles", "-input", "input.txt", "-log", "run.log", game.Path()},
      options, pid));
  ASSERT_EQ(platform::WaitProcess(pid, 120000), 0) << ReadFile(game / "out.txt");
  const std::string log = ReadFile(game / "run.log");
  EXPECT_NE(log.find("CGlesRenderer::Init"), std::string::npos) << log;
  const std::string vars = ReadFile(game / "vars.txt");
  EXPECT_NE(vars.find("f.ran\ts\t1"), std::string::npos) << vars;
  EXPECT_NE(vars.find("s.opengles2capable\ti\t0"), std::string::npos) << vars;
  EXPECT_GT(ReadFile(game / "shot.png").size(), 8u);
}
