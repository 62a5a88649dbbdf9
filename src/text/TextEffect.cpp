#include "text/TextEffect.h"

#include <memory>

bool CTextTweenInfoSerializer::Serialize(CSerializer& child, const std::any& value) {
  auto entry = std::any_cast<const CTextTweenInfo*>(&value);
  if (!entry) return false;
  const CTextTweenInfo& info = **entry;
  child.Write(1, info.vanish);
  child.Write(2, info.repeat);
  child.Write(3, info.diff);
  child.Write(4, info.ease);
  child.Write(5, info.param);
  child.Write(6, info.delay);
  child.Write(7, info.msec);
  return true;
}

bool CTextTweenInfoSerializer::Deserialize(CSerializer& child, const std::any& value) {
  auto entry = std::any_cast<CTextTweenInfo*>(&value);
  if (!entry) return false;
  CTextTweenInfo& info = **entry;
  (void)child.Read(1, info.vanish);
  (void)child.Read(2, info.repeat);
  (void)child.Read(3, info.diff);
  (void)child.Read(4, info.ease);
  (void)child.Read(5, info.param);
  (void)child.Read(6, info.delay);
  (void)child.Read(7, info.msec);
  return true;
}

void CTextTweenInfoSerializer::EnsureRegistered() {
  // Registered once and never removed: effect entries may be written by any
  // stream for the life of the process (saves, the backlog, tools).
  static const bool registered = [] {
    CSerializer::RegisterExtension(std::make_shared<CTextTweenInfoSerializer>());
    return true;
  }();
  (void)registered;
}
