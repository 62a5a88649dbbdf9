// Text layout on a font backend whose glyphs are solid blocks of chosen
// widths, so every position below is exact.
#include <gtest/gtest.h>

#include <cmath>

#include "FakeFontBackend.h"
#include "core/Serializer.h"
#include "graphics/Surface.h"
#include "platform/TextCodec.h"
#include "scene/Layer.h"
#include "text/GlyphGenerator.h"
#include "text/TextRenderer.h"

namespace {

std::string Sjis(const char* utf8) { return platform::ConvertUtf8ToCp932(utf8); }

class LayoutTest : public ::testing::Test {
 protected:
  ScopedFakeFonts fonts;
  CLayerFactory layers;
  CSurfaceFactory surfaces;

  void SetUp() override {
    CGlyphGenerator::DestroyInstance();
    fonts.backend.state.metrics = {20, 40};
    // Big-endian codes; widths are the image widths at half the sampled size.
    Glyph("あ", 20);
    Glyph("漢", 20);
    Glyph("。", 20);
    Glyph("「", 20);
    Glyph("か", 8);
    Glyph("a", 10);
  }
  void TearDown() override { CGlyphGenerator::DestroyInstance(); }

  // A glyph one sample row high sitting on the ascent, so its image is as
  // tall as the text size and exactly width pixels wide.
  void Glyph(const char* utf8, int width, int rows = 2) {
    const std::string s = Sjis(utf8);
    const uint16_t code = s.size() == 2 ? uint16_t(uint8_t(s[0]) << 8 | uint8_t(s[1])) : uint8_t(s[0]);
    fonts.backend.AddSolid(code, uint32_t(2 * width), uint32_t(rows), 0, 40, 2 * width);
  }

  static CFontValues Font(int width, int height = 480) {
    CFontValues font;
    font.size = 20;
    font.rubysize = 8;
    font.width = width;
    font.height = height;
    font.anchorcenter = false;
    return font;
  }

