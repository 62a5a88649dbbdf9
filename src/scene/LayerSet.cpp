#include "scene/LayerSet.h"

#include <unordered_map>

#include "graphics/Surface.h"
#include "scene/AnimationLayer.h"

namespace {

// Who holds what: a count per object of the set entries holding it, and a
// count per surface of the held image layers using it. Counting replaces a
// scan of every set on every removal, which made a commit quadratic.
class COwnership {
 public:
  static COwnership& Instance() {
    static COwnership* ownership = new COwnership();  // outlives static sets
    return *ownership;
  }

  void Hold(IVirtualLayer* layer) {
    Record& record = m_layers[layer];
    if (record.count++ > 0) return;
    record.serial = ++m_serial;
    if (auto* image = dynamic_cast<ILayer*>(layer)) {
      record.surface = image->GetSurface();
      if (record.surface) ++m_surfaces[record.surface];
    }
  }

  void Release(IVirtualLayer* layer) {
    auto it = m_layers.find(layer);
    if (it == m_layers.end()) return;
    if (--it->second.count > 0) return;
    ISurface* counted = it->second.surface;
    m_layers.erase(it);
    // A layer given another surface while held leaves the one it had when
    // it was first held counted; its current one is freed too unless
    // another held layer was counted with it.
    ISurface* current = nullptr;
    if (auto* image = dynamic_cast<ILayer*>(layer)) current = image->GetSurface();
    ISurface* mask = nullptr;
    if (auto owned = m_masks.find(layer); owned != m_masks.end()) {
      mask = owned->second;
      m_masks.erase(owned);
    }
    delete layer;
    delete mask;
    if (counted && DropSurface(counted)) delete counted;
    if (current && current != counted && !m_surfaces.count(current) && !HeldLayerUses(current)) delete current;
  }

  uint64_t Serial(const IVirtualLayer* layer) const {
    auto it = m_layers.find(const_cast<IVirtualLayer*>(layer));
    return it == m_layers.end() ? 0 : it->second.serial;
  }
  size_t Count() const { return m_layers.size(); }

  void GiveMask(IVirtualLayer* layer, ISurface* mask) {
    ISurface*& slot = m_masks[layer];
    if (slot != mask) delete slot;
    slot = mask;
  }

 private:
  struct Record {
    int count = 0;
    uint64_t serial = 0;
    ISurface* surface = nullptr;
  };

  // True when the surface's last user went.
  bool DropSurface(ISurface* surface) {
    auto it = m_surfaces.find(surface);
    if (it == m_surfaces.end()) return false;
    if (--it->second > 0) return false;
    m_surfaces.erase(it);
    return !HeldLayerUses(surface);
  }

  // Only for the rare layers whose surface changed while held.
  bool HeldLayerUses(ISurface* surface) const {
    for (const auto& [layer, record] : m_layers)
      if (auto* image = dynamic_cast<ILayer*>(layer); image && image->GetSurface() == surface) return true;
    return false;
  }

  std::unordered_map<IVirtualLayer*, Record> m_layers;
  std::unordered_map<ISurface*, int> m_surfaces;
  // Masks that die with their layer.
  std::unordered_map<IVirtualLayer*, ISurface*> m_masks;
  uint64_t m_serial = 0;
};

bool IsTransformed(const ILayerProperty& p) {
  return p.GetXScale() != kScaleOne || p.GetYScale() != kScaleOne || p.GetRotate() != 0 || p.GetFlipX() || p.GetFlipY();
}

bool Contains(const IVirtualLayer& child, int px, int py) {
  return child.GetX() <= px && px <= child.GetRight() && child.GetY() <= py && py <= child.GetBottom();
}

}  // namespace

CLayerSet::CLayerSet(const CLayerSet& other) : IPoint(), ILayerProperty(), IVirtualLayer(), CLayerProperty() {
  *this = other;
}

CLayerSet& CLayerSet::operator=(const CLayerSet& other) {
  if (this == &other) return *this;
  CopyPropertiesFrom(other);
  // Hold the new children before letting the old ones go, so that a child
  // in both is never deleted on the way.
  for (const auto& [name, child] : other.m_children) COwnership::Instance().Hold(child);
  Children old;
  old.swap(m_children);
  m_children = other.m_children;
  for (const auto& [name, child] : old) COwnership::Instance().Release(child);
  m_bounds = other.m_bounds;
  m_firstDrawn = other.m_firstDrawn;
  return *this;
}

CLayerSet::~CLayerSet() { RemoveAll(); }

void CLayerSet::RemoveAll() {
  while (!m_children.empty()) Remove(m_children.begin()->first);
}

int CLayerSet::GetDrawFlags() const {
  if (m_drawing) return m_drawFlags;
  int flags = GetDirtyFlags();
  for (const auto& [name, child] : m_children) flags |= child->GetDrawFlags();
  return flags;
}

IVirtualLayer* CLayerSet::Find(const std::string& name) const {
  auto it = m_children.find(name);
  return it == m_children.end() ? nullptr : it->second;
}

std::string CLayerSet::NameAt(const IPoint& point, const std::string& afterName) const {
  auto it = m_children.end();
  if (!afterName.empty()) {
    it = m_children.find(afterName);
    if (it == m_children.end()) return "";
  }
  const int px = point.GetX(), py = point.GetY();
  while (it != m_children.begin()) {
    --it;
    if (Contains(*it->second, px, py)) return it->first;
  }
  return "";
}

IVirtualLayer* CLayerSet::FindAt(const IPoint& point, const std::string& afterName) const {
  const std::string name = NameAt(point, afterName);
  return name.empty() ? nullptr : Find(name);
}

