// Encodes a surface as a PNG file in memory: format 0 as 8-bit grey, format 1
// as RGB, format 2 as RGBA (straight alpha), so that the PNG loader reads it
// back into the same format.
#pragma once

#include <cstdint>
#include <vector>

class ISurface;

// Returns true on failure (no pixels, an unknown format, a libpng error).
[[nodiscard]] bool EncodePng(ISurface* surface, std::vector<uint8_t>& out);