  static std::string LineText(const CTextRenderer& r, int line) {
    std::string out;
    for (const auto& cell : r.GetLines()[line]->cells) out += cell->text;
    return platform::ConvertCp932ToUtf8(out);
  }
};

TEST_F(LayoutTest, HangingPunctuationJoinsTheFullLineOrPullsItsLastCharacterDown) {
  CTextRenderer hung(&layers, &surfaces);
  hung.SetFont(Font(100));
  hung.AddText(Sjis("あああああ。"));
  ASSERT_EQ(hung.GetLines().size(), 2u);
  EXPECT_EQ(LineText(hung, 0), "あああああ。");
  EXPECT_EQ(hung.GetLines()[0]->width, 120);  // sticks out past the area
  EXPECT_TRUE(hung.GetLines()[1]->cells.empty());

  CTextRenderer plain(&layers, &surfaces);
  CFontValues font = Font(100);
  font.hung = false;
  plain.SetFont(font);
  plain.AddText(Sjis("あああああ。"));
  ASSERT_EQ(plain.GetLines().size(), 2u);
  EXPECT_EQ(LineText(plain, 0), "ああああ");
  EXPECT_EQ(LineText(plain, 1), "あ。");
}

// The area narrows under text already written (a [/font] back to a
// narrower font): a cell that has to be placed again and no longer fits
// any line is dropped, whether it was set aside after an opening bracket
// or pulled down to go with a punctuation mark.
TEST_F(LayoutTest, ACellPlacedAgainAfterTheAreaNarrowedIsDroppedWhenItFitsNoLine) {
  Glyph("、", 8);
  CTextRenderer aside(&layers, &surfaces);
  aside.SetFont(Font(100));
  aside.AddText(Sjis("a「"));
  aside.SetFont(Font(12));
  aside.AddText(Sjis("か"));
  ASSERT_EQ(aside.GetLines().size(), 2u);
  EXPECT_EQ(LineText(aside, 0), "a");
  EXPECT_EQ(LineText(aside, 1), "か");

  CTextRenderer pulled(&layers, &surfaces);
  pulled.SetFont(Font(100));
  pulled.AddText(Sjis("aあ"));
  pulled.SetFont(Font(12));
  pulled.AddText(Sjis("、か"));
  ASSERT_EQ(pulled.GetLines().size(), 3u);
  EXPECT_EQ(LineText(pulled, 0), "a");
  EXPECT_EQ(LineText(pulled, 1), "、");
  EXPECT_EQ(LineText(pulled, 2), "か");
}

TEST_F(LayoutTest, AfterARetriedHangPunctuationPullsACharacterDown) {
  CTextRenderer r(&layers, &surfaces);
  r.SetFont(Font(100));
  // The second "。" cannot join a line already past the width: the last
  // character comes down with it.
  r.AddText(Sjis("あああああ。。"));
  EXPECT_EQ(LineText(r, 0), "ああああ");
  EXPECT_EQ(LineText(r, 1), "あ。。");
  // From then on a "。" after a full line does not hang, on this page or
  // the next: the last character comes down with it.
  r.AddText(Sjis("ああ。"));
  ASSERT_EQ(r.GetLines().size(), 3u);
  EXPECT_EQ(LineText(r, 1), "あ。。あ");
  EXPECT_EQ(LineText(r, 2), "あ。");
  r.Clear();
  r.AddText(Sjis("あああああ。"));
  EXPECT_EQ(LineText(r, 0), "ああああ");
  EXPECT_EQ(LineText(r, 1), "あ。");
  // Punctuation opening a line after a lone cell ends that: the next full
  // line hangs its "。" again.
  r.Clear();
  r.AddText(Sjis("あ"));
  r.NewLine();
  r.AddText(Sjis("。"));
  r.NewLine();
  r.AddText(Sjis("あああああ。"));
  EXPECT_EQ(LineText(r, 2), "あああああ。");
}

TEST_F(LayoutTest, OpeningBracketCarriesOverWithTheCharacterThatDidNotFit) {
  CTextRenderer r(&layers, &surfaces);
  r.SetFont(Font(100));
  r.AddText(Sjis("ああああ「あ"));
  ASSERT_EQ(r.GetLines().size(), 2u);
  EXPECT_EQ(LineText(r, 0), "ああああ");
  EXPECT_EQ(LineText(r, 1), "「あ");
  r.Layout();
  EXPECT_EQ(r.GetLines()[1]->cells[0]->x, 0);
  EXPECT_EQ(r.GetLines()[1]->cells[1]->x, 20);
  EXPECT_EQ(r.GetLines()[0]->cells[0]->kinsoku, CTextRenderer::kKinsokuNone);
  EXPECT_EQ(r.GetLines()[1]->cells[0]->kinsoku, CTextRenderer::kKinsokuNoEnd);
  EXPECT_EQ(CTextRenderer::KinsokuClass("."), CTextRenderer::kKinsokuNoStart);
  EXPECT_EQ(CTextRenderer::KinsokuClass(Sjis("、")), CTextRenderer::kKinsokuNoStart);
  EXPECT_EQ(CTextRenderer::KinsokuClass("("), CTextRenderer::kKinsokuNoEnd);
  EXPECT_EQ(CTextRenderer::NoStartChars().size(), 26u);
  EXPECT_EQ(CTextRenderer::NoEndChars().size(), 10u);
  for (const std::string& c : CTextRenderer::NoStartChars())
    EXPECT_EQ(CTextRenderer::KinsokuClass(c), CTextRenderer::kKinsokuNoStart) << c;
  for (const std::string& c : CTextRenderer::NoEndChars())
    EXPECT_EQ(CTextRenderer::KinsokuClass(c), CTextRenderer::kKinsokuNoEnd) << c;
  // Only single characters have a class; their neighbours have none.
  for (const char* other : {"a", "\x81\x40", "\x81\x4A", "\x81\x74", "\x81", "(a", ".."})
    EXPECT_EQ(CTextRenderer::KinsokuClass(other), CTextRenderer::kKinsokuNone) << other;
}

TEST_F(LayoutTest, Alignment) {
  auto xs = [&](int align, const char* text) {
    CTextRenderer r(&layers, &surfaces);
    CFontValues font = Font(100);
    font.align = align;
    r.SetFont(font);
    r.AddText(Sjis(text));
    r.Layout();
    std::vector<int> out;
    for (const auto& cell : r.GetLines()[0]->cells) out.push_back(cell->x);
    return out;
  };
  EXPECT_EQ(xs(kAlignEqualize, "あああ"), (std::vector<int>{0, 40, 80}));
  EXPECT_EQ(xs(kAlignEqualize, "aaa"), (std::vector<int>{0, 45, 90}));
  EXPECT_EQ(xs(kAlignEqualize, "あ"), (std::vector<int>{0}));  // one cell: left
  EXPECT_EQ(xs(kAlignCenter, "aaa"), (std::vector<int>{35, 45, 55}));
  EXPECT_EQ(xs(kAlignRight, "ああ"), (std::vector<int>{60, 80}));
}

TEST_F(LayoutTest, RubySpreadsTheNarrowerRowOverTheWider) {
  CTextRenderer r(&layers, &surfaces);
  CFontValues font = Font(200);
  font.spacetop = 2;
  font.spacemiddle = 3;
  r.SetFont(font);
  // Ruby wider than its base: base glyphs spread, cell as wide as the ruby.
  ASSERT_EQ(r.AddChar(Sjis("あ"), Sjis("かかかか")), 0);
  // Ruby narrower: ruby glyphs spread over the base.
  ASSERT_EQ(r.AddChar(Sjis("漢"), Sjis("かか")), 0);
  const auto& cells = r.GetLines()[0]->cells;
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells[0]->width, 32);
  EXPECT_EQ(cells[0]->base[0].x, 6);  // (32 - 20) / 2
  EXPECT_EQ(cells[0]->ruby[3].x, 24);
  EXPECT_EQ(cells[1]->width, 20);
  EXPECT_EQ(cells[1]->base[0].x, 0);
  EXPECT_EQ(cells[1]->ruby[0].x, 1);   // floor(4 / 3)
  EXPECT_EQ(cells[1]->ruby[1].x, 10);  // floor(4 / 3 + 8 + 4 / 3)
  EXPECT_EQ(cells[0]->ruby[0].y, 2);
  EXPECT_EQ(cells[0]->base[0].y, 13);  // spacetop + rubysize + spacemiddle
  EXPECT_EQ(cells[0]->height, 33);
  // Ruby glyphs come after their base in character order.
  EXPECT_EQ(cells[0]->FirstIndex(), 0);
  EXPECT_EQ(cells[0]->LastIndex(), 4);
  EXPECT_EQ(cells[1]->FirstIndex(), 5);
  r.MakeLayers();
  EXPECT_EQ(cells[1]->ruby[1].main->GetX(), 32 + 10);
  EXPECT_EQ(cells[1]->ruby[1].main->GetY(), 2);
}

