#include <gtest/gtest.h>

#include <cmath>

#include "core/Geometry.h"

TEST(Rect, InclusiveEdgesAndSetters) {
  CRect r;
  EXPECT_EQ(0, r.GetX());
  EXPECT_EQ(0, r.GetWidth());
  EXPECT_EQ(0, r.GetRight());  // a new rectangle is all zero

  r = CRect(10, 20, 30, 40);
  EXPECT_EQ(39, r.GetRight());
  EXPECT_EQ(59, r.GetBottom());
  EXPECT_EQ(1200, r.GetArea());

  // Moving the left edge with and without keeping the size.
  r.SetLeft(15, true);
  EXPECT_EQ(44, r.GetRight());
  EXPECT_EQ(30, r.GetWidth());
  r.SetLeft(20, false);
  EXPECT_EQ(44, r.GetRight());
  EXPECT_EQ(25, r.GetWidth());
  // Right edge likewise.
  r.SetRight(50, true);
  EXPECT_EQ(26, r.GetX());
  EXPECT_EQ(25, r.GetWidth());
  r.SetRight(60);
  EXPECT_EQ(26, r.GetX());
  EXPECT_EQ(35, r.GetWidth());
  // Vertical axis.
  r.SetTop(0, false);
  EXPECT_EQ(60, r.GetHeight());
  r.SetBottom(9, true);
  EXPECT_EQ(-50, r.GetY());
  r.SetBottom(9);
  EXPECT_EQ(60, r.GetHeight());

  // As a point and a size.
  CPoint& asPoint = r;
  asPoint.SetX(0);
  EXPECT_EQ(61, r.GetWidth());  // right stays at 60
  CSize& asSize = r;
  asSize.SetWidth(5);
  EXPECT_EQ(4, r.GetRight());
}

TEST(Rect, CopyFromAndEquals) {
  const CRect a(3, 4, 5, 6);
  CRect b(100, 100, 1, 1);
  b.CopyFrom(a);
  EXPECT_TRUE(b.Equals(a));
  EXPECT_EQ(5, b.GetWidth());
  EXPECT_EQ(6, b.GetHeight());
  b.SetRight(8);
  EXPECT_FALSE(b.Equals(a));
}

TEST(Matrix2D, StepsApplyBeforeTheExistingTransform) {
  CMatrix2D m;
  float x, y;
  m.Transform(3, 4, x, y);
  EXPECT_FLOAT_EQ(3, x);
  EXPECT_FLOAT_EQ(4, y);

  // Translate then scale: the scale acts on the point first.
  m.Translate(10, 20);
  m.Scale(2, 3);
  m.Transform(1, 1, x, y);
  EXPECT_FLOAT_EQ(12, x);
  EXPECT_FLOAT_EQ(23, y);

  // A quarter turn is clockwise on screen: (1, 0) goes to (0, 1).
  CMatrix2D r;
  r.Rotate(3.1415927f / 2);
  r.Transform(1, 0, x, y);
  EXPECT_NEAR(0, x, 1e-6);
  EXPECT_NEAR(1, y, 1e-6);

  // Inversion undoes the transform.
  CMatrix2D inv = m;
  inv.Rotate(0.3f);
  CMatrix2D fwd = inv;
  inv.Invert();
  float u, v;
  fwd.Transform(7, -5, x, y);
  inv.Transform(x, y, u, v);
  EXPECT_NEAR(7, u, 1e-4);
  EXPECT_NEAR(-5, v, 1e-4);

  // A singular matrix stays as it was.
  CMatrix2D flat;
  flat.Scale(0, 1);
  flat.Translate(5, 5);
  CMatrix2D before = flat;
  flat.Invert();
  EXPECT_EQ(before.a, flat.a);
  EXPECT_EQ(before.ty, flat.ty);

  flat.Identity();
  EXPECT_EQ(1.0f, flat.a);
  EXPECT_EQ(0.0f, flat.tx);
}
