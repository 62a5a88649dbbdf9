#include "scene/Layer.h"

#include <cmath>
#include <cstring>

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
  m.Translate(float(-p.GetAnchorX()), float(-p.GetAnchorY()));
}
}  // namespace

int EffectiveOpacity(int alpha, const CParentChain& parents) {
  if (parents.empty()) return alpha;
  double o = alpha;
  for (const ILayerProperty* parent : parents)
    if (parent) o *= double(parent->GetAlpha()) / 255.0;
  return int(std::floor(o + 0.5));
}

CLayer::~CLayer() = default;

int CLayer::GetWidth() const {
  if (!m_surface) return 0;
  return m_sourceRect.GetWidth() != 0 ? m_sourceRect.GetWidth() : m_surface->GetWidth();
}

int CLayer::GetHeight() const {
  if (!m_surface) return 0;
  return m_sourceRect.GetHeight() != 0 ? m_sourceRect.GetHeight() : m_surface->GetHeight();
}

int CLayer::GetRight() const { return m_surface ? GetX() + GetWidth() - 1 : 0; }
int CLayer::GetBottom() const { return m_surface ? GetY() + GetHeight() - 1 : 0; }

void CLayer::ReleaseImage() {
  m_ownedImage.reset();
  m_image = nullptr;
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
  // Points that map outside the image read as 0 (fully transparent).
  if (!(u >= 0.0f && v >= 0.0f) || u >= float(m_surface->GetWidth()) || v >= float(m_surface->GetHeight())) return 0;
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

void CLayer::PrepareWithParents(bool smooth, const CParentChain& parents) {
  if (!m_surface || GetXScale() <= 0 || GetYScale() <= 0 || GetAlpha() <= 0 || !GetVisible()) return;
  UpdateMatrix(parents);
  // Placement without scaling or rotation: the image's top-left corner goes
  // where the matrix puts it.
  m_bounds = CRect(int(m_matrix.tx), int(m_matrix.ty), m_surface->GetWidth(), m_surface->GetHeight());

  if (!m_mask) {
    ReleaseImage();
    m_image = m_surface;
    return;
  }
  if (m_ownedImage && !(GetDirtyFlags() & (kDirtyImage | kDirtySourceRect))) return;

  // With a mask the layer draws a copy whose alpha is multiplied by it.
  ReleaseImage();
  auto copy = std::make_unique<CSurface>();
  const int width = m_surface->GetWidth();
  const int height = m_surface->GetHeight();
  if (copy->Create(width, height, m_surface->GetFormat())) return;
  m_surface->Lock();
  m_mask->Lock();
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = m_surface->GetLine(y);
    const uint8_t* m = m_mask->GetLine(y);
    uint8_t* d = copy->GetLine(y);
    if (!s || !m || !d) break;
    for (int x = 0; x < width; ++x) {
      std::memcpy(d + 4 * x, s + 4 * x, 4);
      d[4 * x + 3] = uint8_t((s[4 * x + 3] * (m[x] + 1)) >> 8);
    }
  }
  m_mask->Unlock();
  m_surface->Unlock();
  m_image = copy.get();
  m_ownedImage = std::move(copy);
}

void CLayer::Draw(ISurface* target) {
  CParentChain none;
  DrawWithParents(target, none);
}

void CLayer::DrawWithParents(ISurface* target, CParentChain& parents) {
  if (!m_surface || GetXScale() < 1 || GetYScale() < 1 || GetAlpha() < 1 || !GetVisible()) return;
  PrepareWithParents(true, parents);
  if (!target || !m_image) return;

  // The source rectangle, when set, is the part of the image shown at the
  // layer's position.
  CRect source = m_bounds;
  CRect sourceClip;
  const CRect* clip = nullptr;
  if (m_sourceRect.GetWidth() != 0 || m_sourceRect.GetHeight() != 0) {
    source = CRect(m_bounds.GetX() - m_sourceRect.GetX(), m_bounds.GetY() - m_sourceRect.GetY(), m_bounds.GetWidth(),
                   m_bounds.GetHeight());
    sourceClip = CRect(m_bounds.GetX(), m_bounds.GetY(), GetWidth(), GetHeight());
    clip = &sourceClip;
  }
  const CRect screen(0, 0, target->GetWidth(), target->GetHeight());
  const CBlitRect blit = ClipBlit(source, screen, clip, nullptr);
  if (blit.nonEmpty) {
    const int format = m_mask ? int(ISurface::PIXEL_BITS_32A) : m_surface->GetFormat();
    BlendBlit(target, m_image, blit, GetLayerMode(), format, EffectiveOpacity(GetAlpha(), parents), m_colorKey);
  }
  SetDirtyFlags(0);
}