TEST_F(LayoutTest, AreaHoldsOnlyWholeLines) {
  CTextRenderer r(&layers, &surfaces);
  CFontValues font = Font(100, 100);
  font.size = 22;  // 8 + 22: cells of 30
  r.SetFont(font);
  r.AddText(Sjis("あああああああああああああああああああ"));  // 19
  int kept = 0;
  for (const auto& line : r.GetLines()) kept += int(line->cells.size());
  EXPECT_EQ(kept, 15);
  EXPECT_EQ(r.GetUsedHeight(), 90);
  EXPECT_EQ(r.GetCharCount(), 19);

  CTextRenderer defaults(&layers, &surfaces);
  defaults.AddText("a");
  EXPECT_EQ(defaults.GetLines()[0]->cells[0]->height, 32);
  // Wider than the area: refused.
  CTextRenderer narrow(&layers, &surfaces);
  narrow.SetFont(Font(15));
  EXPECT_EQ(narrow.AddChar(Sjis("あ"), ""), -1);
  EXPECT_EQ(narrow.AddChar("a", ""), 0);
}

TEST_F(LayoutTest, StyleOffsetsTheLayers) {
  CTextRenderer r(&layers, &surfaces);
  CFontValues font = Font(200);
  font.style = kStyleShadow | kStyleOutline;
  r.SetFont(font);
  r.AddText("aa");
  const auto& cell = r.GetLines()[0]->cells[1];
  EXPECT_EQ(cell->height, 8 + 20 + 3);
  r.MakeLayers();
  const auto& glyph = cell->base[0];
  ASSERT_TRUE(glyph.main && glyph.shadow && glyph.outline);
  EXPECT_EQ(glyph.advance, 13);
  EXPECT_EQ(cell->x, 13);
  EXPECT_EQ(glyph.y, 11);
  EXPECT_EQ(glyph.main->GetX(), 14);
  EXPECT_EQ(glyph.main->GetY(), 12);
  EXPECT_EQ(glyph.shadow->GetX(), 15);
  EXPECT_EQ(glyph.shadow->GetY(), 12);
  EXPECT_EQ(glyph.outline->GetX(), 13);
  EXPECT_EQ(glyph.outline->GetY(), 11);
  EXPECT_EQ(glyph.main->GetAnchorX(), 5);
  EXPECT_EQ(glyph.outline->GetAnchorX(), 6);  // 12 wide with its border
}

