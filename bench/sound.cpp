// The mixer's cost per second of output with 1, 8 and 32 playing buffers of
// mixed formats, and Ogg Vorbis decoding speed through CVorbis.
//
// Baselines measured in the same run:
// - BM_MixBaseline/N sums N 16-bit stereo 44,100 Hz streams (the output
//   format: no resampling, no volume) into the output with clamping, the least
//   any mixer must do. Report BM_Mixer/N as a ratio against BM_MixBaseline/N.
// - BM_VorbisLibrary decodes the same file with libvorbisfile alone (memory
//   callbacks, ov_read). Report BM_VorbisEngine as a ratio against it.
// - BM_SixteenChannels plays a game's ten seconds of sound through the sound
//   tags and the frame cycle: two streamed Vorbis pieces cross-fading and 14
//   static effects of mixed rates and formats fading in and out, with the
//   per-frame work (tweens, the volume follow, the mixer) of 600 frames.
//   Targets: "realtime" at least 50, and at most 2x BM_TwoStreamsLibrary,
//   the bare libvorbisfile decode of the same two pieces.
// The "realtime" counters give seconds of sound handled per second of work.

#include <benchmark/benchmark.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "files/Config.h"
#include "platform/Audio.h"
#include "platform/FileSystem.h"
#include "platform/InputState.h"
#include "platform/Platform.h"
#include "scene/Tween.h"
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"
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

// Decodes the whole file with libvorbisfile alone; true on failure.
bool DecodeWithLibrary(const std::vector<uint8_t>& ogg, std::vector<char>& pcm) {
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
  MemorySource source{&ogg, 0};
  OggVorbis_File vf;
  if (ov_open_callbacks(&source, &vf, nullptr, 0, callbacks) != 0) return true;
  int link;
  while (ov_read(&vf, pcm.data(), static_cast<int>(pcm.size()), 0, 2, 1, &link) > 0) {}
  ov_clear(&vf);
  return false;
}

