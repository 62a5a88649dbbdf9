// Fuzzes the WAVE decoder, the loader registry's attempts on one file, and
// the sound player and mixer (null output) playing whatever the decoder took.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/Audio.h"
#include "platform/Platform.h"
#include "files/MemoryFile.h"
#include "sound/DxSound.h"
#include "sound/SoundLoaders.h"
#include "sound/Vorbis.h"
#include "sound/Wave.h"

namespace {

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
    if (!wave.Open(std::make_shared<CMemoryFile>(std::vector<uint8_t>(data, data + size)))) {
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
    if (!loaders.Load(&sound, std::make_shared<CMemoryFile>(std::vector<uint8_t>(data, data + size)))) {
      std::unique_ptr<ISound> owned(sound);
      std::vector<uint8_t> buffer(4096);
      for (int i = 0; i < 64 && sound->Read(buffer.data(), 4096) > 0; ++i) {}
    }
  }
  return 0;
}
