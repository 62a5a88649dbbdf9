#include "scene/Tween.h"

#include <algorithm>

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
  if (tween) {
    m_entries.push_back({handle, std::move(tween)});
    ++m_live;
  }
  return handle;
}

ptrdiff_t CTweenRegistry::Find(int32_t handle) const {
  auto it = std::lower_bound(m_entries.begin(), m_entries.end(), handle,
                             [](const Entry& entry, int32_t h) { return entry.handle < h; });
  if (it == m_entries.end() || it->handle != handle || !it->tween) return -1;
  return it - m_entries.begin();
}

bool CTweenRegistry::IsAlive(int32_t handle) const { return Find(handle) >= 0; }

void CTweenRegistry::Kill(int32_t handle) {
  const ptrdiff_t index = Find(handle);
  if (index < 0) return;
  std::unique_ptr<ITween> tween = std::move(m_entries[size_t(index)].tween);
  --m_live;
  tween->Finish();
  if (tween.get() == m_updating) m_graveyard.push_back(std::move(tween));
  if (m_passes == 0 && m_entries.size() > 2 * m_live + 16) Sweep();
}

void CTweenRegistry::UpdateAll(uint32_t now) {
  // Each entry is looked up as the pass reaches it, not taken from a copy:
  // a callback may kill other tweens, which must not be advanced afterwards
  // in the same pass. Tweens registered meanwhile lie past the limit and
  // wait a frame.
  const size_t limit = m_entries.size();
  const uint64_t generation = m_generation;
  ++m_passes;
  for (size_t i = 0; i < limit; ++i) {
    ITween* tween = m_entries[i].tween.get();
    if (!tween) continue;
    m_updating = tween;
    const bool finished = tween->Update(now);
    m_updating = nullptr;
    if (m_generation != generation) break;  // DeleteAll ran in a callback
    if (!m_graveyard.empty()) {
      m_graveyard.clear();  // it killed itself: already out of the entry
      continue;
    }
    if (finished) {
      m_entries[i].tween.reset();
      --m_live;
    }
  }
  --m_passes;
  m_graveyard.clear();
  if (m_passes == 0 && m_entries.size() != m_live) Sweep();
}

void CTweenRegistry::Sweep() {
  m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(), [](const Entry& e) { return !e.tween; }),
                  m_entries.end());
}

void CTweenRegistry::DeleteAll() {
  // Taken out first, so that nothing a destructor does sees the registry
  // half torn down; the tween being advanced is kept until its Update ends.
  std::vector<Entry> doomed;
  doomed.swap(m_entries);
  m_live = 0;
  ++m_generation;
  for (Entry& entry : doomed)
    if (entry.tween && entry.tween.get() == m_updating) m_graveyard.push_back(std::move(entry.tween));
}

std::vector<int32_t> CTweenRegistry::GetHandles() const {
  std::vector<int32_t> handles;
  handles.reserve(m_live);
  for (const Entry& entry : m_entries)
    if (entry.tween) handles.push_back(entry.handle);
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
