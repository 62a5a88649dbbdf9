#include "scene/Layer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

#include "core/FrameStats.h"
#include "graphics/Blend.h"
#include "graphics/Surface.h"

namespace {
constexpr float kPi = 3.1415927f;

// The six steps one property block adds to a layer matrix.
void ApplyBlock(CMatrix2D& m, const ILayerProperty& p) {
  m.Translate(float(p.GetX()), float(p.GetY()));
  m.Translate(float(p.GetAnchorX()), float(p.GetAnchorY()));
  m.Rotate(float(p.GetRotate()) / 180.0f * kPi);
  m.Scale(float(p.GetXScale()) / 65536.0f, float(p.GetYScale()) / 65536.0f);
  if (p.GetFlipX()) m.Scale(-1.0f, 1.0f);
  if (p.GetFlipY()) m.Scale(1.0f, -1.0f);
  m.Translate(-float(p.GetAnchorX()), -float(p.GetAnchorY()));
}
}  // namespace

int EffectiveOpacity(int alpha, const CParentChain& parents) {
  if (parents.empty()) return alpha;
  double o = alpha;
  for (const ILayerProperty* parent : parents)
    if (parent) o *= double(parent->GetAlpha()) / 255.0;
  o = std::floor(o + 0.5);
  // Alphas far outside 0..255 would leave int; the kernels clamp anyway.
  if (!(o > -2147483648.0)) return INT32_MIN;
  if (o > 2147483647.0) return INT32_MAX;
  return int(o);
}

bool CLayer::s_referenceKernels = false;
bool CLayer::s_wideKernels = true;

CLayer::CLayer() = default;
CLayer::~CLayer() = default;

int CLayer::GetWidth() const {
  if (!m_surface) return 0;
  return m_sourceRect.GetWidth() != 0 ? m_sourceRect.GetWidth() : m_surface->GetWidth();
}

int CLayer::GetHeight() const {
  if (!m_surface) return 0;
  return m_sourceRect.GetHeight() != 0 ? m_sourceRect.GetHeight() : m_surface->GetHeight();
}

// Wrapping as 32-bit arithmetic does, rather than overflowing.
int CLayer::GetRight() const { return m_surface ? int32_t(int64_t(GetX()) + GetWidth() - 1) : 0; }
int CLayer::GetBottom() const { return m_surface ? int32_t(int64_t(GetY()) + GetHeight() - 1) : 0; }

void CLayer::ReleaseImage() {
  m_ownedImage.reset();
  m_image = nullptr;
  m_spans.clear();
}

void CLayer::SetSurface(ISurface* surface) {
  ReleaseImage();
  MarkDirty(kDirtyImage);
  m_surface = surface;
  m_mask = nullptr;
}

void CLayer::SetMask(ISurface* mask) {
  if (mask) {
    if (!m_surface) return;
    const int format = m_surface->GetFormat();
    if (format != ISurface::PIXEL_BITS_32 && format != ISurface::PIXEL_BITS_32A) return;
    if (mask->GetFormat() != ISurface::PIXEL_BITS_8 || mask->GetWidth() != m_surface->GetWidth() ||
        mask->GetHeight() != m_surface->GetHeight())
      return;
  }
  m_mask = mask;
  MarkDirty(kDirtyImage);
}

void CLayer::SetColorKey(uint32_t key) {
  if (key == m_colorKey) return;
  m_colorKey = key;
  MarkDirty(kDirtyColorKey);
}

void CLayer::SetSourceRect(const IRect& rect) {
  if (m_sourceRect.Equals(rect) && m_sourceRect.GetWidth() == rect.GetWidth() &&
      m_sourceRect.GetHeight() == rect.GetHeight())
    return;
  MarkDirty(kDirtySourceRect);
  m_sourceRect.CopyFrom(rect);
}

void CLayer::UpdateMatrix(const CParentChain& parents) {
  CMatrix2D m;
  for (const ILayerProperty* parent : parents)
    if (parent) ApplyBlock(m, *parent);
  ApplyBlock(m, *this);
  m_matrix = m;
}

uint32_t CLayer::GetPixel(const IPoint& point) {
  if (!m_surface || GetXScale() < 1 || GetYScale() < 1) return 0;
  CMatrix2D inverse = m_matrix;
  inverse.Invert();
  float u = 0, v = 0;
  inverse.Transform(float(point.GetX()), float(point.GetY()), u, v);
  // The pixel at trunc(u), trunc(v), truncated toward zero: a point a
  // fraction left of or above the image still reads its first column or row.
  // Points that map outside it read as 0 (fully transparent).
  if (!(u > -1.0f && v > -1.0f) || u >= float(m_surface->GetWidth()) || v >= float(m_surface->GetHeight())) return 0;
  const int col = int(u);
  const int row = int(v);
  const int bytes = m_surface->GetBytesPerPixel();
  uint32_t value = 0;
  m_surface->Lock();
  if (const uint8_t* line = m_surface->GetLine(row)) {
    uint8_t pixel[4] = {0, 0, 0, 0};
    std::memcpy(pixel, line + size_t(col) * size_t(bytes), size_t(bytes));
    value = uint32_t(pixel[0]) | uint32_t(pixel[1]) << 8 | uint32_t(pixel[2]) << 16 | uint32_t(pixel[3]) << 24;
  }
  m_surface->Unlock();
  return value;
}

