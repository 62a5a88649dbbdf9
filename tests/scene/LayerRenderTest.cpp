// Software layer drawing: resampling through the layer matrix, the cache,
// and what a transformed image leaves alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "graphics/Surface.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"

namespace {

uint32_t At(ISurface& s, int x, int y) {
  uint32_t v = 0;
  std::memcpy(&v, s.GetLine(y) + 4 * x, 4);
  return v;
}

void Put(ISurface& s, int x, int y, uint32_t v) { std::memcpy(s.GetLine(y) + 4 * x, &v, 4); }

// A picture whose every pixel differs: a gradient in red and green.
void Gradient(CSurface& s, int w, int h, int format) {
  s.Create(w, h, format);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      Put(s, x, y, 0xFF000000u | uint32_t((x * 7) & 255) << 16 | uint32_t((y * 5) & 255) << 8 | 0x40);
}

}  // namespace

TEST(LayerRender, DoubleScaleSamplesBetweenPixelsAndCopiesTheLastColumn) {
  CSurface image;
  image.Create(10, 10, 1);
  image.Fill(0xFFC8C8C8);  // 200 everywhere but column 0
  for (int y = 0; y < 10; ++y) Put(image, 0, y, 0xFF000000);
  CLayer layer;
  layer.SetSurface(&image);
  layer.SetXScale(2 * kScaleOne);
  layer.SetYScale(2 * kScaleOne);
  CSurface target;
  target.Create(32, 32, 1);
  target.Fill(0xFF000000);
  layer.Draw(&target);
  EXPECT_EQ(0, layer.GetBounds().GetX());
  EXPECT_EQ(19, layer.GetBounds().GetRight());
  EXPECT_EQ(19, layer.GetBounds().GetBottom());
  ASSERT_TRUE(layer.IsResampled());
  ISurface* image2 = layer.GetDrawImage();
  EXPECT_EQ(20, image2->GetWidth());
  EXPECT_EQ(20, image2->GetHeight());
  // (1, 0) samples (0.5, 0): weights 128 and 129 on the two pixels, 1 on
  // the row below: 0 + (200 * 129 >> 8) + 0 + (200 * 1 >> 8) = 100.
  EXPECT_EQ(0x64u, At(*image2, 1, 0) & 0xFF);
  EXPECT_EQ(0x64u, At(target, 1, 0) & 0xFF);
  // Last column and row: the nearest pixel, not a mix with the outside.
  EXPECT_EQ(200u, At(*image2, 19, 5) & 0xFF);
  EXPECT_EQ(200u, At(*image2, 5, 19) & 0xFF);
  EXPECT_EQ(0u, At(target, 0, 19) & 0xFF);
  EXPECT_EQ(0xFF000000u, At(target, 20, 0));  // outside the bounds
}

TEST(LayerRender, MaskWithoutTransformResamplesOnceWithNearestSampling) {
  CSurface image, mask, target;
  Gradient(image, 8, 8, 1);
  mask.Create(8, 8, 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) mask.GetLine(y)[x] = uint8_t(x * 32);
  target.Create(16, 8, 1);
  CLayer layer;
  layer.SetSurface(&image);
  layer.SetMask(&mask);
  layer.Draw(&target);
  ASSERT_TRUE(layer.IsResampled());
  // Nearest: colours copied as they are, alpha times (mask + 1) >> 8.
  EXPECT_EQ((At(image, 3, 2) & 0xFFFFFF) | uint32_t((0xFF * (96 + 1)) >> 8) << 24, At(*layer.GetDrawImage(), 3, 2));
  layer.Draw(&target);
  layer.SetX(1);  // a move reuses the image
  layer.Draw(&target);
  EXPECT_EQ(1u, layer.GetResampleCount());
}