TEST_F(LayoutTest, GlyphWithoutImageHasNoLayersAndTakesNoRoom) {
  CTextRenderer r(&layers, &surfaces);
  r.SetFont(Font(200));
  r.AddText(Sjis("a亜a"));  // no glyph for the kanji
  const auto& cells = r.GetLines()[0]->cells;
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_EQ(cells[1]->base[0].advance, -1);
  EXPECT_FALSE(cells[1]->base[0].main);
  EXPECT_EQ(cells[1]->width, 0);
  r.Layout();
  EXPECT_EQ(cells[2]->x, 10);
  EXPECT_EQ(r.GetCharCount(), 3);
  ISurface* target = surfaces.Create();
  ASSERT_FALSE(target->Create(64, 64, ISurface::PIXEL_BITS_32));
  r.Draw(target);  // nothing to draw for it, and no crash
  delete target;
}

TEST_F(LayoutTest, VerticalTextTurnsAboutTheOrigin) {
  CTextRenderer r(&layers, &surfaces);
  CFontValues font = Font(200);
  font.left = 100;
  font.top = 10;
  font.vertical = true;
  font.color = 0xFF0000;
  r.SetFont(font);
  Glyph("亜", 20, 40);  // solid 20 x 20
  r.AddText(Sjis("亜亜"));
  CSurface target;
  ASSERT_FALSE(target.Create(200, 100, ISurface::PIXEL_BITS_32));
  target.Clear();
  r.Draw(&target);
  // Laid out at (gx, gy), drawn at (left - gy, top + gx).
  auto* first = dynamic_cast<CLayer*>(r.GetLines()[0]->cells[0]->base[0].main.get());
  auto* second = dynamic_cast<CLayer*>(r.GetLines()[0]->cells[1]->base[0].main.get());
  ASSERT_TRUE(first && second);
  float x = 0, y = 0;
  first->GetMatrix().Transform(0, 0, x, y);
  EXPECT_NEAR(x, 92, 1e-3);
  EXPECT_NEAR(y, 10, 1e-3);
  second->GetMatrix().Transform(0, 0, x, y);
  EXPECT_NEAR(x, 92, 1e-3);
  EXPECT_NEAR(y, 30, 1e-3);
  // The images turn with the text: two 20 x 20 blocks left of x 92, one
  // below the other from y 10.
  auto red = [&](int px, int py) { return (target.GetLine(py)[px * 4 + 2]) > 128; };
  EXPECT_TRUE(red(75, 12));
  EXPECT_TRUE(red(90, 28));
  EXPECT_TRUE(red(75, 45));
  EXPECT_FALSE(red(94, 20));
  EXPECT_FALSE(red(70, 20));
  EXPECT_FALSE(red(80, 52));

  CRect caret;
  ASSERT_TRUE(r.GetCaretRect(1, caret));
  EXPECT_EQ(caret.GetX(), 72);
  EXPECT_EQ(caret.GetY(), 30);
  EXPECT_EQ(caret.GetWidth(), 28);
  EXPECT_EQ(caret.GetHeight(), 20);
}

