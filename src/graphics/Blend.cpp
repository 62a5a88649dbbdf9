#include "graphics/Blend.h"

#include <algorithm>
#include <cstring>

#include "graphics/Surface.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// ---- Clip step ----------------------------------------------------------

namespace {

// Intersection of two x, y, width, height rectangles; false when empty.
bool Intersect(const CRect& a, const CRect& b, CRect& out) {
  const int64_t left = std::max<int64_t>(a.GetX(), b.GetX());
  const int64_t top = std::max<int64_t>(a.GetY(), b.GetY());
  const int64_t right = std::min<int64_t>(int64_t(a.GetX()) + a.GetWidth(), int64_t(b.GetX()) + b.GetWidth());
  const int64_t bottom = std::min<int64_t>(int64_t(a.GetY()) + a.GetHeight(), int64_t(b.GetY()) + b.GetHeight());
  if (right <= left || bottom <= top) return false;
  out = CRect(int(left), int(top), int(right - left), int(bottom - top));
  return true;
}

// Restricts rect to clip; false when that leaves nothing.
bool ApplyClip(CRect& rect, const CRect* clip) {
  if (!clip) return true;
  if (int64_t(clip->GetX()) >= int64_t(rect.GetX()) + rect.GetWidth() ||
      int64_t(clip->GetY()) >= int64_t(rect.GetY()) + rect.GetHeight() || clip->GetWidth() < 0 || clip->GetHeight() < 0)
    return false;
  CRect clipped;
  if (!Intersect(rect, *clip, clipped)) return false;
  rect = clipped;
  return true;
}

}  // namespace

CBlitRect ClipBlit(const CRect& source, const CRect& dest, const CRect* sourceClip, const CRect* destClip) {
  CBlitRect result;
  CRect d = dest;
  CRect s = source;
  if (!ApplyClip(d, destClip)) return result;
  if (!ApplyClip(s, sourceClip)) return result;
  CRect i;
  if (!Intersect(s, d, i)) return result;
  // Offsets count from the unclipped rectangles' origins: a clip chooses
  // which part is copied, it does not move that part elsewhere.
  result.dstX = i.GetX() - dest.GetX();
  result.dstY = i.GetY() - dest.GetY();
  result.srcX = i.GetX() - source.GetX();
  result.srcY = i.GetY() - source.GetY();
  result.width = i.GetWidth();
  result.height = i.GetHeight();
  result.nonEmpty = true;
  return result;
}

// ---- Kernels ------------------------------------------------------------
// Bytes B, G, R are blended; byte 3 (alpha) of the destination is kept.
// ">> 8" on a negative value rounds toward minus infinity (arithmetic shift).

namespace {

inline uint8_t Sat(int v) { return uint8_t(v > 255 ? 255 : v); }

inline bool Keyed(const uint8_t* s, uint32_t key) {
  return s[0] == uint8_t(key) && s[1] == uint8_t(key >> 8) && s[2] == uint8_t(key >> 16);
}

// Format 2: colour with straight alpha; pixels with A = 0 stay untouched.

void NormalAlphaScalar(uint8_t* d, const uint8_t* s, int n) {
  for (int j = 0; j < n; ++j, d += 4, s += 4) {
    const int a = s[3];
    if (a == 0) continue;
    for (int k = 0; k < 3; ++k) d[k] = uint8_t(d[k] + (((s[k] - d[k]) * a) >> 8));
  }
}

void NormalAlphaOpacityScalar(uint8_t* d, const uint8_t* s, int n, int o) {
  for (int j = 0; j < n; ++j, d += 4, s += 4) {
    const int a = s[3];
    if (a == 0) continue;
    for (int k = 0; k < 3; ++k) d[k] = uint8_t(d[k] + ((((o * (s[k] - d[k])) >> 8) * a) >> 8));
  }
}

#if defined(__SSE2__)
// d + (((s - d) * A) >> 8) equals (d * (256 - A) + s * A) >> 8 exactly: the
// floor of a sum with a multiple of 256 moves out of it, and the right side
// never leaves 16 unsigned bits. The alpha lane uses a weight of 0, which
// gives back d's alpha. The opacity variant first forms
// m = d + ((o * (s - d)) >> 8) = ((256 - o) * d + o * s) >> 8 the same way.
inline __m128i AlphaWeights(__m128i s16) {
  const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s16, 0xFF), 0xFF);
  return _mm_and_si128(a, _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1));
}

