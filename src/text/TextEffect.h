// One entry of a text effect list, and its saved form. Message windows run
// such lists when characters appear and when a page is cleared; the backlog
// keeps four of its own.
#pragma once

#include <any>
#include <cstdint>
#include <vector>

#include "core/Serializer.h"

struct CTextTweenInfo {
  // 0..5 each glyph's x, y, alpha, x scale, y scale, rotate; 6..11 the
  // same of each character cell; 12 not set.
  int32_t param = 12;
  int32_t ease = 31;  // 31: not set (runs linearly)
  int32_t diff = 0;   // scales in 16.16 fixed point
  int32_t msec = 0;
  int32_t delay = 0;  // between one character's start and the next
  int32_t repeat = 0;
  bool vanish = false;
  bool operator==(const CTextTweenInfo&) const = default;
};
using CTextTweenList = std::vector<CTextTweenInfo>;

// Writes an effect entry as a nested block: 1 vanish (byte), 2 repeat,
// 3 diff, 4 ease, 5 param, 6 delay, 7 msec. Declines every other value.
class CTextTweenInfoSerializer : public ISerializerExtension {
 public:
  bool Serialize(CSerializer& child, const std::any& value) override;
  bool Deserialize(CSerializer& child, const std::any& value) override;

  // Registers one process-wide instance the first time it is called, so
  // that every stream holding effect entries can write and read them.
  static void EnsureRegistered();
};