TEST_F(LayoutTest, CaretRectanglesFollowScaleAndRotation) {
  auto caret = [&](CFontValues font, int index) {
    CTextRenderer r(&layers, &surfaces);
    font.left = 10;
    font.top = 5;
    r.SetFont(font);
    r.AddText(Sjis("あああ"));
    r.NewLine();
    r.AddText(Sjis("あ"));
    CRect rect;
    EXPECT_TRUE(r.GetCaretRect(index, rect));
    return std::vector<int>{rect.GetX(), rect.GetY(), rect.GetWidth(), rect.GetHeight()};
  };
  CFontValues font = Font(200);
  EXPECT_EQ(caret(font, 1), (std::vector<int>{30, 5, 20, 28}));
  EXPECT_EQ(caret(font, 3), (std::vector<int>{10, 33, 20, 28}));
  EXPECT_EQ(caret(font, 99), (std::vector<int>{10, 33, 20, 28}));  // clamped to the last
  {
    // Only the end is clamped: a negative index names no character.
    CTextRenderer r(&layers, &surfaces);
    r.SetFont(font);
    r.AddText(Sjis("ああ"));
    CRect rect;
    EXPECT_FALSE(r.GetCaretRect(-1, rect));
    EXPECT_FALSE(r.GetCaretRect(INT32_MIN, rect));
  }
  font.entirexscale = 2 * kScaleOne;
  EXPECT_EQ(caret(font, 1), (std::vector<int>{50, 5, 40, 28}));
  font.entirexscale = kScaleOne;
  font.entirerotate = 90;
  EXPECT_EQ(caret(font, 1), (std::vector<int>{-18, 25, 28, 20}));
  // Pivot from the laid-out text: widest line 60 -> x 30, height 56 -> y 28.
  font.anchorcenter = true;
  font.entirerotate = 180;
  EXPECT_EQ(caret(font, 0), (std::vector<int>{50, 33, 20, 28}));
  // sin 30 and sin 150 are 512/1024 exactly: the double sine, a hair below
  // one half, must not turn the rectangle by 511.
  font.anchorcenter = false;
  font.entirerotate = 30;
  EXPECT_EQ(caret(font, 1), (std::vector<int>{13, 15, 31, 34}));
  font.entirerotate = -30;
  EXPECT_EQ(caret(font, 1), (std::vector<int>{27, -15, 31, 34}));
  font.entirerotate = 150;
  EXPECT_EQ(caret(font, 1), (std::vector<int>{-39, -10, 31, 35}));

  CTextRenderer empty(&layers, &surfaces);
  CRect rect;
  EXPECT_FALSE(empty.GetCaretRect(0, rect));
}