void CLayerSet::List(std::vector<std::pair<std::string, IVirtualLayer*>>& out) const {
  for (const auto& entry : m_children) out.emplace_back(entry.first, entry.second);
}

void CLayerSet::Add(const std::string& name, IVirtualLayer* child) {
  auto it = m_children.find(name);
  if (it != m_children.end() && it->second == child) {
    // Removing first would delete the very object being stored.
    SetDirtyFlags(GetDirtyFlags() | kDirtyPosition);
    return;
  }
  Remove(name);
  if (!child) return;
  COwnership::Instance().Hold(child);
  m_children.emplace(name, child);
  SetDirtyFlags(GetDirtyFlags() | kDirtyPosition);
}

void CLayerSet::Remove(const std::string& name) {
  auto it = m_children.find(name);
  if (it == m_children.end()) return;
  IVirtualLayer* child = it->second;
  m_children.erase(it);
  SetDirtyFlags(GetDirtyFlags() | kDirtyPosition);
  COwnership::Instance().Release(child);
}

void CLayerSet::UpdateBounds(const CParentChain& parents) {
  // A nested set's rectangle is its children's: bring it up to date first,
  // or it would lag a frame behind.
  CParentChain chain;
  for (const auto& [name, child] : m_children)
    if (auto* nested = dynamic_cast<CLayerSet*>(child)) {
      if (chain.empty()) {
        chain = parents;
        chain.push_back(this);
      }
      nested->UpdateBounds(chain);
    }
  m_bounds = CRect();
  for (const auto& [name, child] : m_children) {
    if (child->GetX() < m_bounds.GetX()) m_bounds.SetLeft(child->GetX(), false);
    if (child->GetY() < m_bounds.GetY()) m_bounds.SetTop(child->GetY(), false);
    if (m_bounds.GetRight() < child->GetRight()) m_bounds.SetRight(child->GetRight(), false);
    if (m_bounds.GetBottom() < child->GetBottom()) m_bounds.SetBottom(child->GetBottom(), false);
  }

  // Everything under a child that certainly covers the whole set unchanged
  // is skipped. Only a plain opaque picture does: visible, unscaled and
  // unturned, unmasked, normal mode, full opacity (after the enclosing
  // sets' alphas), format 1, inside untransformed sets.
  bool canCover = !IsTransformed(*this) && EffectiveOpacity(255, parents) == 255 && GetAlpha() == 255;
  for (const ILayerProperty* parent : parents)
    if (parent && IsTransformed(*parent)) canCover = false;
  m_firstDrawn = int(m_children.size());
  if (!canCover) {
    m_firstDrawn = 0;
    return;
  }
  for (auto it = m_children.rbegin(); it != m_children.rend(); ++it) {
    --m_firstDrawn;
    const auto* image = dynamic_cast<const ILayer*>(it->second);
    if (!image) continue;
    const ISurface* surface = image->GetSurface();
    if (!surface || surface->GetFormat() != ISurface::PIXEL_BITS_32 || image->GetMask()) continue;
    if (!image->GetVisible() || image->GetAlpha() != 255 || IsTransformed(*image) ||
        image->GetLayerMode() != kLayerModeNormal)
      continue;
    if (image->GetX() <= m_bounds.GetX() && image->GetY() <= m_bounds.GetY() &&
        image->GetRight() >= m_bounds.GetRight() && image->GetBottom() >= m_bounds.GetBottom())
      return;
  }
  m_firstDrawn = 0;
}

void CLayerSet::DrawWithParents(ISurface* target, CParentChain& parents) {
  // Worked out on every draw, not only when flags say so: a child shared
  // with another set may have had its flags cleared by that set's draw.
  UpdateBounds(parents);
  if (!GetVisible()) return;
  m_drawFlags = GetDrawFlags();
  m_drawing = true;
  parents.push_back(this);
  int index = 0;
  for (const auto& [name, child] : m_children)
    if (index++ >= m_firstDrawn) child->DrawWithParents(target, parents);
  parents.pop_back();
  m_drawing = false;
  SetDirtyFlags(0);
}

void CLayerSet::Draw(ISurface* target) {
  CParentChain none;
  DrawWithParents(target, none);
}

bool CLayerSet::IsHeld(const IVirtualLayer* layer) { return COwnership::Instance().Serial(layer) != 0; }

uint64_t CLayerSet::GetHoldSerial(const IVirtualLayer* layer) { return COwnership::Instance().Serial(layer); }

size_t CLayerSet::GetHeldCount() { return COwnership::Instance().Count(); }

const char* LayerKindName(const IVirtualLayer* layer) {
  if (dynamic_cast<const CLayerSet*>(layer)) return "set";
  if (dynamic_cast<const ILayer*>(layer)) return "image";
  if (dynamic_cast<const CAnimationLayer*>(layer)) return "animation";
  return "layer";
}

void CLayerSet::GiveMask(IVirtualLayer* layer, ISurface* mask) { COwnership::Instance().GiveMask(layer, mask); }

std::function<void(int32_t)> MakeLayerSetter(IVirtualLayer* layer, int index) {
  const uint64_t serial = CLayerSet::GetHoldSerial(layer);
  return [layer, index, serial](int32_t value) {
    if (serial == 0 || CLayerSet::GetHoldSerial(layer) != serial) return;
    if (index == kPropVisible)
      SetProperty(*layer, index, value != 0);
    else
      SetProperty(*layer, index, int(value));
  };
}
