// The audio layer's buffers and its mixer. Backends (SDL, null) live in
// sdl/AudioSdl.cpp and headless/AudioNull.cpp and only pull rendered output.
#include "platform/Audio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/AudioDevice.h"
#include "platform/Log.h"

namespace platform {

namespace detail {

struct AudioVoice {
  AudioFormat format;
  std::vector<uint8_t> data;
  uint32_t frames = 0;
  uint64_t step = 0;  // source frames per output frame, 32.32 fixed point
  uint64_t pos = 0;   // play cursor in source frames, 32.32 fixed point
  bool playing = false;
  bool looping = false;
  bool attached = false;  // in the mixer's list of the open output
  int attenuation = 0;
  float gain = 1.0f;
  std::vector<uint32_t> notifyFrames;  // frame index, or CAudioBuffer::kNotifyStop
  std::vector<uint8_t> fired;
};

}  // namespace detail

namespace {

using detail::AudioVoice;

constexpr uint64_t kOne = uint64_t{1} << 32;
constexpr uint64_t kMaxDumpBytes = 0xFFFFFFFFull - 36;

struct AudioState {
  bool open = false;
  std::unique_ptr<detail::IAudioDevice> device;
  std::vector<std::shared_ptr<AudioVoice>> voices;
  FILE* dump = nullptr;
  uint64_t dumpBytes = 0;
  bool dumpFailed = false;
  uint64_t framesMixed = 0;
};

AudioState& State() {
  static AudioState state;
  return state;
}

void CatchUpLocked() {
  AudioState& s = State();
  if (s.open && s.device) s.device->CatchUpLocked();
}

void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void MakeWaveHeader(uint8_t header[44], uint32_t dataBytes) {
  std::memcpy(header, "RIFF", 4);
  PutLe32(header + 4, 36 + dataBytes);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  PutLe32(header + 16, 16);
  PutLe16(header + 20, 1);
  PutLe16(header + 22, kAudioOutputChannels);
  PutLe32(header + 24, kAudioOutputRate);
  PutLe32(header + 28, kAudioOutputRate * kAudioOutputChannels * 2);
  PutLe16(header + 32, kAudioOutputChannels * 2);
  PutLe16(header + 34, 16);
  std::memcpy(header + 36, "data", 4);
  PutLe32(header + 40, dataBytes);
}

void FinishDump(AudioState& s) {
  if (!s.dump) return;
  uint8_t header[44];
  MakeWaveHeader(header, static_cast<uint32_t>(s.dumpBytes));
  bool failed = s.dumpFailed;
  failed |= std::fseek(s.dump, 0, SEEK_SET) != 0;
  failed |= std::fwrite(header, 1, sizeof(header), s.dump) != sizeof(header);
  failed |= std::fclose(s.dump) != 0;
  if (failed) {
    // A full disk must not pass for a complete recording.
    std::fprintf(stderr, "velmira: the audio dump could not be written completely\n");
    LogProblem("the audio dump could not be written completely");
  }
  s.dump = nullptr;
  s.dumpFailed = false;
  s.dumpBytes = 0;
}

void Fire(AudioVoice& v, uint32_t frame) {
  for (size_t i = 0; i < v.notifyFrames.size(); ++i) {
    if (v.notifyFrames[i] == frame) v.fired[i] = 1;
  }
}

// Fires the offset notifications whose frame the cursor reached while it moved
// over [from, to) (32.32 positions; `to` may lie up to one step past the end).
void FireCrossed(AudioVoice& v, uint64_t from, uint64_t to) {
  for (size_t i = 0; i < v.notifyFrames.size(); ++i) {
    uint32_t f = v.notifyFrames[i];
    if (f == CAudioBuffer::kNotifyStop) continue;
    uint64_t at = uint64_t{f} << 32;
    uint64_t again = uint64_t{f + uint64_t{v.frames}} << 32;
    if ((at >= from && at < to) || (again >= from && again < to)) v.fired[i] = 1;
  }
}

template <int Bits>
inline float SampleAt(const uint8_t* p) {
  if constexpr (Bits == 8) {
    return static_cast<float>((static_cast<int>(p[0]) - 128) * 256);
  } else {
    return static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8))));
  }
}