void CLayer::Prepare(bool smooth) { PrepareWithParents(smooth, CParentChain()); }

CRect CLayer::SourceArea() const {
  if (m_sourceRect.GetWidth() != 0 && m_sourceRect.GetHeight() != 0) return m_sourceRect;
  return CRect(0, 0, m_surface->GetWidth(), m_surface->GetHeight());
}

namespace {

bool IsTransformed(const ILayerProperty& p) {
  return p.GetXScale() != kScaleOne || p.GetYScale() != kScaleOne || p.GetRotate() != 0 || p.GetFlipX() || p.GetFlipY();
}

// Truncation toward zero of a float that must fit int32; false when it
// does not (or is not a number).
bool TruncInt32(float v, int32_t& out) {
  if (!(v > -2147483648.0f && v < 2147483648.0f)) return false;
  out = int32_t(v);
  return true;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

// Narrows [lo, hi) to the i for which low <= start + i * step <= high.
void NarrowSpan(int64_t start, int64_t step, int64_t low, int64_t high, int64_t& lo, int64_t& hi) {
  if (step == 0) {
    if (start < low || start > high) hi = lo;
    return;
  }
  int64_t first, last;
  if (step > 0) {
    first = CeilDiv(low - start, step);
    last = FloorDiv(high - start, step);
  } else {
    first = CeilDiv(high - start, step);
    last = FloorDiv(low - start, step);
  }
  lo = std::max(lo, first);
  hi = std::min(hi, last + 1);
  if (hi < lo) hi = lo;
}

// What one resampled row reads: the surface's and the mask's rows, the
// source area's corner and the end of its inside part.
// Weights of every horizontal fraction for one vertical fraction, laid out
// for the SSE2 sampler: (w00 x4, w10 x4) and (w01 x4, w11 x4) per fraction.
struct CWeightTable {
  int fy = -1;
  alignas(16) int16_t w[256][16];
};

// The tables of the last few vertical fractions: a scale walks the same
// few fractions row after row (two at 200 %), so each is built once.
struct CWeightTables {
  static constexpr int kSlots = 4;
  CWeightTable slot[kSlots];
  int next = 0;
  const CWeightTable& For(int fy) {
    for (const CWeightTable& t : slot)
      if (t.fy == fy) return t;
    CWeightTable& t = slot[next];
    next = (next + 1) % kSlots;
    for (int fx = 0; fx < 256; ++fx) {
      const int w00 = (((255 - fx) * (256 - fy)) >> 8) + 1, w10 = ((fx * (256 - fy)) >> 8) + 1;
      const int w01 = (((255 - fx) * (fy + 1)) >> 8) + 1, w11 = ((fx * (fy + 1)) >> 8) + 1;
      for (int c = 0; c < 4; ++c) {
        t.w[fx][c] = int16_t(w00);
        t.w[fx][4 + c] = int16_t(w10);
        t.w[fx][8 + c] = int16_t(w01);
        t.w[fx][12 + c] = int16_t(w11);
      }
    }
    t.fy = fy;
    return t;
  }
};

struct CRowWalk {
  const uint8_t* const* rows;
  const uint8_t* const* maskRows;
  int areaX, areaY;
  int64_t xMax, yMax;
  bool smooth;
  CWeightTables* tables;
};

// Bilinear weights of a 16.16 position's fractions (each +1, so that no
// weight is ever 0).
struct CWeights {
  int w00, w10, w01, w11;
  CWeights(int32_t sx, int32_t sy) {
    const int fx = (sx >> 8) & 255, fy = (sy >> 8) & 255;
    w00 = (((255 - fx) * (256 - fy)) >> 8) + 1;
    w10 = ((fx * (256 - fy)) >> 8) + 1;
    w01 = (((255 - fx) * (fy + 1)) >> 8) + 1;
    w11 = ((fx * (fy + 1)) >> 8) + 1;
  }
};

// Destination pixels [lo, hi) of one row, the first at the 16.16 source
// position (sx, sy) in area coordinates, every one inside the area.
template <int kBpp, bool kMasked>
void WalkRow(const CRowWalk& w, uint8_t* out, int lo, int hi, int32_t sx, int32_t sy, int32_t colX, int32_t colY) {
  // An empty row's start lies outside the area: nothing may be read there.
  if (lo >= hi) return;
  // A row walked one source pixel per pixel at whole positions samples
  // every pixel with weights (256, 1, 1, 1), which give back p00 exactly:
  // a plain copy. Untransformed masked layers always walk this way.
  if (colX == 65536 && colY == 0 && ((sx >> 8) & 255) == 0 && ((sy >> 8) & 255) == 0) {
    const int px = w.areaX + (sx >> 16), py = w.areaY + (sy >> 16);
    const size_t n = size_t(hi - lo);
    uint8_t* d = out + size_t(lo) * kBpp;
    std::memcpy(d, w.rows[py] + size_t(px) * kBpp, n * kBpp);
    if (kMasked) {
      const uint8_t* m = w.maskRows[py] + px;
      size_t i = 0;
#if defined(__SSE2__)
      // Four alphas at a time in 32-bit lanes; a * (m + 1) fits 16 bits.
      const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi32(1);
      const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
      for (; i + 4 <= n; i += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 4 * i));
        int32_t bytes;
        std::memcpy(&bytes, m + i, 4);
        const __m128i mv =
            _mm_add_epi32(_mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero), one);
        const __m128i a = _mm_srli_epi32(_mm_mullo_epi16(_mm_srli_epi32(p, 24), mv), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * i),
                         _mm_or_si128(_mm_and_si128(p, colour), _mm_slli_epi32(a, 24)));
      }
#endif
      for (; i < n; ++i) d[4 * i + 3] = uint8_t((d[4 * i + 3] * (m[i] + 1)) >> 8);
    }
    return;
  }
