#include <gtest/gtest.h>

#include "scene/LayerProperty.h"

TEST(LayerProperty, DefaultsAndDirtyFlags) {
  CLayerProperty p;
  EXPECT_EQ(255, p.GetAlpha());
  EXPECT_EQ(65536, p.GetXScale());
  EXPECT_TRUE(p.GetVisible());
  EXPECT_EQ(0, p.GetDirtyFlags());

  p.SetAlpha(255);  // same value: nothing marked
  EXPECT_EQ(0, p.GetDirtyFlags());
  p.SetVisible(false);  // visibility never marks
  p.SetVisible(true);
  EXPECT_EQ(0, p.GetDirtyFlags());

  p.SetX(5);
  EXPECT_EQ(kDirtyPosition, p.GetDirtyFlags());
  p.SetAnchorY(2);
  p.SetAlpha(10);
  p.SetFlipX(true);
  p.SetLayerMode(kLayerModeAdd);
  EXPECT_EQ(kDirtyPosition | kDirtyAlpha | kDirtyTransform | kDirtyLayerMode, p.GetDirtyFlags());
  EXPECT_EQ(p.GetDirtyFlags(), p.GetDrawFlags());

  // GetDrawFlags is 0 while the layer would not draw.
  p.SetVisible(false);
  EXPECT_EQ(0, p.GetDrawFlags());
  p.SetVisible(true);
  p.SetAlpha(0);
  EXPECT_EQ(0, p.GetDrawFlags());
  p.SetAlpha(1);
  p.SetXScale(0);
  EXPECT_EQ(0, p.GetDrawFlags());
}

TEST(LayerProperty, RotateIsReducedBeforeComparing) {
  CLayerProperty p;
  p.SetRotate(360);
  EXPECT_EQ(0, p.GetRotate());
  EXPECT_EQ(0, p.GetDirtyFlags());
  p.SetRotate(725);
  EXPECT_EQ(5, p.GetRotate());
  EXPECT_EQ(kDirtyTransform, p.GetDirtyFlags());
  p.SetRotate(-725);
  EXPECT_EQ(-5, p.GetRotate());
  p.SetRotate(-30);
  EXPECT_EQ(-30, p.GetRotate());
  p.SetRotate(370);
  EXPECT_EQ(10, p.GetRotate());
  p.SetRotate(-400);
  EXPECT_EQ(-40, p.GetRotate());
}

TEST(LayerProperty, PercentToScale) {
  EXPECT_EQ(65536, PercentToScale(100));
  EXPECT_EQ(98304, PercentToScale(150));
  EXPECT_EQ(655, PercentToScale(1));
  EXPECT_EQ(32768, PercentToScale(50));
  EXPECT_EQ(218234, PercentToScale(333));
  EXPECT_EQ(0, PercentToScale(0));
  EXPECT_EQ(-32768, PercentToScale(-50));
  // Beyond 16.16 the value saturates instead of wrapping to a small or
  // negative scale.
  EXPECT_EQ(2147483647, PercentToScale(2000000000));
  EXPECT_EQ(-2147483647 - 1, PercentToScale(-2000000000));
}

TEST(LayerProperty, SetPropertyByIndexRecordsOldValues) {
  CLayerProperty p;
  CPropertyOldValues old;
  SetProperty(p, kPropLeft, 12, &old);
  SetProperty(p, kPropTop, 34, &old);
  SetProperty(p, kPropAlpha, 100);
  SetProperty(p, kPropAnchorX, 7);
  SetProperty(p, kPropAnchorY, 8);
  SetProperty(p, kPropXScale, PercentToScale(150));
  SetProperty(p, kPropYScale, PercentToScale(50));
  SetProperty(p, kPropRotate, 370);
  SetProperty(p, kPropVisible, false, &old);
  SetProperty(p, kPropLayerMode, int(kLayerModeScreen));
  EXPECT_EQ(12, p.GetX());
  EXPECT_EQ(34, p.GetY());
  EXPECT_EQ(100, p.GetAlpha());
  EXPECT_EQ(7, p.GetAnchorX());
  EXPECT_EQ(8, p.GetAnchorY());
  EXPECT_EQ(98304, p.GetXScale());
  EXPECT_EQ(32768, p.GetYScale());
  EXPECT_EQ(10, p.GetRotate());
  EXPECT_FALSE(p.GetVisible());
  EXPECT_EQ(4, p.GetLayerMode());

  ASSERT_EQ(3u, old.size());
  EXPECT_EQ(kPropLeft, old[0].first);
  EXPECT_EQ(0, std::any_cast<int>(old[0].second));
  EXPECT_EQ(kPropVisible, old[2].first);
  EXPECT_TRUE(std::any_cast<bool>(old[2].second));

  // Reverting from the records restores the values.
  for (auto it = old.rbegin(); it != old.rend(); ++it) SetProperty(p, it->first, it->second);
  EXPECT_EQ(0, p.GetX());
  EXPECT_TRUE(p.GetVisible());

  // Unknown indices and odd boxes do nothing harmful.
  old.clear();
  SetProperty(p, 10, 5, &old);
  SetProperty(p, -1, 5, &old);
  EXPECT_TRUE(old.empty());
  SetProperty(p, kPropLeft, std::string("x"));
  EXPECT_EQ(0, p.GetX());
  SetProperty(p, kPropVisible, 1);
  EXPECT_TRUE(p.GetVisible());
  SetProperty(p, kPropAlpha, true);
  EXPECT_EQ(1, p.GetAlpha());

  int mode = -1;
  EXPECT_FALSE(LayerModeFromName("multiply", mode));
  EXPECT_EQ(2, mode);
  EXPECT_TRUE(LayerModeFromName("Multiply", mode));
  EXPECT_EQ(2, mode);
}
