// GL pictures against the software renderer's: the same layers drawn both
// ways must agree to the byte where the arithmetic allows it.
#include <cmath>

#include "GlesHarness.h"

namespace {

// A background that varies in every channel, opaque.
uint32_t Backdrop(int x, int y) {
  return 0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y * 5) << 8 | uint32_t((x + y) * 2);
}
// An image with every kind of alpha.
uint32_t Image(int x, int y) {
  const uint32_t a = (x * 17 + y * 29) % 256;
  return a << 24 | uint32_t(255 - x * 7) << 16 | uint32_t(y * 9) << 8 | uint32_t(x * y % 256);
}

using Parity = CGlesFixture;

TEST_F(Parity, ClearIsByteEqual) {
  CPicture g = DrawGl({});
  CPicture s = DrawSoftware({});
  EXPECT_EQ(g.bytes, s.bytes);
}

TEST_F(Parity, UntransformedModesFormatsOpacitiesAndMasks) {
  auto backGl = GlSurface(kWidth, kHeight, 1, Backdrop);
  auto backMem = MemSurface(kWidth, kHeight, 1, Backdrop);
  for (int mode : {0, 1, 2, 4})
    for (int format : {1, 2})
      for (int opacity : {255, 128})
        for (bool masked : {false, true}) {
          SCOPED_TRACE("mode " + std::to_string(mode) + " format " + std::to_string(format) + " opacity " +
                       std::to_string(opacity) + (masked ? " mask" : ""));
          auto imageGl = GlSurface(30, 20, format, Image);
          auto imageMem = MemSurface(30, 20, format, Image);
          auto maskGl = GlSurface(30, 20, 0, [](int x, int) { return uint32_t(x * 8); });
          auto maskMem = MemSurface(30, 20, 0, [](int x, int) { return uint32_t(x * 8); });
          CGlesLayer glBack(gl.get()), glTop(gl.get());
          CLayer swBack, swTop;
          glBack.SetSurface(backGl.get());
          swBack.SetSurface(backMem.get());
          glTop.SetSurface(imageGl.get());
          swTop.SetSurface(imageMem.get());
          if (masked) {
            glTop.SetMask(maskGl.get());
            swTop.SetMask(maskMem.get());
          }
          for (CLayer* l : {static_cast<CLayer*>(&glTop), static_cast<CLayer*>(&swTop)}) {
            l->SetX(-5);  // half a column outside: clipped alike
            l->SetY(11);
            l->SetAlpha(opacity);
            l->SetLayerMode(mode);
          }
          const CPicture g = DrawGl({&glBack, &glTop});
          const CPicture s = DrawSoftware({&swBack, &swTop});
          if (format == 1 && opacity == 255 && !masked && (mode == 0 || mode == 1))
            EXPECT_EQ(g.bytes, s.bytes);
          else
            EXPECT_LE(MaxColourDifference(g, s), 4);
          // Opaque colour blends in add, multiply and screen too.
          EXPECT_EQ(glTop.GetLastBlended(), !(format == 1 && opacity == 255 && !masked && mode == 0));
        }
}

TEST_F(Parity, TransformedGradientsAgreeAwayFromTheEdges) {
  const auto gradient = [](int x, int y) { return 0xFF000000u | uint32_t(x * 8) << 16 | uint32_t(y * 8) << 8 | 0x40u; };
  auto imageGl = GlSurface(32, 24, 2, gradient);
  auto imageMem = MemSurface(32, 24, 2, gradient);
  struct Case {
    int scaleX, scaleY, rotate;
  };
  for (const Case c : {Case{98304, 98304, 0}, Case{65536, 65536, 30}, Case{45000, 80000, -20}}) {
    SCOPED_TRACE("scale " + std::to_string(c.scaleX) + "x" + std::to_string(c.scaleY) + " rotate " +
                 std::to_string(c.rotate));
    CGlesLayer glLayer(gl.get());
    CLayer swLayer;
    glLayer.SetSurface(imageGl.get());
    swLayer.SetSurface(imageMem.get());
    for (CLayer* l : {static_cast<CLayer*>(&glLayer), static_cast<CLayer*>(&swLayer)}) {
      l->SetX(12);
      l->SetY(6);
      l->SetAnchorX(16);
      l->SetAnchorY(12);
      l->SetXScale(c.scaleX);
      l->SetYScale(c.scaleY);
      l->SetRotate(c.rotate);
    }
    const CPicture g = DrawGl({&glLayer});
    const CPicture s = DrawSoftware({&swLayer});
    EXPECT_TRUE(glLayer.GetLastLinear());
    // Inside the quad by its inverse matrix, one pixel away from its edges.
    CMatrix2D inverse = glLayer.GetMatrix();
    inverse.Invert();
    const auto inside = [&](int x, int y) {
      float u = 0, v = 0;
      inverse.Transform(float(x) + 0.5f, float(y) + 0.5f, u, v);
      return u >= 0 && v >= 0 && u < 32 && v < 24;
    };
    double sum = 0;
    int count = 0, within = 0;
    for (int y = 1; y + 1 < kHeight; ++y)
      for (int x = 1; x + 1 < kWidth; ++x) {
        const bool in = inside(x, y);
        bool band = false;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) band |= inside(x + dx, y + dy) != in;
        if (band) continue;
        for (int k = 0; k < 3; ++k) {
          const int d = std::abs(int(g.At(x, y)[k]) - int(s.At(x, y)[k]));
          sum += d;
          ++count;
          within += d <= 8;
        }
      }
    ASSERT_GT(count, 0);
    EXPECT_LE(sum / count, 1.0);
    EXPECT_GE(double(within) / count, 0.99);
  }
}

