// Glyph layers made only when needed and pages whose cells are used again:
// a window drawn without its layers must look exactly as one drawn through
// them, dumps must not depend on whether the layers exist yet, and a page
// written into the cells of an earlier one must look like a fresh window's.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FakeFontBackend.h"
#include "graphics/Surface.h"
#include "platform/TextCodec.h"
#include "scene/Layer.h"
#include "scene/Tween.h"
#include "text/GlyphGenerator.h"
#include "text/TextRenderer.h"

namespace {

std::string Sjis(const char* utf8) { return platform::ConvertUtf8ToCp932(utf8); }

// Memory layers of another kind: windows made with it always draw through
// their layers.
class CLayeredFactory : public CLayerFactory {};

class PageReuseTest : public ::testing::Test {
 protected:
  ScopedFakeFonts fonts;
  CLayerFactory plain;
  CLayeredFactory layered;
  CSurfaceFactory surfaces;
  CTweenRegistry& registry = CTweenRegistry::Instance();

  void SetUp() override {
    CGlyphGenerator::DestroyInstance();
    registry.DeleteAll();
    fonts.backend.state.metrics = {20, 40};
    // Part-covered blocks, so that every blend shows in the pixels.
    Glyph("あ", 20, 40);
    Glyph("か", 8, 25);
    Glyph("「", 20, 64);
    Glyph("a", 10, 50);
  }
  void TearDown() override {
    registry.DeleteAll();
    CGlyphGenerator::DestroyInstance();
  }

  void Glyph(const char* utf8, int width, uint8_t value) {
    const std::string s = Sjis(utf8);
    const uint16_t code = s.size() == 2 ? uint16_t(uint8_t(s[0]) << 8 | uint8_t(s[1])) : uint8_t(s[0]);
    fonts.backend.AddSolid(code, uint32_t(2 * width), 2, 0, 40, 2 * width, value);
  }

  static CFontValues Font() {
    CFontValues font;
    font.size = 20;
    font.rubysize = 8;
    font.width = 90;
    font.height = 200;
    font.anchorcenter = false;
    font.color = 0x3080F0;
    return font;
  }

  static void Write(CTextRenderer& r) {
    r.AddText(Sjis("あかa「あ"));
    r.AddChar(Sjis("あ"), Sjis("かか"));
    r.NewLine();
    r.AddText(Sjis("aかあ"));
  }

  static std::vector<uint8_t> Pixels(CTextRenderer& r) {
    CSurface target;
    EXPECT_FALSE(target.Create(120, 90, ISurface::PIXEL_BITS_32));
    for (int y = 0; y < 90; ++y)
      for (int x = 0; x < 120 * 4; ++x) target.GetLine(y)[x] = uint8_t(x * 7 + y * 13);
    r.Draw(&target);
    std::vector<uint8_t> out;
    for (int y = 0; y < 90; ++y) out.insert(out.end(), target.GetLine(y), target.GetLine(y) + 120 * 4);
    return out;
  }

