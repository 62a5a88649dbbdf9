// The FreeType backend on the IPA fonts, as the generator uses it. These
// tests need the fonts-ipafont package; without it they skip and say so.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "graphics/Surface.h"
#include "platform/FontBackend.h"
#include "platform/Platform.h"
#include "platform/TextCodec.h"
#include "text/GlyphGenerator.h"

namespace {

std::string Cp932(const char* utf8) { return platform::ConvertUtf8ToCp932(utf8); }

// The renderer's form of a character: lead | trail << 8.
uint16_t Code(const char* utf8) {
  const std::string bytes = Cp932(utf8);
  if (bytes.size() == 1) return uint8_t(bytes[0]);
  return uint16_t(uint8_t(bytes[0]) | uint8_t(bytes[1]) << 8);
}

uint32_t Crc(ISurface* image) {
  uLong crc = crc32(0, nullptr, 0);
  const int bytes = image->GetWidth() * image->GetBytesPerPixel();
  for (int y = 0; y < image->GetHeight(); ++y) crc = crc32(crc, image->GetLine(y), uInt(bytes));
  return uint32_t(crc);
}

uint32_t FileCrc(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buffer(1 << 16);
  uLong crc = crc32(0, nullptr, 0);
  while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0)
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), uInt(in.gcount()));
  return uint32_t(crc);
}

int Ink(ISurface* image) {
  int sum = 0;
  for (int y = 0; y < image->GetHeight(); ++y)
    for (int x = 0; x < image->GetWidth(); ++x) sum += image->GetLine(y)[x];
  return sum;
}

class IpaFontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = platform::CreateFreeTypeFontBackend();
    ASSERT_NE(backend, nullptr);
    platform::FontFaceInfo info;
    if (backend->DescribeFace("IPAGothic", info) || info.fallback)
      GTEST_SKIP() << "IPAGothic is not installed (fonts-ipafont)";
    previous = platform::GetFontBackend();
    platform::SetFontBackend(backend.get());
  }
  void TearDown() override {
    if (backend) platform::SetFontBackend(previous);
  }
  std::unique_ptr<platform::IFontBackend> backend;
  platform::IFontBackend* previous = nullptr;
};

TEST_F(IpaFontTest, WindowsFacesResolveToIpaFonts) {
  struct Case {
    const char* faceUtf8;
    const char* family;
  } cases[] = {
      {"ＭＳ ゴシック", "IPAGothic"}, {"MS Gothic", "IPAGothic"}, {"ms gothic", "IPAGothic"},
      {"ＭＳ 明朝", "IPAMincho"},     {"MS Mincho", "IPAMincho"}, {"ＭＳ Ｐゴシック", "IPAPGothic"},
      {"MS UI Gothic", "IPAPGothic"}, {"メイリオ", "IPAPGothic"}, {"Meiryo", "IPAPGothic"},
      {"ＭＳ Ｐ明朝", "IPAPMincho"},
  };
  for (const Case& c : cases) {
    platform::FontFaceInfo info;
    ASSERT_FALSE(backend->DescribeFace(Cp932(c.faceUtf8), info)) << c.faceUtf8;
    EXPECT_TRUE(info.substitute) << c.faceUtf8;
    EXPECT_FALSE(info.fallback) << c.faceUtf8;
    EXPECT_EQ(info.familyUtf8, c.family) << c.faceUtf8;
  }
  // A Latin-only font or an unknown face never stands in for Japanese text.
  for (const char* face : {"DejaVu Sans", "No Such Face", ""}) {
    platform::FontFaceInfo info;
    ASSERT_FALSE(backend->DescribeFace(face, info)) << face;
    EXPECT_TRUE(info.fallback) << face;
    EXPECT_EQ(info.familyUtf8.find("DejaVu"), std::string::npos) << face;
    EXPECT_FALSE(info.filePath.empty());
  }
  platform::FontFaceInfo direct;
  ASSERT_FALSE(backend->DescribeFace("IPAMincho", direct));
  EXPECT_FALSE(direct.substitute);
  EXPECT_FALSE(direct.fallback);
}

