#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <zlib.h>

#include "ImageFixtures.h"
#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Jpg.h"
#include "files/MemoryFile.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"

namespace fs = std::filesystem;

namespace {

bool LoadPng(CSurface& surface, const std::vector<uint8_t>& bytes) {
  CMemoryFile file(bytes.data(), bytes.size());
  return CPng().Load(&surface, &file);
}

bool LoadJpg(CSurface& surface, const std::vector<uint8_t>& bytes) {
  CMemoryFile file(bytes.data(), bytes.size());
  return CJpg().Load(&surface, &file);
}

// A 3x2 RGB image with distinct channels.
std::vector<uint8_t> RgbPixels() { return {10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3, 4, 5, 6, 7, 8, 9}; }

std::vector<uint8_t> FlatRgb(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> out;
  for (int i = 0; i < w * h; ++i) out.insert(out.end(), {r, g, b});
  return out;
}

// Position of the frame header (SOF0 or SOF2) in a JPEG file.
size_t FindFrameHeader(const std::vector<uint8_t>& jpeg) {
  for (size_t i = 2; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) return i;
  return 0;
}

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() /
            ("velmira_loader_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

}  // namespace

TEST(PngLoader, FormatTable) {
  CSurface s;
  // Grey: format 0, one byte per pixel.
  ASSERT_FALSE(LoadPng(s, fixtures::EncodePng(3, 2, PNG_COLOR_TYPE_GRAY, 8, {0, 50, 100, 150, 200, 255})));
  EXPECT_EQ(0, s.GetFormat());
  EXPECT_EQ(3, s.GetWidth());
  EXPECT_EQ(2, s.GetHeight());
  EXPECT_EQ(150, s.GetLine(1)[0]);
  EXPECT_EQ(255, s.GetLine(1)[2]);

  // RGB: format 1, bytes B, G, R, 255.
  ASSERT_FALSE(LoadPng(s, fixtures::EncodePng(3, 2, PNG_COLOR_TYPE_RGB, 8, RgbPixels())));
  EXPECT_EQ(1, s.GetFormat());
  const uint8_t firstRgb[8] = {30, 20, 10, 255, 60, 50, 40, 255};
  EXPECT_EQ(0, std::memcmp(firstRgb, s.GetLine(0), 8));
  const uint8_t lastRgb[4] = {9, 8, 7, 255};
  EXPECT_EQ(0, std::memcmp(lastRgb, s.GetLine(1) + 8, 4));

  // RGBA: format 2, straight alpha kept as it is.
  const std::vector<uint8_t> rgba = {255, 0, 0, 0, 0, 255, 0, 128, 1, 2, 3, 255, 9, 8, 7, 6};
  ASSERT_FALSE(LoadPng(s, fixtures::EncodePng(2, 2, PNG_COLOR_TYPE_RGB_ALPHA, 8, rgba)));
  EXPECT_EQ(2, s.GetFormat());
  const uint8_t expectRgba[16] = {0, 0, 255, 0, 0, 255, 0, 128, 3, 2, 1, 255, 7, 8, 9, 6};
  EXPECT_EQ(0, std::memcmp(expectRgba, s.GetLine(0), 8));
  EXPECT_EQ(0, std::memcmp(expectRgba + 8, s.GetLine(1), 8));

  // Interlaced images are assembled into the same pixels.
  const std::vector<uint8_t> noise = fixtures::Noise(17 * 9 * 4, 3);
  CSurface plain, interlaced;
  ASSERT_FALSE(LoadPng(plain, fixtures::EncodePng(17, 9, PNG_COLOR_TYPE_RGB_ALPHA, 8, noise)));
  ASSERT_FALSE(LoadPng(interlaced, fixtures::EncodePng(17, 9, PNG_COLOR_TYPE_RGB_ALPHA, 8, noise, true)));
  EXPECT_EQ(0, std::memcmp(plain.GetLine(0), interlaced.GetLine(0), 17 * 9 * 4));
  const std::vector<uint8_t> noiseRgb = fixtures::Noise(17 * 9 * 3, 4);
  ASSERT_FALSE(LoadPng(plain, fixtures::EncodePng(17, 9, PNG_COLOR_TYPE_RGB, 8, noiseRgb)));
  ASSERT_FALSE(LoadPng(interlaced, fixtures::EncodePng(17, 9, PNG_COLOR_TYPE_RGB, 8, noiseRgb, true)));
  EXPECT_EQ(0, std::memcmp(plain.GetLine(0), interlaced.GetLine(0), 17 * 9 * 4));
  for (int i = 0; i < 17 * 9; ++i) {
    const uint8_t* p = plain.GetLine(0) + 4 * i;
    ASSERT_EQ(noiseRgb[3 * size_t(i) + 2], p[0]);
    ASSERT_EQ(noiseRgb[3 * size_t(i)], p[2]);
    ASSERT_EQ(255, p[3]);
  }
}

TEST(PngLoader, RefusedTypesAndTheirHeaderReasons) {
  struct Case {
    int colorType, depth, channels;
  } refused[] = {{PNG_COLOR_TYPE_PALETTE, 8, 1},
                 {PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2},
                 {PNG_COLOR_TYPE_RGB, 16, 6},
                 {PNG_COLOR_TYPE_RGB_ALPHA, 16, 8},
                 {PNG_COLOR_TYPE_GRAY, 16, 2}};
  for (const Case& c : refused) {
    const auto bytes = fixtures::EncodePng(4, 4, c.colorType, c.depth, fixtures::Noise(4 * 4 * c.channels, 1));
    ASSERT_FALSE(bytes.empty());
    CSurface s;
    EXPECT_TRUE(LoadPng(s, bytes)) << "type " << c.colorType << " depth " << c.depth;
    std::string reason;
    EXPECT_TRUE(PngHeaderUnsupported(bytes.data(), bytes.size(), &reason));
    EXPECT_FALSE(reason.empty());
  }
  std::string reason;
  auto palette = fixtures::EncodePng(4, 4, PNG_COLOR_TYPE_PALETTE, 8, std::vector<uint8_t>(16));
  PngHeaderUnsupported(palette.data(), palette.size(), &reason);
  EXPECT_NE(std::string::npos, reason.find("palette"));

  for (int type : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA}) {
    const auto bytes = fixtures::EncodePng(2, 2, type, 8, std::vector<uint8_t>(16));
    EXPECT_FALSE(PngHeaderUnsupported(bytes.data(), bytes.size(), &reason));
  }
  const uint8_t junk[30] = {};
  EXPECT_TRUE(PngHeaderUnsupported(junk, sizeof junk, &reason));
  EXPECT_TRUE(PngHeaderUnsupported(junk, 10, nullptr));
}