#if defined(__SSE2__)
  // Rows that stay on one source row (no turn) share the vertical fraction:
  // the weights come from a table instead of being worked out per pixel.
  if constexpr (kBpp == 4 && !kMasked) {
    const int iy = sy >> 16;
    if (colY == 0 && w.smooth && iy + 1 < w.yMax && w.tables) {
      const CWeightTable& table = w.tables->For((sy >> 8) & 255);
      const uint8_t* r0 = w.rows[w.areaY + iy];
      const uint8_t* r1 = w.rows[w.areaY + iy + 1];
      const __m128i zero = _mm_setzero_si128();
      const auto load2 = [&](const uint8_t* row, size_t a, size_t b) {
        return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + a)),
                                  _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + b)));
      };
      // (p << 8) * k >> 16 is (p * k) >> 8: one multiply instead of a
      // multiply and a shift, the same bytes.
      const auto weigh = [](__m128i p8, const int16_t* k) {
        return _mm_mulhi_epu16(p8, _mm_load_si128(reinterpret_cast<const __m128i*>(k)));
      };
      int i = lo;
      // Two pixels at a time while both have a right neighbour.
      for (; i + 1 < hi; i += 2, sx += 2 * colX) {
        const int32_t sx1 = sx + colX;
        const int ix0 = sx >> 16, ix1 = sx1 >> 16;
        if (ix0 + 1 >= w.xMax || ix1 + 1 >= w.xMax) break;
        const size_t p0 = size_t(w.areaX + ix0) * 4, p1 = size_t(w.areaX + ix1) * 4;
        const int16_t* k0 = table.w[(sx >> 8) & 255];
        const int16_t* k1 = table.w[(sx1 >> 8) & 255];
        const __m128i top = load2(r0, p0, p1), bottom = load2(r1, p0, p1);
        const __m128i a =
            _mm_add_epi16(weigh(_mm_unpacklo_epi8(zero, top), k0), weigh(_mm_unpacklo_epi8(zero, bottom), k0 + 8));
        const __m128i b =
            _mm_add_epi16(weigh(_mm_unpackhi_epi8(zero, top), k1), weigh(_mm_unpackhi_epi8(zero, bottom), k1 + 8));
        const __m128i sum = _mm_add_epi16(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + size_t(i) * 4), _mm_packus_epi16(sum, zero));
      }
      for (; i < hi; ++i, sx += colX) {
        const int ix = sx >> 16;
        const size_t px = size_t(w.areaX + ix) * 4;
        uint8_t* d = out + size_t(i) * 4;
        if (ix + 1 >= w.xMax) {
          std::memcpy(d, r0 + px, 4);
          continue;
        }
        const int16_t* k = table.w[(sx >> 8) & 255];
        const __m128i top = _mm_unpacklo_epi8(zero, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(r0 + px)));
        const __m128i bottom = _mm_unpacklo_epi8(zero, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(r1 + px)));
        __m128i sum = _mm_add_epi16(weigh(top, k), weigh(bottom, k + 8));
        sum = _mm_add_epi16(sum, _mm_srli_si128(sum, 8));
        const int32_t packed = _mm_cvtsi128_si32(_mm_packus_epi16(sum, zero));
        std::memcpy(d, &packed, 4);
      }
      return;
    }
  }