inline __m128i Lerp16(__m128i d16, __m128i s16, __m128i w) {
  const __m128i inv = _mm_sub_epi16(_mm_set1_epi16(256), w);
  return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(d16, inv), _mm_mullo_epi16(s16, w)), 8);
}

template <bool kOpacity>
void NormalAlphaSse2(uint8_t* d, const uint8_t* s, int n, int o) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i alphaMask = _mm_set1_epi32(int(0xFF000000u));
  const __m128i ow = _mm_set1_epi16(int16_t(o));
  int j = 0;
  for (; j + 4 <= n; j += 4, d += 16, s += 16) {
    const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i sa = _mm_and_si128(sv, alphaMask);
    // Four fully transparent source pixels change nothing.
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(sa, zero)) == 0xFFFF) continue;
    const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    if (!kOpacity && _mm_movemask_epi8(_mm_cmpeq_epi32(sa, alphaMask)) == 0xFFFF) {
      // Four opaque source pixels: (d + 255 * s) >> 8 is s, less one where
      // s > d (the floor of (d - s) / 256 is -1 there and 0 elsewhere).
      const __m128i sLessOrEqual = _mm_cmpeq_epi8(_mm_subs_epu8(sv, dv), zero);
      const __m128i result = _mm_sub_epi8(sv, _mm_andnot_si128(sLessOrEqual, _mm_set1_epi8(1)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                       _mm_or_si128(_mm_andnot_si128(alphaMask, result), _mm_and_si128(alphaMask, dv)));
      continue;
    }
    __m128i slo = _mm_unpacklo_epi8(sv, zero);
    __m128i shi = _mm_unpackhi_epi8(sv, zero);
    const __m128i dlo = _mm_unpacklo_epi8(dv, zero);
    const __m128i dhi = _mm_unpackhi_epi8(dv, zero);
    const __m128i wlo = AlphaWeights(slo);
    const __m128i whi = AlphaWeights(shi);
    if (kOpacity) {
      slo = Lerp16(dlo, slo, ow);
      shi = Lerp16(dhi, shi, ow);
    }
    const __m128i rlo = Lerp16(dlo, slo, wlo);
    const __m128i rhi = Lerp16(dhi, shi, whi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(rlo, rhi));
  }
  if (kOpacity)
    NormalAlphaOpacityScalar(d, s, n - j, o);
  else
    NormalAlphaScalar(d, s, n - j);
}
#endif

void NormalAlpha(uint8_t* d, const uint8_t* s, int n, int, uint32_t) {
#if defined(__SSE2__)
  NormalAlphaSse2<false>(d, s, n, 255);
#else
  NormalAlphaScalar(d, s, n);
#endif
}

void NormalAlphaOpacity(uint8_t* d, const uint8_t* s, int n, int o, uint32_t) {
#if defined(__SSE2__)
  NormalAlphaSse2<true>(d, s, n, o);
#else
  NormalAlphaOpacityScalar(d, s, n, o);
#endif
}

void AddAlphaScalar(uint8_t* d, const uint8_t* s, int n, int, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4) {
    const int a = s[3];
    if (a == 0) continue;
    for (int k = 0; k < 3; ++k) d[k] = Sat(d[k] + ((s[k] * a) >> 8));
  }
}

void AddAlphaOpacityScalar(uint8_t* d, const uint8_t* s, int n, int o, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4) {
    const int a = s[3];
    if (a == 0) continue;
    for (int k = 0; k < 3; ++k) d[k] = Sat(d[k] + ((((o * s[k]) >> 8) * a) >> 8));
  }
}

void MultiplyAlphaScalar(uint8_t* d, const uint8_t* s, int n, int, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4) {
    const int a = s[3];
    if (a == 0) continue;
    for (int k = 0; k < 3; ++k) d[k] = uint8_t((d[k] * (255 - (((255 - s[k]) * a) >> 8))) >> 8);
  }
}

void MultiplyAlphaOpacityScalar(uint8_t* d, const uint8_t* s, int n, int o, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4) {
    const int a = s[3];
    if (a == 0) continue;
    for (int k = 0; k < 3; ++k) d[k] = uint8_t((d[k] * (255 - ((((o * (255 - s[k])) >> 8) * a) >> 8))) >> 8);
  }
}

