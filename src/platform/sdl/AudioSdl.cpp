// The SDL audio output: an SDL audio device pulls 16-bit stereo 44,100 Hz
// output from the mixer on SDL's audio thread (SDL converts if the hardware
// wants another format).
#include <SDL.h>

#include "platform/Audio.h"
#include "platform/AudioDevice.h"

namespace platform::detail {
namespace {

class SdlAudioDevice : public IAudioDevice {
 public:
  bool Start() override {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return true;
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = kAudioOutputRate;
    want.format = AUDIO_S16SYS;
    want.channels = kAudioOutputChannels;
    want.samples = 1024;
    want.callback = &SdlAudioDevice::Callback;
    want.userdata = this;
    SDL_AudioSpec have;
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return true;
    }
    SDL_PauseAudioDevice(device_, 0);
    return false;
  }

  void Stop() override {
    if (device_ == 0) return;
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  void CatchUpLocked() override {}

  ~SdlAudioDevice() override { Stop(); }

 private:
  static void SDLCALL Callback(void*, Uint8* stream, int len) {
    std::lock_guard<std::mutex> lock(AudioMutex());
    AudioRenderLocked(reinterpret_cast<int16_t*>(stream), len / (2 * kAudioOutputChannels));
  }

  SDL_AudioDeviceID device_ = 0;
};

}  // namespace

IAudioDevice* CreateSdlAudioDevice() { return new SdlAudioDevice(); }

}  // namespace platform::detail
