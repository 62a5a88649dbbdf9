// velmira-tool lint on openbrowser: literal addresses the engine refuses to
// open are reported; web addresses and computed ones are not.
#include <gtest/gtest.h>

#include <string>

#include "LintRun.h"
#include "support/TempDir.h"

TEST(Lint, WarnsAboutAddressesOpenbrowserRefuses) {
  TempDir game;
  game.Write("start.iet",
             "[openbrowser url=\"https://example.com/?q=1\"][openbrowser url=\"HTTP://example.com\"]"
             "[openbrowser url=\"mailto:a@example.com\"][openbrowser url=$f.url]\n"
             "[openbrowser url=\"file:///etc/passwd\"]\n"
             "[openbrowser url=\"C:\\Windows\\notepad.exe\"]\n"
             "[openbrowser url=\"https:///no-host\"]\n"
             "[openbrowser url=ftp://example.com/file]\n"
             "[openbrowser]\n");
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  const std::string refused = "\"] not an http:, https: or mailto: address";
  EXPECT_FALSE(Has(out, "start.iet(1)")) << out;
  EXPECT_TRUE(Has(out, "start.iet(2): warning: [openbrowser url=\"file:///etc/passwd" + refused)) << out;
  EXPECT_TRUE(Has(out, "start.iet(3): warning: [openbrowser url=\"C:")) << out;
  EXPECT_TRUE(Has(out, "start.iet(4): warning: [openbrowser url=\"https:///no-host" + refused)) << out;
  EXPECT_TRUE(Has(out, "start.iet(5): warning: [openbrowser url=\"ftp://example.com/file" + refused)) << out;
  // The missing url is reported once, by the parser's check.
  EXPECT_TRUE(Has(out, "start.iet(6): [ERROR]")) << out;
  EXPECT_FALSE(Has(out, "start.iet(6): warning")) << out;
}

TEST(Lint, QuietAboutGamesWhoseAddressesOpen) {
  TempDir game;
  game.Write("start.iet", "[openbrowser url=\"https://example.com\"][openbrowser url=\"mailto:x@example.com\"]\n");
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 0) << out;
}
