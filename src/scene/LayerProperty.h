// The property block every drawable thing shares: position, opacity, anchor,
// scale, rotation, mirroring, blend mode and visibility, with dirty flags that
// tell a layer what changed since it last drew.
#pragma once

#include <any>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/Geometry.h"

// What changed since the layer last drew.
enum LayerDirty : int32_t {
  kDirtyPosition = 0x01,  // x, y, anchor x, anchor y
  kDirtyAlpha = 0x02,
  kDirtyTransform = 0x04,  // scales, rotate, flips
  kDirtyLayerMode = 0x08,
  kDirtyImage = 0x10,  // surface or mask replaced
  kDirtyColorKey = 0x20,
  kDirtySourceRect = 0x40,
};

// Blend modes of a layer.
enum LayerMode : int32_t {
  kLayerModeNormal = 0,
  kLayerModeAdd = 1,
  kLayerModeMultiply = 2,
  kLayerModeColorKey = 3,
  kLayerModeScreen = 4,
};

// Property indices through which tags and tweens change a layer.
enum LayerPropertyIndex : int {
  kPropLeft = 0,
  kPropTop = 1,
  kPropAlpha = 2,
  kPropAnchorX = 3,
  kPropAnchorY = 4,
  kPropXScale = 5,
  kPropYScale = 6,
  kPropRotate = 7,
  kPropVisible = 8,
  kPropLayerMode = 9,
};

constexpr int32_t kScaleOne = 65536;  // 1.0 in 16.16 fixed point

class ILayerProperty : public virtual IPoint {
 public:
  virtual int GetAlpha() const = 0;
  virtual int GetAnchorX() const = 0;
  virtual int GetAnchorY() const = 0;
  virtual int GetXScale() const = 0;
  virtual int GetYScale() const = 0;
  virtual int GetRotate() const = 0;
  virtual bool GetFlipX() const = 0;
  virtual bool GetFlipY() const = 0;
  virtual int GetLayerMode() const = 0;
  virtual bool GetVisible() const = 0;
  // The dirty flags while the layer would draw at all, else 0.
  virtual int GetDrawFlags() const = 0;
  virtual void SetX(int value) = 0;
  virtual void SetY(int value) = 0;
  virtual void SetAlpha(int value) = 0;
  virtual void SetAnchorX(int value) = 0;
  virtual void SetAnchorY(int value) = 0;
  virtual void SetXScale(int value) = 0;
  virtual void SetYScale(int value) = 0;
  virtual void SetRotate(int value) = 0;
  virtual void SetFlipX(bool value) = 0;
  virtual void SetFlipY(bool value) = 0;
  virtual void SetLayerMode(int value) = 0;
  virtual void SetVisible(bool value) = 0;

  // Dirty flags themselves (not part of the drawing test above).
  virtual int GetDirtyFlags() const = 0;
  virtual void SetDirtyFlags(int flags) = 0;
};

class CLayerProperty : public virtual ILayerProperty {
 public:
  int GetX() const override { return m_posX; }
  int GetY() const override { return m_posY; }
  int GetAlpha() const override { return m_alpha; }
  int GetAnchorX() const override { return m_anchorX; }
  int GetAnchorY() const override { return m_anchorY; }
  int GetXScale() const override { return m_xScale; }
  int GetYScale() const override { return m_yScale; }
  int GetRotate() const override { return m_rotate; }
  bool GetFlipX() const override { return m_flipX != 0; }
  bool GetFlipY() const override { return m_flipY != 0; }
  int GetLayerMode() const override { return m_layerMode; }
  bool GetVisible() const override { return m_visible != 0; }
  int GetDrawFlags() const override;
  void SetX(int value) override { Store(m_posX, value, kDirtyPosition); }
  void SetY(int value) override { Store(m_posY, value, kDirtyPosition); }
  void SetAlpha(int value) override { Store(m_alpha, value, kDirtyAlpha); }
  void SetAnchorX(int value) override { Store(m_anchorX, value, kDirtyPosition); }
  void SetAnchorY(int value) override { Store(m_anchorY, value, kDirtyPosition); }
  void SetXScale(int value) override { Store(m_xScale, value, kDirtyTransform); }
  void SetYScale(int value) override { Store(m_yScale, value, kDirtyTransform); }
  // Kept in -359..359 by the C remainder (370 -> 10, -400 -> -40).
  void SetRotate(int value) override { Store(m_rotate, value % 360, kDirtyTransform); }
  void SetFlipX(bool value) override;
  void SetFlipY(bool value) override;
  void SetLayerMode(int value) override { Store(m_layerMode, value, kDirtyLayerMode); }
  void SetVisible(bool value) override { m_visible = value ? 1 : 0; }
  int GetDirtyFlags() const override { return m_dirty; }
  void SetDirtyFlags(int flags) override { m_dirty = flags; }

  // Copies the property values and dirty flags of another block.
  void CopyPropertiesFrom(const CLayerProperty& other);

 protected:
  void MarkDirty(int flags) { m_dirty |= flags; }

 private:
  void Store(int32_t& field, int value, int flag) {
    if (field == value) return;
    field = value;
    m_dirty |= flag;
  }

  int32_t m_posX = 0;
  int32_t m_posY = 0;
  int32_t m_alpha = 255;
  int32_t m_anchorX = 0;
  int32_t m_anchorY = 0;
  int32_t m_xScale = kScaleOne;
  int32_t m_yScale = kScaleOne;
  int32_t m_rotate = 0;
  uint8_t m_flipX = 0;
  uint8_t m_flipY = 0;
  int32_t m_layerMode = kLayerModeNormal;
  uint8_t m_visible = 1;
  int32_t m_dirty = 0;
};

// Script percent to 16.16 fixed point: 100 -> 65536, 150 -> 98304, 1 -> 655.
// Values beyond what 16.16 can hold saturate at the int32 limits.
int32_t PercentToScale(int32_t percent);

// The list a layer's previous values are recorded in while pending property
// changes are applied, so they can be reverted.
using CPropertyOldValues = std::vector<std::pair<int, std::any>>;

// The current value of a property, boxed: an int, or a bool for index 8.
// An empty any for an unknown index.
std::any GetProperty(const ILayerProperty& layer, int index);

// Sets the property with the given index from a boxed value (int or bool
// either way; anything else counts as 0 / false). When oldValues is given the
// current value is appended to it first. An index outside 0..9 does nothing.
void SetProperty(ILayerProperty& layer, int index, const std::any& value, CPropertyOldValues* oldValues = nullptr);

// Layer mode by its script name ("normal", "add", "multiply", "screen");
// true (mode untouched) when the name is not one of them.
[[nodiscard]] bool LayerModeFromName(const std::string& name, int& mode);
