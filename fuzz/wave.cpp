// Fuzzes the WAVE decoder, the loader registry's attempts on one file, and
// the sound player and mixer (null output) playing whatever the decoder took.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/Audio.h"
#include "platform/Platform.h"
#include "sound/DxSound.h"
#include "sound/SoundLoaders.h"
#include "sound/Vorbis.h"
#include "sound/Wave.h"

namespace {

class CBytesFile : public CFile {
 public:
  CBytesFile(const uint8_t* data, size_t size) : bytes_(data, data + size) {}
  bool Open(const char*) override { return true; }
  int Read(void* buffer, unsigned count) override {
    size_t left = pos_ < bytes_.size() ? bytes_.size() - pos_ : 0;
    size_t n = count < left ? count : left;
    if (n) std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return static_cast<int>(n);
  }
  int Seek(int offset, int origin) override {
    int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<int64_t>(pos_) : static_cast<int64_t>(bytes_.size());
    if (base + offset < 0) return -1;
    pos_ = static_cast<size_t>(base + offset);
    return 0;
  }
  int Tell() override { return static_cast<int>(pos_); }
  int GetSize() override { return static_cast<int>(bytes_.size()); }
  int Close() override { return 0; }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
};

void Drain(ISound& sound) {
  std::vector<uint8_t> buffer(3001);
  int total = 0;
  for (int n; (n = sound.Read(buffer.data(), static_cast<int>(buffer.size()))) > 0;) {
    total += n;
    if (n > static_cast<int>(buffer.size()) || total > sound.GetDataSize()) __builtin_trap();
  }
}

// Plays the sound streaming (looping, through refills of both halves) and
// static, on the virtual clock.
void Play(ISound& sound) {
  static const bool opened = !platform::AudioOpen({});
  if (!opened) return;
  CDxSound streaming, once;
  if (!streaming.Open(&sound, false)) streaming.Play(true);
  for (int frame = 0; frame < 12; ++frame) {
    platform::SetVirtualTicks(platform::GetVirtualTicks() + (uint64_t{100} << 10));
    platform::AudioPump();
    streaming.Update();
  }
  streaming.Close();
  if (!once.Open(&sound, true)) once.Play(false);
  platform::SetVirtualTicks(platform::GetVirtualTicks() + (uint64_t{100} << 10));
  platform::AudioPump();
  once.IsPlaying();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    CWave wave;
    if (!wave.Open(std::make_shared<CBytesFile>(data, size))) {
      if (wave.GetDataSize() < 0 || wave.GetDataSize() > static_cast<int>(size)) __builtin_trap();
      Drain(wave);
      wave.Rewind();
      Drain(wave);
      Play(wave);
    }
  }
  {
    CSoundLoaders loaders(nullptr);
    loaders.AddLoader(new CVorbisLoader());
    loaders.AddLoader(new CWaveLoader());
    ISound* sound = nullptr;
    if (!loaders.Load(&sound, std::make_shared<CBytesFile>(data, size))) {
      std::unique_ptr<ISound> owned(sound);
      std::vector<uint8_t> buffer(4096);
      for (int i = 0; i < 64 && sound->Read(buffer.data(), 4096) > 0; ++i) {
      }
    }
  }
  return 0;
}
