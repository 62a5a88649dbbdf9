// Text effects on a font backend of solid blocks: when each character
// starts moving, what a page clear leaves drawn, and that a window never
// leaves tweens behind that write into freed glyphs.
#include <gtest/gtest.h>

#include <map>

#include "FakeFontBackend.h"
#include "graphics/Surface.h"
#include "platform/TextCodec.h"
#include "scene/Layer.h"
#include "scene/Tween.h"
#include "text/GlyphGenerator.h"
#include "text/TextRenderer.h"

namespace {

using Info = CTextRenderer::CTweenInfo;

std::string Sjis(const char* utf8) { return platform::ConvertUtf8ToCp932(utf8); }

Info Entry(int param, int diff, int msec, int delay, bool vanish = false, int ease = 0) {
  Info info;
  info.param = param;
  info.ease = ease;
  info.diff = diff;
  info.msec = msec;
  info.delay = delay;
  info.vanish = vanish;
  return info;
}

class EffectsTest : public ::testing::Test {
 protected:
  ScopedFakeFonts fonts;
  CLayerFactory layers;
  CSurfaceFactory surfaces;
  CTweenRegistry& registry = CTweenRegistry::Instance();

  void SetUp() override {
    CGlyphGenerator::DestroyInstance();
    registry.DeleteAll();
    fonts.backend.state.metrics = {20, 40};
    for (const char* c : {"あ", "漢", "か"}) {
      const std::string s = Sjis(c);
      fonts.backend.AddSolid(uint16_t(uint8_t(s[0]) << 8 | uint8_t(s[1])), 40, 2, 0, 40, 40);
    }
  }
  void TearDown() override {
    registry.DeleteAll();
    CGlyphGenerator::DestroyInstance();
  }

  static CFontValues Font(int width = 640) {
    CFontValues font;
    font.size = 20;
    font.rubysize = 8;
    font.width = width;
    font.anchorcenter = false;
    return font;
  }

