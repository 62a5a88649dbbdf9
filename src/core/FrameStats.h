// What one frame spent and did, for the -stats file. Everything is behind one
// flag: while it is off a section costs a load and a branch and nothing else.
#pragma once

#include <chrono>
#include <cstdint>

namespace framestats {

enum Section { kInput, kTweens, kScript, kLayers, kDraw, kPresent, kSectionCount };

struct Frame {
  int64_t us[kSectionCount] = {};
  uint32_t records = 0;  // script records dispatched
  uint32_t layers = 0;   // layers drawn
  uint32_t glyphs = 0;   // glyph images made (cache misses)
};

inline bool g_on = false;
inline Frame g_frame;

inline bool On() { return g_on; }
inline void CountRecord() {
  if (g_on) ++g_frame.records;
}
inline void CountLayer() {
  if (g_on) ++g_frame.layers;
}
inline void CountGlyph() {
  if (g_on) ++g_frame.glyphs;
}

inline int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Adds the time of its scope to a section.
class Scope {
 public:
  explicit Scope(Section section) : section_(section), start_(g_on ? NowUs() : 0) {}
  ~Scope() {
    if (g_on && start_) g_frame.us[section_] += NowUs() - start_;
  }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  Section section_;
  int64_t start_;
};

}  // namespace framestats