TEST(PngLoader, BrokenDataFailsCleanly) {
  const auto good = fixtures::EncodePng(32, 32, PNG_COLOR_TYPE_RGB_ALPHA, 8, fixtures::Noise(32 * 32 * 4, 5));
  CSurface s;
  // Every truncation fails (the trailer is read too).
  for (size_t cut : {size_t(8), size_t(16), size_t(33), good.size() / 2, good.size() - 13})
    EXPECT_TRUE(LoadPng(s, std::vector<uint8_t>(good.begin(), good.begin() + long(cut)))) << cut;
  // Damaged image data fails through the library's checksums.
  auto damaged = good;
  for (size_t i = 60; i < damaged.size() - 20; i += 37) damaged[i] ^= 0x5A;
  EXPECT_TRUE(LoadPng(s, damaged));
  // A wrong signature is refused before the library is involved.
  auto notPng = good;
  notPng[1] = 'X';
  EXPECT_TRUE(LoadPng(s, notPng));
}

TEST(PngLoader, AbsurdDimensionsAreRefusedWithoutAllocating) {
  // A tiny grey image whose header claims 16000 x 16000: far more than its
  // few bytes could inflate to. libpng's checksum over IHDR is rewritten.
  auto bytes = fixtures::EncodePng(1, 1, PNG_COLOR_TYPE_GRAY, 8, {7});
  auto setSize = [&](uint32_t w, uint32_t h) {
    for (int i = 0; i < 4; ++i) {
      bytes[16 + i] = uint8_t(w >> (24 - 8 * i));
      bytes[20 + i] = uint8_t(h >> (24 - 8 * i));
    }
    const uint32_t crc = uint32_t(crc32(0, bytes.data() + 12, 17));
    for (int i = 0; i < 4; ++i) bytes[29 + i] = uint8_t(crc >> (24 - 8 * i));
  };
  CSurface s;
  setSize(16000, 16000);
  EXPECT_TRUE(LoadPng(s, bytes));
  EXPECT_EQ(0, s.GetWidth());
  setSize(100000, 2);
  EXPECT_TRUE(LoadPng(s, bytes));
  EXPECT_EQ(0, s.GetWidth());
}

