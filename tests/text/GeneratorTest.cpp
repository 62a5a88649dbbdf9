// The glyph generator's arithmetic on a font backend with hand-made glyphs.
#include <gtest/gtest.h>

#include "FakeFontBackend.h"
#include "graphics/Surface.h"
#include "platform/TextCodec.h"
#include "text/GlyphGenerator.h"

namespace {

const std::string kGothic = platform::ConvertUtf8ToCp932("ＭＳ ゴシック");

// The renderer hands double-byte characters over as lead | trail << 8.
constexpr uint16_t kHiraganaA = 0xA082;  // "あ", big-endian 0x82A0
constexpr uint16_t kHiraganaABig = 0x82A0;

uint8_t Pixel(ISurface* image, int x, int y) { return image->GetLine(y)[x]; }

int CountLit(ISurface* image) {
  int lit = 0;
  for (int y = 0; y < image->GetHeight(); ++y)
    for (int x = 0; x < image->GetWidth(); ++x) lit += Pixel(image, x, y) != 0;
  return lit;
}

class GeneratorTest : public ::testing::Test {
 protected:
  ScopedFakeFonts fonts;
  CGlyphGenerator generator;
  FakeFontBackend& backend = fonts.backend;

  void Select(int size = 24, bool bold = false) {
    ASSERT_FALSE(generator.SelectFont(false, kGothic, size, bold, false, false, false));
  }
};

TEST_F(GeneratorTest, FullWidthCharacterAtSize24) {
  // Black box 40 x 44 at origin (4, 40), ascent 42, at double size.
  backend.state.metrics = {24, 42};
  backend.AddSolid(kHiraganaABig, 40, 44, 4, 40, 48);
  Select(24);
  ASSERT_EQ(backend.state.requests.size(), 1u);
  EXPECT_EQ(backend.state.requests[0].height, 48);
  EXPECT_EQ(backend.state.requests[0].faceCp932, kGothic);
  EXPECT_EQ(generator.GetAscent(), 42);

  ISurface* image = generator.MakeGlyph(kHiraganaA, nullptr);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetFormat(), ISurface::PIXEL_BITS_8);
  EXPECT_EQ(image->GetWidth(), 24);   // max(48 / 2, 22)
  EXPECT_EQ(image->GetHeight(), 24);  // max(24, 22 + 1)
  ASSERT_EQ(backend.state.calls.size(), 1u);
  EXPECT_EQ(backend.state.calls[0], kHiraganaABig);
  // x0 = 2, y0 = 1; 20 x 22 pixels of four full samples each: 4 x 64 = 256 -> 255.
  EXPECT_EQ(Pixel(image, 2, 1), 255);
  EXPECT_EQ(Pixel(image, 21, 22), 255);
  EXPECT_EQ(Pixel(image, 1, 1), 0);
  EXPECT_EQ(Pixel(image, 22, 1), 0);
  EXPECT_EQ(Pixel(image, 2, 0), 0);
  EXPECT_EQ(Pixel(image, 2, 23), 0);
  EXPECT_EQ(CountLit(image), 20 * 22);
}

TEST_F(GeneratorTest, GreySumsClampAndOddRowsAreDropped) {
  backend.state.metrics = {24, 42};
  FakeGlyph glyph;
  // Two columns, three rows: the last row has no partner and is dropped.
  glyph.metrics = {2, 3, 0, 42, 48};
  glyph.grey = {64, 64, 64, 10, 64, 64};
  backend.state.glyphs[0x41] = glyph;
  glyph.grey = {64, 64, 64, 64, 64, 64};
  backend.state.glyphs[0x42] = glyph;
  Select(24);
  ISurface* a = generator.MakeGlyph(0x41, nullptr);
  ISurface* b = generator.MakeGlyph(0x42, nullptr);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(Pixel(a, 0, 0), 202);
  EXPECT_EQ(Pixel(b, 0, 0), 255);
  EXPECT_EQ(CountLit(a), 1);
  EXPECT_EQ(CountLit(b), 1);
}

