#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageFixtures.h"
#include "graphics/Blend.h"
#include "graphics/Surface.h"

namespace {

// Reference kernels, one pixel at a time, written from the blend table.
// s, d are one colour byte; a the source alpha; o the opacity.
int Sat(int v) { return v > 255 ? 255 : v; }

int RefAlpha(int mode, bool opaque, int s, int d, int a, int o) {
  switch (mode) {
    case 0: return opaque ? d + (((s - d) * a) >> 8) : d + ((((o * (s - d)) >> 8) * a) >> 8);
    case 1: return opaque ? Sat(d + (s * a) / 256) : Sat(d + ((((o * s) >> 8) * a) >> 8));
    case 2:
      return opaque ? (d * (255 - (((255 - s) * a) >> 8))) >> 8
                    : (d * (255 - ((((o * (255 - s)) >> 8) * a) >> 8))) >> 8;
    case 4: {
      if (opaque) {
        const int t = (s * a) / 256;
        return Sat(d + t - (t * d) / 256);
      }
      const int t = (((o * s) >> 8) * a) >> 8;
      return Sat(d + t - ((t * d) >> 8));
    }
  }
  return -1;
}

int RefNoAlpha(int mode, bool opaque, int s, int d, int o) {
  switch (mode) {
    case 0: return opaque ? s : d + ((o * (s - d)) >> 8);
    case 1: return opaque ? Sat(d + s) : Sat(d + ((o * s) >> 8));
    case 2: return opaque ? (d * s) >> 8 : (d * (255 - ((o * (255 - s)) >> 8))) >> 8;
    case 4: {
      const int t = opaque ? s : (o * s) >> 8;
      return opaque ? Sat(d + s - (s * d) / 256) : Sat(d + t - ((t * d) >> 8));
    }
  }
  return -1;
}

void Reference(uint8_t* d, const uint8_t* s, int mode, int format, int o, uint32_t key) {
  const bool opaque = o == 255;
  if (mode == 3) {
    if ((uint32_t(s[0]) | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16) == (key & 0xFFFFFF)) return;
    for (int k = 0; k < 3; ++k) d[k] = uint8_t(opaque ? s[k] : d[k] + ((o * (s[k] - d[k])) >> 8));
    return;
  }
  if (format == 2) {
    if (s[3] == 0) return;
    for (int k = 0; k < 3; ++k) d[k] = uint8_t(RefAlpha(mode, opaque, s[k], d[k], s[3], o));
    return;
  }
  if (mode == 0 && opaque) {
    std::memcpy(d, s, 4);
    return;
  }
  for (int k = 0; k < 3; ++k) d[k] = uint8_t(RefNoAlpha(mode, opaque, s[k], d[k], o));
}

void MakeSurface(CSurface& surface, int w, int h, int format, const std::vector<uint8_t>& bytes) {
  surface.Create(w, h, format);
  std::memcpy(surface.GetLine(0), bytes.data(), size_t(w) * h * surface.GetBytesPerPixel());
}

// Blends one source pixel onto one destination pixel and returns the result.
uint32_t BlendPixel(uint32_t dst, uint32_t src, int mode, int format, int o, uint32_t key = 0) {
  CSurface d, s;
  d.Create(1, 1, 1);
  s.Create(1, 1, format);
  d.Fill(dst);
  s.Fill(src);
  CBlitRect r;
  r.width = r.height = 1;
  r.nonEmpty = true;
  BlendBlit(&d, &s, r, mode, format, o, key);
  uint32_t out;
  std::memcpy(&out, d.GetLine(0), 4);
  return out;
}

}  // namespace

