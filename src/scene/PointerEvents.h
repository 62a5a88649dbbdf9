// Pointer events on the front layer set: the hit test with per-layer alpha
// thresholds, click, rollover and rollout handlers keyed by layer id, and the
// set of ids the pointer is over. The interpreter owns an instance, fills the
// tables from its tags and runs the handlers this reports.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

class CLayerSet;

class CPointerEvents {
 public:
  // The attributes of the tag that registered a handler ("label", "file",
  // "call", ...).
  using Attributes = std::map<std::string, std::string>;

  enum class Kind { kClick, kRollover, kRollout };

  struct Event {
    Kind kind;
    std::string id;
    Attributes attributes;
    // A subroutine call ("call" present and not "0") rather than a jump.
    bool call;
  };

  struct Input {
    int x = 0, y = 0;        // pointer in window client pixels
    float scale = 1.0f;      // full-screen scale of the window's picture
    bool pressEdge = false;  // the left button went down this frame
  };

  // 0..255; a layer with a threshold is hit only where its pixel alpha,
  // weighted by the layer's alpha, reaches it.
  void SetThreshold(const std::string& id, int threshold) { m_thresholds[id] = threshold; }
  void SetClick(const std::string& id, Attributes attributes) { m_click[id] = std::move(attributes); }
  void SetRollover(const std::string& id, Attributes attributes) { m_rollover[id] = std::move(attributes); }
  void SetRollout(const std::string& id, Attributes attributes) { m_rollout[id] = std::move(attributes); }
  // The threshold of the id, or -1 when it has none.
  int GetThreshold(const std::string& id) const {
    const auto found = m_thresholds.find(id);
    return found == m_thresholds.end() ? -1 : found->second;
  }
  void RemoveThreshold(const std::string& id) { m_thresholds.erase(id); }
  void RemoveClick(const std::string& id) { m_click.erase(id); }
  void RemoveRollover(const std::string& id) { m_rollover.erase(id); }
  void RemoveRollout(const std::string& id) { m_rollout.erase(id); }
  // Everything known about the id, hover state included.
  void Forget(const std::string& id);
  void Clear();

  // Whether any click, rollover or rollout handler is registered (only then
  // does a frame test the pointer).
  bool HasHandlers() const { return !m_click.empty() || !m_rollover.empty() || !m_rollout.empty(); }

  // The topmost top-level child of the set under the scene point that is a
  // visible image layer passing its threshold; "" when none is.
  std::string HitTest(const CLayerSet& front, int x, int y) const;

  // Tests the pointer and works out the handlers this frame runs, in order,
  // handing each to the callback as well. Runs at most once per frame
  // number: a handler that jumps back into a wait in the same frame must
  // not see the press edge again.
  std::vector<Event> Run(uint64_t frame, const Input& input, const CLayerSet& front,
                         const std::function<void(const Event&)>& callback = {});

  const std::set<std::string>& GetHoverSet() const { return m_hover; }
  // The handlers of one kind by layer id (saved with the game).
  const std::map<std::string, Attributes>& GetHandlers(Kind kind) const {
    return kind == Kind::kClick ? m_click : kind == Kind::kRollover ? m_rollover : m_rollout;
  }

  // Pointer position in scene pixels.
  static void ToScene(const Input& input, int& x, int& y);

 private:
  std::map<std::string, int> m_thresholds;
  std::map<std::string, Attributes> m_click, m_rollover, m_rollout;
  std::set<std::string> m_hover;
  uint64_t m_lastFrame = 0;
  bool m_ran = false;
};