// Mixes `count` output frames of a voice into acc (interleaved stereo),
// starting at pos, with linear interpolation. Every output position lies
// inside the buffer; the frame after the last one is the first frame when the
// voice loops and the last frame again when it does not.
template <int Bits, int Channels>
void MixSpan(const AudioVoice& v, float* acc, int count, uint64_t pos) {
  constexpr int kFrameBytes = Channels * Bits / 8;
  const uint8_t* base = v.data.data();
  const float gain = v.gain;
  const uint32_t last = v.frames - 1;
  if (v.step == kOne && (pos & (kOne - 1)) == 0) {
    const uint8_t* p = base + (pos >> 32) * kFrameBytes;
    for (int k = 0; k < count; ++k, p += kFrameBytes) {
      float l = SampleAt<Bits>(p);
      float r = Channels == 2 ? SampleAt<Bits>(p + Bits / 8) : l;
      acc[2 * k] += l * gain;
      acc[2 * k + 1] += r * gain;
    }
    return;
  }
  constexpr float kFrac = 1.0f / 4294967296.0f;
  for (int k = 0; k < count; ++k, pos += v.step) {
    uint32_t i = static_cast<uint32_t>(pos >> 32);
    uint32_t j = i < last ? i + 1 : (v.looping ? 0 : i);
    float f = static_cast<float>(static_cast<uint32_t>(pos)) * kFrac;
    const uint8_t* a = base + size_t{i} * kFrameBytes;
    const uint8_t* b = base + size_t{j} * kFrameBytes;
    float l0 = SampleAt<Bits>(a), l1 = SampleAt<Bits>(b);
    float l = l0 + (l1 - l0) * f;
    float r = l;
    if constexpr (Channels == 2) {
      float r0 = SampleAt<Bits>(a + Bits / 8), r1 = SampleAt<Bits>(b + Bits / 8);
      r = r0 + (r1 - r0) * f;
    }
    acc[2 * k] += l * gain;
    acc[2 * k + 1] += r * gain;
  }
}

void MixSpanAny(const AudioVoice& v, float* acc, int count, uint64_t pos) {
  if (v.format.bitsPerSample == 8) {
    if (v.format.channels == 1)
      MixSpan<8, 1>(v, acc, count, pos);
    else
      MixSpan<8, 2>(v, acc, count, pos);
  } else {
    if (v.format.channels == 1)
      MixSpan<16, 1>(v, acc, count, pos);
    else
      MixSpan<16, 2>(v, acc, count, pos);
  }
}

void MixVoice(AudioVoice& v, float* acc, int frames) {
  const uint64_t end = uint64_t{v.frames} << 32;
  int done = 0;
  while (done < frames && v.playing) {
    if (v.pos >= end) {
      if (v.looping) {
        v.pos %= end;
      } else {
        v.playing = false;
        v.pos = 0;
        Fire(v, CAudioBuffer::kNotifyStop);
        break;
      }
    }
    uint64_t reachable = (end - v.pos + v.step - 1) / v.step;
    int count = static_cast<int>(std::min<uint64_t>(reachable, static_cast<uint64_t>(frames - done)));
    uint64_t from = v.pos;
    if (v.gain > 0.0f) MixSpanAny(v, acc + 2 * done, count, v.pos);
    v.pos += v.step * static_cast<uint64_t>(count);
    FireCrossed(v, from, v.pos);
    done += count;
  }
  // A voice that ends exactly at the end of this render stops now rather than
  // at the next one, so that its end is seen without another render.
  if (v.playing && !v.looping && v.pos >= end) {
    v.playing = false;
    v.pos = 0;
    Fire(v, CAudioBuffer::kNotifyStop);
  }
}

}  // namespace

