// The audio layer: PCM sound buffers that the engine fills and starts, and one
// mixer that resamples and mixes every playing buffer into the output device.
//
// Buffers hold 8-bit unsigned or 16-bit signed little-endian PCM, mono or
// stereo, at any rate from 1 Hz to 384 kHz. A buffer plays once or loops; its
// play cursor and position notifications let the engine refill parts of it
// while it plays (notifications are polled, never waited on). Volume is an
// attenuation in hundredths of a decibel, 0 (full) down to -10000 (silence).
//
// The engine uses the layer from one thread. With the SDL backend the mixer
// runs on SDL's audio thread; everything it shares with the engine is locked
// inside the layer. With the null backend there is no audio thread: the mixer
// catches up with the clock (platform::GetTimeMs, the virtual clock in headless
// runs) whenever the layer is used and when AudioPump is called, so buffers
// are consumed at the pace of that clock exactly as a device would consume them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class AudioBackend { Sdl, Null };

// The mixer's output: 16-bit signed stereo at 44,100 Hz.
constexpr int kAudioOutputRate = 44100;
constexpr int kAudioOutputChannels = 2;

struct AudioOptions {
  AudioBackend backend = AudioBackend::Null;
  // Native path of a WAVE file (16-bit stereo 44,100 Hz) that receives
  // everything the mixer produces; empty for none. Written until AudioClose.
  std::string dumpPath;
};

// Opens the output (closing an open one first). True on failure; the layer is
// then closed. A dump file that cannot be created is a failure too.
bool AudioOpen(const AudioOptions& options);
// Stops the output, detaches every buffer (they stay valid but fall silent)
// and finishes the dump file. Call it before platform::Shutdown.
void AudioClose();
bool AudioIsOpen();
// Null backend: mixes up to the current time. SDL backend: nothing. Called
// once per frame by the main loop; any other use of the layer does it too.
void AudioPump();
// Output frames produced since AudioOpen (for diagnostics and tests).
uint64_t AudioFramesMixed();
// Buffers playing now (frame statistics).
int AudioPlayingCount();

struct AudioFormat {
  int channels = 0;       // 1 or 2
  int sampleRate = 0;     // frames per second
  int bitsPerSample = 0;  // 8 (unsigned) or 16 (signed)

  int BlockAlign() const { return channels * (bitsPerSample / 8); }
  int BytesPerSecond() const { return BlockAlign() * sampleRate; }
  bool IsSupported() const;
};

constexpr int kAttenuationSilence = -10000;

namespace detail {
struct AudioVoice;
}

// One sound buffer of the layer.
class CAudioBuffer {
 public:
  // Offset value of a notification that fires when the buffer stops (by Stop
  // or by reaching the end of a buffer that does not loop).
  static constexpr uint32_t kNotifyStop = 0xFFFFFFFFu;

  // A buffer of `bytes` bytes (rounded down to whole frames, at least one
  // frame) filled with silence. Null when the layer is not open, the format is
  // not supported or the size is zero.
  static std::unique_ptr<CAudioBuffer> Create(const AudioFormat& format, uint32_t bytes);
  ~CAudioBuffer();
  CAudioBuffer(const CAudioBuffer&) = delete;
  CAudioBuffer& operator=(const CAudioBuffer&) = delete;

  const AudioFormat& GetFormat() const;
  uint32_t GetSize() const;

  // Copies bytes into the buffer at offset. True (and nothing written) when
  // the range does not lie inside the buffer.
  bool Write(uint32_t offset, const void* data, uint32_t bytes);
  // Writes silence (0x80 for 8-bit data, 0 for 16-bit) over a range.
  bool Silence(uint32_t offset, uint32_t bytes);

  // Replaces the position notifications: byte offsets inside the buffer (or
  // kNotifyStop). A notification fires when the play cursor reaches its
  // offset, including offset 0 when playback starts there or wraps to it.
  // True when an offset lies outside the buffer.
  bool SetNotifications(const std::vector<uint32_t>& offsets);
  // Zero time-out poll: the index of the lowest-numbered notification that has
  // fired since it was last returned (it is cleared), or -1.
  int PollNotification();

  // Starts playing from the current play cursor. True when the layer is closed.
  bool Play(bool loop);
  // Stops playing; the cursor stays where it is.
  void Stop();
  bool IsPlaying();
  // Play cursor in bytes from the start of the buffer.
  uint32_t GetPosition();
  // Moves the play cursor (rounded down to a whole frame). True when outside.
  bool SetPosition(uint32_t offset);

  // Hundredths of a decibel, clamped to [kAttenuationSilence, 0].
  void SetAttenuation(int hundredthsOfDb);
  int GetAttenuation();

 private:
  explicit CAudioBuffer(std::shared_ptr<detail::AudioVoice> voice);
  std::shared_ptr<detail::AudioVoice> voice_;
};

// The linear gain the mixer applies for an attenuation (0 at or below
// kAttenuationSilence).
float AttenuationToGain(int hundredthsOfDb);

}  // namespace platform