#endif
  for (int i = lo; i < hi; ++i, sx += colX, sy += colY) {
    const int ix = sx >> 16, iy = sy >> 16;
    const int px = w.areaX + ix, py = w.areaY + iy;
    uint8_t* d = out + size_t(i) * kBpp;
    const uint8_t* p00 = w.rows[py] + size_t(px) * kBpp;
    if (w.smooth && ix + 1 < w.xMax && iy + 1 < w.yMax) {
      const CWeights k(sx, sy);
      const uint8_t* p01 = w.rows[py + 1] + size_t(px) * kBpp;
#if defined(__SSE2__)
      if constexpr (kBpp == 4) {
        // Each product fits 16 unsigned bits (255 * 256) and so does the
        // sum of the four shifted products, which never passes 255: the
        // same bytes as the scalar formula.
        const __m128i zero = _mm_setzero_si128();
        const __m128i top = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p00)), zero);
        const __m128i bottom = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p01)), zero);
        const __m128i wt = _mm_set_epi16(int16_t(k.w10), int16_t(k.w10), int16_t(k.w10), int16_t(k.w10), int16_t(k.w00),
                                         int16_t(k.w00), int16_t(k.w00), int16_t(k.w00));
        const __m128i wb = _mm_set_epi16(int16_t(k.w11), int16_t(k.w11), int16_t(k.w11), int16_t(k.w11), int16_t(k.w01),
                                         int16_t(k.w01), int16_t(k.w01), int16_t(k.w01));
        __m128i sum =
            _mm_add_epi16(_mm_srli_epi16(_mm_mullo_epi16(top, wt), 8), _mm_srli_epi16(_mm_mullo_epi16(bottom, wb), 8));
        sum = _mm_add_epi16(sum, _mm_srli_si128(sum, 8));
        const int32_t packed = _mm_cvtsi128_si32(_mm_packus_epi16(sum, zero));
        std::memcpy(d, &packed, 4);
      } else
#endif
      {
        const uint8_t* p10 = p00 + kBpp;
        const uint8_t* p11 = p01 + kBpp;
        for (int c = 0; c < kBpp; ++c)
          d[c] = uint8_t(((p00[c] * k.w00) >> 8) + ((p10[c] * k.w10) >> 8) + ((p01[c] * k.w01) >> 8) +
                         ((p11[c] * k.w11) >> 8));
      }
      if (kMasked) {
        const uint8_t* m0 = w.maskRows[py] + px;
        const uint8_t* m1 = w.maskRows[py + 1] + px;
        const int m = ((m0[0] * k.w00) >> 8) + ((m0[1] * k.w10) >> 8) + ((m1[0] * k.w01) >> 8) + ((m1[1] * k.w11) >> 8);
        d[3] = uint8_t((d[3] * (m + 1)) >> 8);
      }
    } else {
      std::memcpy(d, p00, kBpp);
      if (kMasked) d[3] = uint8_t((d[3] * (w.maskRows[py][px] + 1)) >> 8);
    }
  }
}

// A walk without a turn (scales and flips only) reads the same source
// columns with the same horizontal fractions on every row: they are worked
// out once per resampling instead of once per pixel.
struct CColumns {
  int lo = 0, hi = 0;              // destination columns inside the area
  int smoothLo = 0, smoothHi = 0;  // those that have a right neighbour
  std::vector<size_t> offset;      // byte offset of the left source pixel
  std::vector<int16_t> frac;       // (255 - fx, fx, 255 - fx, fx) each

  // Columns [lo, hi) of rows starting at the 16.16 position sx.
  void Build(int64_t sx, int32_t colX, int areaX, int64_t xMax, int first, int last) {
    lo = first;
    hi = last;
    smoothLo = smoothHi = lo;
    const size_t n = size_t(hi - lo);
    offset.resize(n);
    frac.resize(4 * n);
    bool seen = false;
    for (int i = lo; i < hi; ++i) {
      const int64_t x = sx + int64_t(i) * colX;
      const int ix = int(x >> 16), f = int((x >> 8) & 255);
      const size_t k = size_t(i - lo);
      offset[k] = size_t(areaX + ix) * 4;
      frac[4 * k] = frac[4 * k + 2] = int16_t(255 - f);
      frac[4 * k + 1] = frac[4 * k + 3] = int16_t(f);
      // The source column moves one way only, so the columns with a right
      // neighbour form one run.
      if (ix + 1 < xMax) {
        if (!seen) smoothLo = i;
        seen = true;
        smoothHi = i + 1;
      }
    }
  }
};

// Bilinear weights (w00, w10, w01, w11) of one column's fractions for the
// vertical fraction fy: the same values as CWeights.
inline void ColumnWeights(const int16_t* f, int fy, int w[4]) {
  w[0] = ((f[0] * (256 - fy)) >> 8) + 1;
  w[1] = ((f[1] * (256 - fy)) >> 8) + 1;
  w[2] = ((f[2] * (fy + 1)) >> 8) + 1;
  w[3] = ((f[3] * (fy + 1)) >> 8) + 1;
}

// Columns [from, to) of a row between source rows r0 and r1, one pixel at
// a time.
void ColumnRowScalar(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const CColumns& c, int from, int to, int fy) {
  for (int i = from; i < to; ++i) {
    const size_t k = size_t(i - c.lo), px = c.offset[k];
    int w[4];
    ColumnWeights(&c.frac[4 * k], fy, w);
    uint8_t* d = out + size_t(i) * 4;
    for (int ch = 0; ch < 4; ++ch)
      d[ch] = uint8_t(((r0[px + ch] * w[0]) >> 8) + ((r0[px + 4 + ch] * w[1]) >> 8) + ((r1[px + ch] * w[2]) >> 8) +
                      ((r1[px + 4 + ch] * w[3]) >> 8));
  }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELMIRA_WIDE_KERNELS 1

#define VELMIRA_AVX2 __attribute__((target("avx2")))

// A pixel and its right neighbour for columns k..k+3: (k, k+1) in the low
// lane, (k+2, k+3) in the high one.
VELMIRA_AVX2 inline __m256i PixelPairs(const uint8_t* row, const size_t* o) {
  const __m128i a =
      _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + o[0]))),
                                    reinterpret_cast<const double*>(row + o[1])));
  const __m128i b =
      _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + o[2]))),
                                    reinterpret_cast<const double*>(row + o[3])));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}