void ScreenAlphaScalar(uint8_t* d, const uint8_t* s, int n, int, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4) {
    const int a = s[3];
    if (a == 0) continue;
    for (int k = 0; k < 3; ++k) {
      const int t = (s[k] * a) >> 8;
      d[k] = Sat(d[k] + t - ((t * d[k]) >> 8));
    }
  }
}

void ScreenAlphaOpacityScalar(uint8_t* d, const uint8_t* s, int n, int o, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4) {
    const int a = s[3];
    if (a == 0) continue;
    for (int k = 0; k < 3; ++k) {
      const int t = (((o * s[k]) >> 8) * a) >> 8;
      d[k] = Sat(d[k] + t - ((t * d[k]) >> 8));
    }
  }
}

// Format 1: colour without alpha; every pixel is processed.

void CopyRow(uint8_t* d, const uint8_t* s, int n, int, uint32_t) { std::memmove(d, s, size_t(n) * 4); }

void NormalOpacityScalar(uint8_t* d, const uint8_t* s, int n, int o, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4)
    for (int k = 0; k < 3; ++k) d[k] = uint8_t(d[k] + ((o * (s[k] - d[k])) >> 8));
}

void AddScalar(uint8_t* d, const uint8_t* s, int n, int, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4)
    for (int k = 0; k < 3; ++k) d[k] = Sat(d[k] + s[k]);
}

void AddOpacityScalar(uint8_t* d, const uint8_t* s, int n, int o, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4)
    for (int k = 0; k < 3; ++k) d[k] = Sat(d[k] + ((o * s[k]) >> 8));
}

void MultiplyScalar(uint8_t* d, const uint8_t* s, int n, int, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4)
    for (int k = 0; k < 3; ++k) d[k] = uint8_t((d[k] * s[k]) >> 8);
}

void MultiplyOpacityScalar(uint8_t* d, const uint8_t* s, int n, int o, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4)
    for (int k = 0; k < 3; ++k) d[k] = uint8_t((d[k] * (255 - ((o * (255 - s[k])) >> 8))) >> 8);
}

void ScreenScalar(uint8_t* d, const uint8_t* s, int n, int, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4)
    for (int k = 0; k < 3; ++k) d[k] = Sat(d[k] + s[k] - ((s[k] * d[k]) >> 8));
}

void ScreenOpacityScalar(uint8_t* d, const uint8_t* s, int n, int o, uint32_t) {
  for (int j = 0; j < n; ++j, d += 4, s += 4)
    for (int k = 0; k < 3; ++k) {
      const int t = (o * s[k]) >> 8;
      d[k] = Sat(d[k] + t - ((t * d[k]) >> 8));
    }
}

// Colour key, whatever the source format: pixels of the key colour are
// skipped, the alpha byte plays no part.

void ColorKeyScalar(uint8_t* d, const uint8_t* s, int n, int, uint32_t key) {
  for (int j = 0; j < n; ++j, d += 4, s += 4) {
    if (Keyed(s, key)) continue;
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
  }
}

void ColorKeyOpacityScalar(uint8_t* d, const uint8_t* s, int n, int o, uint32_t key) {
  for (int j = 0; j < n; ++j, d += 4, s += 4) {
    if (Keyed(s, key)) continue;
    for (int k = 0; k < 3; ++k) d[k] = uint8_t(d[k] + ((o * (s[k] - d[k])) >> 8));
  }
}

#if defined(__SSE2__)
// Four pixels at a time: both pixels' bytes widen to 16-bit lanes, a lane
// formula (the same integer formula as the scalar kernel, in whole numbers
// that never leave 16 unsigned bits) gives each colour byte, and the pack
// saturates at 255 where the formula takes a minimum with 255. The
// destination's alpha byte, and every pixel the kernel leaves alone, are
// put back from the destination.
enum class Keep { kNone, kTransparent, kKeyed };

inline __m128i Mul(__m128i a, __m128i b) { return _mm_mullo_epi16(a, b); }
inline __m128i Shr8(__m128i a) { return _mm_srli_epi16(a, 8); }
inline __m128i Add16(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
inline __m128i Sub16(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }
inline __m128i Broadcast(__m128i s16) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(s16, 0xFF), 0xFF); }

