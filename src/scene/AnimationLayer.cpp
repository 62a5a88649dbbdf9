#include "scene/AnimationLayer.h"

#include <string>

#include "platform/TimerResolution.h"
#include "scene/LayerSet.h"

namespace {

std::string HolderName(int32_t time) { return std::to_string(time); }

}  // namespace

CAnimationLayer::CAnimationLayer(Clock clock) : m_clock(std::move(clock)), m_holder(std::make_unique<CLayerSet>()) {
  m_start = Now();
}

CAnimationLayer::~CAnimationLayer() = default;

uint32_t CAnimationLayer::Now() const { return m_clock ? m_clock() : CTimerResolution::Instance()->GetTime(); }

int CAnimationLayer::GetWidth() const {
  IVirtualLayer* first = FindFrame(0);
  return first ? first->GetWidth() : 0;
}

int CAnimationLayer::GetHeight() const {
  IVirtualLayer* first = FindFrame(0);
  return first ? first->GetHeight() : 0;
}

int CAnimationLayer::GetRight() const {
  IVirtualLayer* first = FindFrame(0);
  return first ? first->GetRight() : GetX();
}

int CAnimationLayer::GetBottom() const {
  IVirtualLayer* first = FindFrame(0);
  return first ? first->GetBottom() : GetY();
}

int CAnimationLayer::GetDrawFlags() const {
  int flags = CLayerProperty::GetDrawFlags();
  for (const auto& [time, frame] : m_frames)
    if (frame) flags |= frame->GetDrawFlags();
  return flags;
}

IVirtualLayer* CAnimationLayer::FindFrame(int32_t time) const {
  auto it = m_frames.find(time);
  return it == m_frames.end() ? nullptr : it->second;
}

void CAnimationLayer::Reset(IVirtualLayer* first) {
  m_start = Now();
  m_frames.clear();
  m_holder->RemoveAll();
  if (first) SetFrame(first, 0);
}

void CAnimationLayer::SetFrame(IVirtualLayer* frame, int32_t time) {
  auto it = m_frames.find(time);
  if (it != m_frames.end()) {
    m_frames.erase(it);
    m_holder->Remove(HolderName(time));
  }
  m_frames[time] = frame;
  if (frame) m_holder->Add(HolderName(time), frame);
}

const std::pair<const int32_t, IVirtualLayer*>* CAnimationLayer::Select(uint32_t now, uint32_t& start) const {
  // The first marker after 0 is the only one a walk can reach: every later
  // entry lies beyond it.
  int64_t loop = 0;
  for (const auto& [time, frame] : m_frames) {
    if (!frame && time > 0) {
      loop = time;
      break;
    }
  }
  int64_t elapsed = int64_t(uint32_t(now - start));
  if (loop > 0 && elapsed >= loop) {
    const int64_t skipped = elapsed / loop * loop;
    start = uint32_t(int64_t(start) + skipped);
    elapsed -= skipped;
  }
  int64_t previous = 0;
  for (const auto& entry : m_frames) {
    if (elapsed < int64_t(entry.first)) {
      auto it = m_frames.find(int32_t(previous));
      return it == m_frames.end() || !it->second ? nullptr : &*it;
    }
    if (entry.second) previous = entry.first;
  }
  return nullptr;
}

int64_t CAnimationLayer::GetShownTime(uint32_t now) const {
  uint32_t start = m_start;
  const auto* entry = Select(now, start);
  return entry ? int64_t(entry->first) : -1;
}

void CAnimationLayer::DrawWithParents(ISurface* target, CParentChain& parents) {
  const auto* entry = Select(Now(), m_start);
  // An animation hidden with visible=0 draws none of its frames, as any
  // other hidden layer draws nothing.
  if (!entry || !GetVisible()) return;
  parents.push_back(this);
  entry->second->DrawWithParents(target, parents);
  parents.pop_back();
}

void CAnimationLayer::Draw(ISurface* target) {
  CParentChain none;
  DrawWithParents(target, none);
}