// Pixels k..k+3 as 16-bit channels, (k, k+1) in the low lane and (k+2,
// k+3) in the high one; v holds (256 - fy, 256 - fy, fy + 1, fy + 1).
VELMIRA_AVX2 inline __m256i FourPixels(const uint8_t* r0, const uint8_t* r1, const CColumns& c, size_t k, __m256i v) {
  const __m256i zero = _mm256_setzero_si256();
  // Within each 128-bit lane the weights are (w00, w10, w01, w11) of two
  // columns; these spread one column's pair over the four channels.
  const __m256i topFirst =
      _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3, 0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3);
  const __m256i bottomFirst =
      _mm256_setr_epi8(4, 5, 4, 5, 4, 5, 4, 5, 6, 7, 6, 7, 6, 7, 6, 7, 4, 5, 4, 5, 4, 5, 4, 5, 6, 7, 6, 7, 6, 7, 6, 7);
  const __m256i topSecond = _mm256_setr_epi8(8, 9, 8, 9, 8, 9, 8, 9, 10, 11, 10, 11, 10, 11, 10, 11, 8, 9, 8, 9, 8, 9,
                                             8, 9, 10, 11, 10, 11, 10, 11, 10, 11);
  const __m256i bottomSecond = _mm256_setr_epi8(12, 13, 12, 13, 12, 13, 12, 13, 14, 15, 14, 15, 14, 15, 14, 15, 12, 13,
                                                12, 13, 12, 13, 12, 13, 14, 15, 14, 15, 14, 15, 14, 15);
  const __m256i w = _mm256_add_epi16(
      _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(&c.frac[4 * k])), v), 8),
      _mm256_set1_epi16(1));
  const __m256i top = PixelPairs(r0, &c.offset[k]), bottom = PixelPairs(r1, &c.offset[k]);
  const __m256i first =
      _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, top), _mm256_shuffle_epi8(w, topFirst)),
                       _mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, bottom), _mm256_shuffle_epi8(w, bottomFirst)));
  const __m256i second =
      _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, top), _mm256_shuffle_epi8(w, topSecond)),
                       _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, bottom), _mm256_shuffle_epi8(w, bottomSecond)));
  return _mm256_add_epi16(_mm256_unpacklo_epi64(first, second), _mm256_unpackhi_epi64(first, second));
}

// Eight pixels at a time in 16-bit lanes, the same integer steps as the
// scalar formula: (p << 8) * w >> 16 is (p * w) >> 8, the weights
// (f * (256 - fy)) >> 8 + 1 are formed as such (the products fit 16
// unsigned bits), and the sum of the four terms never passes 255, so the
// saturating pack keeps every byte.
VELMIRA_AVX2 void ColumnRowAvx2(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const CColumns& c, int fy) {
  const uint64_t vy = uint64_t(256 - fy) | uint64_t(256 - fy) << 16 | uint64_t(fy + 1) << 32 | uint64_t(fy + 1) << 48;
  const __m256i v = _mm256_set1_epi64x(int64_t(vy));
  int i = c.smoothLo;
  for (; i + 8 <= c.smoothHi; i += 8) {
    const size_t k = size_t(i - c.lo);
    // Packing leaves the quarters as (k, k+1), (k+4, k+5), (k+2, k+3),
    // (k+6, k+7).
    const __m256i packed = _mm256_packus_epi16(FourPixels(r0, r1, c, k, v), FourPixels(r0, r1, c, k + 4, v));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + size_t(i) * 4),
                        _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
  }
  ColumnRowScalar(out, r0, r1, c, i, c.smoothHi, fy);
}

bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();  // a layer may be drawn before static constructors ran
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

// Whether the wide kernels may run: on by default where the processor has
// them.
bool WideKernels(bool allowed) {
#if defined(VELMIRA_WIDE_KERNELS)
  return allowed && HasAvx2();
#else
  (void)allowed;
  return false;
#endif
}

// One destination row of an axis-aligned walk between source rows r0 and
// r1 (r1 null on the last source row, which is sampled nearest). Only with
// the wide kernels: the narrower ones walk the row as any other.
void ColumnRow(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const CColumns& c, int fy) {
  const auto nearest = [&](int from, int to) {
    for (int i = from; i < to; ++i) std::memcpy(out + size_t(i) * 4, r0 + c.offset[size_t(i - c.lo)], 4);
  };
  if (!r1) {
    nearest(c.lo, c.hi);
    return;
  }
  nearest(c.lo, c.smoothLo);
  nearest(c.smoothHi, c.hi);
#if defined(VELMIRA_WIDE_KERNELS)
  ColumnRowAvx2(out, r0, r1, c, fy);
#else
  ColumnRowScalar(out, r0, r1, c, c.smoothLo, c.smoothHi, fy);
#endif
}

}  // namespace