  // The first millisecond after t0 at which each glyph's main layer left the
  // value it was put at (glyph index -> delay), stepping the registry 1 ms
  // at a time from t0 (the tweens' common start).
  std::map<int, int> StartDelays(CTextRenderer& r, int param, int limit = 600) {
    std::map<ILayer*, int> index;
    std::map<ILayer*, int> before;
    for (const auto& line : r.GetLines())
      for (const auto& cell : line->cells) {
        auto note = [&](const CTextRenderer::CGlyph& glyph) {
          index[glyph.main.get()] = glyph.index;
          before[glyph.main.get()] = param == 1 ? glyph.main->GetY() : glyph.main->GetAlpha();
        };
        for (const auto& glyph : cell->base) note(glyph);
        for (const auto& glyph : cell->ruby) note(glyph);
      }
    std::map<int, int> out;
    const uint32_t t0 = 5000;
    for (int t = 0; t <= limit; ++t) {
      registry.UpdateAll(t0 + uint32_t(t));
      for (auto& [layer, value] : before) {
        const int now = param == 1 ? layer->GetY() : layer->GetAlpha();
        if (now != value && !out.count(index[layer])) out[index[layer]] = t - 1;
      }
    }
    return out;
  }
};

TEST_F(EffectsTest, AppearDelaysStepPerCharacterAndRestartAfterTheMark) {
  CTextRenderer r(&layers, &surfaces);
  r.SetFont(Font());
  r.AddText(Sjis("あああああ"));
  const Info slide = Entry(1, -16, 400, 20);
  EXPECT_EQ(r.StartEffects({slide}, true), 5);
  // Displaced at once, before any frame ran.
  const auto& cells = r.GetLines()[0]->cells;
  for (const auto& cell : cells) EXPECT_EQ(cell->base[0].main->GetY(), cell->base[0].laidY - 16);
  EXPECT_EQ(StartDelays(r, 1), (std::map<int, int>{{0, 0}, {1, 20}, {2, 40}, {3, 60}, {4, 80}}));
  for (const auto& cell : cells) EXPECT_EQ(cell->base[0].main->GetY(), cell->base[0].laidY);
  EXPECT_TRUE(r.EffectsFinished());

  // Keeping the mark animates only what came after it, from delay 0 again.
  r.AddText(Sjis("かか"));
  EXPECT_EQ(r.StartEffects({slide}, true), 7);
  EXPECT_EQ(r.GetEffectSetSize(), 2u);
  EXPECT_EQ(StartDelays(r, 1), (std::map<int, int>{{5, 0}, {6, 20}}));
  EXPECT_TRUE(r.EffectsFinished());
  // Without it the whole page runs again.
  r.StartEffects({slide}, false);
  EXPECT_EQ(r.GetEffectSetSize(), 7u);
}

TEST_F(EffectsTest, RubyGlyphsSpreadOverTheSpanOfTheirBase) {
  CTextRenderer r(&layers, &surfaces);
  r.SetFont(Font());
  r.AddChar(Sjis("漢漢"), Sjis("かかか"));
  r.AddText(Sjis("あ"));
  r.StartEffects({Entry(2, -255, 10, 30)}, false);
  // Base 0 and 1 at D and D+30, ruby 2..4 at D, D+20, D+40, the next cell
  // at D+60.
  EXPECT_EQ(StartDelays(r, 2), (std::map<int, int>{{0, 0}, {1, 30}, {2, 0}, {3, 20}, {4, 40}, {5, 60}}));
}

TEST_F(EffectsTest, CellEffectsStepByTheBaseGlyphsOfEachCell) {
  CTextRenderer r(&layers, &surfaces);
  r.SetFont(Font());
  r.AddChar(Sjis("漢漢"), "");
  r.AddText(Sjis("あ"));
  r.StartEffects({Entry(8, -255, 10, 30)}, false);
  const auto& cells = r.GetLines()[0]->cells;
  EXPECT_EQ(cells[0]->property.GetAlpha(), 0);
  registry.UpdateAll(100);
  registry.UpdateAll(160);  // the second cell starts at 60, not 30
  EXPECT_EQ(cells[0]->property.GetAlpha(), 255);
  EXPECT_EQ(cells[1]->property.GetAlpha(), 0);
  registry.UpdateAll(200);
  EXPECT_EQ(cells[1]->property.GetAlpha(), 255);
}

TEST_F(EffectsTest, UnsetOrUnknownParamsStartNothing) {
  CTextRenderer r(&layers, &surfaces);
  r.SetFont(Font());
  r.AddText(Sjis("ああ"));
  Info unset;
  EXPECT_EQ(r.StartEffects({unset, Entry(-1, 5, 10, 0), Entry(99, 5, 10, 0)}, false), 2);
  EXPECT_EQ(registry.GetCount(), 0u);
  EXPECT_TRUE(r.EffectsFinished());
}

TEST_F(EffectsTest, FinishingJumpsToTheEndAndEmptiesTheSet) {
  CTextRenderer r(&layers, &surfaces);
  r.SetFont(Font());
  EXPECT_TRUE(r.EffectsFinished());  // nothing ran yet
  r.AddText(Sjis("あか"));
  r.StartEffects({Entry(2, -255, 400, 20)}, true);
  registry.UpdateAll(0);
  EXPECT_FALSE(r.EffectsFinished());
  r.FinishEffects();
  EXPECT_TRUE(r.EffectsFinished());
  EXPECT_EQ(r.GetEffectSetSize(), 0u);
  EXPECT_FALSE(r.IsLaidOut());
  for (const auto& cell : r.GetLines()[0]->cells) EXPECT_EQ(cell->base[0].main->GetAlpha(), 255);
}

TEST_F(EffectsTest, VanishingPageStaysDrawnUntilTheNextClear) {
  CTextRenderer r(&layers, &surfaces);
  r.SetFont(Font());
  const CTextRenderer::CTweenList fade = {Entry(2, -255, 1000, 0, true)};
  r.AddText(Sjis("ああ"));
  r.StartEffects({Entry(2, -255, 400, 20)}, true);
  registry.UpdateAll(0);
  r.ClearWithEffects(fade);
  // The appear tweens were killed at their end; the vanish runs from there.
  ASSERT_EQ(r.GetPreviousLines().size(), 1u);
  EXPECT_EQ(r.GetPreviousLines()[0]->cells[0]->base[0].main->GetAlpha(), 255);
  EXPECT_EQ(r.GetCharCount(), 0);
  EXPECT_EQ(r.GetEffectMark(), 0);
  EXPECT_EQ(r.GetLiveEffectCount(), 2u);
  registry.UpdateAll(1);
  registry.UpdateAll(500);
  const int half = r.GetPreviousLines()[0]->cells[0]->base[0].main->GetAlpha();
  EXPECT_LT(half, 255);
  EXPECT_GT(half, 0);
  r.AddText(Sjis("か"));  // new text beside the vanishing page
  EXPECT_EQ(r.GetPreviousLines().size(), 1u);
  EXPECT_EQ(r.GetLines()[0]->cells.size(), 1u);

  r.ClearWithEffects(fade);  // the second clear removes the old page at once
  ASSERT_EQ(r.GetPreviousLines().size(), 1u);
  EXPECT_EQ(Sjis("か"), r.GetPreviousLines()[0]->cells[0]->text);
  r.Clear();
  EXPECT_TRUE(r.GetPreviousLines().empty());
  EXPECT_EQ(registry.GetCount(), 0u);
}

TEST_F(EffectsTest, ManyPagesLeaveNoHandlesBehind) {
  CTextRenderer r(&layers, &surfaces);
  r.SetFont(Font());
  const CTextRenderer::CTweenList appear = {Entry(1, -16, 400, 20), Entry(2, -255, 400, 20)};
  const CTextRenderer::CTweenList vanish = {Entry(2, -255, 1000, 0, true)};
  for (int page = 0; page < 200; ++page) {
    r.AddText(Sjis("あか"));
    r.StartEffects(appear, true);
    registry.UpdateAll(uint32_t(page * 16));
    r.FinishEffects();
    r.ClearWithEffects(vanish);
  }
  EXPECT_EQ(r.GetEffectSetSize(), 0u);
  EXPECT_LE(registry.GetCount(), 2u);  // only the last page's vanish
}

TEST_F(EffectsTest, ADestroyedWindowTakesItsTweensWithIt) {
  {
    CTextRenderer r(&layers, &surfaces);
    r.SetFont(Font());
    r.AddText(Sjis("ああ"));
    r.StartEffects({Entry(1, -16, 400, 20)}, true);
    r.AddText(Sjis("か"));
    r.ClearWithEffects({Entry(2, -255, 1000, 0, true)});
    r.AddText(Sjis("か"));
    r.StartEffects({Entry(0, 30, 400, 20)}, true);
    EXPECT_GT(registry.GetCount(), 0u);
  }
  EXPECT_EQ(registry.GetCount(), 0u);
  registry.UpdateAll(100);  // nothing writes into the freed layers
}

}  // namespace