TEST(BlendKernels, MatchTheReferenceForEveryModeFormatAndOpacity) {
  // 37 pixels per row exercises both the four-pixel steps and the tail.
  const int w = 37, h = 5;
  std::vector<uint8_t> srcBytes = fixtures::Noise(size_t(w) * h * 4, 7);
  // Plenty of fully transparent, fully opaque and keyed pixels.
  for (size_t i = 0; i < srcBytes.size(); i += 4) {
    const size_t p = i / 4;
    if (p % 5 == 0) srcBytes[i + 3] = 0;
    if (p % 7 == 0) srcBytes[i + 3] = 255;
    if (p % 11 == 0) srcBytes[i] = 0x30, srcBytes[i + 1] = 0x20, srcBytes[i + 2] = 0x10;
    // Whole rows of opaque and of transparent pixels, as in real images.
    if (p / w == 2) srcBytes[i + 3] = 255;
    if (p / w == 3) srcBytes[i + 3] = 0;
  }
  const std::vector<uint8_t> dstBytes = fixtures::Noise(size_t(w) * h * 4, 99);
  const uint32_t key = 0xAB102030;
  for (int format : {1, 2}) {
    for (int mode : {0, 1, 2, 3, 4}) {
      for (int o : {1, 64, 128, 200, 254, 255}) {
        CSurface src, dst;
        MakeSurface(src, w, h, format, srcBytes);
        MakeSurface(dst, w, h, 1, dstBytes);
        CBlitRect r;
        r.width = w;
        r.height = h;
        r.nonEmpty = true;
        ASSERT_FALSE(BlendBlit(&dst, &src, r, mode, format, o, key));
        std::vector<uint8_t> expected = dstBytes;
        for (size_t i = 0; i < expected.size(); i += 4) Reference(&expected[i], &srcBytes[i], mode, format, o, key);
        ASSERT_EQ(0, std::memcmp(expected.data(), dst.GetLine(0), expected.size()))
            << "format " << format << " mode " << mode << " opacity " << o;
      }
    }
  }
}

TEST(BlendKernels, EdgeCasesOfNormalMode) {
  // A = 255 does not quite reach the source: 0 + ((255 * 255) >> 8) = 254.
  EXPECT_EQ(0xFF000000u | 0xFEFEFE, BlendPixel(0xFF000000, 0xFFFFFFFF, 0, 2, 255));
  // The negative product rounds toward minus infinity: 255 - 255 = 0.
  EXPECT_EQ(0xFF000000u, BlendPixel(0xFFFFFFFF, 0xFF000000, 0, 2, 255));
  // A = 0 leaves the destination alone, in either opacity column.
  EXPECT_EQ(0x12345678u, BlendPixel(0x12345678, 0x00FFFFFF, 0, 2, 255));
  EXPECT_EQ(0x12345678u, BlendPixel(0x12345678, 0x00FFFFFF, 0, 2, 100));
  EXPECT_EQ(0x12345678u, BlendPixel(0x12345678, 0x00FFFFFF, 2, 2, 255));
  // The destination's alpha byte survives blending...
  EXPECT_EQ(0x40u, BlendPixel(0x40000000, 0x80FFFFFF, 0, 2, 255) >> 24);
  EXPECT_EQ(0x40u, BlendPixel(0x40000000, 0x80FFFFFF, 0, 1, 128) >> 24);
  // ...except under the opaque format-1 copy, which moves whole pixels.
  EXPECT_EQ(0x80FFFFFFu, BlendPixel(0x40000000, 0x80FFFFFF, 0, 1, 255));
}

TEST(BlendKernels, EdgeCasesOfAddMultiplyScreenAndColourKey) {
  // Add saturates.
  EXPECT_EQ(0xFFu, BlendPixel(0xFF0000F0, 0xFF0000F0, 1, 1, 255) & 0xFF);
  EXPECT_EQ(0xFFu, BlendPixel(0xFF0000F0, 0xFF0000F0, 1, 2, 255) & 0xFF);
  // Screen of 255 on 255 stays 255.
  EXPECT_EQ(0xFFFFFFu, BlendPixel(0xFFFFFFFF, 0xFFFFFFFF, 4, 1, 255) & 0xFFFFFF);
  EXPECT_EQ(0xFFFFFFu, BlendPixel(0xFFFFFFFF, 0xFFFFFFFF, 4, 2, 255) & 0xFFFFFF);
  // Multiply by white is one step darker.
  EXPECT_EQ(0xFF7F7F7Fu, BlendPixel(0xFF808080, 0xFFFFFFFF, 2, 1, 255));
  EXPECT_EQ(0xFF000000u, BlendPixel(0xFF010101, 0xFFFFFFFF, 2, 1, 255));
  // Colour key: the key colour is skipped whatever its alpha byte, other
  // colours are copied without their alpha.
  EXPECT_EQ(0x11223344u, BlendPixel(0x11223344, 0x00FF00FF, 3, 2, 255, 0xFFFF00FF));
  EXPECT_EQ(0x11FF00FEu, BlendPixel(0x11223344, 0x00FF00FE, 3, 2, 255, 0xFFFF00FF));
  EXPECT_EQ(0x11223344u, BlendPixel(0x11223344, 0xFFFF00FF, 3, 1, 128, 0x00FF00FF));
}