void CLayer::PrepareWithParents(bool smooth, const CParentChain& parents) {
  if (!m_surface || GetXScale() <= 0 || GetYScale() <= 0 || GetAlpha() <= 0 || !GetVisible()) return;
  int flags = GetDirtyFlags();
  bool transformed = IsTransformed(*this);
  for (const ILayerProperty* parent : parents) {
    if (!parent) continue;
    flags |= parent->GetDrawFlags();
    if (!transformed) transformed = IsTransformed(*parent);
  }
  if (!transformed && m_mask) {
    transformed = true;
    smooth = false;
  }

  // The part to resample depends on where the target is; a cached image
  // stays valid only while that part is the same.
  const auto regionFor = [&](CRect& region) {
    if (!m_clip) {
      region = CRect(0, 0, m_bounds.GetWidth(), m_bounds.GetHeight());
      return true;
    }
    const int64_t left = std::max<int64_t>(m_bounds.GetX(), m_clip->GetX());
    const int64_t top = std::max<int64_t>(m_bounds.GetY(), m_clip->GetY());
    const int64_t right =
        std::min<int64_t>(int64_t(m_bounds.GetX()) + m_bounds.GetWidth(), int64_t(m_clip->GetX()) + m_clip->GetWidth());
    const int64_t bottom = std::min<int64_t>(int64_t(m_bounds.GetY()) + m_bounds.GetHeight(),
                                             int64_t(m_clip->GetY()) + m_clip->GetHeight());
    if (right <= left || bottom <= top) return false;
    region = CRect(int(left - m_bounds.GetX()), int(top - m_bounds.GetY()), int(right - left), int(bottom - top));
    return true;
  };
  const auto sameRegion = [&](const CRect& region) {
    return m_hasRegion && m_region.GetX() == region.GetX() && m_region.GetY() == region.GetY() &&
           m_region.GetWidth() == region.GetWidth() && m_region.GetHeight() == region.GetHeight();
  };

  if (flags == 0) {
    if (!transformed) return;
    CRect region;
    if (m_image && regionFor(region) && sameRegion(region)) return;
    if (!m_image && !m_hasRegion) return;  // nothing drew last time either
  }

  UpdateMatrix(parents);
  const CRect area = SourceArea();
  const float w = float(area.GetWidth()), h = float(area.GetHeight());
  float xs[4], ys[4];
  m_matrix.Transform(0, 0, xs[0], ys[0]);
  m_matrix.Transform(w, 0, xs[1], ys[1]);
  m_matrix.Transform(0, h, xs[2], ys[2]);
  m_matrix.Transform(w, h, xs[3], ys[3]);
  const float minX = std::min({xs[0], xs[1], xs[2], xs[3]}), maxX = std::max({xs[0], xs[1], xs[2], xs[3]});
  const float minY = std::min({ys[0], ys[1], ys[2], ys[3]}), maxY = std::max({ys[0], ys[1], ys[2], ys[3]});
  int32_t left, top, right, bottom;
  // Values beyond int32 (extreme scales) or an empty rectangle draw nothing.
  if (!TruncInt32(minX, left) || !TruncInt32(minY, top) || !TruncInt32(maxX - 1, right) ||
      !TruncInt32(maxY - 1, bottom) || int64_t(right) - left + 1 > INT32_MAX || int64_t(bottom) - top + 1 > INT32_MAX ||
      right < left || bottom < top) {
    ReleaseImage();
    m_hasRegion = false;
    m_bounds = CRect();
    return;
  }
  m_bounds.SetLeft(left, false);
  m_bounds.SetTop(top, false);
  m_bounds.SetRight(right, false);
  m_bounds.SetBottom(bottom, false);

  if (!transformed) {
    ReleaseImage();
    m_hasRegion = false;
    m_image = m_surface;
    return;
  }

  CRect region;
  if (!regionFor(region)) {
    // Entirely outside the target: nothing to resample until it moves in.
    ReleaseImage();
    m_hasRegion = false;
    return;
  }
  if (!(flags & (kDirtyImage | kDirtyTransform | kDirtySourceRect)) && m_image && sameRegion(region)) return;

  ReleaseImage();
  m_region = region;
  m_hasRegion = true;
  if (!Resample(smooth, minX, minY)) {
    ReleaseImage();
    m_hasRegion = false;
  }
  SetDirtyFlags(0);
}