TEST_F(GeneratorTest, OutlineSpreadsEachPixelOverAThreeByThreeBlock) {
  backend.state.metrics = {24, 42};
  backend.AddSolid(kHiraganaABig, 40, 44, 4, 40, 48);
  FakeGlyph dot;
  dot.metrics = {2, 2, 10, 30, 48};  // one shrunk pixel at (5, 6)
  dot.grey = {64, 64, 16, 16};
  backend.state.glyphs[0x2E] = dot;
  Select(24);
  generator.SetOutline(true);
  EXPECT_EQ(generator.GetFlags() & CGlyphGenerator::FLAG_OUTLINE, CGlyphGenerator::FLAG_OUTLINE);

  ISurface* image = generator.MakeGlyph(kHiraganaA, nullptr);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetWidth(), 26);
  EXPECT_EQ(image->GetHeight(), 26);
  EXPECT_EQ(CountLit(image), 22 * 24);  // 20 x 22 grown by 2 both ways

  ISurface* spot = generator.MakeGlyph(0x2E, nullptr);
  ASSERT_NE(spot, nullptr);
  EXPECT_EQ(CountLit(spot), 9);
  for (int y = 6; y < 9; ++y)
    for (int x = 5; x < 8; ++x) EXPECT_EQ(Pixel(spot, x, y), 160) << x << "," << y;

  // The outline flag is part of the key: the plain image is another one.
  generator.SetOutline(false);
  ISurface* plain = generator.MakeGlyph(0x2E, nullptr);
  ASSERT_NE(plain, nullptr);
  EXPECT_NE(plain, spot);
  EXPECT_EQ(CountLit(plain), 1);
  EXPECT_EQ(Pixel(plain, 5, 6), 160);
}

TEST_F(GeneratorTest, TwoColoursShareOneGreyImage) {
  backend.AddSolid(kHiraganaABig, 40, 44, 4, 40, 48);
  Select(24);
  ISurface* white = generator.GetGlyph(kHiraganaA, nullptr, 0xFFFFFF);
  ISurface* red = generator.GetGlyph(kHiraganaA, nullptr, 0x123456);
  ASSERT_TRUE(white && red);
  EXPECT_NE(white, red);
  EXPECT_EQ(generator.GetImageCount(), 1u);
  EXPECT_EQ(generator.GetColouredImageCount(), 2u);
  EXPECT_EQ(backend.state.calls.size(), 1u);
  EXPECT_EQ(generator.GetGlyph(kHiraganaA, nullptr, 0x123456), red);
  EXPECT_EQ(backend.state.calls.size(), 1u);

  EXPECT_EQ(red->GetFormat(), ISurface::PIXEL_BITS_32A);
  const uint8_t* lit = red->GetLine(1) + 4 * 2;
  EXPECT_EQ(lit[0], 0x56);
  EXPECT_EQ(lit[1], 0x34);
  EXPECT_EQ(lit[2], 0x12);
  EXPECT_EQ(lit[3], 255);
  EXPECT_EQ(red->GetLine(0)[3], 0);
}

TEST_F(GeneratorTest, KeyAndSelection) {
  EXPECT_EQ(CGlyphGenerator::MakeKey(0x11, 24, 0xA082), 0x1118A082u);
  EXPECT_EQ(CGlyphGenerator::ToBigEndian(0xA082), 0x82A0);
  EXPECT_EQ(CGlyphGenerator::ToBigEndian(0x41), 0x41);

  ASSERT_FALSE(generator.SelectFont(false, kGothic, 24, true, true, true, true));
  EXPECT_EQ(generator.GetFlags(), 0x0F);
  EXPECT_EQ(generator.GetPrerenderedFileName(), "");
  const platform::FontRequest& request = backend.state.requests.back();
  EXPECT_TRUE(request.bold && request.italic && request.underline && request.strikeout);
  EXPECT_TRUE(generator.IsSelected(false, kGothic, 24, true, true, true, true));
  EXPECT_FALSE(generator.IsSelected(true, kGothic, 24, true, true, true, true));
  EXPECT_FALSE(generator.IsSelected(false, kGothic, 24, true, true, true, false));
  generator.SetOutline(true);
  EXPECT_TRUE(generator.IsSelected(false, kGothic, 24, true, true, true, true));
  // A new selection starts without the outline mode.
  ASSERT_FALSE(generator.SelectFont(true, "Font", 16, false, false, false, false));
  EXPECT_EQ(generator.GetFlags(), CGlyphGenerator::FLAG_PRERENDERED);
  EXPECT_EQ(generator.GetPrerenderedFileName(), "Font_16.rft");
}

TEST_F(GeneratorTest, SizeIsClampedToOneByte) {
  ASSERT_FALSE(generator.SelectFont(false, kGothic, 256, false, false, false, false));
  EXPECT_EQ(generator.GetSize(), 255);
  EXPECT_EQ(backend.state.requests.back().height, 510);
  EXPECT_TRUE(generator.IsSelected(false, kGothic, 1000, false, false, false, false));
  ASSERT_FALSE(generator.SelectFont(false, kGothic, 0, false, false, false, false));
  EXPECT_EQ(generator.GetSize(), 1);
  ASSERT_FALSE(generator.SelectFont(true, "Font", -5, false, false, false, false));
  EXPECT_EQ(generator.GetPrerenderedFileName(), "Font_1.rft");

  // Size 255 still makes glyphs (a byte cast would have made it 0).
  backend.AddSolid(0x41, 200, 300, 10, 400, 260);
  ASSERT_FALSE(generator.SelectFont(false, kGothic, 255, false, false, false, false));
  ISurface* image = generator.MakeGlyph(0x41, nullptr);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetHeight(), 255);
}

