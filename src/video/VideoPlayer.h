// Plays one movie over the whole scene. The render step asks Update each
// frame instead of drawing the scene, then Draw puts the picture due now
// into the back buffer.
//
// Demuxing, decoding and the conversion to scene-sized BGRA run on a thread
// of the player's own, a few pictures and about a second of sound ahead of
// the clock; the main thread only takes what is due, so a frame costs it a
// pointer swap and the copy in Draw. The thread never reads the clock: what
// is shown at a time depends on the decoded pictures alone. With
// Pacing::kEveryFrame (headless runs) the main thread waits for the thread
// whenever the next picture or the sound is not there yet and no picture is
// skipped, so every run shows the same pixels at the same frames; with
// Pacing::kDropLate (a real display) it never waits for pictures, and
// pictures whose time is already over when the thread gets to them are not
// converted at all.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "video/MovieDecoder.h"

class ISurface;
namespace platform {
class CAudioBuffer;
}

class CVideoPlayer {
 public:
  enum class Pacing {
    kAuto,        // kEveryFrame in a headless run, kDropLate otherwise
    kEveryFrame,  // every picture shown in turn; waits for the thread
    kDropLate,    // late pictures dropped; never waits for pictures
  };

  // Pictures are stretched to the scene size.
  CVideoPlayer(int sceneWidth, int sceneHeight, Pacing pacing = Pacing::kAuto);
  ~CVideoPlayer();
  CVideoPlayer(const CVideoPlayer&) = delete;
  CVideoPlayer& operator=(const CVideoPlayer&) = delete;

  // Stops a playing movie, then starts `fileName` (CP932, a loose file
  // relative to the game folder, case-insensitive fallback, at most
  // kMaxNameChars characters). True when the file cannot be found or opened
  // or holds no decodable stream: the player is stopped then and GetError
  // tells why.
  [[nodiscard]] bool Play(const char* fileName);
  // The same for a movie held in memory.
  [[nodiscard]] bool PlayMemory(const uint8_t* data, size_t size);
  // Once per frame while playing: takes the picture due now, feeds the
  // sound, and stops the player when the clock has passed the end of both
  // the pictures and the sound, or on a decode failure.
  void Update();
  // Joins the decoding thread before anything it uses is freed.
  void Stop();
  bool IsPlaying() const { return playing_; }

  // Copies the current picture, stretched to the scene, into a 32-bit
  // target (black before the first picture and for a movie without
  // pictures). Nothing when the target is not 32-bit.
  void Draw(ISurface* target);

  // Fixed when the movie opens; safe to read while the thread runs.
  const CMovieInfo& GetInfo() const { return decoder_.GetInfo(); }
  const std::string& GetError() const { return error_; }
  // The time of the movie as the player counts it (ms since Play).
  int64_t GetElapsedMs() const;
  // The converted picture at scene size (BGRA rows without padding).
  const std::vector<uint8_t>& GetPicture() const { return picture_; }
  // Whether the decoding thread is running (for tests of the shutdown).
  bool HasThread() const { return thread_.joinable(); }

  static constexpr size_t kMaxNameChars = 260;
  // Characters of a CP932 name (a double-byte character counts once).
  static size_t CountCharacters(const std::string& cp932);

  // How far ahead of the clock the sound is written to the audio layer.
  static constexpr int kAudioLeadMs = 500;
  static constexpr int kAudioRingMs = 2000;
  // How far the thread decodes ahead of what the main thread has taken.
  static constexpr size_t kQueuedPictures = 3;
  static constexpr int kQueuedSoundMs = 1000;

 private:
  struct CQueuedPicture {
    int64_t startMs = 0;
    int64_t endMs = 0;
    std::vector<uint8_t> pixels;  // empty: not converted (late, or failed)
  };

  bool Start();
  void StopThread();
  void DecodeLoop();
  // Main thread, with the lock held.
  void TakePictures(std::unique_lock<std::mutex>& lock, int64_t elapsedMs);
  void FeedAudio(std::unique_lock<std::mutex>& lock, int64_t elapsedMs);
  void WaitForThread(std::unique_lock<std::mutex>& lock);
  size_t QueuedSoundFrames() const { return (sound_.size() - soundPos_) / 2; }

  int width_, height_;
  Pacing pacing_;
  bool waitForPictures_ = true;
  CMovieDecoder decoder_;  // used only by the thread while it runs
  std::string error_;
  bool playing_ = false;
  uint32_t startMs_ = 0;

  // Main thread only.
  bool videoEnded_ = true;
  int64_t videoEndMs_ = 0;
  std::vector<uint8_t> picture_;
  bool soundEnded_ = true;
  std::unique_ptr<platform::CAudioBuffer> audio_;
  uint64_t audioFramesWritten_ = 0;  // to the ring, silence after the end included
  uint64_t audioFramesDecoded_ = 0;
  int64_t audioEndMs_ = 0;

  // Shared with the thread, under mutex_.
  std::mutex mutex_;
  std::condition_variable workCv_;   // the thread waits for room, or to quit
  std::condition_variable readyCv_;  // the main thread waits for pictures or sound
  std::deque<CQueuedPicture> pictures_;
  std::vector<std::vector<uint8_t>> spare_;  // picture buffers to reuse
  bool videoDone_ = true;                    // the thread has decoded the last picture
  bool videoFailed_ = false;
  std::string threadError_;
  std::vector<int16_t> sound_;  // interleaved stereo, read from soundPos_
  size_t soundPos_ = 0;
  bool soundDone_ = true;
  bool quit_ = false;
  // The clock as the main thread last saw it, for dropping late pictures.
  std::atomic<int64_t> clockMs_{0};
  std::thread thread_;
};
