// Demuxes and decodes one movie with the FFmpeg libraries: pictures one at a
// time in presentation order, converted to 32-bit BGRA at any size, and the
// sound as 44,100 Hz 16-bit stereo. Nothing here knows about clocks; the
// player decides what is due.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct CMovieInfo {
  bool hasVideo = false;
  bool hasAudio = false;
  int width = 0;
  int height = 0;
  // Frames per second as the container states it (0 when unknown).
  double frameRate = 0;
  std::string videoCodec;
  std::string audioCodec;
  int audioRate = 0;
  int audioChannels = 0;
  // The container's estimate (-1 when unknown); the player counts the real
  // end from the decoded frames and sound.
  int64_t durationMs = -1;
};

class CMovieDecoder {
 public:
  // Pictures larger than this on either side are refused.
  static constexpr int kMaxSide = 8192;
  // Opening and probing give up after this long.
  static constexpr int kOpenTimeLimitMs = 5000;
  static constexpr int kOutputRate = 44100;
  // Sound outside these bounds is not played (the pictures still are).
  static constexpr int kMinSampleRate = 1000;
  static constexpr int kMaxSampleRate = 384000;
  static constexpr int kMaxChannels = 64;

  CMovieDecoder();
  ~CMovieDecoder();
  CMovieDecoder(const CMovieDecoder&) = delete;
  CMovieDecoder& operator=(const CMovieDecoder&) = delete;

  // Opens a file by native path, or bytes held in memory (copied). True on
  // failure (the reason in GetError): unreadable, no decodable stream, or a
  // picture too large.
  [[nodiscard]] bool OpenFile(const std::string& nativePath);
  [[nodiscard]] bool OpenMemory(const uint8_t* data, size_t size);
  void Close();
  bool IsOpen() const;
  // Makes reads of the container fail from now on, so that a thread blocked
  // in one returns soon. The one call that may come from another thread
  // than the one decoding.
  void Abort();
  const CMovieInfo& GetInfo() const { return info_; }
  const std::string& GetError() const { return error_; }

  // Decodes the next picture. True when there is none: the end of the
  // stream, or a decode failure (IsFailed then tells).
  bool DecodeVideo();
  bool IsFailed() const { return failed_; }
  // The last decoded picture: start and end in milliseconds from the
  // movie's start.
  int64_t GetFrameStartMs() const { return frameStartMs_; }
  int64_t GetFrameEndMs() const { return frameEndMs_; }
  // Scales the last decoded picture (bilinear) into 32-bit BGRA pixels with
  // opaque alpha. True when there is no picture or it cannot be converted.
  bool ConvertFrame(int width, int height, uint8_t* pixels, int pitch);

  // Appends up to `frames` stereo frames of sound; fewer only at the end of
  // the sound (or on a failure, which ends it).
  size_t ReadAudio(int16_t* out, size_t frames);
  bool IsAudioEnded() const { return audioEnded_; }

 private:
  struct CImpl;
  bool OpenStreams();
  bool ReadPacket();  // one packet into its stream's queue; true at the end
  std::unique_ptr<CImpl> impl_;
  CMovieInfo info_;
  std::string error_;
  bool failed_ = false;
  bool audioEnded_ = true;
  int64_t frameStartMs_ = 0;
  int64_t frameEndMs_ = 0;
};
