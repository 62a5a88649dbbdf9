// Pictures the compositing benchmarks draw: photo-like gradients with grain,
// made the same way every run.
#pragma once

#include <cstdint>

#include "graphics/Surface.h"

namespace bench {

// A linear congruential step: cheap, and the same numbers everywhere.
inline uint32_t Next(uint32_t& seed) {
  seed = seed * 1664525u + 1013904223u;
  return seed >> 8;
}

// Gradients with grain from the seed; format 2 gets opaque, partial and
// clear thirds, format 1 is opaque.
inline void Picture(ISurface& s, int w, int h, int format, uint32_t seed) {
  s.Create(w, h, format);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = s.GetLine(y);
    for (int x = 0; x < w; ++x) {
      const int grain = int(Next(seed) % 9) - 4;
      const auto clamp = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
      row[4 * x + 0] = clamp(x * 255 / w + grain);
      row[4 * x + 1] = clamp(y * 255 / h + grain);
      row[4 * x + 2] = clamp((x + y) * 255 / (w + h) + grain);
      row[4 * x + 3] = format == 1 || x < w / 3 ? 255 : x < 2 * w / 3 ? uint8_t(y * 255 / h) : 0;
    }
  }
}

}  // namespace bench