  static std::string Dump(CTextRenderer& r) {
    std::string out;
    r.Dump(out);
    return out;
  }
};

TEST_F(PageReuseTest, WindowsDrawTheSameWithOrWithoutGlyphLayers) {
  struct Case {
    const char* name;
    void (*set)(CFontValues&, CTextRenderer&);
  };
  const Case cases[] = {
      {"plain", [](CFontValues&, CTextRenderer&) {}},
      {"shadow and outline",
       [](CFontValues& f, CTextRenderer&) {
         f.style = kStyleShadow | kStyleOutline;
         f.shadowcolor = 0x102030;
         f.outlinecolor = 0xF0E0D0;
       }},
      {"translucent, added",
       [](CFontValues& f, CTextRenderer&) {
         f.alpha = 150;
         f.layermode = kLayerModeAdd;
         f.entirealpha = 200;
       }},
      {"cut at the top and left", [](CFontValues& f, CTextRenderer&) { f.left = -7, f.top = -5; }},
      {"cut at the bottom and right",
       [](CFontValues& f, CTextRenderer& r) {
         f.left = -7;
         f.top = -5;
         r.SetX(60);
         r.SetY(70);
         r.SetAlpha(128);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTextRenderer fast(&plain, &surfaces), slow(&layered, &surfaces);
    for (CTextRenderer* r : {&fast, &slow}) {
      CFontValues font = Font();
      c.set(font, *r);
      r->SetFont(font);
      Write(*r);
    }
    EXPECT_EQ(Pixels(fast), Pixels(slow));
    // Twice: a second draw of the layers may take what the first prepared.
    EXPECT_EQ(Pixels(fast), Pixels(slow));
    // The plain window really drew without layers, the other through them.
    EXPECT_FALSE(fast.GetLines()[0]->cells[0]->base[0].main);
    EXPECT_TRUE(slow.GetLines()[0]->cells[0]->base[0].main);
  }
}

TEST_F(PageReuseTest, DumpsDoNotDependOnWhetherTheLayersExist) {
  CTextRenderer r(&plain, &surfaces);
  CFontValues font = Font();
  font.style = kStyleShadow | kStyleOutline;
  r.SetFont(font);
  Write(r);
  r.AddText(Sjis("亜"));  // no image: no layers either way
  const std::string before = Dump(r);
  r.MakeLayers();
  EXPECT_TRUE(r.GetLines()[0]->cells[0]->base[0].shadow);
  EXPECT_EQ(Dump(r), before);
}

// Text that goes on below the window, or characters wider than it, must
// not make the window hold a cell for each of them: a script that writes a
// whole novel into a one-line window stays within its memory.
TEST_F(PageReuseTest, CellsThatFindNoPlaceDoNotPileUp) {
  CTextRenderer r(&plain, &surfaces);
  CFontValues font = Font();
  font.height = 40;  // one line
  r.SetFont(font);
  std::string novel;
  for (int i = 0; i < 5000; ++i) novel += Sjis("かあ");
  for (int pass = 0; pass < 4; ++pass) {
    r.AddText(novel);
    for (int i = 0; i < 1000; ++i) (void)r.AddChar(Sjis("あ"), Sjis("かか"));
  }
  ASSERT_EQ(r.GetLines().size(), 2u);
  EXPECT_EQ(Dump(r).find(Sjis("かあかあ")), std::string::npos);
  EXPECT_LT(r.GetStoredCellCount(), 20u);
  // Too wide for the window: dropped at once, the page unchanged.
  font.height = 200;
  font.width = 15;
  r.SetFont(font);
  r.Clear();
  const std::string before = Dump(r);
  for (int i = 0; i < 1000; ++i) {
    r.AddText(Sjis("あ"));
    EXPECT_EQ(r.AddChar(Sjis("あ"), ""), -1);
  }
  EXPECT_EQ(Dump(r), before);
  EXPECT_LT(r.GetStoredCellCount(), 20u);
}

TEST_F(PageReuseTest, APageInTheCellsOfEarlierOnesLooksLikeAFreshWindow) {
  CTextRenderer reused(&plain, &surfaces);
  // First page: ruby, several glyphs in one cell, shadows, vertical text,
  // an effect; it then vanishes while the next page is written.
  CFontValues first = Font();
  first.style = kStyleShadow;
  first.vertical = true;
  first.left = 30;
  reused.SetFont(first);
  Write(reused);
  ASSERT_EQ(reused.AddChar(Sjis("かあか"), ""), 2);
  CTextRenderer::CTweenInfo drop;
  drop.param = 1;
  drop.diff = 10;
  drop.msec = 500;
  (void)reused.StartEffects({drop}, false);
  (void)Pixels(reused);
  CTextRenderer::CTweenInfo fade;
  fade.param = 2;
  fade.diff = -255;
  fade.msec = 1000;
  fade.vanish = true;
  reused.ClearWithEffects({fade});
  reused.SetFont(Font());
  reused.AddText(Sjis("かかかかかかかかかかかか"));
  // The vanishing page keeps its cells and layers while the new one grows.
  const auto& previous = reused.GetPreviousLines();
  ASSERT_FALSE(previous.empty());
  EXPECT_EQ(previous[0]->cells[0]->text, Sjis("あ"));
  EXPECT_TRUE(previous[0]->cells[0]->base[0].main);
  EXPECT_EQ(previous[2]->cells.back()->base.size(), 3u);
  reused.Clear();
  reused.Clear();

  CTextRenderer fresh(&plain, &surfaces);
  for (CTextRenderer* r : {&reused, &fresh}) {
    r->SetFont(Font());
    Write(*r);
    ASSERT_EQ(r->AddChar(Sjis("かあかあ"), ""), 3);
  }
  EXPECT_EQ(Dump(reused), Dump(fresh));
  EXPECT_EQ(Pixels(reused), Pixels(fresh));
  const auto& cell = *reused.GetLines()[3]->cells.back();
  ASSERT_EQ(cell.base.size(), 4u);
  EXPECT_EQ(cell.FirstIndex(), 11);
  EXPECT_EQ(cell.LastIndex(), 14);
  EXPECT_EQ(cell.base[3].x, 36);
  EXPECT_EQ(cell.width, 56);
}

}  // namespace

// Message windows lay their text out once per frame while it comes in: the
// lines closed on the way keep their places, and only what changed is
// placed again. Whatever the order, the result must be the layout a window
// makes of the whole text at once.
TEST_F(PageReuseTest, TextLaidOutAsItComesMatchesALayoutOfTheWholePage) {
  Glyph("。", 20, 90);
  struct Case {
    const char* name;
    int align;
    bool anchorcenter;
  };
  const Case cases[] = {{"left", kAlignLeft, false},
                        {"centred pivot", kAlignLeft, true},
                        {"equalized", kAlignEqualize, true},
                        {"right", kAlignRight, false}};
  // Hanging full stops, a bracket carried to the next line, a larger font
  // for one stretch (taller lines) and an explicit new line.
  const std::string text = Sjis("あかあかあ。かあ「あかかあかあかあ。。あかあ");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFontValues font = Font();
    font.align = c.align;
    font.anchorcenter = c.anchorcenter;
    CFontValues big = font;
    big.size = 26;
    auto write = [&](CTextRenderer& r, bool everyCharacter) {
      r.SetFont(font);
      for (size_t i = 0; i < text.size(); i += 2) {
        if (i == 14) r.SetFont(big);
        if (i == 30) r.SetFont(font);
        if (i == 36) r.NewLine();
        r.AddText(text.substr(i, 2));
        if (everyCharacter) r.Layout();
      }
      r.Layout();
    };
    CTextRenderer stepwise(&plain, &surfaces), whole(&plain, &surfaces), again(&plain, &surfaces);
    write(stepwise, true);
    write(whole, false);
    write(again, false);
    again.FinishEffects();  // everything placed again from scratch
    again.Layout();
    EXPECT_EQ(Dump(stepwise), Dump(whole));
    EXPECT_EQ(Dump(again), Dump(whole));
    EXPECT_EQ(Pixels(stepwise), Pixels(whole));
    EXPECT_GE(whole.GetLines().size(), 4u);
  }
}

namespace {

TEST_F(PageReuseTest, EachGlyphIsTheGeneratorsImageForItsColourSizeAndCaches) {
  // A window keeps the images it met last; every glyph must still be the
  // image the generator gives for its code with the font of its time.
  CTextRenderer r(&plain, &surfaces);
  CGlyphGenerator* generator = CGlyphGenerator::GetInstance();
  int32_t checked = 0;
  // Writes text in a font, then checks the glyphs it made.
  auto write = [&](const CFontValues& font, const char* text, const char* step) {
    r.SetFont(font);
    r.AddText(Sjis(text));
    // Selected as the window selects it: only when another font is selected.
    if (!generator->IsSelected(false, font.face, font.ClampedSize(), false, false, false, false))
      ASSERT_FALSE(generator->SelectFont(false, font.face, font.ClampedSize(), false, false, false, false));
    generator->SetOutline(false);
    int32_t count = 0;
    for (const auto& line : r.GetLines())
      for (const auto& cell : line->cells)
        for (const auto& glyph : cell->base) {
          if (glyph.index < checked) continue;
          ++count;
          EXPECT_EQ(glyph.mainImage, generator->GetGlyph(glyph.code, &surfaces, font.color))
              << step << ", glyph " << glyph.index;
        }
    EXPECT_GT(count, 0) << step;
    checked = r.GetCharCount();
  };
  const CFontValues font = Font();
  CFontValues blue = font;
  blue.color = 0x0000FF;
  CFontValues big = font;
  big.size = 30;
  write(font, "あかa", "first");
  write(blue, "あかa", "another colour");
  write(font, "かあ", "the first colour again");
  write(big, "あか", "another size in the same colour");
  write(font, "かa", "the first size again");
  // The generator forgot its images (its font stays selected): the window
  // must not hand out old ones.
  generator->ClearCaches();
  write(font, "あかa", "after the caches were cleared");
}

}  // namespace
