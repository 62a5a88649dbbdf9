// velmira-tool save: what a save holds, and whether a game as it is now can
// load it.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/TempDir.h"

namespace {

std::string RunTool(const std::string& arguments, int* status = nullptr) {
  FILE* pipe = popen((std::string(VELMIRA_TOOL) + " " + arguments + " 2>/dev/null").c_str(), "r");
  std::string out;
  if (!pipe) return out;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  const int code = pclose(pipe);
  if (status) *status = WEXITSTATUS(code);
  return out;
}

const std::string kFixtures = std::string(VELMIRA_TEST_DATA_DIR) + "/script/fixtures/gamestate";

TEST(SaveTool, ShowsTheCursorCallStackAndVariablesOfAState) {
  int status = -1;
  const std::string out = RunTool("save " + kFixtures + "/slot.dat --game " + kFixtures, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("kind S (game state), version 1000"), std::string::npos) << out;
  EXPECT_NE(out.find("cursor: sub.iet index 3, click wait"), std::string::npos) << out;
  EXPECT_NE(out.find("next record on line 4"), std::string::npos) << out;
  EXPECT_NE(out.find("call stack: 1 caller(s)"), std::string::npos) << out;
  EXPECT_NE(out.find("  count = 3"), std::string::npos) << out;
  EXPECT_NE(out.find("this game can load it"), std::string::npos) << out;

  const std::string json = RunTool("save " + kFixtures + "/slot.dat --json");
  EXPECT_EQ(json.rfind("[{\"file\":", 0), 0u) << json;
  EXPECT_NE(json.find("\"cursor\":{\"file\":\"sub.iet\",\"index\":3,\"state\":1"), std::string::npos) << json;
  EXPECT_NE(json.find("\"count\":\"3\""), std::string::npos) << json;
}

// The backlog's pages of a save the engine wrote, as text.
TEST(SaveTool, ListsTheBacklogPages) {
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=64\nHEIGHT=48\n[SYSTEM]\nBOOT=start.iet\n");
  game.Write("start.iet", "[&linetag allow=0]\nfirst page[rp]\nsecond page[rp]\nthird[@]\n");
  game.Write("input.txt", "3 press S\n5 quit\n");
  const std::string command = std::string(VELMIRA_ENGINE) + " -headless -input " + (game / "input.txt") + " " +
                              game.Path() + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string out = RunTool("save " + (game / "saveq.dat"));
  EXPECT_NE(out.find("backlog: 2 page(s)\n  first page\n  second page\n"), std::string::npos) << out;
  const std::string json = RunTool("save " + (game / "saveq.dat") + " --json");
  EXPECT_NE(json.find("\"backlogPages\":2,\"backlog\":[\"first page\",\"second page\"]"), std::string::npos) << json;

  // A wait that also waits for the text's effects says so.
  game.Write("start.iet",
             "[&linetag allow=0]\n[scetween mode=init type=in]\n"
             "[scetween mode=add type=in param=alpha ease=none diff=-255 msec=3000 delay=0]\ntext\n"
             "[wait scenario=1]\n[stop]\n");
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string waiting = RunTool("save " + (game / "saveq.dat"));
  EXPECT_NE(waiting.find("sync wait (previous: running), waiting for text effects"), std::string::npos) << waiting;
}

TEST(SaveTool, SaysWhenAnUpdatedGameCannotLoadASave) {
  TempDir game;
  game.Write("game.iet", "@\n");
  game.Write("sub.iet", "*wait\n");  // shorter than the save's place in it
  int status = -1;
  const std::string out = RunTool("save " + kFixtures + "/slot.dat --game " + game.Path(), &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("records, the save points at 3"), std::string::npos) << out;
  EXPECT_NE(out.find("this game cannot load it"), std::string::npos) << out;

  // What the description leaves out, the engine's own checks catch: a field
  // out of range, or one whose bytes are cut.
  std::ifstream in(kFixtures + "/slot.dat", std::ios::binary);
  const std::string slot((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto patched = [&](uint32_t tag, int32_t value) {
    // The stream after the 8-byte file header: a count, then (tag, position).
    std::string bytes = slot;
    uint32_t count = 0;
    std::memcpy(&count, bytes.data() + 8, 4);
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t entry[2];
      std::memcpy(entry, bytes.data() + 12 + 8 * i, 8);
      if (entry[0] == tag) std::memcpy(bytes.data() + 8 + entry[1], &value, 4);
    }
    return bytes;
  };
  game.Write("mode.dat", patched(5, 7));  // the autosave mode
  std::string verdict = RunTool("save " + game / "mode.dat" + " --game " + kFixtures, &status);
  EXPECT_EQ(status, 1) << verdict;
  EXPECT_NE(verdict.find("autosave mode 7 is out of range"), std::string::npos) << verdict;
  EXPECT_NE(verdict.find("this game cannot load it"), std::string::npos) << verdict;
  game.Write("depth.dat", patched(8, 5));  // right-click depth past the call stack
  verdict = RunTool("save " + game / "depth.dat" + " --game " + kFixtures, &status);
  EXPECT_NE(verdict.find("right-click call depth"), std::string::npos) << verdict;
  EXPECT_EQ(status, 1);

  game.Write("junk.dat", "BOWS\x4c\x04\0\0");
  EXPECT_NE(RunTool("save " + game / "junk.dat", &status).find("not a save file this engine reads"), std::string::npos);
  EXPECT_EQ(status, 1);
}

}  // namespace