bool CLayer::Resample(bool smooth, float minX, float minY) {
  CMatrix2D inverse = m_matrix;
  if (inverse.a * inverse.d - inverse.b * inverse.c == 0.0f) return false;
  inverse.Invert();
  float fx = 0, fy = 0;
  inverse.Transform(minX, minY, fx, fy);
  int32_t sx0, sy0, colX, colY, rowX, rowY;
  if (!TruncInt32(fx * 65536.0f, sx0) || !TruncInt32(fy * 65536.0f, sy0) || !TruncInt32(inverse.a * 65536.0f, colX) ||
      !TruncInt32(inverse.c * 65536.0f, colY) || !TruncInt32(inverse.b * 65536.0f, rowX) ||
      !TruncInt32(inverse.d * 65536.0f, rowY))
    return false;

  const int ox = m_region.GetX(), oy = m_region.GetY();
  const int rw = m_region.GetWidth(), rh = m_region.GetHeight();
  // The walk's values at the region's corners bound every value in it (they
  // are affine in the position); all must fit 16.16 in int32.
  const auto at = [&](int64_t i, int64_t j, int64_t start, int64_t col, int64_t row) {
    return start + i * col + j * row;
  };
  for (const int64_t i : {int64_t(ox), int64_t(ox) + rw - 1})
    for (const int64_t j : {int64_t(oy), int64_t(oy) + rh - 1}) {
      const int64_t vx = at(i, j, sx0, colX, rowX), vy = at(i, j, sy0, colY, rowY);
      if (vx < INT32_MIN || vx > INT32_MAX || vy < INT32_MIN || vy > INT32_MAX) return false;
    }

  auto image = std::make_unique<CSurface>();
  if (image->Create(rw, rh, m_surface->GetFormat())) return false;

  // The source area, cut to the surface: positions in area coordinates
  // [xMin, xMax) x [yMin, yMax) are inside.
  const CRect area = SourceArea();
  const int sw = m_surface->GetWidth(), sh = m_surface->GetHeight();
  const int64_t xMin = std::max<int64_t>(0, -int64_t(area.GetX()));
  const int64_t xMax = std::min<int64_t>(area.GetWidth(), int64_t(sw) - area.GetX());
  const int64_t yMin = std::max<int64_t>(0, -int64_t(area.GetY()));
  const int64_t yMax = std::min<int64_t>(area.GetHeight(), int64_t(sh) - area.GetY());

  m_surface->Lock();
  if (m_mask) m_mask->Lock();
  image->Lock();
  const int bpp = m_surface->GetBytesPerPixel();
  std::vector<const uint8_t*> rows(size_t(std::max(0, sh)), nullptr);
  std::vector<const uint8_t*> maskRows(m_mask ? size_t(std::max(0, sh)) : 0, nullptr);
  bool readable = xMax > xMin && yMax > yMin;
  if (m_mask && (m_mask->GetWidth() != sw || m_mask->GetHeight() != sh || m_mask->GetBytesPerPixel() != 1))
    readable = false;
  for (int y = 0; y < sh && readable; ++y) {
    rows[size_t(y)] = m_surface->GetLine(y);
    if (!rows[size_t(y)]) readable = false;
    if (m_mask) {
      maskRows[size_t(y)] = m_mask->GetLine(y);
      if (!maskRows[size_t(y)]) readable = false;
    }
  }
  const int areaX = area.GetX(), areaY = area.GetY();
  const bool masked = m_mask != nullptr;
  // Only the columns the turned or scaled image covers are drawn: the rest
  // of its bounding box leaves the target alone, also for an opaque image
  // (whose corners would otherwise come out as black triangles).
  m_spans.assign(size_t(rh), {0, 0});

  std::unique_ptr<CWeightTables> tables;
  // Default-initialised: the weights are written before they are read.
  if (!s_referenceKernels) tables.reset(new CWeightTables);
  const CRowWalk walk{rows.data(), maskRows.data(), areaX, areaY, xMax, yMax, smooth, tables.get()};
  // A draw that resamples blends each row while it is still in the cache.
  CRowSink* sink = m_sink;
  if (sink) sink->target->Lock();
  const auto walkRow = bpp == 4 ? (masked ? &WalkRow<4, true> : &WalkRow<4, false>) : &WalkRow<1, false>;
  // Without a turn every row starts at the same column position.
  CColumns columns;
  const bool byColumns = readable && !s_referenceKernels && WideKernels(s_wideKernels) && bpp == 4 && !masked &&
                         smooth && colY == 0 && rowX == 0 && rh > 0;
  if (byColumns) {
    const int64_t rsx = at(ox, oy, sx0, colX, rowX);
    int64_t lo = 0, hi = rw;
    NarrowSpan(rsx, colX, xMin << 16, (xMax << 16) - 1, lo, hi);
    columns.Build(rsx, colX, areaX, xMax, int(lo), int(hi));
  }
  for (int j = 0; j < rh; ++j) {
    uint8_t* out = image->GetLine(j);
    if (!out) break;
    if (!readable) {
      std::memset(out, 0, size_t(rw) * size_t(bpp));
      continue;
    }
    const int64_t rsx = at(ox, int64_t(oy) + j, sx0, colX, rowX);
    const int64_t rsy = at(ox, int64_t(oy) + j, sy0, colY, rowY);
    int64_t lo = 0, hi = rw;
    NarrowSpan(rsx, colX, xMin << 16, (xMax << 16) - 1, lo, hi);
    NarrowSpan(rsy, colY, yMin << 16, (yMax << 16) - 1, lo, hi);
    if (hi <= lo) lo = hi = 0;
    m_spans[size_t(j)] = {int32_t(lo), int32_t(hi)};
    std::memset(out, 0, size_t(lo) * size_t(bpp));
    std::memset(out + size_t(hi) * size_t(bpp), 0, size_t(rw - hi) * size_t(bpp));
    if (byColumns && hi > lo && lo == columns.lo && hi == columns.hi) {
      const int iy = int(rsy >> 16);
      const uint8_t* r0 = rows[size_t(areaY + iy)];
      ColumnRow(out, r0, iy + 1 < yMax ? rows[size_t(areaY + iy + 1)] : nullptr, columns, int((rsy >> 8) & 255));
    } else {
      walkRow(walk, out, int(lo), int(hi), int32_t(rsx + lo * colX), int32_t(rsy + lo * colY), colX, colY);
    }
    if (sink) BlendImageRow(*sink, j, out);
  }
  if (sink) {
    sink->target->Unlock();
    sink->done = true;
  }
  image->Unlock();
  if (m_mask) m_mask->Unlock();
  m_surface->Unlock();
  m_image = image.get();
  m_ownedImage = std::move(image);
  ++m_resamples;
  return true;
}

