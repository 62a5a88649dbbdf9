// The null audio output: no device and no thread. It renders the mixer's
// output up to the present of platform::GetTimeMs() whenever the audio layer
// is used, so in a headless run (virtual clock) buffers are consumed at the
// clock's pace exactly as a device would consume them. The output only goes
// to the dump file, when there is one.
#include <vector>

#include "platform/Audio.h"
#include "platform/AudioDevice.h"
#include "platform/Platform.h"

namespace platform::detail {
namespace {

// A jump of the clock larger than this is not rendered sample by sample: the
// output skips ahead and only the last part is mixed.
constexpr uint64_t kMaxCatchUpFrames = uint64_t{kAudioOutputRate} * 60;

class NullAudioDevice : public IAudioDevice {
 public:
  bool Start() override {
    last_ = GetTimeMs();
    elapsedMs_ = 0;
    rendered_ = 0;
    return false;
  }

  void Stop() override {}

  void CatchUpLocked() override {
    uint32_t now = GetTimeMs();
    uint32_t delta = now - last_;
    last_ = now;
    // A clock set backwards is taken as a new starting point.
    if (delta >= 0x80000000u) return;
    elapsedMs_ += delta;
    uint64_t due = elapsedMs_ * kAudioOutputRate / 1000;
    if (due <= rendered_) return;
    uint64_t frames = due - rendered_;
    if (frames > kMaxCatchUpFrames) {
      rendered_ += frames - kMaxCatchUpFrames;
      frames = kMaxCatchUpFrames;
    }
    constexpr int kChunk = 4096;
    scratch_.resize(kChunk * kAudioOutputChannels);
    while (frames > 0) {
      int n = frames > kChunk ? kChunk : static_cast<int>(frames);
      AudioRenderLocked(scratch_.data(), n);
      rendered_ += static_cast<uint64_t>(n);
      frames -= static_cast<uint64_t>(n);
    }
  }

 private:
  uint32_t last_ = 0;
  uint64_t elapsedMs_ = 0;
  uint64_t rendered_ = 0;
  std::vector<int16_t> scratch_;
};

}  // namespace

IAudioDevice* CreateNullAudioDevice() { return new NullAudioDevice(); }

}  // namespace platform::detail