TEST(LayerRender, CacheKeepsTheImageOnMovesAndRedoesItOnParentTransforms) {
  // A set owns what it holds: the layer and its surface are deleted with it.
  CSurface* image = new CSurface();
  CSurface target;
  Gradient(*image, 40, 30, 2);
  target.Create(200, 200, 1);
  CLayer* layer = new CLayer();
  layer->SetSurface(image);
  layer->SetX(60);
  layer->SetY(60);
  layer->SetAnchorX(20);
  layer->SetAnchorY(15);
  layer->SetRotate(30);
  CLayerSet set;
  set.Add("a", layer);
  set.Draw(&target);
  EXPECT_EQ(1u, layer->GetResampleCount());
  const CRect before = layer->GetBounds();
  layer->SetX(61);
  set.Draw(&target);
  EXPECT_EQ(before.GetX() + 1, layer->GetBounds().GetX());
  EXPECT_EQ(1u, layer->GetResampleCount());
  set.SetAlpha(100);  // opacity and mode reuse it too
  layer->SetLayerMode(kLayerModeAdd);
  set.Draw(&target);
  EXPECT_EQ(1u, layer->GetResampleCount());
  // The set's scale enters the layer matrix: a new image.
  set.SetXScale(kScaleOne * 3 / 2);
  set.Draw(&target);
  EXPECT_EQ(2u, layer->GetResampleCount());
}

TEST(LayerRender, OutsidePixelsOfATransformedImageLeaveTheTargetAlone) {
  for (int mode : {kLayerModeNormal, kLayerModeColorKey, kLayerModeMultiply}) {
    CSurface image, target;
    image.Create(20, 20, 1);
    image.Fill(0xFF204060);
    target.Create(40, 40, 1);
    target.Fill(0xFF0000FF);
    CLayer layer;
    layer.SetSurface(&image);
    layer.SetX(10);
    layer.SetY(10);
    layer.SetAnchorX(10);
    layer.SetAnchorY(10);
    layer.SetRotate(45);
    layer.SetLayerMode(mode);
    layer.SetColorKey(0x00FF00);
    layer.Draw(&target);
    const CRect& b = layer.GetBounds();
    // The bounding rectangle's corners lie outside the turned square.
    EXPECT_EQ(0xFF0000FFu, At(target, b.GetX(), b.GetY())) << mode;
    EXPECT_EQ(0xFF0000FFu, At(target, b.GetRight(), b.GetBottom())) << mode;
    // The centre is drawn.
    EXPECT_NE(0xFF0000FFu, At(target, 20, 20)) << mode;
  }
}

TEST(LayerRender, OnlyThePartOnTheTargetIsResampledWithTheSamePixels) {
  CSurface image;
  Gradient(image, 50, 40, 2);
  const auto make = [&](CLayer& layer) {
    layer.SetSurface(&image);
    layer.SetX(30);
    layer.SetY(20);
    layer.SetAnchorX(25);
    layer.SetAnchorY(20);
    layer.SetRotate(-20);
    layer.SetXScale(kScaleOne * 13 / 10);
  };
  CLayer whole, part;
  make(whole);
  make(part);
  CSurface big, small;
  big.Create(160, 160, 1);
  big.Fill(0xFF101010);
  small.Create(50, 45, 1);
  small.Fill(0xFF101010);
  whole.Draw(&big);
  part.Draw(&small);
  ASSERT_NE(nullptr, part.GetDrawImage());
  EXPECT_LE(part.GetDrawImage()->GetWidth(), 50);
  EXPECT_LE(part.GetDrawImage()->GetHeight(), 45);
  EXPECT_GT(whole.GetDrawImage()->GetWidth(), 50);
  for (int y = 0; y < 45; ++y)
    for (int x = 0; x < 50; ++x) ASSERT_EQ(At(big, x, y), At(small, x, y)) << x << "," << y;
}

