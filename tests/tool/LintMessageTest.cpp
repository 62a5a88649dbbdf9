// velmira-tool lint on the message tags: unpaired link and chgmsg tags and
// scetween names the engine ignores.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "LintRun.h"
#include "support/TempDir.h"

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
