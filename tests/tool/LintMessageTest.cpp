// velmira-tool lint on the message tags: unpaired link and chgmsg tags and
// scetween names the engine ignores.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/TempDir.h"

namespace {

int RunLint(const std::string& dir, std::string& output) {
  std::string command = std::string(VELMIRA_TOOL) + " lint " + dir + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 4096> buffer;
  size_t n;
  output.clear();
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(Lint, WarnsAboutUnpairedMessageTagsAndUnknownEffectNames) {
  TempDir game;
  game.Write("start.iet",
             "[link label=a]x[/link][/link]\n"
             "[link label=b]y[link label=c]z\n"
             "[rp]\n"
             "[chgmsg id=a][/chgmsg][/chgmsg]\n"
             "[scetween mode=add type=in param=xscale ease=easeout_sine diff=50]\n"
             "[scetween mode=grow type=sideways param=spin ease=wobble]\n"
             "[scetween mode=$f.m type=in param=$f.p]\n"
             "[chgmsg]\n");
  std::string out;
  RunLint(game.Path(), out);
  auto has = [&](const std::string& text) { return out.find(text) != std::string::npos; };
  EXPECT_TRUE(has("start.iet(1): warning: [/link] without an open [link]")) << out;
  EXPECT_TRUE(has("start.iet(2): warning: [link] while the link of line 2 is open")) << out;
  EXPECT_TRUE(has("start.iet(3): warning: [rp] clears the page while the link of line 2 is open")) << out;
  EXPECT_TRUE(has("start.iet(4): warning: [/chgmsg] without a [chgmsg]")) << out;
  EXPECT_TRUE(has("unknown mode \"grow\"")) << out;
  EXPECT_TRUE(has("unknown type \"sideways\"")) << out;
  EXPECT_TRUE(has("unknown param \"spin\"")) << out;
  EXPECT_TRUE(has("unknown ease \"wobble\"")) << out;
  EXPECT_TRUE(has("a [chgmsg] of this file has no [/chgmsg]")) << out;
  EXPECT_FALSE(has("start.iet(5)")) << out;
  EXPECT_FALSE(has("start.iet(7)")) << out;
}
