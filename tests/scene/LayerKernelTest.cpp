// The fast drawing paths of a transformed layer (weight tables, rows blended
// as they are resampled) against the plain kernels, byte for byte, over
// random pictures, transforms, masks, modes and positions.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "graphics/Surface.h"
#include "scene/Layer.h"

namespace {

void Fill(CSurface& s, int w, int h, int format, std::mt19937& random) {
  ASSERT_FALSE(s.Create(w, h, format));
  const int bytes = s.GetBytesPerPixel();
  for (int y = 0; y < h; ++y) {
    uint8_t* row = s.GetLine(y);
    for (int x = 0; x < w * bytes; ++x) row[x] = uint8_t(random());
    // Runs of fully clear and fully opaque pixels take the blend's shortcuts.
    if (bytes == 4 && y % 3 == 0)
      for (int x = 0; x < w; ++x) row[4 * x + 3] = (x / 5) % 2 ? 255 : 0;
  }
}

struct Case {
  int w, h, format, xScale, yScale, rotate, x, y, alpha, mode;
  bool flipX, flipY, masked, sourceRect;
};

// Draws the case into a copy of the background with the fast or the plain
// kernels; twice when cached is set (the second draw reuses the image).
std::vector<uint8_t> Draw(const Case& c, const CSurface& picture, CSurface* mask, const CSurface& background,
                          bool reference, bool wide, bool cached) {
  CLayer::UseReferenceKernels(reference);
  CLayer::UseWideKernels(wide);
  CSurface target;
  target.Create(background.GetWidth(), background.GetHeight(), 1);
  for (int y = 0; y < target.GetHeight(); ++y)
    std::memcpy(target.GetLine(y), const_cast<CSurface&>(background).GetLine(y), size_t(target.GetPitch()));
  CLayer layer;
  layer.SetSurface(const_cast<CSurface*>(&picture));
  if (c.masked) layer.SetMask(mask);
  if (c.sourceRect) layer.SetSourceRect(CRect(1, 2, c.w - 3, c.h - 2));
  layer.SetAnchorX(c.w / 2);
  layer.SetAnchorY(c.h / 3);
  layer.SetX(c.x);
  layer.SetY(c.y);
  layer.SetXScale(c.xScale);
  layer.SetYScale(c.yScale);
  layer.SetRotate(c.rotate);
  layer.SetFlipX(c.flipX);
  layer.SetFlipY(c.flipY);
  layer.SetAlpha(c.alpha);
  layer.SetLayerMode(c.mode);
  layer.Draw(&target);
  if (cached) {
    layer.Draw(&target);
    EXPECT_EQ(layer.GetResampleCount(), layer.IsResampled() ? 1u : 0u);
  }
  CLayer::UseReferenceKernels(false);
  CLayer::UseWideKernels(true);
  std::vector<uint8_t> bytes;
  for (int y = 0; y < target.GetHeight(); ++y)
    bytes.insert(bytes.end(), target.GetLine(y), target.GetLine(y) + target.GetPitch());
  return bytes;
}

TEST(LayerKernels, FastPathsMatchThePlainKernelsByteForByte) {
  std::mt19937 random(20261209);
  const int scales[] = {65536, 131072, 98304, 32768, 70000, 200000, 45000, 65535};
  const int rotates[] = {0, 0, 0, 30, 90, 180, 7};
  int differing = 0;
  for (int n = 0; n < 300; ++n) {
    Case c{};
    c.w = 3 + int(random() % 40);
    c.h = 3 + int(random() % 30);
    c.format = random() % 4 == 0 ? 1 : 2;
    c.xScale = scales[random() % 8];
    c.yScale = random() % 2 ? c.xScale : scales[random() % 8];
    c.rotate = rotates[random() % 7];
    c.x = int(random() % 60) - 20;
    c.y = int(random() % 50) - 15;
    c.alpha = random() % 2 ? 255 : int(random() % 256);
    c.mode = int(random() % 4);
    c.flipX = random() % 5 == 0;
    c.flipY = random() % 5 == 0;
    c.masked = random() % 4 == 0;
    c.sourceRect = random() % 5 == 0;
    CSurface picture, mask, background;
    Fill(picture, c.w, c.h, c.format, random);
    Fill(mask, c.w, c.h, 0, random);
    Fill(background, 48, 40, 1, random);
    const bool cached = random() % 3 == 0;
    const std::vector<uint8_t> wide = Draw(c, picture, &mask, background, false, true, cached);
    const std::vector<uint8_t> narrow = Draw(c, picture, &mask, background, false, false, cached);
    const std::vector<uint8_t> plain = Draw(c, picture, &mask, background, true, false, cached);
    if ((wide != plain || narrow != plain) && ++differing <= 5) {
      ADD_FAILURE() << "case " << n << ": " << c.w << "x" << c.h << " format " << c.format << " scale " << c.xScale
                    << "," << c.yScale << " rotate " << c.rotate << " at " << c.x << "," << c.y << " alpha " << c.alpha
                    << " mode " << c.mode << (c.masked ? " masked" : "") << (c.sourceRect ? " source rect" : "")
                    << (wide != plain ? " (wide kernels)" : "") << (narrow != plain ? " (narrow kernels)" : "");
    }
  }
  EXPECT_EQ(differing, 0);
}

// Screen-sized draws: long rows through many groups of the wide kernels,
// the nearest last row and column, flips and clipping at every edge.
TEST(LayerKernels, ScreenSizedScalesMatchThePlainKernels) {
  std::mt19937 random(7);
  // The anchor is at (w / 2, h / 3): the first case fills the 1280x720
  // screen exactly with a 640x360 picture at 200 %.
  const Case cases[] = {
      {640, 360, 2, 131072, 131072, 0, 320, 120, 255, 0, false, false, false, false},
      {333, 201, 2, 98304, 131072, 0, -40, -25, 200, 0, true, false, false, true},
      {517, 290, 1, 70000, 45000, 0, 900, 500, 255, 1, false, true, false, false},
      {400, 300, 2, 200000, 200000, 180, 600, 300, 255, 2, false, false, false, false},
  };
  CSurface background;
  Fill(background, 1280, 720, 1, random);
  for (const Case& c : cases) {
    CSurface picture, mask;
    Fill(picture, c.w, c.h, c.format, random);
    const std::vector<uint8_t> plain = Draw(c, picture, &mask, background, true, false, false);
    EXPECT_TRUE(Draw(c, picture, &mask, background, false, true, false) == plain) << c.w << "x" << c.h << " wide";
    EXPECT_TRUE(Draw(c, picture, &mask, background, false, false, false) == plain) << c.w << "x" << c.h << " narrow";
  }
}

}  // namespace