TEST_F(IpaFontTest, GothicAt24HasCellsOf24And12) {
  CGlyphGenerator generator;
  ASSERT_FALSE(generator.SelectFont(false, Cp932("ＭＳ ゴシック"), 24, false, false, false, false));
  for (const char* full : {"あ", "漢", "。", "Ａ"}) {
    ISurface* image = generator.MakeGlyph(Code(full), nullptr);
    ASSERT_NE(image, nullptr) << full;
    EXPECT_EQ(image->GetWidth(), 24) << full;
    EXPECT_EQ(image->GetHeight(), 24) << full;
    EXPECT_GT(Ink(image), 0) << full;
  }
  for (const char* half : {"A", "g", "ｱ"}) {
    ISurface* image = generator.MakeGlyph(Code(half), nullptr);
    ASSERT_NE(image, nullptr) << half;
    EXPECT_EQ(image->GetWidth(), 12) << half;
    EXPECT_GT(Ink(image), 0) << half;
  }
  ISurface* space = generator.MakeGlyph(Code(" "), nullptr);
  ISurface* wide = generator.MakeGlyph(Code("　"), nullptr);
  ASSERT_TRUE(space && wide);
  EXPECT_EQ(space->GetWidth(), 12);
  EXPECT_EQ(wide->GetWidth(), 24);
  EXPECT_EQ(Ink(space), 0);
  EXPECT_EQ(Ink(wide), 0);

  // Bytes that are no CP932 character give no glyph.
  EXPECT_EQ(generator.MakeGlyph(0x81, nullptr), nullptr);
  EXPECT_EQ(generator.MakeGlyph(0x2081, nullptr), nullptr);
  EXPECT_EQ(generator.MakeGlyph(0xFFEF, nullptr), nullptr);
}

// A face the machine lacks is drawn as the default fixed-pitch face would
// be, with the full cell as its em; Meiryo's em is two thirds of its cell.
TEST_F(IpaFontTest, MissingFacesFillTheCellAndMeiryoIsSmaller) {
  for (const char* face : {"No Such Face", "Arial"}) {
    CGlyphGenerator generator;
    ASSERT_FALSE(generator.SelectFont(false, face, 24, false, false, false, false));
    ISurface* image = generator.MakeGlyph(Code("漢"), nullptr);
    ASSERT_NE(image, nullptr) << face;
    EXPECT_EQ(image->GetWidth(), 24) << face;
  }
  CGlyphGenerator generator;
  ASSERT_FALSE(generator.SelectFont(false, Cp932("メイリオ"), 24, false, false, false, false));
  ISurface* image = generator.MakeGlyph(Code("漢"), nullptr);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetWidth(), 16);
}

TEST_F(IpaFontTest, ProportionalGlyphsStayInsideTheirImage) {
  CGlyphGenerator generator;
  ASSERT_FALSE(generator.SelectFont(false, Cp932("ＭＳ Ｐゴシック"), 24, false, false, false, false));
  for (const char* c : {"W", "j", "f", "_", "y"}) {
    ISurface* image = generator.MakeGlyph(Code(c), nullptr);
    ASSERT_NE(image, nullptr) << c;
    EXPECT_GT(Ink(image), 0) << c;
  }
}

