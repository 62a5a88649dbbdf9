// PNG encoding through libpng: screenshots, and the images tests and
// benchmarks make for themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct PngImage {
  int width = 0;
  int height = 0;
  // libpng colour type: 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA.
  int colorType = 2;
  int bitDepth = 8;
  bool interlaced = false;
  // Rows top to bottom, pitch bytes apart, in the colour type's channel
  // order (16-bit samples big-endian, palette images one index per byte).
  const uint8_t* pixels = nullptr;
  size_t pitch = 0;
  // For colour type 3: R, G, B per entry (up to 256 entries).
  std::vector<uint8_t> palette;
};

// Appends the encoded file to out; true on failure (out then unchanged).
[[nodiscard]] bool EncodePng(const PngImage& image, std::vector<uint8_t>& out);

// Encodes a 32-bit B, G, R, A picture (tightly packed rows) as an RGB PNG,
// the way screenshots are kept. True on failure.
[[nodiscard]] bool EncodeBgraAsRgbPng(const uint8_t* bgra, int width, int height, std::vector<uint8_t>& out);

class ISurface;

// Encodes a surface: format 0 as 8-bit grey, format 1 as RGB, format 2 as
// RGBA (straight alpha), so that the PNG loader reads it back into the same
// format. out is replaced. True on failure (no pixels, an unknown format).
[[nodiscard]] bool EncodePng(ISurface* surface, std::vector<uint8_t>& out);
