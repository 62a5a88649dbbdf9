// Clipping of a blit against its source and destination, and the integer
// blend kernels that compose a 32-bit source into a 32-bit destination.
#pragma once

#include <cstdint>

#include "core/Geometry.h"

class ISurface;

// The result of the clip step: where the copy starts in the source and in
// the destination, and its size.
struct CBlitRect {
  int srcX = 0;
  int srcY = 0;
  int dstX = 0;
  int dstY = 0;
  int width = 0;
  int height = 0;
  bool nonEmpty = false;
};

// Clips the source rectangle (the image placed in a shared coordinate space)
// and the destination rectangle (for a layer: the screen at 0, 0) against
// each other and against the optional clips. Returns the blit rectangle;
// its nonEmpty flag is false when nothing is left to draw.
CBlitRect ClipBlit(const CRect& source, const CRect& dest, const CRect* sourceClip = nullptr,
                   const CRect* destClip = nullptr);

// Composes the blit rectangle of src into dst with the blend kernel chosen by
// the layer mode (0 normal, 1 add, 2 multiply, 3 colour key, 4 screen), the
// source format (1 without alpha, 2 with alpha; 0 draws nothing) and the
// opacity (255 opaque, lower values blend). Only the colour bytes of dst are
// written, except by the opaque format-1 normal kernel, which copies whole
// pixels. Both surfaces must hold 32-bit pixels; a blit rectangle that does
// not fit inside both is refused. Returns true when nothing was drawn.
bool BlendBlit(ISurface* dst, ISurface* src, const CBlitRect& rect, int mode, int format, int opacity,
               uint32_t colorKey = 0);

// One row of one kernel: n pixels from s onto d. Exposed for benchmarks and
// tests; opacity is the o of the formulas (255 picks the opaque variant).
using BlendRowFn = void (*)(uint8_t* d, const uint8_t* s, int n, int opacity, uint32_t colorKey);
BlendRowFn GetBlendRow(int mode, int format, bool opaque);
