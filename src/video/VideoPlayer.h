// Plays one movie over the whole scene. The render step asks Update each
// frame instead of drawing the scene, then Draw puts the picture due now
// into the back buffer. Pictures are decoded on the main thread in step with
// the engine's clock (in headless runs the virtual clock), so the picture
// shown at a time is always the last one stamped at or before it; the sound
// goes through a streaming buffer of the audio layer, fed ahead of the
// clock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "video/MovieDecoder.h"

class ISurface;
namespace platform {
class CAudioBuffer;
}

class CVideoPlayer {
 public:
  // Pictures are stretched to the scene size.
  CVideoPlayer(int sceneWidth, int sceneHeight);
  ~CVideoPlayer();
  CVideoPlayer(const CVideoPlayer&) = delete;
  CVideoPlayer& operator=(const CVideoPlayer&) = delete;

  // Stops a playing movie, then starts `fileName` (CP932, a loose file
  // relative to the game folder, case-insensitive fallback). True when the
  // file cannot be found or opened or holds no decodable stream: the player
  // is stopped then and GetError tells why.
  [[nodiscard]] bool Play(const char* fileName);
  // The same for a movie held in memory.
  [[nodiscard]] bool PlayMemory(const uint8_t* data, size_t size);
  // Once per frame while playing: decodes up to the picture due now, feeds
  // the sound, and stops the player when the clock has passed the end of
  // both the pictures and the sound, or on a decode failure.
  void Update();
  void Stop();
  bool IsPlaying() const { return playing_; }

  // Copies the current picture, stretched to the scene, into a 32-bit
  // target (black before the first picture and for a movie without
  // pictures). Nothing when the target is not 32-bit.
  void Draw(ISurface* target);

  const CMovieInfo& GetInfo() const { return decoder_.GetInfo(); }
  const std::string& GetError() const { return error_; }
  // The time of the movie as the player counts it (ms since Play).
  int64_t GetElapsedMs() const;
  // The converted picture at scene size (BGRA rows without padding).
  const std::vector<uint8_t>& GetPicture() const { return picture_; }

  // How far ahead of the clock the sound is decoded.
  static constexpr int kAudioLeadMs = 500;
  static constexpr int kAudioRingMs = 2000;

 private:
  bool Start();
  void FeedAudio(int64_t elapsedMs);
  void AdvanceVideo(int64_t elapsedMs);

  int width_, height_;
  CMovieDecoder decoder_;
  std::string error_;
  bool playing_ = false;
  uint32_t startMs_ = 0;

  // Pictures: the one on screen and the next one decoded ahead.
  bool videoEnded_ = true;
  bool haveNext_ = false;
  int64_t videoEndMs_ = 0;
  std::vector<uint8_t> picture_;

  // Sound.
  std::unique_ptr<platform::CAudioBuffer> audio_;
  uint64_t audioFramesWritten_ = 0;  // to the ring, silence after the end included
  uint64_t audioFramesDecoded_ = 0;
  int64_t audioEndMs_ = 0;
};