TEST_F(GeneratorTest, SpacesAreEmptyAndOtherFailuresGiveNothing) {
  backend.state.metrics = {24, 42};
  // Drawn spaces keep their advance but no ink.
  backend.AddSolid(0x20, 4, 4, 0, 10, 24);
  Select(24);
  ISurface* drawn = generator.MakeGlyph(0x20, nullptr);
  ASSERT_NE(drawn, nullptr);
  EXPECT_EQ(drawn->GetWidth(), 12);
  EXPECT_EQ(CountLit(drawn), 0);

  // The font has no full-width space: it takes 2 x size at double size.
  ISurface* wide = generator.MakeGlyph(0x4081, nullptr);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->GetWidth(), 24);
  EXPECT_EQ(wide->GetHeight(), 24);
  EXPECT_EQ(CountLit(wide), 0);

  EXPECT_EQ(generator.MakeGlyph(0x42, nullptr), nullptr);
  EXPECT_EQ(generator.GetGlyph(0x42, nullptr, 0xFFFFFF), nullptr);
  // A character without a glyph is asked for once.
  const size_t calls = backend.state.calls.size();
  EXPECT_EQ(generator.MakeGlyph(0x42, nullptr), nullptr);
  EXPECT_EQ(backend.state.calls.size(), calls);
}

TEST_F(GeneratorTest, MissingSpaceGlyphFallsBackToHalfTheSize) {
  Select(24);
  ISurface* space = generator.MakeGlyph(0x20, nullptr);
  ASSERT_NE(space, nullptr);
  EXPECT_EQ(space->GetWidth(), 12);
  EXPECT_EQ(space->GetHeight(), 24);
}

TEST_F(GeneratorTest, NoFontBackendNoFaceNoGlyph) {
  EXPECT_EQ(generator.GetGlyph(0x41, nullptr, 0), nullptr);
  platform::SetFontBackend(nullptr);
  EXPECT_TRUE(generator.SelectFont(false, kGothic, 24, false, false, false, false));
  EXPECT_EQ(generator.MakeGlyph(0x20, nullptr), nullptr);
  EXPECT_EQ(generator.GetGlyph(0x41, nullptr, 0), nullptr);
  // Prerendered selections need no backend.
  EXPECT_FALSE(generator.SelectFont(true, "Font", 16, false, false, false, false));
}

// Bitmaps that reach outside the cell are clipped to the image.
TEST_F(GeneratorTest, BitmapsOutsideTheCellAreClipped) {
  backend.state.metrics = {24, 42};
  // An odd width reaching the advance: w 45 at origin 0, advance 45.
  backend.AddSolid('W', 45, 30, 0, 40, 45);
  // A negative origin x, as a "j" has.
  backend.AddSolid('j', 20, 50, -2, 38, 22);
  // A top above the ascent and a bitmap far larger than the cell.
  backend.AddSolid('T', 300, 300, -50, 200, 48);
  // No rows at all.
  backend.AddSolid('_', 20, 0, 0, 0, 48);
  for (bool outline : {false, true}) {
    Select(24);
    generator.SetOutline(outline);
    const int extra = outline ? 2 : 0;
    ISurface* w = generator.MakeGlyph('W', nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->GetWidth(), 22 + extra);
    ISurface* j = generator.MakeGlyph('j', nullptr);
    ASSERT_NE(j, nullptr);
    EXPECT_EQ(j->GetWidth(), 11 + extra);  // max(22 / 2, 10 + (-2) / 2)
    EXPECT_EQ(Pixel(j, 0, 2), 255);
    ISurface* t = generator.MakeGlyph('T', nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->GetWidth(), 125 + extra);  // max(24, 150 - 25)
    EXPECT_EQ(t->GetHeight(), 150 - 79 + extra);
    EXPECT_EQ(Pixel(t, 0, 0), 255);
    ISurface* flat = generator.MakeGlyph('_', nullptr);
    ASSERT_NE(flat, nullptr);
    EXPECT_EQ(CountLit(flat), 0);
  }
}

TEST_F(GeneratorTest, ProcessWideInstance) {
  CGlyphGenerator* first = CGlyphGenerator::GetInstance();
  EXPECT_EQ(CGlyphGenerator::GetInstance(), first);
  CGlyphGenerator::DestroyInstance();
  EXPECT_NE(CGlyphGenerator::GetInstance(), nullptr);
  CGlyphGenerator::DestroyInstance();
}

}  // namespace
