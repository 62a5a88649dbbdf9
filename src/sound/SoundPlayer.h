// The interface of a sound player: plays one decoded sound, either from one
// static buffer holding all of it or streamed through a refilled ring buffer.
#pragma once

class ISound;

class ISoundPlayer {
 public:
  virtual ~ISoundPlayer() = default;
  // Prepares to play decoder (not owned; it must outlive the player's use of
  // it). True on failure.
  virtual bool Open(ISound* decoder, bool isStatic) = 0;
  virtual void Close() = 0;
  // Refills a streaming player; called once per frame.
  virtual void Update() = 0;
  // Starts from the first sample. True on failure.
  virtual bool Play(bool loop) = 0;
  virtual void Stop() = 0;
  // 0 stopped, 1 playing a static buffer, 2 streaming.
  virtual int IsPlaying() = 0;
  virtual int GetVolume() = 0;
  // 0 to 1000.
  virtual void SetVolume(int volume) = 0;
};
