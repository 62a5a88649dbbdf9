#include <gtest/gtest.h>

#include <cstring>

#include "graphics/Surface.h"
#include "scene/Layer.h"

namespace {

uint32_t PixelAt(ISurface& s, int x, int y) {
  uint32_t v = 0;
  std::memcpy(&v, s.GetLine(y) + 4 * x, 4);
  return v;
}

void Put(ISurface& s, int x, int y, uint32_t v) { std::memcpy(s.GetLine(y) + 4 * x, &v, 4); }

}  // namespace

TEST(LayerMatrix, RotationFlipsAndParents) {
  CSurface image;
  image.Create(200, 100, 1);
  CLayer layer;
  layer.SetSurface(&image);
  layer.SetX(100);
  layer.SetY(50);
  layer.SetAnchorX(100);
  layer.SetAnchorY(50);
  layer.SetRotate(90);
  layer.UpdateMatrix({});
  float x, y;
  // A clockwise quarter turn about the screen point (200, 100).
  layer.GetMatrix().Transform(0, 0, x, y);
  EXPECT_NEAR(250, x, 1e-3);
  EXPECT_NEAR(0, y, 1e-3);

  // Flip x with anchor 0: the image extends to the left of x.
  CLayer flipped;
  flipped.SetSurface(&image);
  flipped.SetX(300);
  flipped.SetFlipX(true);
  flipped.UpdateMatrix({});
  flipped.GetMatrix().Transform(200, 10, x, y);
  EXPECT_FLOAT_EQ(100, x);
  EXPECT_FLOAT_EQ(10, y);
  flipped.SetFlipX(false);
  flipped.SetFlipY(true);
  flipped.UpdateMatrix({});
  flipped.GetMatrix().Transform(0, 30, x, y);
  EXPECT_FLOAT_EQ(300, x);
  EXPECT_FLOAT_EQ(-30, y);

  // Parents act outside the layer: placed in the set, then the set's scale
  // about its anchor.
  CLayerProperty set;
  set.SetX(10);
  set.SetY(20);
  set.SetXScale(PercentToScale(200));
  CLayer child;
  child.SetSurface(&image);
  child.SetX(5);
  child.UpdateMatrix({&set});
  child.GetMatrix().Transform(1, 1, x, y);
  EXPECT_FLOAT_EQ(10 + 2 * 6, x);
  EXPECT_FLOAT_EQ(21, y);
}

TEST(LayerOpacity, ParentAlphasMultiply) {
  CLayerProperty p128;
  p128.SetAlpha(128);
  EXPECT_EQ(200, EffectiveOpacity(200, {}));
  EXPECT_EQ(128, EffectiveOpacity(255, {&p128}));
  EXPECT_EQ(25, EffectiveOpacity(100, {&p128, &p128}));
}

TEST(Layer, RectangleSurfaceMaskKeyAndSourceRect) {
  CLayer layer;
  layer.SetX(10);
  EXPECT_EQ(0, layer.GetRight());
  EXPECT_EQ(0, layer.GetBottom());

  CSurface image;
  image.Create(64, 32, 2);
  layer.SetDirtyFlags(0);
  layer.SetSurface(&image);
  EXPECT_EQ(kDirtyImage, layer.GetDirtyFlags());
  EXPECT_EQ(73, layer.GetRight());
  EXPECT_EQ(31, layer.GetBottom());
  layer.SetSourceRect(CRect(4, 4, 16, 8));
  EXPECT_EQ(25, layer.GetRight());
  EXPECT_EQ(7, layer.GetBottom());
  EXPECT_TRUE(layer.GetDirtyFlags() & kDirtySourceRect);

  layer.SetDirtyFlags(0);
  layer.SetSourceRect(CRect(4, 4, 16, 8));  // same: nothing marked
  layer.SetColorKey(0);
  EXPECT_EQ(0, layer.GetDirtyFlags());
  layer.SetColorKey(0xFF00FF);
  EXPECT_EQ(kDirtyColorKey, layer.GetDirtyFlags());

  // Masks must be 8-bit and of the surface's size.
  CSurface goodMask, wrongSize, wrongFormat;
  goodMask.Create(64, 32, 0);
  wrongSize.Create(63, 32, 0);
  wrongFormat.Create(64, 32, 2);
  layer.SetMask(&wrongSize);
  EXPECT_EQ(nullptr, layer.GetMask());
  layer.SetMask(&wrongFormat);
  EXPECT_EQ(nullptr, layer.GetMask());
  layer.SetMask(&goodMask);
  EXPECT_EQ(&goodMask, layer.GetMask());
  layer.SetMask(&wrongSize);  // rejected: the old mask stays
  EXPECT_EQ(&goodMask, layer.GetMask());
  layer.SetMask(nullptr);
  EXPECT_EQ(nullptr, layer.GetMask());

  // No mask on an 8-bit image, and a new surface forgets the mask.
  layer.SetMask(&goodMask);
  CSurface grey;
  grey.Create(64, 32, 0);
  layer.SetSurface(&grey);
  EXPECT_EQ(nullptr, layer.GetMask());
  layer.SetMask(&goodMask);
  EXPECT_EQ(nullptr, layer.GetMask());
}

