// Prerendered font files: the index, the entry view and the generator's
// prerendered mode, on files the tests write.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FakeFontBackend.h"
#include "graphics/PngWriter.h"
#include "graphics/Surface.h"
#include "support/TempDir.h"
#include "text/GlyphGenerator.h"
#include "text/RftFile.h"
#include "text/RftWriter.h"

namespace {

std::vector<uint8_t> SolidPng(int width, int height, int format, uint32_t value) {
  CSurface surface;
  EXPECT_FALSE(surface.Create(width, height, format));
  surface.Fill(value);
  std::vector<uint8_t> png;
  EXPECT_FALSE(EncodePng(&surface, png));
  return png;
}

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::vector<uint8_t> BuildFont(char version) {
  CRftWriter writer(version);
  EXPECT_FALSE(writer.SetImage(0x41, SolidPng(7, 16, ISurface::PIXEL_BITS_8, 200)));
  EXPECT_FALSE(writer.SetImage(0x8141, SolidPng(5, 9, ISurface::PIXEL_BITS_8, 99)));
  EXPECT_FALSE(writer.SetImage(0xF9FC, SolidPng(3, 3, ISurface::PIXEL_BITS_32A, 0x80FF0000)));
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(writer.Finish(bytes));
  return bytes;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void PutLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

TEST(RftIndex, RangesAndPositions) {
  EXPECT_EQ(CRftFile::IndexEntryPosition('1', 0x8141), 4 + 8 * (94 + 63 + 1));
  EXPECT_EQ(CRftFile::IndexEntryPosition('0', 0x8141), 4 + 8 * (94 + 63));
  EXPECT_EQ(CRftFile::IndexEntryPosition('1', 0x21), 4);
  EXPECT_EQ(CRftFile::IndexEntryPosition('2', 0xE040), 4 + 8 * (94 + 63 + 7869));
  EXPECT_EQ(CRftFile::IndexEntryPosition('1', 0x20), -1);
  EXPECT_EQ(CRftFile::IndexEntryPosition('0', 0x8140), -1);
  EXPECT_EQ(CRftFile::IndexEntryPosition('1', 0xA0), -1);
  EXPECT_EQ(CRftFile::IndexEntryPosition('1', 0xF9FD), -1);
  EXPECT_EQ(CRftFile::IndexEntryCount('0'), 94 + 63 + 7868 + 2661 + 2493);
  EXPECT_EQ(CRftFile::IndexEntryCount('2'), 94 + 63 + 7869 + 2661 + 2493);

  CRftWriter writer('1');
  EXPECT_TRUE(writer.SetImage(0x20, {1}));
  const std::vector<uint8_t> bytes = BuildFont('1');
  EXPECT_EQ(Bytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4)), "rft1");
  const size_t entry = size_t(CRftFile::IndexEntryPosition('1', 0x8141));
  EXPECT_GT(Le32(bytes, entry + 4), 0u);
  EXPECT_EQ(Le32(bytes, entry - 8 + 4), 0u);  // 0x8140 has no image
}

class RftFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedCurrentDir cwd{dir.Path()};
};

TEST_F(RftFileTest, ViewStaysInsideTheEntry) {
  const std::vector<uint8_t> bytes = BuildFont('1');
  dir.Write("Font_16.rft", Bytes(bytes));
  const size_t entry = size_t(CRftFile::IndexEntryPosition('1', 0x8141));
  const uint32_t offset = Le32(bytes, entry), size = Le32(bytes, entry + 4);

  CRftFile file;
  EXPECT_TRUE(file.Open("Font_16.rft"));
  EXPECT_EQ(file.Tell(), -1);
  // The name is tried as given, then with ".rft".
  ASSERT_FALSE(file.OpenGlyph("Font_16", 0x8141));
  EXPECT_FALSE(file.IsDirectImage());
  EXPECT_EQ(file.GetSize(), int(size));
  EXPECT_EQ(file.Tell(), 0);
  std::vector<uint8_t> all(size + 10);
  EXPECT_EQ(file.Read(all.data(), unsigned(all.size())), int(size));
  EXPECT_TRUE(std::equal(all.begin(), all.begin() + size, bytes.begin() + offset));
  EXPECT_EQ(file.Read(all.data(), 1), 0);

  EXPECT_EQ(file.Seek(-1, 0), -1);
  EXPECT_EQ(file.Tell(), int(size));
  EXPECT_EQ(file.Seek(1, 2), -1);
  EXPECT_EQ(file.Seek(-4, 2), 0);
  EXPECT_EQ(file.Tell(), int(size) - 4);
  // Relative seeks out of the entry answer 0 and leave the position.
  EXPECT_EQ(file.Seek(5, 1), 0);
  EXPECT_EQ(file.Tell(), int(size) - 4);
  EXPECT_EQ(file.Seek(-int(size), 1), 0);
  EXPECT_EQ(file.Tell(), int(size) - 4);
  EXPECT_EQ(file.Seek(-2, 1), 0);
  uint8_t tail[8];
  EXPECT_EQ(file.Read(tail, 8), 6);
  EXPECT_EQ(tail[5], bytes[offset + size - 1]);

  EXPECT_EQ(file.Close(), 0);
  EXPECT_EQ(file.GetSize(), 0);
  EXPECT_EQ(file.Tell(), -1);
  EXPECT_EQ(file.Read(tail, 1), 0);
  EXPECT_TRUE(file.OpenGlyph("Font_16.rft", 0x20));
  EXPECT_TRUE(file.OpenGlyph("Nothing_16.rft", 0x41));
}