TEST(BlendBlit, RefusesWhatItCannotDrawSafely) {
  CSurface dst, grey, color;
  dst.Create(4, 4, 1);
  dst.Fill(0xFF102030);
  grey.Create(4, 4, 0);
  grey.Fill(0xFF);
  color.Create(4, 4, 2);
  color.Fill(0xFFFFFFFF);
  CBlitRect r;
  r.width = r.height = 4;
  r.nonEmpty = true;
  // An 8-bit image never reaches a kernel, whatever format is declared.
  for (int mode : {0, 1, 2, 3, 4}) {
    EXPECT_TRUE(BlendBlit(&dst, &grey, r, mode, 0, 255, 0));
    EXPECT_TRUE(BlendBlit(&dst, &grey, r, mode, 2, 255, 0));
  }
  // A blit rectangle reaching outside either surface is refused.
  CBlitRect outside = r;
  outside.dstX = 1;
  EXPECT_TRUE(BlendBlit(&dst, &color, outside, 0, 2, 255));
  outside = r;
  outside.srcY = -1;
  EXPECT_TRUE(BlendBlit(&dst, &color, outside, 0, 2, 255));
  // Zero opacity shows nothing, even in multiply mode.
  EXPECT_TRUE(BlendBlit(&dst, &color, r, 2, 1, 0));
  CBlitRect empty;
  EXPECT_TRUE(BlendBlit(&dst, &color, empty, 0, 2, 255));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      uint32_t v;
      std::memcpy(&v, dst.GetLine(y) + 4 * x, 4);
      ASSERT_EQ(0xFF102030u, v);
    }
  // Opacity above 255 counts as opaque rather than overflowing the bytes.
  EXPECT_EQ(BlendPixel(0xFF000000, 0xFFFFFFFF, 0, 2, 255), BlendPixel(0xFF000000, 0xFFFFFFFF, 0, 2, 300));
}

TEST(ClipBlit, ClipsAgainstTheScreenAndTheOptionalClips) {
  const CRect screen(0, 0, 100, 80);
  // Half outside on the left: source x 10, destination x 0, width 20.
  CBlitRect r = ClipBlit(CRect(-10, 5, 30, 10), screen);
  ASSERT_TRUE(r.nonEmpty);
  EXPECT_EQ(10, r.srcX);
  EXPECT_EQ(0, r.srcY);
  EXPECT_EQ(0, r.dstX);
  EXPECT_EQ(5, r.dstY);
  EXPECT_EQ(20, r.width);
  EXPECT_EQ(10, r.height);
  // Past the right and bottom edges.
  r = ClipBlit(CRect(90, 75, 30, 30), screen);
  ASSERT_TRUE(r.nonEmpty);
  EXPECT_EQ(90, r.dstX);
  EXPECT_EQ(10, r.width);
  EXPECT_EQ(5, r.height);
  // Entirely outside, or touching only from outside.
  EXPECT_FALSE(ClipBlit(CRect(100, 0, 10, 10), screen).nonEmpty);
  EXPECT_FALSE(ClipBlit(CRect(-10, 0, 10, 10), screen).nonEmpty);
  EXPECT_FALSE(ClipBlit(CRect(0, 0, 0, 10), screen).nonEmpty);
  // A destination clip narrows the screen without moving what is copied.
  const CRect destClip(20, 10, 30, 30);
  r = ClipBlit(CRect(0, 0, 100, 80), screen, nullptr, &destClip);
  ASSERT_TRUE(r.nonEmpty);
  EXPECT_EQ(20, r.dstX);
  EXPECT_EQ(10, r.dstY);
  EXPECT_EQ(20, r.srcX);
  EXPECT_EQ(10, r.srcY);
  EXPECT_EQ(30, r.width);
  // A clip starting at or past the right edge, or with a negative size, leaves nothing.
  const CRect pastRight(100, 0, 10, 10), negative(0, 0, -5, 10);
  EXPECT_FALSE(ClipBlit(CRect(0, 0, 100, 80), screen, nullptr, &pastRight).nonEmpty);
  EXPECT_FALSE(ClipBlit(CRect(0, 0, 100, 80), screen, &negative, nullptr).nonEmpty);
  // A source clip picks part of the image.
  const CRect sourceClip(5, 5, 10, 10);
  r = ClipBlit(CRect(0, 0, 50, 50), screen, &sourceClip, nullptr);
  ASSERT_TRUE(r.nonEmpty);
  EXPECT_EQ(5, r.srcX);
  EXPECT_EQ(5, r.dstX);
  EXPECT_EQ(10, r.width);
  // Huge coordinates do not overflow.
  r = ClipBlit(CRect(2147483000, 0, 2000, 10), screen);
  EXPECT_FALSE(r.nonEmpty);
}
