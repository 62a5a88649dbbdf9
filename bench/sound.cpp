// The mixer's cost per second of output with 1, 8 and 32 playing buffers of
// mixed formats, and Ogg Vorbis decoding speed through CVorbis.
//
// Baselines measured in the same run:
// - BM_MixBaseline/N sums N 16-bit stereo 44,100 Hz streams (the output
//   format: no resampling, no volume) into the output with clamping, the least
//   any mixer must do. Report BM_Mixer/N as a ratio against BM_MixBaseline/N.
// - BM_VorbisLibrary decodes the same file with libvorbisfile alone (memory
//   callbacks, ov_read). Report BM_VorbisEngine as a ratio against it.
// The "realtime" counters give seconds of sound handled per second of work.

#include <benchmark/benchmark.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "platform/Audio.h"
#include "platform/Platform.h"
#include "sound/SoundTestUtil.h"
#include "sound/Vorbis.h"

namespace {

constexpr int kRate = 44100;

class CBytesFile : public CFile {
 public:
  explicit CBytesFile(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  bool Open(const char*) override { return true; }
  int Read(void* buffer, unsigned count) override {
    size_t n = std::min<size_t>(count, bytes_.size() - pos_);
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return static_cast<int>(n);
  }
  int Seek(int offset, int origin) override {
    pos_ = static_cast<size_t>((origin == 0 ? 0 : origin == 1 ? pos_ : bytes_.size()) + offset);
    return 0;
  }
  int Tell() override { return static_cast<int>(pos_); }
  int GetSize() override { return static_cast<int>(bytes_.size()); }
  int Close() override { return 0; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
};

// ---- Mixer -----------------------------------------------------------------

platform::AudioFormat FormatFor(int i) {
  static const platform::AudioFormat kFormats[] = {
      {2, 44100, 16}, {1, 22050, 8}, {2, 48000, 16}, {1, 44100, 16}, {2, 32000, 8}, {1, 11025, 16},
  };
  return kFormats[i % 6];
}

void BM_Mixer(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  platform::AudioOpen({});
  std::mt19937 rng(1);
  std::vector<std::unique_ptr<platform::CAudioBuffer>> buffers;
  for (int i = 0; i < count; ++i) {
    platform::AudioFormat format = FormatFor(i);
    uint32_t bytes = static_cast<uint32_t>(format.BytesPerSecond() * 2);
    auto buffer = platform::CAudioBuffer::Create(format, bytes);
    std::vector<uint8_t> noise(bytes);
    for (auto& b : noise) b = static_cast<uint8_t>(rng());
    buffer->Write(0, noise.data(), bytes);
    buffer->SetAttenuation(-(i % 5) * 300);
    buffer->SetNotifications({0, bytes / 2});
    buffer->Play(true);
    buffers.push_back(std::move(buffer));
  }
  for (auto _ : state) {
    platform::SetVirtualTicks(platform::GetVirtualTicks() + (uint64_t{1000} << 10));
    platform::AudioPump();  // renders one second of output
  }
  state.counters["realtime"] = benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
  buffers.clear();
  platform::AudioClose();
}
BENCHMARK(BM_Mixer)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMicrosecond);

void BM_MixBaseline(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::mt19937 rng(1);
  std::vector<std::vector<int16_t>> sources(static_cast<size_t>(count), std::vector<int16_t>(kRate * 2));
  for (auto& s : sources) {
    for (auto& v : s) v = static_cast<int16_t>(rng());
  }
  std::vector<int32_t> acc(kRate * 2);
  std::vector<int16_t> out(kRate * 2);
  for (auto _ : state) {
    std::fill(acc.begin(), acc.end(), 0);
    for (const auto& s : sources) {
      for (size_t i = 0; i < acc.size(); ++i) acc[i] += s[i];
    }
    for (size_t i = 0; i < acc.size(); ++i) out[i] = static_cast<int16_t>(std::clamp(acc[i], -32768, 32767));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.counters["realtime"] = benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MixBaseline)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMicrosecond);

// ---- Vorbis ----------------------------------------------------------------

constexpr int kVorbisSeconds = 10;

// Ten seconds of stereo "music": chords with vibrato over soft noise.
const std::vector<uint8_t>& MusicOgg() {
  static const std::vector<uint8_t> ogg = [] {
    const int frames = kRate * kVorbisSeconds;
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    auto sample = [](double v) { return static_cast<int16_t>(std::clamp(v, -1.0, 1.0) * 32767.0); };
    for (int i = 0; i < frames; ++i) {
      double t = static_cast<double>(i) / kRate;
      double v = 0.15 * std::sin(2 * M_PI * 220 * t + 0.3 * std::sin(2 * M_PI * 5 * t)) +
                 0.1 * std::sin(2 * M_PI * 277.2 * t) + 0.1 * std::sin(2 * M_PI * 329.6 * t);
      samples[static_cast<size_t>(i) * 2] = sample(v + noise(rng));
      samples[static_cast<size_t>(i) * 2 + 1] = sample(v * 0.8 + noise(rng));
    }
    return soundtest::EncodeVorbis(samples, 2, kRate, 0.4f);
  }();
  return ogg;
}

void BM_VorbisEngine(benchmark::State& state) {
  const std::vector<uint8_t>& ogg = MusicOgg();
  CVorbis sound;
  if (sound.Open(std::make_shared<CBytesFile>(ogg))) {
    state.SkipWithError("cannot open the Ogg file");
    return;
  }
  // The player reads one second (one half buffer) at a time.
  std::vector<uint8_t> half(kRate * 4);
  for (auto _ : state) {
    sound.Rewind();
    while (sound.Read(half.data(), static_cast<int>(half.size())) > 0) {}
    benchmark::DoNotOptimize(half.data());
  }
  state.counters["realtime"] = benchmark::Counter(kVorbisSeconds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_VorbisEngine)->Unit(benchmark::kMillisecond);

struct MemorySource {
  const std::vector<uint8_t>* bytes;
  size_t pos;
};

void BM_VorbisLibrary(benchmark::State& state) {
  const std::vector<uint8_t>& ogg = MusicOgg();
  ov_callbacks callbacks{[](void* p, size_t size, size_t count, void* s) -> size_t {
                           auto* m = static_cast<MemorySource*>(s);
                           size_t n = std::min(size * count, m->bytes->size() - m->pos) / size;
                           std::memcpy(p, m->bytes->data() + m->pos, n * size);
                           m->pos += n * size;
                           return n;
                         },
                         [](void* s, ogg_int64_t offset, int whence) -> int {
                           auto* m = static_cast<MemorySource*>(s);
                           ogg_int64_t base = whence == SEEK_SET   ? 0
                                              : whence == SEEK_CUR ? static_cast<ogg_int64_t>(m->pos)
                                                                   : static_cast<ogg_int64_t>(m->bytes->size());
                           m->pos = static_cast<size_t>(base + offset);
                           return 0;
                         },
                         [](void*) -> int { return 0; },
                         [](void* s) -> long { return static_cast<long>(static_cast<MemorySource*>(s)->pos); }};
  std::vector<char> pcm(4096);
  for (auto _ : state) {
    MemorySource source{&ogg, 0};
    OggVorbis_File vf;
    if (ov_open_callbacks(&source, &vf, nullptr, 0, callbacks) != 0) {
      state.SkipWithError("cannot open the Ogg file");
      return;
    }
    int link;
    while (ov_read(&vf, pcm.data(), static_cast<int>(pcm.size()), 0, 2, 1, &link) > 0) {}
    ov_clear(&vf);
    benchmark::DoNotOptimize(pcm.data());
  }
  state.counters["realtime"] = benchmark::Counter(kVorbisSeconds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_VorbisLibrary)->Unit(benchmark::kMillisecond);

}  // namespace