// A line with characters is as tall as its cells, which count the shadow's
// and outline's pixels; an empty line (two new lines in a row) has only the
// rows of the font, whatever the style.
TEST_F(LayoutTest, EmptyLinesHaveTheRowsOfTheFontWithoutTheStylesPixels) {
  for (int32_t style : {0, int32_t(kStyleShadow), int32_t(kStyleOutline), int32_t(kStyleShadow | kStyleOutline)}) {
    CTextRenderer r(&layers, &surfaces);
    CFontValues font = Font(200);
    font.style = style;
    font.spacetop = 3;
    font.spacemiddle = 2;
    font.spacebottom = 1;
    r.SetFont(font);
    r.AddText(Sjis("あ"));
    r.NewLine();
    r.NewLine();
    r.AddText(Sjis("あ"));
    r.Layout();
    const auto& lines = r.GetLines();
    ASSERT_EQ(lines.size(), 3u);
    const int32_t extra = ((style & kStyleShadow) ? 1 : 0) + ((style & kStyleOutline) ? 2 : 0);
    EXPECT_EQ(lines[0]->height, 3 + 8 + 2 + 20 + 1 + extra) << style;
    EXPECT_EQ(lines[1]->height, 3 + 8 + 2 + 20 + 1) << style;
    // The third line's characters stand below both.
    EXPECT_EQ(lines[2]->cells[0]->base[0].laidY, lines[0]->height + lines[1]->height + 3 + 8 + 2 + (style >> 1 & 3))
        << style;
  }
}

// With anchorcenter the whole text turns about one pivot taken from the
// laid-out lines: half the widest line from the left edge (left), from the
// right edge (right), or the middle of the area (center, equalize); half
// the total height. Every cell carries it.
TEST_F(LayoutTest, TheCentredPivotFollowsTheAlignment) {
  struct Case {
    int32_t align;
    int32_t x;
  };
  // Widest line 60 (three 20-wide characters) in a 200-wide area; two lines
  // of 28 (rows 8 + 20).
  for (const Case& c :
       {Case{kAlignLeft, 30}, Case{kAlignRight, 170}, Case{kAlignCenter, 100}, Case{kAlignEqualize, 100}}) {
    CTextRenderer r(&layers, &surfaces);
    CFontValues font = Font(200);
    font.anchorcenter = true;
    font.align = c.align;
    r.SetFont(font);
    r.AddText(Sjis("あああ"));
    r.NewLine();
    r.AddText(Sjis("あ"));
    r.Layout();
    EXPECT_EQ(r.GetFont().entireanchorx, c.x) << c.align;
    EXPECT_EQ(r.GetFont().entireanchory, 28) << c.align;
    for (const auto& line : r.GetLines())
      for (const auto* cell : line->cells) {
        EXPECT_EQ(cell->property.GetAnchorX(), c.x) << c.align;
        EXPECT_EQ(cell->property.GetAnchorY(), 28) << c.align;
      }
  }
}

TEST_F(LayoutTest, ClearStartsAFreshPage) {
  CTextRenderer r(&layers, &surfaces);
  r.SetFont(Font(100));
  r.AddText(Sjis("ああああああ"));
  r.NewLine();
  r.Clear();
  EXPECT_EQ(r.GetLines().size(), 1u);
  EXPECT_EQ(r.GetCharCount(), 0);
  EXPECT_EQ(r.GetUsedHeight(), 0);
  EXPECT_FALSE(r.HasPendingLine());
}

TEST(FontPropertyTest, RoundTripsThroughTheNumberedFields) {
  CFontProperty font;
  EXPECT_EQ(platform::ConvertCp932ToUtf8(font.face), "ＭＳ ゴシック");
  font.size = 30;
  font.color = 0xFF0000;
  font.vertical = true;
  font.hung = false;
  font.rubyface = "x";
  CSerializer out;
  font.Serialize(out);
  std::vector<uint8_t> bytes = out.Finish();
  CSerializer in;
  ASSERT_FALSE(in.Load(bytes.data(), bytes.size()));
  for (uint32_t tag = 1; tag <= 32; ++tag) EXPECT_TRUE(in.HasTag(tag)) << tag;
  int32_t size = 0;
  ASSERT_FALSE(in.Read(20, size));
  EXPECT_EQ(size, 30);
  CFontProperty back;
  back.Deserialize(in);
  EXPECT_TRUE(static_cast<const CFontValues&>(back) == static_cast<const CFontValues&>(font));
}

}  // namespace