TEST(Layer, GetPixelThroughTheLastMatrix) {
  CSurface image;
  image.Create(4, 4, 2);
  image.Fill(0x80112233);
  Put(image, 3, 0, 0xFFABCDEF);
  CLayer layer;
  EXPECT_EQ(0u, layer.GetPixel(CPoint(0, 0)));  // no surface
  layer.SetSurface(&image);
  layer.SetX(10);
  layer.SetY(20);
  CSurface target;
  target.Create(32, 32, 1);
  layer.Draw(&target);
  EXPECT_EQ(0xFFABCDEFu, layer.GetPixel(CPoint(13, 20)));
  EXPECT_EQ(0x80112233u, layer.GetPixel(CPoint(10, 23)));
  // Outside the image: 0, never a read past the rows.
  EXPECT_EQ(0u, layer.GetPixel(CPoint(14, 20)));
  EXPECT_EQ(0u, layer.GetPixel(CPoint(9, 20)));
  EXPECT_EQ(0u, layer.GetPixel(CPoint(10, 1000)));
  // Doubled: the point half a pixel left of the image truncates to its first
  // column (toward zero); a whole pixel left of it is outside.
  layer.SetXScale(131072);
  layer.Draw(&target);
  EXPECT_EQ(0x80112233u, layer.GetPixel(CPoint(9, 21)));
  EXPECT_EQ(0u, layer.GetPixel(CPoint(8, 21)));
  layer.SetXScale(0);
  EXPECT_EQ(0u, layer.GetPixel(CPoint(13, 20)));
}

TEST(Layer, DrawsUntransformedThroughTheKernels) {
  CSurface target;
  target.Create(8, 8, 1);
  target.Fill(0xFF000000);
  CSurface image;
  image.Create(4, 4, 1);
  image.Fill(0xFF808080);
  CLayer layer;
  layer.SetSurface(&image);
  layer.SetX(-2);
  layer.SetY(6);
  layer.Draw(&target);
  EXPECT_EQ(0xFF808080u, PixelAt(target, 0, 6));
  EXPECT_EQ(0xFF808080u, PixelAt(target, 1, 7));
  EXPECT_EQ(0xFF000000u, PixelAt(target, 2, 6));
  EXPECT_EQ(0xFF000000u, PixelAt(target, 0, 5));

  // Add mode at half opacity through a parent.
  CLayerProperty parent;
  parent.SetAlpha(128);
  layer.SetX(4);
  layer.SetY(0);
  layer.SetLayerMode(kLayerModeAdd);
  CParentChain chain{&parent};
  layer.DrawWithParents(&target, chain);
  EXPECT_EQ(0xFF404040u, PixelAt(target, 4, 0));  // (128 * 128) >> 8

  // Invisible, zero alpha or no target: nothing drawn.
  target.Fill(0xFF000000);
  layer.SetLayerMode(kLayerModeNormal);
  layer.SetVisible(false);
  layer.Draw(&target);
  layer.SetVisible(true);
  layer.SetAlpha(0);
  layer.Draw(&target);
  layer.Draw(nullptr);
  EXPECT_EQ(0xFF000000u, PixelAt(target, 4, 0));

  // The source rectangle picks part of the image and shows it at x, y.
  image.Fill(0xFF000000);
  Put(image, 2, 1, 0xFFFFFFFF);
  layer.SetAlpha(255);
  layer.SetX(0);
  layer.SetSourceRect(CRect(2, 1, 2, 2));
  layer.Draw(&target);
  EXPECT_EQ(0xFFFFFFFFu, PixelAt(target, 0, 0));
  target.Fill(0xFF123456);
  layer.Draw(&target);
  EXPECT_EQ(0xFF123456u, PixelAt(target, 2, 0));  // outside the source rectangle
}

TEST(Layer, MaskMultipliesTheAlpha) {
  CSurface target;
  target.Create(2, 1, 1);
  target.Fill(0xFF000000);
  CSurface image, mask;
  image.Create(2, 1, 1);
  image.Fill(0xFFFFFFFF);
  mask.Create(2, 1, 0);
  mask.GetLine(0)[0] = 255;
  mask.GetLine(0)[1] = 0;
  CLayer layer;
  layer.SetSurface(&image);
  layer.SetMask(&mask);
  layer.Draw(&target);
  // Drawn as format 2 with alpha (255 * 256) >> 8 = 255 and (255 * 1) >> 8 = 0.
  EXPECT_EQ(0xFFFEFEFEu, PixelAt(target, 0, 0));
  EXPECT_EQ(0xFF000000u, PixelAt(target, 1, 0));
}

TEST(LayerFactory, MakesSoftwareLayers) {
  CLayerFactory factory;
  ILayer* layer = factory.Create();
  ASSERT_NE(nullptr, dynamic_cast<CLayer*>(layer));
  delete layer;
}
