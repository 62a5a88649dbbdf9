#include "scene/Tween.h"

template class TTween<int32_t>;

void CTweenQueue::Add(ITween* tween) { Add(std::unique_ptr<ITween>(tween)); }

void CTweenQueue::Add(std::unique_ptr<ITween> tween) {
  if (tween) m_tweens.push_back(std::move(tween));
}

bool CTweenQueue::Update(uint32_t now) {
  // A loop rather than recursion: a script can queue any number of tweens
  // that all finish in the same frame.
  while (!m_tweens.empty()) {
    if (!m_tweens.front()->Update(now)) return false;
    m_tweens.pop_front();
  }
  return true;
}

void CTweenQueue::Finish() {
  while (!m_tweens.empty()) {
    std::unique_ptr<ITween> head = std::move(m_tweens.front());
    m_tweens.pop_front();
    head->Finish();
  }
}

CTweenRegistry& CTweenRegistry::Instance() {
  static CTweenRegistry registry;
  return registry;
}

CTweenRegistry::~CTweenRegistry() { DeleteAll(); }

int32_t CTweenRegistry::Register(ITween* tween) { return Register(std::unique_ptr<ITween>(tween)); }

int32_t CTweenRegistry::Register(std::unique_ptr<ITween> tween) {
  const int32_t handle = m_counter++;
  if (tween) m_tweens.emplace(handle, std::move(tween));
  return handle;
}

bool CTweenRegistry::IsAlive(int32_t handle) const { return m_tweens.count(handle) != 0; }

void CTweenRegistry::Kill(int32_t handle) {
  auto it = m_tweens.find(handle);
  if (it == m_tweens.end()) return;
  std::unique_ptr<ITween> tween = std::move(it->second);
  m_tweens.erase(it);
  tween->Finish();
  if (handle == m_updating) {
    // Killed from inside its own Update: delete it once that returns.
    m_updatingKilled = true;
    m_killedHandle = handle;
    m_graveyard.push_back(std::move(tween));
  }
}

void CTweenRegistry::UpdateAll(uint32_t now) {
  // Each tween is reached through the live map, not a copy of it: a callback
  // may kill other tweens, which must not be advanced afterwards in the same
  // pass (erasing other entries leaves this iterator valid). Tweens
  // registered meanwhile have handles past the limit and wait a frame.
  const int32_t limit = m_counter;
  const uint64_t generation = ++m_generation;
  auto it = m_tweens.begin();
  while (it != m_tweens.end() && it->first < limit) {
    m_updating = it->first;
    m_updatingKilled = false;
    const bool finished = it->second->Update(now);
    m_updating = -1;
    if (m_generation != generation) {
      // DeleteAll ran inside a callback: the map is a new one.
      m_graveyard.clear();
      return;
    }
    if (m_updatingKilled) {
      // Kill already took it out of the map.
      m_graveyard.clear();
      it = m_tweens.upper_bound(m_killedHandle);
      continue;
    }
    if (finished)
      it = m_tweens.erase(it);
    else
      ++it;
  }
}

void CTweenRegistry::DeleteAll() {
  // Destructors of tweens may run callbacks' captured state; take the map
  // out first so nothing sees it half torn down.
  std::map<int32_t, std::unique_ptr<ITween>> doomed;
  doomed.swap(m_tweens);
  ++m_generation;
  if (m_updating >= 0) {
    auto it = doomed.find(m_updating);
    if (it != doomed.end()) {
      m_updatingKilled = true;
      m_graveyard.push_back(std::move(it->second));
    }
  }
}

std::vector<int32_t> CTweenRegistry::GetHandles() const {
  std::vector<int32_t> handles;
  handles.reserve(m_tweens.size());
  for (const auto& entry : m_tweens) handles.push_back(entry.first);
  return handles;
}

std::vector<std::pair<int64_t, int32_t>> SampleTween(int kind, int32_t from, int32_t to, int32_t duration,
                                                     int32_t step) {
  std::vector<std::pair<int64_t, int32_t>> out;
  if (duration < 0 || step < 1) return out;
  int32_t value = from;
  CIntTween tween([&](int32_t v) { value = v; }, from, to, duration, 0);
  tween.SetEase(kind);
  bool finished = false;
  const auto sample = [&](int64_t ms) {
    if (!finished) finished = tween.Update(uint32_t(ms));
    out.emplace_back(ms, value);
  };
  int64_t ms = 0;
  for (; ms <= duration; ms += step) sample(ms);
  if (ms - step != duration) sample(duration);
  return out;
}