void CLayer::Draw(ISurface* target) {
  CParentChain none;
  DrawWithParents(target, none);
}

void CLayer::DrawWithParents(ISurface* target, CParentChain& parents) {
  if (!m_surface || GetXScale() < 1 || GetYScale() < 1 || GetAlpha() < 1 || !GetVisible()) return;
  const CRect screen = target ? CRect(0, 0, target->GetWidth(), target->GetHeight()) : CRect();
  const int format = m_mask ? int(ISurface::PIXEL_BITS_32A) : m_surface->GetFormat();
  const int opacity = target ? EffectiveOpacity(GetAlpha(), parents) : 0;
  CRowSink sink;
  if (target && !s_referenceKernels && opacity > 0 && target->GetBytesPerPixel() == 4 &&
      m_surface->GetBytesPerPixel() == 4) {
    sink.target = target;
    sink.opacity = std::min(opacity, 255);
    sink.row = GetBlendRow(GetLayerMode(), format, sink.opacity == 255);
  }
  m_clip = target ? &screen : nullptr;
  m_sink = sink.row ? &sink : nullptr;
  PrepareWithParents(true, parents);
  m_sink = nullptr;
  m_clip = nullptr;
  if (target && m_image) framestats::CountLayer();
  if (target && m_image && !sink.done) {
    if (m_image == m_surface)
      DrawStraight(target, format, opacity);
    else
      DrawResampled(target, format, opacity);
  }
  // Cleared after every draw, so that a layer shared by two sets never
  // leaves one of them with a stale cache.
  SetDirtyFlags(0);
}

void CLayer::DrawStraight(ISurface* target, int format, int opacity) {
  // The source area is shown at the bounding rectangle's corner.
  const CRect area = SourceArea();
  const CRect source(m_bounds.GetX() - area.GetX(), m_bounds.GetY() - area.GetY(), m_surface->GetWidth(),
                     m_surface->GetHeight());
  const CRect sourceClip(m_bounds.GetX(), m_bounds.GetY(), area.GetWidth(), area.GetHeight());
  const CRect screen(0, 0, target->GetWidth(), target->GetHeight());
  const CBlitRect blit = ClipBlit(source, screen, &sourceClip, nullptr);
  if (blit.nonEmpty) BlendBlit(target, m_image, blit, GetLayerMode(), format, opacity, m_colorKey);
}

void CLayer::BlendImageRow(const CRowSink& sink, int j, const uint8_t* s) {
  if (size_t(j) >= m_spans.size() || !s) return;
  const int64_t x0 = int64_t(m_bounds.GetX()) + m_region.GetX();
  const int64_t y = int64_t(m_bounds.GetY()) + m_region.GetY() + j;
  if (y < 0 || y >= sink.target->GetHeight()) return;
  // The region was cut to this target, but a draw into a smaller target
  // than the one it was prepared for must still stay inside.
  const int64_t b = std::max<int64_t>(m_spans[size_t(j)].first, -x0);
  const int64_t e = std::min<int64_t>(m_spans[size_t(j)].second, sink.target->GetWidth() - x0);
  if (e <= b) return;
  uint8_t* d = sink.target->GetLine(int(y));
  if (!d) return;
  sink.row(d + 4 * size_t(x0 + b), s + 4 * size_t(b), int(e - b), sink.opacity, m_colorKey);
}

void CLayer::DrawResampled(ISurface* target, int format, int opacity) {
  if (opacity <= 0) return;
  if (opacity > 255) opacity = 255;
  CRowSink sink;
  sink.target = target;
  sink.opacity = opacity;
  sink.row = GetBlendRow(GetLayerMode(), format, opacity == 255);
  if (!sink.row || target->GetBytesPerPixel() != 4 || m_image->GetBytesPerPixel() != 4) return;
  target->Lock();
  m_image->Lock();
  for (int j = 0; j < m_region.GetHeight() && size_t(j) < m_spans.size(); ++j)
    BlendImageRow(sink, j, m_image->GetLine(j));
  m_image->Unlock();
  target->Unlock();
}