namespace detail {

std::mutex& AudioMutex() {
  static std::mutex mutex;
  return mutex;
}

void AudioRenderLocked(int16_t* out, int frames) {
  AudioState& s = State();
  constexpr int kChunk = 512;
  float acc[kChunk * 2];
  while (frames > 0) {
    int n = std::min(frames, kChunk);
    std::fill(acc, acc + 2 * n, 0.0f);
    for (auto& voice : s.voices) {
      if (voice->playing) MixVoice(*voice, acc, n);
    }
    for (int i = 0; i < 2 * n; ++i) {
      float x = std::nearbyint(acc[i]);
      out[i] = static_cast<int16_t>(std::clamp(x, -32768.0f, 32767.0f));
    }
    if (s.dump) {
      size_t bytes = static_cast<size_t>(n) * 4;
      if (s.dumpBytes + bytes <= kMaxDumpBytes) {
        // The dump is little-endian 16-bit: write byte by byte order-free.
        uint8_t le[kChunk * 4];
        for (int i = 0; i < 2 * n; ++i) PutLe16(le + 2 * i, static_cast<uint16_t>(out[i]));
        const size_t written = std::fwrite(le, 1, bytes, s.dump);
        if (written != bytes) s.dumpFailed = true;
        s.dumpBytes += written;
      }
    }
    s.framesMixed += static_cast<uint64_t>(n);
    out += 2 * n;
    frames -= n;
  }
}

}  // namespace detail

bool AudioFormat::IsSupported() const {
  return (channels == 1 || channels == 2) && (bitsPerSample == 8 || bitsPerSample == 16) && sampleRate >= 1 &&
         sampleRate <= 384000;
}

float AttenuationToGain(int hundredthsOfDb) {
  if (hundredthsOfDb <= kAttenuationSilence) return 0.0f;
  if (hundredthsOfDb >= 0) return 1.0f;
  return static_cast<float>(std::pow(10.0, hundredthsOfDb / 2000.0));
}

bool AudioOpen(const AudioOptions& options) {
  AudioClose();
  std::unique_ptr<detail::IAudioDevice> device(options.backend == AudioBackend::Sdl ? detail::CreateSdlAudioDevice()
                                                                                    : detail::CreateNullAudioDevice());
  FILE* dump = nullptr;
  if (!options.dumpPath.empty()) {
    dump = std::fopen(options.dumpPath.c_str(), "wb");
    if (!dump) return true;
    uint8_t header[44];
    MakeWaveHeader(header, 0);
    if (std::fwrite(header, 1, sizeof(header), dump) != sizeof(header)) {
      std::fclose(dump);
      return true;
    }
  }
  {
    std::lock_guard<std::mutex> lock(detail::AudioMutex());
    AudioState& s = State();
    s.dump = dump;
    s.dumpBytes = 0;
    s.framesMixed = 0;
    s.open = true;
  }
  if (device->Start()) {
    std::lock_guard<std::mutex> lock(detail::AudioMutex());
    AudioState& s = State();
    s.open = false;
    FinishDump(s);
    return true;
  }
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  State().device = std::move(device);
  return false;
}

void AudioClose() {
  std::unique_ptr<detail::IAudioDevice> device;
  {
    std::lock_guard<std::mutex> lock(detail::AudioMutex());
    AudioState& s = State();
    if (!s.open) return;
    CatchUpLocked();
    device = std::move(s.device);
  }
  // The SDL device waits for its callback, which takes the lock: stop it unlocked.
  if (device) device->Stop();
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  AudioState& s = State();
  for (auto& voice : s.voices) {
    voice->attached = false;
    voice->playing = false;
  }
  s.voices.clear();
  FinishDump(s);
  s.open = false;
}

bool AudioIsOpen() {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  return State().open;
}

void AudioPump() {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
}

uint64_t AudioFramesMixed() {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  return State().framesMixed;
}

int AudioPlayingCount() {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  int n = 0;
  for (const auto& voice : State().voices) n += voice->playing ? 1 : 0;
  return n;
}

// ---- CAudioBuffer ---------------------------------------------------------

