#include "scene/PointerEvents.h"

#include <cmath>

#include "scene/Layer.h"
#include "scene/LayerSet.h"

void CPointerEvents::Forget(const std::string& id) {
  m_thresholds.erase(id);
  m_click.erase(id);
  m_rollover.erase(id);
  m_rollout.erase(id);
  m_hover.erase(id);
}

void CPointerEvents::Clear() {
  m_thresholds.clear();
  m_click.clear();
  m_rollover.clear();
  m_rollout.clear();
  m_hover.clear();
}

void CPointerEvents::ToScene(const Input& input, int& x, int& y) {
  // Links and sliders scale their rectangles by the full-screen scale; the
  // layer test divides the pointer instead. The two agree but for the far
  // edges: at scale 1.5 a right edge of 25 takes x up to 38 here, and up to
  // floor(25 * 1.5) = 37 for a link.
  if (input.scale > 0.0f && input.scale != 1.0f && std::isfinite(input.scale)) {
    x = int(std::floor(double(input.x) / input.scale));
    y = int(std::floor(double(input.y) / input.scale));
  } else {
    x = input.x;
    y = input.y;
  }
}

std::string CPointerEvents::HitTest(const CLayerSet& front, int x, int y) const {
  const CPoint point(x, y);
  std::string after;
  for (;;) {
    std::string name = front.NameAt(point, after);
    if (name.empty()) return "";
    auto* layer = dynamic_cast<ILayer*>(front.Find(name));
    if (layer && layer->GetVisible()) {
      auto threshold = m_thresholds.find(name);
      if (threshold == m_thresholds.end()) return name;
      const int p = int(layer->GetPixel(point) >> 24);
      const int a = layer->GetAlpha();
      if (((int64_t(a) + 1) * p >> 8) >= threshold->second) return name;
    }
    after = std::move(name);
  }
}

std::vector<CPointerEvents::Event> CPointerEvents::Run(uint64_t frame, const Input& input, const CLayerSet& front,
                                                       const std::function<void(const Event&)>& callback) {
  std::vector<Event> events;
  if (m_ran && frame == m_lastFrame) return events;
  m_ran = true;
  m_lastFrame = frame;
  if (!HasHandlers()) return events;

  const auto fire = [&](Kind kind, const std::string& id, const Attributes& attributes) {
    auto call = attributes.find("call");
    events.push_back({kind, id, attributes, call != attributes.end() && call->second != "0"});
  };

  int x = 0, y = 0;
  ToScene(input, x, y);
  const std::string hit = HitTest(front, x, y);
  bool done = false;
  if (!hit.empty()) {
    if (input.pressEdge) {
      auto handler = m_click.find(hit);
      if (handler != m_click.end()) {
        fire(Kind::kClick, hit, handler->second);
        done = true;
      }
    } else if (m_hover.insert(hit).second) {
      auto handler = m_rollover.find(hit);
      if (handler != m_rollover.end()) {
        fire(Kind::kRollover, hit, handler->second);
        done = true;
      }
    }
  }
  if (!done) {
    for (auto it = m_hover.begin(); it != m_hover.end();) {
      if (*it == hit) {
        ++it;
        continue;
      }
      const std::string id = *it;
      it = m_hover.erase(it);
      auto handler = m_rollout.find(id);
      if (handler != m_rollout.end()) fire(Kind::kRollout, id, handler->second);
    }
  }
  if (callback)
    for (const Event& event : events) callback(event);
  return events;
}