template <Keep kKeep, bool kAlpha, typename Lanes>
void RunSse2(uint8_t* d, const uint8_t* s, int n, int o, uint32_t key, Lanes lanes, BlendRowFn tail) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i alphaMask = _mm_set1_epi32(int(0xFF000000u));
  const __m128i colorMask = _mm_set1_epi32(0x00FFFFFF);
  const __m128i keyColor = _mm_set1_epi32(int(key & 0x00FFFFFF));
  int j = 0;
  for (; j + 4 <= n; j += 4, d += 16, s += 16) {
    const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    __m128i keep = alphaMask;
    if (kKeep != Keep::kNone) {
      const __m128i skip = kKeep == Keep::kTransparent ? _mm_cmpeq_epi32(_mm_and_si128(sv, alphaMask), zero)
                                                       : _mm_cmpeq_epi32(_mm_and_si128(sv, colorMask), keyColor);
      if (_mm_movemask_epi8(skip) == 0xFFFF) continue;
      keep = _mm_or_si128(keep, skip);
    }
    const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    const __m128i slo = _mm_unpacklo_epi8(sv, zero), shi = _mm_unpackhi_epi8(sv, zero);
    const __m128i dlo = _mm_unpacklo_epi8(dv, zero), dhi = _mm_unpackhi_epi8(dv, zero);
    const __m128i alo = kAlpha ? Broadcast(slo) : zero, ahi = kAlpha ? Broadcast(shi) : zero;
    const __m128i r = _mm_packus_epi16(lanes(dlo, slo, alo), lanes(dhi, shi, ahi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_or_si128(_mm_and_si128(keep, dv), _mm_andnot_si128(keep, r)));
  }
  tail(d, s, n - j, o, key);
}