// The frames of an animation side by side make images far wider than a
// screen: longer sides than any screen are fine as long as the area is sane.
TEST(GraphicLoaders, LongStripsLoad) {
  CSurface png;
  ASSERT_FALSE(LoadPng(
      png, fixtures::EncodePng(16400, 2, PNG_COLOR_TYPE_RGB, 8, std::vector<uint8_t>(size_t(16400) * 2 * 3, 0x40))));
  EXPECT_EQ(png.GetWidth(), 16400);
  EXPECT_EQ(png.GetLine(1)[16399 * 4], 0x40);
  CSurface jpg;
  ASSERT_FALSE(LoadJpg(jpg, fixtures::EncodeJpeg(8, 16400, 3, FlatRgb(8, 16400, 200, 100, 50))));
  EXPECT_EQ(jpg.GetHeight(), 16400);
  // The area still has its ceiling.
  EXPECT_FALSE(CSurface::IsAcceptedSize(65536, 16384));
  EXPECT_TRUE(CSurface::IsAcceptedSize(65536, 4096));
}

TEST(JpegLoader, FormatTableAndProgressive) {
  CSurface s;
  ASSERT_FALSE(LoadJpg(s, fixtures::EncodeJpeg(16, 8, 1, std::vector<uint8_t>(16 * 8, 200))));
  EXPECT_EQ(0, s.GetFormat());
  EXPECT_EQ(16, s.GetWidth());
  EXPECT_EQ(8, s.GetHeight());
  EXPECT_NEAR(200, s.GetLine(7)[15], 2);

  for (bool progressive : {false, true}) {
    ASSERT_FALSE(LoadJpg(s, fixtures::EncodeJpeg(24, 16, 3, FlatRgb(24, 16, 220, 30, 90), 95, progressive)));
    EXPECT_EQ(1, s.GetFormat());
    EXPECT_EQ(24, s.GetWidth());
    for (int y = 0; y < 16; y += 5)
      for (int x = 0; x < 24; x += 7) {
        const uint8_t* p = s.GetLine(y) + 4 * x;
        EXPECT_NEAR(90, p[0], 4);
        EXPECT_NEAR(30, p[1], 4);
        EXPECT_NEAR(220, p[2], 4);
        EXPECT_EQ(255, p[3]);
      }
  }
}

TEST(JpegLoader, BrokenDataFailsCleanly) {
  const auto good = fixtures::EncodeJpeg(64, 64, 3, fixtures::Noise(64 * 64 * 3, 11), 90);
  CSurface s;
  ASSERT_FALSE(LoadJpg(s, good));
  // Truncated anywhere before the image data ends: failure, not grey fill.
  for (size_t cut : {size_t(1), size_t(2), size_t(100), good.size() / 2, good.size() - 200})
    EXPECT_TRUE(LoadJpg(s, std::vector<uint8_t>(good.begin(), good.begin() + long(cut)))) << cut;
  const auto progressive = fixtures::EncodeJpeg(64, 64, 3, fixtures::Noise(64 * 64 * 3, 12), 90, true);
  EXPECT_TRUE(LoadJpg(s, std::vector<uint8_t>(progressive.begin(), progressive.end() - 300)));
  // Only the end-of-image marker missing: the picture is all there and
  // loads, with the same pixels.
  for (const auto* whole : {&good, &progressive}) {
    CSurface full, cut;
    ASSERT_FALSE(LoadJpg(full, *whole));
    ASSERT_EQ((*whole)[whole->size() - 1], 0xD9);
    ASSERT_FALSE(LoadJpg(cut, std::vector<uint8_t>(whole->begin(), whole->end() - 2)));
    for (int y = 0; y < 64; ++y) ASSERT_EQ(std::memcmp(full.GetLine(y), cut.GetLine(y), 64 * 4), 0) << y;
  }
  for (int channels : {1, 3}) {
    const auto small = fixtures::EncodeJpeg(8, 8, channels, fixtures::Noise(8 * 8 * size_t(channels), 13), 90);
    EXPECT_FALSE(LoadJpg(s, std::vector<uint8_t>(small.begin(), small.end() - 2))) << channels;
    EXPECT_TRUE(LoadJpg(s, std::vector<uint8_t>(small.begin(), small.end() - 12))) << channels;
  }
  // Not a JPEG.
  std::vector<uint8_t> notJpeg = good;
  notJpeg[1] = 0xD9;
  EXPECT_TRUE(LoadJpg(s, notJpeg));
  EXPECT_TRUE(LoadJpg(s, {}));
  // A damaged frame header (zero components).
  auto damaged = good;
  const size_t sof = FindFrameHeader(damaged);
  ASSERT_NE(0u, sof);
  damaged[sof + 9] = 0;
  EXPECT_TRUE(LoadJpg(s, damaged));
}

