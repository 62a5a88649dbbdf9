// Fuzzes the Ogg Vorbis decoder over its in-memory copy of the file.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "files/MemoryFile.h"
#include "sound/Vorbis.h"

namespace {

// Decoding is bounded so that a tiny file claiming hours of silence stays quick.
constexpr int kMaxReads = 256;

void Drain(CVorbis& sound, int piece) {
  std::vector<uint8_t> buffer(static_cast<size_t>(piece));
  for (int i = 0; i < kMaxReads; ++i) {
    int n = sound.Read(buffer.data(), piece);
    if (n > piece) __builtin_trap();
    if (n <= 0) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CVorbis sound;
  if (sound.Open(std::make_shared<CMemoryFile>(std::vector<uint8_t>(data, data + size)))) return 0;
  if (sound.GetBitsPerSample() != 16 || sound.GetChannels() <= 0 || sound.GetSampleRate() <= 0 ||
      sound.GetDataSize() < 0) {
    __builtin_trap();
  }
  Drain(sound, 4096);
  sound.Rewind();
  Drain(sound, 1001);
  return 0;
}
