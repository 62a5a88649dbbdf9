// Tweens move one value from a start to an end over a time span along an
// easing curve and hand every step to a setter. The process-wide registry
// owns running tweens and advances them once per frame; a queue runs tweens
// one after another as a single registered tween.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "scene/Easing.h"

class ITween {
 public:
  virtual ~ITween() = default;
  // Advances to the time now (milliseconds). True when the tween has
  // finished and may be deleted.
  virtual bool Update(uint32_t now) = 0;
  // Puts the value at its end at once (no completion callback).
  virtual void Finish() = 0;
};

template <typename T>
class TTween : public ITween {
 public:
  using Setter = std::function<void(T)>;

  TTween(Setter setter, T from, T to, int32_t duration, int32_t delay)
      : m_from(double(from)), m_to(double(to)), m_duration(duration), m_delay(delay), m_setter(std::move(setter)) {}

  void SetEase(int kind) { m_kind = kind; }
  // Repeats with the ends swapped: count more runs, -1 for endless.
  void SetYoyo(int32_t count) { m_repeat = count; }
  void SetOnComplete(std::function<void()> callback) { m_onComplete = std::move(callback); }

  bool Update(uint32_t now) override {
    // A started flag instead of "start time 0", and signed differences
    // instead of plain comparisons, keep tweens running across the 32-bit
    // millisecond wrap.
    if (!m_started) {
      m_started = true;
      m_start = now + uint32_t(m_delay);
      m_end = m_start + uint32_t(m_duration);
    }
    double v;
    if (int32_t(m_start - now) >= 0)
      v = m_from;
    else if (int32_t(now - m_end) < 0)
      v = Ease(m_kind, double(now - m_start), m_from, m_to - m_from, double(int32_t(m_end - m_start)));
    else
      v = m_to;
    Set(v);
    if (v != m_to) return false;
    if (m_repeat == 0) {
      if (m_onComplete) m_onComplete();
      return true;
    }
    std::swap(m_from, m_to);
    const uint32_t span = m_end - m_start;
    m_start = m_end;
    m_end = m_start + span;
    m_reversed = !m_reversed;
    // Counts below -1 go down as well, wrapping at the bottom of the range
    // (some four billion turns later), as a 32-bit counter does.
    if (m_repeat != -1) m_repeat = m_repeat == INT32_MIN ? INT32_MAX : m_repeat - 1;
    return false;
  }

  void Finish() override { Set(m_reversed ? m_from : m_to); }

  int GetEase() const { return m_kind; }
  bool IsStarted() const { return m_started; }
  uint32_t GetStart() const { return m_start; }
  uint32_t GetEnd() const { return m_end; }
  double GetFrom() const { return m_from; }
  double GetTo() const { return m_to; }
  int32_t GetRepeat() const { return m_repeat; }

 private:
  void Set(double v) {
    if (m_setter) m_setter(Truncate(v));
  }
  static T Truncate(double v) {
    // Toward zero; values outside T (only reachable through overshooting
    // curves near the limits) saturate instead of being undefined.
    if (!(v == v)) return T(0);
    if (v >= double(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    if (v <= double(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    return T(v);
  }

  int m_kind = kEaseNone;
  double m_from, m_to;
  int32_t m_duration, m_delay;
  uint32_t m_start = 0, m_end = 0;
  bool m_started = false;
  int32_t m_repeat = 0;
  bool m_reversed = false;
  Setter m_setter;
  std::function<void()> m_onComplete;
};

extern template class TTween<int32_t>;
using CIntTween = TTween<int32_t>;

class CTweenQueue : public ITween {
 public:
  CTweenQueue() = default;
  CTweenQueue(const CTweenQueue&) = delete;
  CTweenQueue& operator=(const CTweenQueue&) = delete;

  // Appends at the tail; the queue owns the tween.
  void Add(ITween* tween);
  void Add(std::unique_ptr<ITween> tween);
  bool Update(uint32_t now) override;
  void Finish() override;
  size_t GetCount() const { return m_tweens.size(); }

 private:
  std::deque<std::unique_ptr<ITween>> m_tweens;
};

// The process-wide owner of running tweens, by handle. Handles count up
// from 0 and are never reused.
class CTweenRegistry {
 public:
  static CTweenRegistry& Instance();

  CTweenRegistry() = default;
  CTweenRegistry(const CTweenRegistry&) = delete;
  CTweenRegistry& operator=(const CTweenRegistry&) = delete;
  ~CTweenRegistry();

  int32_t Register(ITween* tween);
  int32_t Register(std::unique_ptr<ITween> tween);
  bool IsAlive(int32_t handle) const;
  // Finishes and deletes a live tween; nothing for a dead handle.
  void Kill(int32_t handle);
  // Advances every tween registered before the pass; finished ones go.
  void UpdateAll(uint32_t now);
  // Deletes every tween without finishing it.
  void DeleteAll();

  size_t GetCount() const { return m_live; }
  int32_t GetNextHandle() const { return m_counter; }
  // Live handles in ascending order.
  std::vector<int32_t> GetHandles() const;

 private:
  // Entries in handle order (handles only grow, so registering appends);
  // a killed or finished entry is emptied and swept out after the pass, so
  // indices stay put while callbacks run. A contiguous array keeps the
  // per-frame pass close to a plain loop.
  struct Entry {
    int32_t handle;
    std::unique_ptr<ITween> tween;
  };
  // Index of the live entry with that handle, or -1.
  ptrdiff_t Find(int32_t handle) const;
  void Sweep();

  std::vector<Entry> m_entries;
  size_t m_live = 0;
  int32_t m_counter = 0;
  int m_passes = 0;  // UpdateAll calls under way
  // The tween being advanced: a callback that kills it cannot delete it
  // under its own Update, so it waits here until that returns.
  ITween* m_updating = nullptr;
  std::vector<std::unique_ptr<ITween>> m_graveyard;
  uint64_t m_generation = 0;  // counts DeleteAll calls
};

// The values a tween from -> to over duration ms along the kind's curve,
// started at time 0, sets at the times 0, step, 2 step, ... and at duration
// itself: pairs of (time, value). Empty for a negative duration or a step
// below 1.
std::vector<std::pair<int64_t, int32_t>> SampleTween(int kind, int32_t from, int32_t to, int32_t duration,
                                                     int32_t step);
