// Arbitrary bytes opened as a movie from memory: streams picked, up to 64
// pictures decoded and converted, a bounded amount of sound resampled. Big
// pictures decode slowly under the sanitizers, so decoding stops at a time
// limit per input as well (opening is bounded by the decoder itself).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/MovieDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMovieDecoder decoder;
  if (decoder.OpenMemory(data, size)) return 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  auto timeLeft = [&] { return std::chrono::steady_clock::now() < deadline; };
  std::vector<uint8_t> pixels(32 * 24 * 4);
  for (int i = 0; i < 64 && timeLeft() && !decoder.DecodeVideo(); ++i)
    (void)decoder.ConvertFrame(32, 24, pixels.data(), 32 * 4);
  std::vector<int16_t> sound(2 * 4096);
  for (int i = 0; i < 16 && timeLeft() && !decoder.IsAudioEnded(); ++i) decoder.ReadAudio(sound.data(), 4096);
  return 0;
}