TEST(LayerRender, HugeZoomAllocatesOnlyWhatShowsAndOverflowDrawsNothing) {
  CSurface image, target;
  Gradient(image, 320, 180, 1);
  target.Create(64, 48, 1);
  CLayer layer;
  layer.SetSurface(&image);
  layer.SetXScale(kScaleOne * 30);
  layer.SetYScale(kScaleOne * 30);
  layer.SetRotate(1);
  layer.Draw(&target);
  ASSERT_NE(nullptr, layer.GetDrawImage());
  EXPECT_LE(layer.GetDrawImage()->GetWidth(), 64);
  EXPECT_LE(layer.GetDrawImage()->GetHeight(), 48);
  EXPECT_GT(layer.GetBounds().GetWidth(), 9000);

  // Scales whose product leaves 16.16 and int32 behind: nothing, safely.
  CLayerSet set;
  set.SetXScale(INT_MAX);
  set.SetYScale(INT_MAX);
  CLayer* extreme = new CLayer();
  CSurface* owned = new CSurface();
  Gradient(*owned, 320, 180, 1);
  extreme->SetSurface(owned);
  extreme->SetXScale(INT_MAX);
  extreme->SetYScale(INT_MAX);
  set.Add("x", extreme);
  target.Fill(0xFF123456);
  set.Draw(&target);
  EXPECT_EQ(nullptr, extreme->GetDrawImage());
  EXPECT_EQ(0xFF123456u, At(target, 10, 10));
  // A tiny scale (an empty rectangle) draws nothing either.
  extreme->SetXScale(1);
  extreme->SetYScale(1);
  set.SetXScale(1);
  set.Draw(&target);
  EXPECT_EQ(0xFF123456u, At(target, 0, 0));
}

TEST(LayerRender, SourceAreaIsWhatAResampledLayerShows) {
  CSurface image, target;
  image.Create(8, 8, 1);
  image.Fill(0xFF000000);
  for (int y = 4; y < 8; ++y)
    for (int x = 4; x < 8; ++x) Put(image, x, y, 0xFFFFFFFF);
  target.Create(16, 16, 1);
  target.Fill(0xFF0000FF);
  CLayer layer;
  layer.SetSurface(&image);
  layer.SetSourceRect(CRect(4, 4, 4, 4));
  layer.SetXScale(2 * kScaleOne);
  layer.Draw(&target);
  EXPECT_EQ(7, layer.GetBounds().GetRight());
  EXPECT_EQ(3, layer.GetBounds().GetBottom());
  EXPECT_EQ(0xFFFFFFFFu, At(target, 0, 0) | 0xFF000000u);
  EXPECT_EQ(0xFFFFFFFFu, At(target, 7, 3) | 0xFF000000u);
  EXPECT_EQ(0xFF0000FFu, At(target, 8, 0));
}

namespace {

// The resampling walk written out plainly: 16.16 steps from the corner,
// bilinear weights inside, the nearest pixel at the last row and column,
// zero outside.
void ReferenceResample(CLayer& layer, ISurface& src, ISurface* mask, bool smooth, CSurface& out) {
  const CMatrix2D& m = layer.GetMatrix();
  const float w = float(src.GetWidth()), h = float(src.GetHeight());
  float xs[4], ys[4];
  m.Transform(0, 0, xs[0], ys[0]);
  m.Transform(w, 0, xs[1], ys[1]);
  m.Transform(0, h, xs[2], ys[2]);
  m.Transform(w, h, xs[3], ys[3]);
  const float minX = std::min({xs[0], xs[1], xs[2], xs[3]}), minY = std::min({ys[0], ys[1], ys[2], ys[3]});
  CMatrix2D inv = m;
  inv.Invert();
  float fx, fy;
  inv.Transform(minX, minY, fx, fy);
  int32_t rowX = int32_t(fx * 65536), rowY = int32_t(fy * 65536);
  const int32_t cx = int32_t(inv.a * 65536), cy = int32_t(inv.c * 65536);
  const int32_t rx = int32_t(inv.b * 65536), ry = int32_t(inv.d * 65536);
  const CRect& b = layer.GetBounds();
  out.Create(b.GetWidth(), b.GetHeight(), src.GetFormat());
  for (int j = 0; j < b.GetHeight(); ++j, rowX += rx, rowY += ry) {
    int32_t sx = rowX, sy = rowY;
    for (int i = 0; i < b.GetWidth(); ++i, sx += cx, sy += cy) {
      uint8_t* d = out.GetLine(j) + 4 * i;
      const int ix = sx >> 16, iy = sy >> 16;
      if (ix < 0 || iy < 0 || ix >= src.GetWidth() || iy >= src.GetHeight()) {
        std::memset(d, 0, 4);
        continue;
      }
      const uint8_t* p = src.GetLine(iy) + 4 * ix;
      if (smooth && ix + 1 < src.GetWidth() && iy + 1 < src.GetHeight()) {
        const int ax = (sx >> 8) & 255, ay = (sy >> 8) & 255;
        const int w00 = (((255 - ax) * (256 - ay)) >> 8) + 1, w10 = ((ax * (256 - ay)) >> 8) + 1;
        const int w01 = (((255 - ax) * (ay + 1)) >> 8) + 1, w11 = ((ax * (ay + 1)) >> 8) + 1;
        const uint8_t* q = src.GetLine(iy + 1) + 4 * ix;
        for (int k = 0; k < 4; ++k)
          d[k] = uint8_t(((p[k] * w00) >> 8) + ((p[k + 4] * w10) >> 8) + ((q[k] * w01) >> 8) + ((q[k + 4] * w11) >> 8));
        if (mask) {
          const uint8_t* m0 = mask->GetLine(iy) + ix;
          const uint8_t* m1 = mask->GetLine(iy + 1) + ix;
          const int mv = ((m0[0] * w00) >> 8) + ((m0[1] * w10) >> 8) + ((m1[0] * w01) >> 8) + ((m1[1] * w11) >> 8);
          d[3] = uint8_t((d[3] * (mv + 1)) >> 8);
        }
      } else {
        std::memcpy(d, p, 4);
        if (mask) d[3] = uint8_t((d[3] * (mask->GetLine(iy)[ix] + 1)) >> 8);
      }
    }
  }
}

}  // namespace

