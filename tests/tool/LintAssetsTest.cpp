// velmira-tool lint on the images of the layer tags: files that do not load,
// masks and rules the engine would refuse or stretch, animation frames added
// before their animation, and ids whose byte order is not their number order.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "ImageBytes.h"
#include "LintRun.h"
#include "support/TempDir.h"

TEST(LintAssets, ImagesMasksAndRules) {
  using image_bytes::MakePng;
  TempDir game;
  game.Write("system.ini", "[WINDOW]\nWIDTH=32\nHEIGHT=24\n");
  game.Write("a.png", MakePng(8, 8, 8, 6));
  game.Write("m.png", MakePng(8, 8, 8, 0));
  game.Write("m4.png", MakePng(4, 4, 8, 0));
  game.Write("mc.png", MakePng(8, 8, 8, 2));
  game.Write("rule.png", MakePng(32, 24, 8, 0));
  game.Write("rulec.png", MakePng(16, 12, 8, 2));
  game.Write("start.iet",
             "[lyc id=a file=a mask=m.png][lyc id=b file=$f.x][trans type=2 rule=rule time=5]\n"
             "[lyc id=c file=gone]\n"
             "[lyc id=d file=a.png mask=m4]\n"
             "[lyc id=e file=a mask=mc]\n"
             "[trans type=2 rule=rulec time=5]\n"
             "[trans type=2 rule=none time=5][trans type=1 rule=none time=5]\n"
             "[anime id=s mode=init file=nope]\n");
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_FALSE(Has(out, "start.iet(1)")) << out;
  EXPECT_TRUE(Has(out, "start.iet(2): warning: [lyc file=\"gone\"] the image does not load")) << out;
  EXPECT_TRUE(Has(out,
                  "start.iet(3): warning: [lyc mask=\"m4\"] the mask is ignored: it must be an 8-bit grey "
                  "image of 8x8 like the layer's, not 4x4"))
      << out;
  EXPECT_TRUE(Has(out, "start.iet(4): warning: [lyc mask=\"mc\"] the mask is ignored")) << out;
  EXPECT_TRUE(Has(out, "not colour 8x8")) << out;
  EXPECT_TRUE(Has(out, "start.iet(5): warning: [trans rule=\"rulec\"] a colour rule")) << out;
  EXPECT_TRUE(Has(out, "start.iet(5): warning: [trans rule=\"rulec\"] 16x12, not the screen's 32x24")) << out;
  EXPECT_TRUE(Has(out, "start.iet(6): [trans rule=\"none\"] ルール画像として指定された画像ファイルが読み込めません。"))
      << out;
  // A cross-fade never reads its rule.
  EXPECT_EQ(out.find("start.iet(6)"), out.rfind("start.iet(6)")) << out;
  EXPECT_TRUE(Has(out, "start.iet(7): [anime file=\"nope\"] フレームとして指定された画像ファイルが読み込めません。"))
      << out;
}

TEST(LintAssets, AnimationFramesBeforeTheirInit) {
  using image_bytes::MakePng;
  TempDir game;
  game.Write("f.png", MakePng(4, 4, 8, 6));
  game.Write("start.iet",
             "[anime id=x mode=add file=f time=10]\n"
             "[anime id=x mode=init file=f][anime id=x mode=add file=f time=10][anime id=x mode=end time=20]\n"
             "[anime id=y mode=end time=5]\n"
             "[anime id=z mode=add file=f time=5][anime id=$f.v mode=end time=5]\n");
  // Another file may make z before start.iet gets there.
  game.Write("other.iet", "[anime id=z mode=init file=f]\n");
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_TRUE(Has(out,
                  "start.iet(1): [anime id=\"x\"] 指定されたアニメーションが見つかりません。 (anime mode=add "
                  "before mode=init)"))
      << out;
  EXPECT_FALSE(Has(out, "start.iet(2)")) << out;
  EXPECT_TRUE(Has(out, "start.iet(3): [anime id=\"y\"]")) << out;
  EXPECT_FALSE(Has(out, "start.iet(4)")) << out;
}

TEST(LintAssets, IdsWhoseByteOrderIsNotTheirNumberOrder) {
  using image_bytes::MakePng;
  TempDir game;
  game.Write("p.png", MakePng(4, 4, 8, 6));
  game.Write("start.iet",
             "[lyc id=chara2 file=p][lyc id=chara10 file=p]\n"
             "[lyc id=bg01 file=p][lyc id=bg12 file=p][lyc id=9 file=p][lyc id=10 file=p][lyc id=100 file=p]\n"
             "[lyc id=ev3 file=p][lyc id=other10 file=p][lyc id=ev003 file=p]\n");
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_TRUE(Has(out,
                  "start.iet(1): warning: [chara10] draws under \"chara2\": layers draw in the byte order of "
                  "their ids, not by number (write chara02)"))
      << out;
  // 100 sorts before both 10 < 9 pairs; each is reported under the highest
  // number it wrongly sorts before.
  EXPECT_TRUE(Has(out, "start.iet(2): warning: [10] draws under \"9\"")) << out;
  EXPECT_TRUE(Has(out, "start.iet(2): warning: [100] draws under \"9\"")) << out;
  EXPECT_FALSE(Has(out, "bg")) << out;
  // Equal numbers and different prefixes are no order problem.
  EXPECT_FALSE(Has(out, "ev")) << out;
  EXPECT_FALSE(Has(out, "other")) << out;
}