std::unique_ptr<CAudioBuffer> CAudioBuffer::Create(const AudioFormat& format, uint32_t bytes) {
  if (!format.IsSupported()) return nullptr;
  uint32_t frames = bytes / static_cast<uint32_t>(format.BlockAlign());
  // 32.32 cursor arithmetic needs frame counts below 2^31.
  if (frames == 0 || frames > 0x7FFFFFFFu) return nullptr;
  auto voice = std::make_shared<AudioVoice>();
  voice->format = format;
  voice->frames = frames;
  voice->data.assign(size_t{frames} * static_cast<size_t>(format.BlockAlign()), format.bitsPerSample == 8 ? 0x80 : 0);
  voice->step = (static_cast<uint64_t>(format.sampleRate) << 32) / kAudioOutputRate;
  if (voice->step == 0) voice->step = 1;
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  AudioState& s = State();
  if (!s.open) return nullptr;
  CatchUpLocked();
  voice->attached = true;
  s.voices.push_back(voice);
  return std::unique_ptr<CAudioBuffer>(new CAudioBuffer(std::move(voice)));
}

CAudioBuffer::CAudioBuffer(std::shared_ptr<detail::AudioVoice> voice) : voice_(std::move(voice)) {}

CAudioBuffer::~CAudioBuffer() {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  auto& voices = State().voices;
  voices.erase(std::remove(voices.begin(), voices.end(), voice_), voices.end());
}

const AudioFormat& CAudioBuffer::GetFormat() const { return voice_->format; }

uint32_t CAudioBuffer::GetSize() const { return static_cast<uint32_t>(voice_->data.size()); }

bool CAudioBuffer::Write(uint32_t offset, const void* data, uint32_t bytes) {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  auto& buffer = voice_->data;
  if (offset > buffer.size() || bytes > buffer.size() - offset) return true;
  if (bytes) std::memcpy(buffer.data() + offset, data, bytes);
  return false;
}

bool CAudioBuffer::Silence(uint32_t offset, uint32_t bytes) {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  auto& buffer = voice_->data;
  if (offset > buffer.size() || bytes > buffer.size() - offset) return true;
  std::memset(buffer.data() + offset, voice_->format.bitsPerSample == 8 ? 0x80 : 0, bytes);
  return false;
}

bool CAudioBuffer::SetNotifications(const std::vector<uint32_t>& offsets) {
  std::vector<uint32_t> frames;
  for (uint32_t offset : offsets) {
    if (offset == kNotifyStop) {
      frames.push_back(kNotifyStop);
    } else if (offset >= voice_->data.size()) {
      return true;
    } else {
      frames.push_back(offset / static_cast<uint32_t>(voice_->format.BlockAlign()));
    }
  }
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  voice_->notifyFrames = std::move(frames);
  voice_->fired.assign(voice_->notifyFrames.size(), 0);
  return false;
}

int CAudioBuffer::PollNotification() {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  for (size_t i = 0; i < voice_->fired.size(); ++i) {
    if (voice_->fired[i]) {
      voice_->fired[i] = 0;
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool CAudioBuffer::Play(bool loop) {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  if (!voice_->attached) return true;
  voice_->looping = loop;
  voice_->playing = true;
  return false;
}

void CAudioBuffer::Stop() {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  if (voice_->playing) {
    voice_->playing = false;
    Fire(*voice_, kNotifyStop);
  }
}

bool CAudioBuffer::IsPlaying() {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  return voice_->playing;
}

uint32_t CAudioBuffer::GetPosition() {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  uint64_t frame = std::min<uint64_t>(voice_->pos >> 32, voice_->frames);
  return static_cast<uint32_t>(frame * static_cast<uint64_t>(voice_->format.BlockAlign()));
}

bool CAudioBuffer::SetPosition(uint32_t offset) {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  if (offset >= voice_->data.size()) return offset != 0;
  voice_->pos = uint64_t{offset / static_cast<uint32_t>(voice_->format.BlockAlign())} << 32;
  return false;
}

void CAudioBuffer::SetAttenuation(int hundredthsOfDb) {
  int value = std::clamp(hundredthsOfDb, kAttenuationSilence, 0);
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  CatchUpLocked();
  voice_->attenuation = value;
  voice_->gain = AttenuationToGain(value);
}

int CAudioBuffer::GetAttenuation() {
  std::lock_guard<std::mutex> lock(detail::AudioMutex());
  return voice_->attenuation;
}

}  // namespace platform