// A damaged index must not be followed outside the file.
TEST_F(RftFileTest, UntrustedIndex) {
  const std::vector<uint8_t> good = BuildFont('1');
  const size_t entry = size_t(CRftFile::IndexEntryPosition('1', 0x8141));
  CRftFile file;

  dir.Write("short.rft", Bytes(std::vector<uint8_t>(good.begin(), good.begin() + long(entry) + 6)));
  EXPECT_TRUE(file.OpenGlyph("short.rft", 0x8141));
  // An entry read whole whose bytes were cut off.
  EXPECT_TRUE(file.OpenGlyph("short.rft", 0x41));
  EXPECT_EQ(file.GetSize(), 0);

  std::vector<uint8_t> past = good;
  PutLe32(past, entry + 4, Le32(good, entry + 4) + 1000000);
  dir.Write("past.rft", Bytes(past));
  EXPECT_TRUE(file.OpenGlyph("past.rft", 0x8141));

  std::vector<uint8_t> wrap = good;
  PutLe32(wrap, entry, 0xFFFFFFF0u);
  PutLe32(wrap, entry + 4, 0x20);
  dir.Write("wrap.rft", Bytes(wrap));
  EXPECT_TRUE(file.OpenGlyph("wrap.rft", 0x8141));

  std::vector<uint8_t> magic = good;
  magic[3] = '3';
  dir.Write("magic.rft", Bytes(magic));
  EXPECT_TRUE(file.OpenGlyph("magic.rft", 0x41));
  dir.Write("tiny.rft", "rf");
  EXPECT_TRUE(file.OpenGlyph("tiny.rft", 0x41));
}

TEST_F(RftFileTest, GeneratorReadsPrerenderedImages) {
  dir.Write("Font_16.rft", Bytes(BuildFont('1')));
  CGlyphGenerator generator;
  ASSERT_FALSE(generator.SelectFont(true, "Font", 16, false, false, false, false));
  EXPECT_EQ(generator.GetPrerenderedFileName(), "Font_16.rft");

  ISurface* kanji = generator.MakeGlyph(0x4181, nullptr);  // 0x8141 as the renderer hands it over
  ASSERT_NE(kanji, nullptr);
  EXPECT_EQ(kanji->GetWidth(), 5);
  EXPECT_EQ(kanji->GetHeight(), 9);
  EXPECT_EQ(kanji->GetFormat(), ISurface::PIXEL_BITS_8);
  ISurface* coloured = generator.GetGlyph(0x4181, nullptr, 0x00FF00);
  ASSERT_NE(coloured, nullptr);
  EXPECT_EQ(coloured->GetLine(4)[4 * 2 + 1], 0xFF);
  EXPECT_EQ(coloured->GetLine(4)[4 * 2 + 3], 99);

  // Colour images are used as they are.
  ISurface* colourImage = generator.GetGlyph(0xFCF9, nullptr, 0x00FF00);
  ASSERT_NE(colourImage, nullptr);
  EXPECT_EQ(colourImage->GetFormat(), ISurface::PIXEL_BITS_32A);
  EXPECT_EQ(colourImage->GetLine(0)[2], 0xFF);
  EXPECT_EQ(colourImage->GetLine(0)[1], 0);
  EXPECT_EQ(generator.GetColouredImageCount(), 1u);

  ASSERT_NE(generator.MakeGlyph(0x41, nullptr), nullptr);
  // An index entry without an image gives nothing, even for a space.
  EXPECT_EQ(generator.MakeGlyph(0x4081, nullptr), nullptr);
  EXPECT_EQ(generator.MakeGlyph(0x42, nullptr), nullptr);
}

TEST_F(RftFileTest, Rft2ImagesGoToTheRenderersSurfaces) {
  dir.Write("Font_16.rft", Bytes(BuildFont('2')));
  struct CountingFactory : ISurfaceFactory {
    int made = 0;
    ISurface* Create() override {
      ++made;
      return new CSurface();
    }
  } factory;
  CGlyphGenerator generator;
  ASSERT_FALSE(generator.SelectFont(true, "Font", 16, false, false, false, false));
  ASSERT_NE(generator.MakeGlyph(0x41, &factory), nullptr);
  EXPECT_EQ(factory.made, 1);
  ASSERT_NE(generator.MakeGlyph(0x4181, nullptr), nullptr);
  EXPECT_EQ(factory.made, 1);
}