TEST_F(Parity, ColourKeyKeysTheTextureNotTheSurface) {
  const auto keyed = [](int x, int y) { return (x + y) % 3 == 0 ? 0x7F00FF00u : 0x40102030u + uint32_t(x); };
  auto imageGl = GlSurface(16, 16, 2, keyed);
  auto imageMem = MemSurface(16, 16, 2, keyed);
  auto backGl = GlSurface(kWidth, kHeight, 1, Backdrop);
  auto backMem = MemSurface(kWidth, kHeight, 1, Backdrop);
  CGlesLayer glBack(gl.get()), glLayer(gl.get());
  CLayer swBack, swLayer;
  glBack.SetSurface(backGl.get());
  swBack.SetSurface(backMem.get());
  glLayer.SetSurface(imageGl.get());
  swLayer.SetSurface(imageMem.get());
  for (CLayer* l : {static_cast<CLayer*>(&glLayer), static_cast<CLayer*>(&swLayer)}) {
    l->SetLayerMode(3);
    l->SetColorKey(0x0000FF00u);
    l->SetX(3);
    l->SetY(4);
  }
  EXPECT_LE(MaxColourDifference(DrawGl({&glBack, &glLayer}), DrawSoftware({&swBack, &swLayer})), 1);
  // The image keeps its own alpha for anything else that reads it.
  imageGl->Lock();
  EXPECT_EQ(imageGl->GetLine(0)[3], 0x7F);
  EXPECT_EQ(imageGl->GetLine(0)[4 + 3], 0x40);
  imageGl->Unlock();
  // A new key takes effect at once.
  glLayer.SetColorKey(0x00302010u);
  swLayer.SetColorKey(0x00302010u);
  EXPECT_LE(MaxColourDifference(DrawGl({&glBack, &glLayer}), DrawSoftware({&swBack, &swLayer})), 1);
}

TEST_F(Parity, PowerOfTwoTexturesShowTheSamePicture) {
  auto exact = GlSurface(300 / 10, 200 / 10, 2, Image);
  CGlesRenderer::SetForcePowerOfTwo(true);
  auto padded = GlSurface(300, 200, 2, Image);
  auto small = GlSurface(30, 20, 2, Image);
  CGlesRenderer::SetForcePowerOfTwo(false);
  EXPECT_EQ(padded->GetTextureWidth(), 512);
  EXPECT_EQ(padded->GetTextureHeight(), 256);
  EXPECT_EQ(padded->GetWidth(), 300);
  EXPECT_EQ(small->GetTextureWidth(), 32);
  CGlesLayer a(gl.get()), b(gl.get());
  a.SetSurface(exact.get());
  b.SetSurface(small.get());
  EXPECT_EQ(DrawGl({&a}).bytes, DrawGl({&b}).bytes);
}

TEST_F(Parity, GapsKeepTheLastFrame) {
  auto red = GlSurface(kWidth, kHeight, 1, [](int, int) { return 0xFFFF0000u; });
  auto dot = GlSurface(4, 4, 1, [](int, int) { return 0xFF0000FFu; });
  CGlesLayer full(gl.get()), small(gl.get());
  full.SetSurface(red.get());
  small.SetSurface(dot.get());
  DrawGl({&full});
  // No clear: what the small layer does not cover is the previous frame.
  const CPicture p = DrawGl({&small}, false);
  EXPECT_EQ(p.At(0, 0)[0], 0xFF);
  EXPECT_EQ(p.At(10, 10)[2], 0xFF);
  EXPECT_EQ(p.At(10, 10)[0], 0x00);
}

}  // namespace
