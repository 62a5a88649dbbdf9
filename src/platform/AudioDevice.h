// What an audio output backend supplies to the mixer of the audio layer, and
// what the layer offers it in return.
#pragma once

#include <cstdint>
#include <mutex>

namespace platform::detail {

class IAudioDevice {
 public:
  virtual ~IAudioDevice() = default;
  // Starts pulling mixed output. True on failure. Called without the lock.
  virtual bool Start() = 0;
  // Stops pulling output; no render call happens after it returns. Called
  // without the lock.
  virtual void Stop() = 0;
  // Called with the lock held before every use of the layer: a device without
  // its own thread renders up to the present here.
  virtual void CatchUpLocked() = 0;
};

IAudioDevice* CreateSdlAudioDevice();
IAudioDevice* CreateNullAudioDevice();

// The lock shared by the engine side of the layer and the mixer.
std::mutex& AudioMutex();
// Mixes `frames` output frames (16-bit stereo interleaved) into out and feeds
// the dump file. The caller holds AudioMutex().
void AudioRenderLocked(int16_t* out, int frames);

}  // namespace platform::detail