// An "rft0" font has no entry for the full-width space: it gets an empty
// square, as the space (in no range at all) gets its empty half.
TEST_F(RftFileTest, Rft0LacksTheFullWidthSpaceAndStillHasIt) {
  dir.Write("Old_16.rft", Bytes(BuildFont('0')));
  CGlyphGenerator generator;
  ASSERT_FALSE(generator.SelectFont(true, "Old", 16, false, false, false, false));
  ISurface* wide = generator.MakeGlyph(0x4081, nullptr);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->GetWidth(), 16);
  EXPECT_EQ(wide->GetHeight(), 16);
  ISurface* space = generator.MakeGlyph(0x20, nullptr);
  ASSERT_NE(space, nullptr);
  EXPECT_EQ(space->GetWidth(), 8);
  // The first kanji is the first entry of the range in this format.
  ISurface* kanji = generator.MakeGlyph(0x4181, nullptr);
  ASSERT_NE(kanji, nullptr);
  EXPECT_EQ(kanji->GetWidth(), 5);
  EXPECT_EQ(kanji->GetHeight(), 9);
}

// Without a usable file the two spaces still have their width.
TEST_F(RftFileTest, MissingOrCorruptFileGivesOnlyTheSpaces) {
  std::vector<uint8_t> corrupt = BuildFont('1');
  corrupt.resize(100);
  dir.Write("Broken_16.rft", Bytes(corrupt));
  for (const char* face : {"Missing", "Broken"}) {
    SCOPED_TRACE(face);
    CGlyphGenerator generator;
    ASSERT_FALSE(generator.SelectFont(true, face, 16, false, false, false, false));
    ISurface* space = generator.MakeGlyph(0x20, nullptr);
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->GetWidth(), 8);
    EXPECT_EQ(space->GetHeight(), 16);
    ISurface* wide = generator.GetGlyph(0x4081, nullptr, 0xFFFFFF);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide->GetWidth(), 16);
    EXPECT_EQ(wide->GetHeight(), 16);
    EXPECT_EQ(wide->GetLine(15)[4 * 15 + 3], 0);
    EXPECT_EQ(generator.MakeGlyph(0x4181, nullptr), nullptr);
    EXPECT_EQ(generator.MakeGlyph(0x41, nullptr), nullptr);
    generator.SetOutline(true);
    ISurface* outlined = generator.MakeGlyph(0x20, nullptr);
    ASSERT_NE(outlined, nullptr);
    EXPECT_EQ(outlined->GetWidth(), 10);
    EXPECT_EQ(outlined->GetHeight(), 18);
  }
}

// A font made from system glyphs reads back with the same pixels.
TEST_F(RftFileTest, BuiltFontMatchesTheSystemFont) {
  ScopedFakeFonts fonts;
  fonts.backend.state.metrics = {8, 14};
  FakeGlyph glyph;
  glyph.metrics = {5, 6, 1, 12, 16};
  for (int i = 0; i < 30; ++i) glyph.grey.push_back(uint8_t(i * 2));
  fonts.backend.state.glyphs[0x41] = glyph;
  fonts.backend.state.glyphs[0x889F] = glyph;
  CGlyphGenerator system;
  ASSERT_FALSE(system.SelectFont(false, "Sys", 8, false, false, false, false));
  CRftWriter writer('1');
  // The two glyphs, and the full-width space that every font gets.
  EXPECT_EQ(RenderRftImages(system, writer), 3);
  std::vector<uint8_t> bytes;
  ASSERT_FALSE(writer.Finish(bytes));
  dir.Write("Sys_8.rft", Bytes(bytes));

  CGlyphGenerator prerendered;
  ASSERT_FALSE(prerendered.SelectFont(true, "Sys", 8, false, false, false, false));
  for (uint16_t code : {uint16_t(0x41), uint16_t(0x9F88), uint16_t(0x4081)}) {
    ISurface* a = system.MakeGlyph(code, nullptr);
    ISurface* b = prerendered.MakeGlyph(code, nullptr);
    ASSERT_TRUE(a && b) << code;
    ASSERT_EQ(a->GetWidth(), b->GetWidth());
    ASSERT_EQ(a->GetHeight(), b->GetHeight());
    ASSERT_EQ(b->GetFormat(), ISurface::PIXEL_BITS_8);
    for (int y = 0; y < a->GetHeight(); ++y)
      EXPECT_EQ(0, std::memcmp(a->GetLine(y), b->GetLine(y), size_t(a->GetWidth()))) << code << " row " << y;
  }
}

}  // namespace
