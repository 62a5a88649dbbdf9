// Arbitrary bytes opened as a movie from memory: streams picked, up to 64
// pictures decoded and converted, a bounded amount of sound resampled.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/MovieDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMovieDecoder decoder;
  if (decoder.OpenMemory(data, size)) return 0;
  std::vector<uint8_t> pixels(32 * 24 * 4);
  for (int i = 0; i < 64 && !decoder.DecodeVideo(); ++i) (void)decoder.ConvertFrame(32, 24, pixels.data(), 32 * 4);
  std::vector<int16_t> sound(2 * 4096);
  for (int i = 0; i < 16 && !decoder.IsAudioEnded(); ++i) decoder.ReadAudio(sound.data(), 4096);
  return 0;
}