#define VM_KERNEL(name, keep, alpha, body)                                                          \
  void name(uint8_t* d, const uint8_t* s, int n, int o, uint32_t key) {                             \
    const __m128i ov = _mm_set1_epi16(int16_t(o));                                                  \
    const __m128i c255 = _mm_set1_epi16(255);                                                       \
    (void)ov;                                                                                       \
    (void)c255;                                                                                     \
    RunSse2<keep, alpha>(d, s, n, o, key, [&](__m128i d, __m128i s, __m128i a) body, name##Scalar); \
  }
#else
#define VM_KERNEL(name, keep, alpha, body) \
  void name(uint8_t* d, const uint8_t* s, int n, int o, uint32_t key) { name##Scalar(d, s, n, o, key); }
#endif

// Source with alpha.
VM_KERNEL(AddAlpha, Keep::kTransparent, true, { return Add16(d, Shr8(Mul(s, a))); })
VM_KERNEL(AddAlphaOpacity, Keep::kTransparent, true, { return Add16(d, Shr8(Mul(Shr8(Mul(ov, s)), a))); })
VM_KERNEL(MultiplyAlpha, Keep::kTransparent, true, {
  const __m128i t = Shr8(Mul(Sub16(c255, s), a));
  return Shr8(Mul(d, Sub16(c255, t)));
})
VM_KERNEL(MultiplyAlphaOpacity, Keep::kTransparent, true, {
  const __m128i t = Shr8(Mul(Shr8(Mul(ov, Sub16(c255, s))), a));
  return Shr8(Mul(d, Sub16(c255, t)));
})
VM_KERNEL(ScreenAlpha, Keep::kTransparent, true, {
  const __m128i t = Shr8(Mul(s, a));
  return Sub16(Add16(d, t), Shr8(Mul(t, d)));
})
VM_KERNEL(ScreenAlphaOpacity, Keep::kTransparent, true, {
  const __m128i t = Shr8(Mul(Shr8(Mul(ov, s)), a));
  return Sub16(Add16(d, t), Shr8(Mul(t, d)));
})
// Source without alpha.
VM_KERNEL(NormalOpacity, Keep::kNone, false, { return Lerp16(d, s, ov); })
VM_KERNEL(Add, Keep::kNone, false, { return Add16(d, s); })
VM_KERNEL(AddOpacity, Keep::kNone, false, { return Add16(d, Shr8(Mul(ov, s))); })
VM_KERNEL(Multiply, Keep::kNone, false, { return Shr8(Mul(d, s)); })
VM_KERNEL(MultiplyOpacity, Keep::kNone, false, {
  const __m128i t = Shr8(Mul(ov, Sub16(c255, s)));
  return Shr8(Mul(d, Sub16(c255, t)));
})
VM_KERNEL(Screen, Keep::kNone, false, { return Sub16(Add16(d, s), Shr8(Mul(s, d))); })
VM_KERNEL(ScreenOpacity, Keep::kNone, false, {
  const __m128i t = Shr8(Mul(ov, s));
  return Sub16(Add16(d, t), Shr8(Mul(t, d)));
})
// Colour key.
VM_KERNEL(ColorKey, Keep::kKeyed, false, { return s; })
VM_KERNEL(ColorKeyOpacity, Keep::kKeyed, false, { return Lerp16(d, s, ov); })
#undef VM_KERNEL

// A copy whose rows follow each other without gaps in both surfaces is one
// block: a single large copy lets the C library stream it past the caches.
// False when the rows are not laid out that way (nothing copied then).
bool CopyBlock(ISurface* dst, ISurface* src, const CBlitRect& rect) {
  const size_t rowBytes = size_t(rect.width) * 4;
  if (size_t(src->GetPitch()) != rowBytes || size_t(dst->GetPitch()) != rowBytes) return false;
  const uint8_t* s = src->GetLine(rect.srcY);
  uint8_t* d = dst->GetLine(rect.dstY);
  const uint8_t* sLast = src->GetLine(rect.srcY + rect.height - 1);
  const uint8_t* dLast = dst->GetLine(rect.dstY + rect.height - 1);
  if (!s || !d || !sLast || !dLast) return false;
  const size_t span = rowBytes * size_t(rect.height - 1);
  if (sLast != s + span || dLast != d + span) return false;
  std::memmove(d, s, span + rowBytes);
  return true;
}

}  // namespace

BlendRowFn GetBlendRow(int mode, int format, bool opaque) {
  if (format != ISurface::PIXEL_BITS_32 && format != ISurface::PIXEL_BITS_32A) return nullptr;
  const bool alpha = format == ISurface::PIXEL_BITS_32A;
  switch (mode) {
    case 1: return alpha ? (opaque ? AddAlpha : AddAlphaOpacity) : (opaque ? Add : AddOpacity);
    case 2: return alpha ? (opaque ? MultiplyAlpha : MultiplyAlphaOpacity) : (opaque ? Multiply : MultiplyOpacity);
    case 3: return opaque ? ColorKey : ColorKeyOpacity;
    case 4: return alpha ? (opaque ? ScreenAlpha : ScreenAlphaOpacity) : (opaque ? Screen : ScreenOpacity);
    default:  // 0 and unknown modes blend as normal
      return alpha ? (opaque ? NormalAlpha : NormalAlphaOpacity) : (opaque ? CopyRow : NormalOpacity);
  }
}

bool BlendBlit(ISurface* dst, ISurface* src, const CBlitRect& rect, int mode, int format, int opacity,
               uint32_t colorKey) {
  if (!dst || !src || !rect.nonEmpty || rect.width <= 0 || rect.height <= 0) return true;
  // An 8-bit source is never read as 32-bit pixels, whatever format the
  // caller declares for it.
  if (dst->GetBytesPerPixel() != 4 || src->GetBytesPerPixel() != 4) return true;
  if (rect.srcX < 0 || rect.srcY < 0 || rect.dstX < 0 || rect.dstY < 0) return true;
  if (int64_t(rect.srcX) + rect.width > src->GetWidth() || int64_t(rect.srcY) + rect.height > src->GetHeight() ||
      int64_t(rect.dstX) + rect.width > dst->GetWidth() || int64_t(rect.dstY) + rect.height > dst->GetHeight())
    return true;
  // Nothing shows at zero opacity (the multiply formula would still darken);
  // above 255 the formulas would overflow their bytes.
  if (opacity <= 0) return true;
  if (opacity > 255) opacity = 255;
  const BlendRowFn row = GetBlendRow(mode, format, opacity == 255);
  if (!row) return true;

  src->Lock();
  dst->Lock();
  if (row == CopyRow && CopyBlock(dst, src, rect)) {
    dst->Unlock();
    src->Unlock();
    return false;
  }
  bool drew = false;
  for (int i = 0; i < rect.height; ++i) {
    const uint8_t* s = src->GetLine(rect.srcY + i);
    uint8_t* d = dst->GetLine(rect.dstY + i);
    if (!s || !d) break;
    row(d + 4 * size_t(rect.dstX), s + 4 * size_t(rect.srcX), rect.width, opacity, colorKey);
    drew = true;
  }
  dst->Unlock();
  src->Unlock();
  return !drew;
}
