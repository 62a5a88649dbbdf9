// The engine's sound player on the audio layer (platform/Audio.h). Short
// sounds go into one static buffer holding the whole sound; long ones stream
// through a two-second ring buffer refilled one second (one half) at a time
// from the frame cycle: Update polls the buffer's position notifications with
// a zero time-out, so the engine needs no sound thread of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Audio.h"
#include "platform/Platform.h"
#include "sound/SoundPlayer.h"

class CDxSound : public ISoundPlayer {
 public:
  // The window is kept for callers that bind a player to one; the audio
  // layer plays regardless of focus.
  explicit CDxSound(platform::WindowHandle window = 0) : window_(window) {}
  CDxSound(const CDxSound&) = delete;
  CDxSound& operator=(const CDxSound&) = delete;
  ~CDxSound() override;

  bool Open(ISound* decoder, bool isStatic) override;
  void Close() override;
  void Update() override;
  bool Play(bool loop) override;
  void Stop() override;
  int IsPlaying() override;
  int GetVolume() override { return volume_; }
  void SetVolume(int volume) override;

  // The attenuation (hundredths of a decibel) the player gives its buffer for
  // a volume of 0 to 1000.
  static int VolumeToAttenuation(int volume);
  int GetAttenuation() const { return attenuation_; }
  platform::WindowHandle GetWindow() const { return window_; }
  int GetHalfSize() const { return halfSize_; }
  bool IsStreaming() const { return streaming_; }

  enum { kStopped = 0, kPlayingStatic = 1, kStreaming = 2 };

 private:
  // Reads up to `bytes` bytes from the decoder into scratch_ from `at`,
  // starting over from the first sample when loop is set; returns the number
  // of bytes delivered, or -1 when the decoder failed.
  int ReadInto(int at, int bytes, bool loop);
  // Refills one half (0 or 1) of a streaming buffer.
  void Refill(int half);

  platform::WindowHandle window_;
  std::unique_ptr<platform::CAudioBuffer> buffer_;
  platform::AudioFormat format_;
  int halfSize_ = 0;
  int staticSize_ = 0;
  bool streaming_ = false;
  int state_ = kStopped;
  int volume_ = 1000;
  int attenuation_ = 0;
  ISound* decoder_ = nullptr;
  bool loop_ = false;
  int endCount_ = 0;
  std::vector<uint8_t> scratch_;
};