void BM_VorbisLibrary(benchmark::State& state) {
  const std::vector<uint8_t>& ogg = MusicOgg();
  std::vector<char> pcm(4096);
  for (auto _ : state) {
    if (DecodeWithLibrary(ogg, pcm)) {
      state.SkipWithError("cannot open the Ogg file");
      return;
    }
    benchmark::DoNotOptimize(pcm.data());
  }
  state.counters["realtime"] = benchmark::Counter(kVorbisSeconds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_VorbisLibrary)->Unit(benchmark::kMillisecond);

// ---- Sixteen channels through the sound tags ----------------------------------

// The second piece: a brighter, faster figure, so the two streams differ.
const std::vector<uint8_t>& SecondOgg() {
  static const std::vector<uint8_t> ogg = [] {
    const int frames = kRate * kVorbisSeconds;
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    std::mt19937 rng(4);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    auto sample = [](double v) { return static_cast<int16_t>(std::clamp(v, -1.0, 1.0) * 32767.0); };
    for (int i = 0; i < frames; ++i) {
      double t = static_cast<double>(i) / kRate;
      double step = std::floor(t * 8);
      double f = 330 * std::pow(2.0, std::fmod(step * 4, 12) / 12);
      double v = 0.2 * std::sin(2 * M_PI * f * t) * std::exp(-6 * (t * 8 - step));
      samples[static_cast<size_t>(i) * 2] = sample(v + noise(rng));
      samples[static_cast<size_t>(i) * 2 + 1] = sample(v * 0.9 + noise(rng));
    }
    return soundtest::EncodeVorbis(samples, 2, kRate, 0.4f);
  }();
  return ogg;
}

void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A WAVE of a decaying tone in the given format.
std::vector<uint8_t> Effect(const platform::AudioFormat& format, double seconds, double freq) {
  auto put = [](std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const int frames = static_cast<int>(format.sampleRate * seconds);
  const int block = format.channels * format.bitsPerSample / 8;
  std::vector<uint8_t> pcm;
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / format.sampleRate;
    const double v = 0.5 * std::sin(2 * M_PI * freq * t) * std::exp(-2 * t);
    for (int c = 0; c < format.channels; ++c) {
      if (format.bitsPerSample == 8)
        pcm.push_back(static_cast<uint8_t>(128 + 127 * v));
      else
        put(pcm, static_cast<uint16_t>(static_cast<int16_t>(32767 * v)), 2);
    }
  }
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
  put(out, static_cast<uint32_t>(36 + pcm.size()), 4);
  for (char c : std::string("WAVEfmt ")) out.push_back(static_cast<uint8_t>(c));
  put(out, 16, 4);
  put(out, 1, 2);
  put(out, static_cast<uint32_t>(format.channels), 2);
  put(out, static_cast<uint32_t>(format.sampleRate), 4);
  put(out, static_cast<uint32_t>(format.sampleRate * block), 4);
  put(out, static_cast<uint32_t>(block), 2);
  put(out, static_cast<uint32_t>(format.bitsPerSample), 2);
  for (char c : std::string("data")) out.push_back(static_cast<uint8_t>(c));
  put(out, static_cast<uint32_t>(pcm.size()), 4);
  out.insert(out.end(), pcm.begin(), pcm.end());
  return out;
}

// A headless game folder with the two pieces and 14 effects, and the
// window and input state the interpreter expects.
void PrepareGame() {
  static bool ready = false;
  if (ready) return;
  ready = true;
  platform::Init(platform::Backend::Headless);
  auto dir = std::filesystem::temp_directory_path() / "velmira_bench_sound";
  std::filesystem::create_directories(dir);
  platform::SetCurrentDirectory(dir.string());
  SetRootArchivePath("game.pfs");
  const std::string script = "*start\n[wait time=100000000]\n";
  WriteFile("game.iet", std::vector<uint8_t>(script.begin(), script.end()));
  WriteFile("first.ogg", MusicOgg());
  WriteFile("second.ogg", SecondOgg());
  for (int i = 0; i < 14; ++i)
    WriteFile("fx" + std::to_string(i) + ".wav", Effect(FormatFor(i), 0.5 + 0.25 * (i % 4), 300 + 70 * i));
  platform::RegisterWindowClass("bench-sound");
  platform::CreateWindowArgs args;
  args.className = "bench-sound";
  args.width = 64;
  args.height = 48;
  CInputState::Instance(platform::CreateWindow(args));
}

CScriptBlock Tag(const char* name, std::map<std::string, std::string> attributes) {
  CScriptBlock record;
  record.m_type = CScriptBlock::kTag;
  record.m_text = name;
  record.m_attributes = std::move(attributes);
  return record;
}

void BM_SixteenChannels(benchmark::State& state) {
  PrepareGame();
  if (platform::AudioOpen({})) {
    state.SkipWithError("no audio device");
    return;
  }
  uint32_t start = 1000;
  for (auto _ : state) {
    auto script = std::make_unique<CMainScript>(GetTagRegistry(), nullptr);
    if (script->Boot()) {
      state.SkipWithError("the game does not boot");
      break;
    }
    script->Dispatch(Tag("splay", {{"file", "first"}}), false);
    for (int i = 0; i < 14; ++i) {
      const std::string id = std::to_string(i);
      script->Dispatch(Tag("sefadein", {{"id", id}, {"file", "fx" + id + ".wav"}, {"time", "400"}, {"loop", "1"}}),
                       false);
    }
    for (int n = 0; n < 600; ++n) {
      const uint32_t now = start + static_cast<uint32_t>((static_cast<int64_t>(n) * 17066) >> 10);
      platform::SetVirtualTicks(static_cast<uint64_t>(now) << 10);
      if (n == 60) script->Dispatch(Tag("sxfade", {{"file", "second"}, {"time", "8000"}}), false);
      // Effects fade out and come back in turn.
      if (n >= 120 && n % 30 == 0) {
        const std::string id = std::to_string((n / 30) % 14);
        script->Dispatch(Tag("sefadeout", {{"id", id}, {"time", "300"}}), false);
      }
      if (n >= 135 && n % 30 == 15) {
        const std::string id = std::to_string((n / 30) % 14);
        script->Dispatch(Tag("sefadein", {{"id", id}, {"file", "fx" + id + ".wav"}, {"time", "300"}, {"loop", "1"}}),
                         false);
      }
      CTweenRegistry::Instance().UpdateAll(now);
      CInputState::Instance()->Update(now);
      script->Frame(now);
      platform::AudioPump();
    }
    start += 20000;
    script.reset();
    CTweenRegistry::Instance().DeleteAll();
  }
  state.counters["realtime"] = benchmark::Counter(kVorbisSeconds, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["frames_mixed"] = static_cast<double>(platform::AudioFramesMixed());
  platform::AudioClose();
}
BENCHMARK(BM_SixteenChannels)->Unit(benchmark::kMillisecond);

void BM_TwoStreamsLibrary(benchmark::State& state) {
  std::vector<char> pcm(4096);
  for (auto _ : state) {
    if (DecodeWithLibrary(MusicOgg(), pcm) || DecodeWithLibrary(SecondOgg(), pcm)) {
      state.SkipWithError("cannot open the Ogg files");
      return;
    }
    benchmark::DoNotOptimize(pcm.data());
  }
  state.counters["realtime"] = benchmark::Counter(kVorbisSeconds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_TwoStreamsLibrary)->Unit(benchmark::kMillisecond);

}  // namespace
