// Decodes arbitrary bytes as a PNG through the engine's loader. Chunk
// checksums are recomputed first so that mutations reach the decoder
// instead of stopping at the checksum test. Broken input must fail cleanly:
// no crash, no read outside the data, no allocation from a hostile size.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/MemoryFile.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"

namespace {

void FixChunkChecksums(std::vector<uint8_t>& bytes) {
  size_t pos = 8;
  while (pos + 12 <= bytes.size()) {
    const uint32_t length =
        uint32_t(bytes[pos]) << 24 | uint32_t(bytes[pos + 1]) << 16 | uint32_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
    if (length > bytes.size() - pos - 12) break;
    const size_t end = pos + 8 + length;
    const uint32_t crc = uint32_t(crc32(0, bytes.data() + pos + 4, uInt(length + 4)));
    for (int i = 0; i < 4; ++i) bytes[end + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    pos = end + 4;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string reason;
  PngHeaderUnsupported(data, size, &reason);

  std::vector<uint8_t> bytes(data, data + size);
  FixChunkChecksums(bytes);
  CMemoryFile file(bytes.data(), bytes.size());
  CSurface surface;
  if (!CPng().Load(&surface, &file)) {
    // A successful load covers every row it claims.
    const int bpp = surface.GetBytesPerPixel();
    volatile uint8_t sink = 0;
    for (int y = 0; y < surface.GetHeight(); ++y) sink = sink ^ surface.GetLine(y)[surface.GetWidth() * bpp - 1];
  }
  return 0;
}
