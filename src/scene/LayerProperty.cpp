#include "scene/LayerProperty.h"

#include <limits>

int CLayerProperty::GetDrawFlags() const {
  if (m_xScale > 0 && m_yScale > 0 && m_alpha > 0 && m_visible) return m_dirty;
  return 0;
}

void CLayerProperty::SetFlipX(bool value) {
  const uint8_t byte = value ? 1 : 0;
  if (m_flipX == byte) return;
  m_flipX = byte;
  m_dirty |= kDirtyTransform;
}

void CLayerProperty::SetFlipY(bool value) {
  const uint8_t byte = value ? 1 : 0;
  if (m_flipY == byte) return;
  m_flipY = byte;
  m_dirty |= kDirtyTransform;
}

void CLayerProperty::CopyPropertiesFrom(const CLayerProperty& other) {
  m_posX = other.m_posX;
  m_posY = other.m_posY;
  m_alpha = other.m_alpha;
  m_anchorX = other.m_anchorX;
  m_anchorY = other.m_anchorY;
  m_xScale = other.m_xScale;
  m_yScale = other.m_yScale;
  m_rotate = other.m_rotate;
  m_flipX = other.m_flipX;
  m_flipY = other.m_flipY;
  m_layerMode = other.m_layerMode;
  m_visible = other.m_visible;
  m_dirty = other.m_dirty;
}

int32_t PercentToScale(int32_t percent) {
  // Truncating division, as in ((p / 100) << 16) + ((p % 100) * 65536) / 100,
  // computed wide so that huge percentages saturate instead of overflowing.
  const int64_t value = (int64_t(percent / 100) << 16) + (int64_t(percent % 100) * 65536) / 100;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return int32_t(value);
}

namespace {

int UnboxInt(const std::any& value) {
  if (const int* i = std::any_cast<int>(&value)) return *i;
  if (const bool* b = std::any_cast<bool>(&value)) return *b ? 1 : 0;
  return 0;
}

bool UnboxBool(const std::any& value) {
  if (const bool* b = std::any_cast<bool>(&value)) return *b;
  if (const int* i = std::any_cast<int>(&value)) return *i != 0;
  return false;
}

}  // namespace

std::any GetProperty(const ILayerProperty& layer, int index) {
  switch (index) {
    case kPropLeft: return layer.GetX();
    case kPropTop: return layer.GetY();
    case kPropAlpha: return layer.GetAlpha();
    case kPropAnchorX: return layer.GetAnchorX();
    case kPropAnchorY: return layer.GetAnchorY();
    case kPropXScale: return layer.GetXScale();
    case kPropYScale: return layer.GetYScale();
    case kPropRotate: return layer.GetRotate();
    case kPropVisible: return layer.GetVisible();
    case kPropLayerMode: return layer.GetLayerMode();
    default: return {};
  }
}

void SetProperty(ILayerProperty& layer, int index, const std::any& value, CPropertyOldValues* oldValues) {
  if (index < kPropLeft || index > kPropLayerMode) return;
  if (oldValues) oldValues->emplace_back(index, GetProperty(layer, index));
  switch (index) {
    case kPropLeft: layer.SetX(UnboxInt(value)); break;
    case kPropTop: layer.SetY(UnboxInt(value)); break;
    case kPropAlpha: layer.SetAlpha(UnboxInt(value)); break;
    case kPropAnchorX: layer.SetAnchorX(UnboxInt(value)); break;
    case kPropAnchorY: layer.SetAnchorY(UnboxInt(value)); break;
    case kPropXScale: layer.SetXScale(UnboxInt(value)); break;
    case kPropYScale: layer.SetYScale(UnboxInt(value)); break;
    case kPropRotate: layer.SetRotate(UnboxInt(value)); break;
    case kPropVisible: layer.SetVisible(UnboxBool(value)); break;
    case kPropLayerMode: layer.SetLayerMode(UnboxInt(value)); break;
  }
}

bool LayerModeFromName(const std::string& name, int& mode) {
  if (name == "normal")
    mode = kLayerModeNormal;
  else if (name == "add")
    mode = kLayerModeAdd;
  else if (name == "multiply")
    mode = kLayerModeMultiply;
  else if (name == "screen")
    mode = kLayerModeScreen;
  else
    return true;
  return false;
}