TEST(LayerRender, ResampledBytesMatchThePlainWalk) {
  struct Case {
    int rotate, xscale, yscale;
    bool flip, masked;
  };
  for (const Case& c :
       {Case{30, kScaleOne, kScaleOne, false, false}, Case{-75, 90000, 50000, true, false},
        Case{0, kScaleOne * 3, kScaleOne / 3, false, true}, Case{0, 2 * kScaleOne, 2 * kScaleOne, false, false},
        Case{0, 100000, 45000, true, false}, Case{200, 70000, 70000, false, true}}) {
    CSurface image, mask, reference;
    Gradient(image, 37, 23, 2);
    mask.Create(37, 23, 0);
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 37; ++x) mask.GetLine(y)[x] = uint8_t(x * 9 + y * 31);
    CLayer layer;
    layer.SetSurface(&image);
    if (c.masked) layer.SetMask(&mask);
    layer.SetX(40);
    layer.SetY(30);
    layer.SetAnchorX(18);
    layer.SetAnchorY(11);
    layer.SetRotate(c.rotate);
    layer.SetXScale(c.xscale);
    layer.SetYScale(c.yscale);
    layer.SetFlipX(c.flip);
    layer.Prepare(true);  // no target: the whole bounding rectangle
    ASSERT_TRUE(layer.IsResampled());
    ReferenceResample(layer, image, c.masked ? &mask : nullptr, true, reference);
    ISurface* got = layer.GetDrawImage();
    ASSERT_EQ(reference.GetWidth(), got->GetWidth());
    ASSERT_EQ(reference.GetHeight(), got->GetHeight());
    for (int y = 0; y < got->GetHeight(); ++y)
      ASSERT_EQ(0, std::memcmp(reference.GetLine(y), got->GetLine(y), size_t(got->GetWidth()) * 4))
          << "rotate " << c.rotate << " row " << y;
  }
}

TEST(LayerRender, UnturnedMaskMultipliesEveryAlphaExactly) {
  CSurface image, mask;
  Gradient(image, 23, 5, 2);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 23; ++x) image.GetLine(y)[4 * x + 3] = uint8_t(x * 11 + y * 50);
  mask.Create(23, 5, 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 23; ++x) mask.GetLine(y)[x] = uint8_t(255 - x * 7 - y * 13);
  CLayer layer;
  layer.SetSurface(&image);
  layer.SetMask(&mask);
  layer.Prepare(true);
  ISurface* got = layer.GetDrawImage();
  ASSERT_TRUE(layer.IsResampled());
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 23; ++x) {
      const uint32_t want =
          (At(image, x, y) & 0xFFFFFF) | uint32_t((image.GetLine(y)[4 * x + 3] * (mask.GetLine(y)[x] + 1)) >> 8) << 24;
      ASSERT_EQ(want, At(*got, x, y)) << x << "," << y;
    }
}