TEST(JpegLoader, AbsurdDimensionsAreRefusedWithoutAllocating) {
  auto bytes = fixtures::EncodeJpeg(8, 8, 3, FlatRgb(8, 8, 1, 2, 3));
  const size_t sof = FindFrameHeader(bytes);
  ASSERT_NE(0u, sof);
  auto setSize = [&](int w, int h) {
    bytes[sof + 5] = uint8_t(h >> 8);
    bytes[sof + 6] = uint8_t(h);
    bytes[sof + 7] = uint8_t(w >> 8);
    bytes[sof + 8] = uint8_t(w);
  };
  CSurface s;
  // Within the side limit, but a few hundred bytes cannot code that many blocks.
  setSize(16000, 16000);
  EXPECT_TRUE(LoadJpg(s, bytes));
  EXPECT_EQ(0, s.GetWidth());
  setSize(65000, 65000);  // past the area limit
  EXPECT_TRUE(LoadJpg(s, bytes));
  EXPECT_EQ(0, s.GetWidth());
}

TEST(GraphicLoaders, RegistrationAndLookupOrder) {
  TempDir dir;
  const auto png = fixtures::EncodePng(2, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 4, 5, 6});
  const auto jpg = fixtures::EncodeJpeg(8, 8, 1, std::vector<uint8_t>(64, 128));
  fixtures::WriteFile(dir / "bg01.png", png);
  fixtures::WriteFile(dir / "bg01.jpg", jpg);
  fixtures::WriteFile(dir / "only.jpg", jpg);
  fixtures::WriteFile(dir / "photo.JPG", jpg);
  // Content that does not match the extension: the first loader leaves the
  // file mid-way, and the next one must still see it from the start.
  fixtures::WriteFile(dir / "really_png.jpg", png);
  fixtures::WriteFile(dir / "really_jpg.png", jpg);
  fixtures::WriteFile(dir / "junk.png", fixtures::Noise(300, 4));

  CPackFileFactory files;
  CGraphicLoaders loaders(&files);
  auto* pngLoader = new CPng();
  EXPECT_TRUE(loaders.AddLoader(nullptr));
  ASSERT_FALSE(loaders.AddLoader(pngLoader));
  EXPECT_FALSE(loaders.AddLoader(pngLoader));  // already there: one entry
  ASSERT_FALSE(loaders.AddLoader(new CJpg()));
  EXPECT_EQ("", loaders.GetExtension());

  CSurface s;
  // Without an extension: name.png is tried before name.jpg.
  ASSERT_FALSE(loaders.LoadFile(&s, (dir / "bg01").c_str()));
  EXPECT_EQ(1, s.GetFormat());
  EXPECT_EQ(2, s.GetWidth());
  ASSERT_FALSE(loaders.LoadFile(&s, (dir / "only").c_str()));
  EXPECT_EQ(0, s.GetFormat());
  // An extension that matches no loader exactly is left to trying them all.
  ASSERT_FALSE(loaders.LoadFile(&s, (dir / "photo.JPG").c_str()));
  EXPECT_EQ(8, s.GetWidth());
  ASSERT_FALSE(loaders.LoadFile(&s, (dir / "really_png.jpg").c_str()));
  EXPECT_EQ(2, s.GetWidth());
  ASSERT_FALSE(loaders.LoadFile(&s, (dir / "really_jpg.png").c_str()));
  EXPECT_EQ(8, s.GetWidth());
  EXPECT_TRUE(loaders.LoadFile(&s, (dir / "junk.png").c_str()));
  EXPECT_TRUE(loaders.LoadFile(&s, (dir / "missing").c_str()));
  EXPECT_TRUE(loaders.LoadFile(&s, nullptr));

  // The registry as a loader: every loader from where the file stood.
  CMemoryFile file(jpg.data(), jpg.size());
  ASSERT_FALSE(loaders.Load(&s, &file));
  EXPECT_EQ(8, s.GetWidth());
}

TEST(GraphicLoaders, DemoImagesAreOfLoadableTypes) {
  // The demo's own pictures must stay in formats the engine accepts.
  const std::string dir = std::string(VELMIRA_TEST_DATA_DIR) + "/../games/demo/image/";
  CPackFileFactory files;
  CGraphicLoaders loaders(&files);
  loaders.AddLoader(new CPng());
  loaders.AddLoader(new CJpg());
  CSurface s;
  ASSERT_FALSE(loaders.LoadFile(&s, (dir + "bg_sunset").c_str()));
  EXPECT_EQ(1, s.GetFormat());
  EXPECT_EQ(800, s.GetWidth());
  EXPECT_EQ(600, s.GetHeight());
  ASSERT_FALSE(loaders.LoadFile(&s, (dir + "halo.png").c_str()));
  EXPECT_EQ(2, s.GetFormat());
  // Fully transparent corner, opaque-ish centre.
  EXPECT_EQ(0, s.GetLine(0)[3]);
  EXPECT_GT(s.GetLine(s.GetHeight() / 2)[4 * (s.GetWidth() / 2) + 3], 200);
}
