// Layer sets: named children drawn in ascending byte order of their names,
// with a property block of their own that encloses the children. Children
// are shared between sets; a child is deleted when the last set lets go of
// it, and an image layer's surface when no held layer uses it any more.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "scene/Layer.h"

class CLayerSet : public IVirtualLayer, public CLayerProperty {
 public:
  using Children = std::map<std::string, IVirtualLayer*>;

  CLayerSet() = default;
  // Copies share the children (the same objects) and copy the property
  // values, the bounding rectangle and the first drawn index.
  CLayerSet(const CLayerSet& other);
  CLayerSet& operator=(const CLayerSet& other);
  ~CLayerSet() override;

  // The bounding rectangle of the last draw, moved by the set's position.
  int GetWidth() const override { return m_bounds.GetWidth(); }
  int GetHeight() const override { return m_bounds.GetHeight(); }
  // Wrapping as 32-bit arithmetic does, rather than overflowing.
  int GetRight() const override { return int32_t(int64_t(GetX()) + m_bounds.GetRight()); }
  int GetBottom() const override { return int32_t(int64_t(GetY()) + m_bounds.GetBottom()); }
  // The set's own dirty flags (whatever its visibility) and every child's.
  int GetDrawFlags() const override;
  void DrawWithParents(ISurface* target, CParentChain& parents) override;
  void Draw(ISurface* target) override;

  IVirtualLayer* Find(const std::string& name) const;
  IVirtualLayer* FindAt(const IPoint& point, const std::string& afterName) const;
  // The topmost child (walking from the last name) whose untransformed
  // rectangle holds the point, inclusively, below afterName when that is
  // given; "" when none does (or afterName is absent).
  std::string NameAt(const IPoint& point, const std::string& afterName) const;
  int GetCount() const { return int(m_children.size()); }
  void List(std::vector<std::pair<std::string, IVirtualLayer*>>& out) const;
  // Stores the child under the name, replacing (and releasing) what was
  // there. The object already stored under that name is only marked.
  void Add(const std::string& name, IVirtualLayer* child);
  void Remove(const std::string& name);
  void RemoveAll();

  const Children& GetChildren() const { return m_children; }
  // Union of (0, 0) and the children's rectangles, in the set's coordinates.
  const CRect& GetBounds() const { return m_bounds; }
  // How many children, counted from the first, the last draw skipped
  // because an opaque child covers them.
  int GetFirstDrawnIndex() const { return m_firstDrawn; }
  // Recomputes the bounding rectangle and the first drawn index (every draw
  // does). The chain is that of the set's parents (it decides whether an
  // opaque child really shows opaque).
  void UpdateBounds(const CParentChain& parents);

  // Whether some set holds the object now.
  static bool IsHeld(const IVirtualLayer* layer);
  // A number that identifies the object while sets hold it without a
  // break: 0 when none holds it, and never the same for two holdings.
  static uint64_t GetHoldSerial(const IVirtualLayer* layer);
  // The mask is deleted together with the layer, once the last set lets go
  // of it. Meant for a layer about to be held.
  static void GiveMask(IVirtualLayer* layer, ISurface* mask);
  // Number of objects held by any set (for tests and dumps).
  static size_t GetHeldCount();

 private:
  Children m_children;
  CRect m_bounds;
  int m_firstDrawn = 0;
  // While drawing, GetDrawFlags answers from a value taken before the
  // children start clearing their flags (children ask it once each).
  bool m_drawing = false;
  int m_drawFlags = 0;
};

// A tween setter for a property of a layer held by a set. It does nothing
// once the layer has been let go by every set (or when no set held it when
// bound), so a tween outliving its layer is harmless.
std::function<void(int32_t)> MakeLayerSetter(IVirtualLayer* layer, int index);

// Kind names used by dumps: "image", "set" or "layer".
const char* LayerKindName(const IVirtualLayer* layer);
