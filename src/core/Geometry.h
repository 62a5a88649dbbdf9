// Screen geometry: points, sizes, rectangles with inclusive right and bottom
// edges, and the 2D affine matrix that places layers on screen.
#pragma once

#include <cstdint>

class IPoint {
 public:
  virtual ~IPoint() = default;
  virtual int GetX() const = 0;
  virtual int GetY() const = 0;
};

class ISize {
 public:
  virtual ~ISize() = default;
  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
};

class IRect : public virtual IPoint, public virtual ISize {
 public:
  virtual int GetRight() const = 0;
  virtual int GetBottom() const = 0;
};

class CPoint : public virtual IPoint {
 public:
  CPoint() = default;
  CPoint(int x, int y) : m_x(x), m_y(y) {}
  int GetX() const override { return m_x; }
  int GetY() const override { return m_y; }
  virtual void SetX(int x) { m_x = x; }
  virtual void SetY(int y) { m_y = y; }

 protected:
  int32_t m_x = 0;
  int32_t m_y = 0;
};

class CSize : public virtual ISize {
 public:
  CSize() = default;
  CSize(int width, int height) : m_width(width), m_height(height) {}
  int GetWidth() const override { return m_width; }
  int GetHeight() const override { return m_height; }
  virtual void SetWidth(int width) { m_width = width; }
  virtual void SetHeight(int height) { m_height = height; }

 protected:
  int32_t m_width = 0;
  int32_t m_height = 0;
};

// A rectangle of whole pixels. Right and bottom are inclusive:
// right = left + width - 1, bottom = top + height - 1.
class CRect : public IRect, public CPoint, public CSize {
 public:
  CRect() = default;
  CRect(int left, int top, int width, int height);
  CRect(const CRect&) = default;
  CRect& operator=(const CRect&) = default;

  int GetX() const override { return m_x; }
  int GetY() const override { return m_y; }
  int GetWidth() const override { return m_width; }
  int GetHeight() const override { return m_height; }
  int GetRight() const override { return m_right; }
  int GetBottom() const override { return m_bottom; }
  virtual int64_t GetArea() const { return int64_t(m_width) * m_height; }
  virtual void SetLeft(int value, bool keepSize);
  virtual void SetTop(int value, bool keepSize);
  virtual void SetRight(int value, bool keepSize);
  virtual void SetRight(int value) { SetRight(value, false); }
  virtual void SetBottom(int value, bool keepSize);
  virtual void SetBottom(int value) { SetBottom(value, false); }

  void SetX(int x) override { SetLeft(x, false); }
  void SetY(int y) override { SetTop(y, false); }
  void SetWidth(int width) override;
  void SetHeight(int height) override;

  void CopyFrom(const IRect& other);
  bool Equals(const IRect& other) const;

 private:
  int32_t m_right = 0;
  int32_t m_bottom = 0;
};

// 2D affine transform: (x, y) -> (a*x + b*y + tx, c*x + d*y + ty).
// Translate, Scale and Rotate apply the new step before the existing
// transform (M = M * step), so the last call acts first on a point.
class CMatrix2D {
 public:
  CMatrix2D() = default;
  CMatrix2D(float a, float b, float tx, float c, float d, float ty) : a(a), b(b), tx(tx), c(c), d(d), ty(ty) {}
  CMatrix2D(const CMatrix2D&) = default;
  CMatrix2D& operator=(const CMatrix2D&) = default;
  virtual ~CMatrix2D() = default;

  void Translate(float x, float y);
  void Scale(float sx, float sy);
  // Radians; with y pointing down a positive angle turns clockwise.
  void Rotate(float radians);
  // Leaves a singular matrix unchanged.
  void Invert();
  void Transform(float x, float y, float& outX, float& outY) const;
  void Identity();

  float a = 1.0f, b = 0.0f, tx = 0.0f;
  float c = 0.0f, d = 1.0f, ty = 0.0f;
};