TEST_F(IpaFontTest, BoldAndItalicChangeThePixels) {
  CGlyphGenerator generator;
  const uint16_t kanji = Code("漢");
  ASSERT_FALSE(generator.SelectFont(false, Cp932("ＭＳ ゴシック"), 24, false, false, false, false));
  ISurface* regular = generator.MakeGlyph(kanji, nullptr);
  ASSERT_NE(regular, nullptr);
  const int regularInk = Ink(regular);
  const uint32_t regularCrc = Crc(regular);
  ASSERT_FALSE(generator.SelectFont(false, Cp932("ＭＳ ゴシック"), 24, true, false, false, false));
  ISurface* bold = generator.MakeGlyph(kanji, nullptr);
  ASSERT_NE(bold, nullptr);
  EXPECT_GT(Ink(bold), regularInk * 11 / 10);
  ASSERT_FALSE(generator.SelectFont(false, Cp932("ＭＳ ゴシック"), 24, false, true, false, false));
  ISurface* italic = generator.MakeGlyph(kanji, nullptr);
  ASSERT_NE(italic, nullptr);
  EXPECT_NE(Crc(italic), regularCrc);
  // Underline and strikeout only make another key.
  ASSERT_FALSE(generator.SelectFont(false, Cp932("ＭＳ ゴシック"), 24, false, false, true, true));
  ISurface* underlined = generator.MakeGlyph(kanji, nullptr);
  ASSERT_NE(underlined, nullptr);
  EXPECT_NE(underlined, regular);
  EXPECT_EQ(Crc(underlined), regularCrc);
}

// Glyphs depend on nothing but the font file: not on the platform backend,
// not on a second FreeType instance.
TEST_F(IpaFontTest, SameGlyphsHeadlessAndWithSdl) {
  auto render = [](platform::IFontBackend* fonts) {
    platform::SetFontBackend(fonts);
    CGlyphGenerator generator;
    EXPECT_FALSE(generator.SelectFont(false, Cp932("ＭＳ 明朝"), 20, false, false, false, false));
    std::vector<uint32_t> crcs;
    for (const char* c : {"永", "あ", "W", "。"}) {
      ISurface* image = generator.GetGlyph(Code(c), nullptr, 0xFFFFFF);
      crcs.push_back(image ? Crc(image) : 0);
    }
    return crcs;
  };
  ASSERT_FALSE(platform::Init(platform::Backend::Headless));
  const std::vector<uint32_t> headless = render(backend.get());
  platform::Shutdown();
  if (platform::Init(platform::Backend::Sdl)) GTEST_SKIP() << "SDL cannot start here";
  auto other = platform::CreateFreeTypeFontBackend();
  const std::vector<uint32_t> sdl = render(other.get());
  platform::Shutdown();
  platform::SetFontBackend(backend.get());
  EXPECT_EQ(headless, sdl);
}

// Pixel goldens hold only for the font file they were made with.
TEST_F(IpaFontTest, Goldens) {
  constexpr uint32_t kFontCrc = 0xe98a36a7;  // ipag.ttf of fonts-ipafont-gothic 00303
  struct Golden {
    const char* utf8;
    bool bold, outline;
    uint32_t crc;
  } goldens[] = {
      {"あ", false, false, 0x17ff32b0}, {"漢", false, false, 0xbb28ca05}, {"A", false, false, 0xc0f8730c},
      {"g", false, false, 0xb378f353},  {"漢", true, false, 0x4d274103},  {"あ", false, true, 0xacb466d4},
  };
  platform::FontFaceInfo info;
  ASSERT_FALSE(backend->DescribeFace(Cp932("ＭＳ ゴシック"), info));
  const uint32_t fileCrc = FileCrc(info.filePath);
  if (fileCrc != kFontCrc) {
    char message[160];
    std::snprintf(message, sizeof message, "%s has crc %08x, not %08x: pixel goldens skipped", info.filePath.c_str(),
                  fileCrc, kFontCrc);
    GTEST_SKIP() << message;
  }
  CGlyphGenerator generator;
  for (const Golden& g : goldens) {
    ASSERT_FALSE(generator.SelectFont(false, Cp932("ＭＳ ゴシック"), 24, g.bold, false, false, false));
    generator.SetOutline(g.outline);
    EXPECT_EQ(generator.GetFontFilePath(), info.filePath);
    ISurface* image = generator.MakeGlyph(Code(g.utf8), nullptr);
    ASSERT_NE(image, nullptr) << g.utf8;
    EXPECT_EQ(Crc(image), g.crc) << g.utf8 << " bold " << g.bold << " outline " << g.outline << std::hex << " crc 0x"
                                 << Crc(image);
  }
}

}  // namespace
