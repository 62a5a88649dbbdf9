#include "core/Geometry.h"

#include <cmath>

namespace {
// Far edge of a span, wrapping like 32-bit arithmetic instead of overflowing.
int32_t Edge(int start, int length) { return int32_t(int64_t(start) + length - 1); }
int32_t Span(int from, int to) { return int32_t(int64_t(to) - from + 1); }
int32_t Start(int end, int length) { return int32_t(int64_t(end) - length + 1); }
}  // namespace

CRect::CRect(int left, int top, int width, int height) {
  m_x = left;
  m_y = top;
  m_width = width;
  m_height = height;
  m_right = Edge(left, width);
  m_bottom = Edge(top, height);
}

void CRect::SetLeft(int value, bool keepSize) {
  m_x = value;
  if (keepSize)
    m_right = Edge(value, m_width);
  else
    m_width = Span(value, m_right);
}

void CRect::SetTop(int value, bool keepSize) {
  m_y = value;
  if (keepSize)
    m_bottom = Edge(value, m_height);
  else
    m_height = Span(value, m_bottom);
}

void CRect::SetRight(int value, bool keepSize) {
  m_right = value;
  if (keepSize)
    m_x = Start(value, m_width);
  else
    m_width = Span(m_x, value);
}

void CRect::SetBottom(int value, bool keepSize) {
  m_bottom = value;
  if (keepSize)
    m_y = Start(value, m_height);
  else
    m_height = Span(m_y, value);
}

void CRect::SetWidth(int width) {
  m_width = width;
  m_right = Edge(m_x, width);
}

void CRect::SetHeight(int height) {
  m_height = height;
  m_bottom = Edge(m_y, height);
}

void CRect::CopyFrom(const IRect& other) {
  SetLeft(other.GetX(), false);
  SetTop(other.GetY(), false);
  SetRight(other.GetRight(), false);
  SetBottom(other.GetBottom(), false);
}

bool CRect::Equals(const IRect& other) const {
  return m_x == other.GetX() && m_y == other.GetY() && m_right == other.GetRight() && m_bottom == other.GetBottom();
}

void CMatrix2D::Translate(float x, float y) {
  tx += a * x + b * y;
  ty += c * x + d * y;
}

void CMatrix2D::Scale(float sx, float sy) {
  a *= sx;
  c *= sx;
  b *= sy;
  d *= sy;
}

void CMatrix2D::Rotate(float radians) {
  const float cs = std::cos(radians);
  const float sn = std::sin(radians);
  const float na = a * cs + b * sn;
  const float nb = b * cs - a * sn;
  const float nc = c * cs + d * sn;
  const float nd = d * cs - c * sn;
  a = na;
  b = nb;
  c = nc;
  d = nd;
}

void CMatrix2D::Invert() {
  const float det = a * d - b * c;
  if (det == 0.0f) return;
  const float r = 1.0f / det;
  const float ntx = (b * ty - d * tx) * r;
  const float nty = (c * tx - a * ty) * r;
  const float na = d * r;
  const float nb = -b * r;
  const float nc = -c * r;
  const float nd = a * r;
  a = na;
  b = nb;
  c = nc;
  d = nd;
  tx = ntx;
  ty = nty;
}

void CMatrix2D::Transform(float x, float y, float& outX, float& outY) const {
  outX = a * x + b * y + tx;
  outY = c * x + d * y + ty;
}

void CMatrix2D::Identity() {
  a = d = 1.0f;
  b = c = tx = ty = 0.0f;
}
