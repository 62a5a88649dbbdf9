#include "video/VideoPlayer.h"

#include <algorithm>
#include <cstring>

#include "graphics/Surface.h"
#include "platform/Audio.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"

namespace {
constexpr int kFrameBytes = 4;  // 16-bit stereo
}

CVideoPlayer::CVideoPlayer(int sceneWidth, int sceneHeight)
    : width_(std::max(1, sceneWidth)), height_(std::max(1, sceneHeight)) {}

CVideoPlayer::~CVideoPlayer() { Stop(); }

bool CVideoPlayer::Play(const char* fileName) {
  Stop();
  error_.clear();
  const std::string native = platform::ResolveExistingFile(fileName ? fileName : "");
  if (native.empty() || !platform::IsRegularFile(native)) {
    error_ = "file not found";
    return true;
  }
  if (decoder_.OpenFile(native)) {
    error_ = decoder_.GetError();
    return true;
  }
  return Start();
}

bool CVideoPlayer::PlayMemory(const uint8_t* data, size_t size) {
  Stop();
  error_.clear();
  if (decoder_.OpenMemory(data, size)) {
    error_ = decoder_.GetError();
    return true;
  }
  return Start();
}

bool CVideoPlayer::Start() {
  picture_.assign(static_cast<size_t>(width_) * height_ * 4, 0);
  for (size_t i = 3; i < picture_.size(); i += 4) picture_[i] = 0xFF;
  videoEnded_ = !decoder_.GetInfo().hasVideo;
  haveNext_ = false;
  videoEndMs_ = 0;
  if (!videoEnded_) {
    if (decoder_.DecodeVideo()) {
      // Not one picture: a broken video stream. Sound alone still plays over
      // black, but a movie with nothing at all is a failure.
      videoEnded_ = true;
      if (!decoder_.GetInfo().hasAudio || decoder_.IsFailed()) {
        error_ = decoder_.IsFailed() ? decoder_.GetError() : "the movie holds no picture";
        decoder_.Close();
        return true;
      }
    } else {
      haveNext_ = true;
    }
  }

  audioFramesWritten_ = 0;
  audioFramesDecoded_ = 0;
  audioEndMs_ = 0;
  if (decoder_.GetInfo().hasAudio && platform::AudioIsOpen()) {
    platform::AudioFormat format{platform::kAudioOutputChannels, CMovieDecoder::kOutputRate, 16};
    audio_ = platform::CAudioBuffer::Create(
        format,
        static_cast<uint32_t>(static_cast<int64_t>(CMovieDecoder::kOutputRate) * kAudioRingMs / 1000 * kFrameBytes));
  }
  playing_ = true;
  startMs_ = platform::GetTimeMs();
  FeedAudio(0);
  // Full volume: movies carry no volume of their own.
  if (audio_ && audio_->Play(true)) audio_.reset();
  AdvanceVideo(0);
  return false;
}

int64_t CVideoPlayer::GetElapsedMs() const {
  return playing_ ? static_cast<int64_t>(static_cast<uint32_t>(platform::GetTimeMs() - startMs_)) : 0;
}

void CVideoPlayer::Update() {
  if (!playing_) return;
  const int64_t now = GetElapsedMs();
  AdvanceVideo(now);
  FeedAudio(now);
  if (decoder_.IsFailed()) {
    Stop();
    return;
  }
  const bool videoDone = videoEnded_ && now >= videoEndMs_;
  const bool audioDone = decoder_.IsAudioEnded() && now >= audioEndMs_;
  if (videoDone && audioDone) Stop();
}

void CVideoPlayer::AdvanceVideo(int64_t now) {
  while (haveNext_ && decoder_.GetFrameStartMs() <= now) {
    videoEndMs_ = decoder_.GetFrameEndMs();
    // With a real display a picture whose time is already over is dropped;
    // headless runs show every one so that nothing depends on speed.
    const bool late = !platform::UsesVirtualClock() && videoEndMs_ <= now;
    if (!late && decoder_.ConvertFrame(width_, height_, picture_.data(), width_ * 4)) {
      // A picture that cannot be converted keeps the previous one.
    }
    if (decoder_.DecodeVideo()) {
      haveNext_ = false;
      videoEnded_ = true;
    }
  }
}

void CVideoPlayer::FeedAudio(int64_t now) {
  if (!decoder_.GetInfo().hasAudio) return;
  const uint64_t target = static_cast<uint64_t>(now + kAudioLeadMs) * CMovieDecoder::kOutputRate / 1000;
  const uint32_t ringBytes = audio_ ? audio_->GetSize() : 0;
  int16_t chunk[2 * 1024];
  while (audioFramesWritten_ < target) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(1024, target - audioFramesWritten_));
    const size_t got = decoder_.IsAudioEnded() ? 0 : decoder_.ReadAudio(chunk, want);
    audioFramesDecoded_ += got;
    if (decoder_.IsAudioEnded())
      audioEndMs_ = static_cast<int64_t>(audioFramesDecoded_ * 1000 / CMovieDecoder::kOutputRate);
    if (audio_) {
      // After the end the ring must not play old sound again.
      std::memset(chunk + got * 2, 0, (want - got) * kFrameBytes);
      const uint32_t offset = static_cast<uint32_t>(audioFramesWritten_ * kFrameBytes % ringBytes);
      const uint32_t bytes = static_cast<uint32_t>(want * kFrameBytes);
      const uint32_t first = std::min(bytes, ringBytes - offset);
      (void)audio_->Write(offset, chunk, first);
      if (first < bytes) (void)audio_->Write(0, reinterpret_cast<uint8_t*>(chunk) + first, bytes - first);
    }
    audioFramesWritten_ += want;
  }
}

void CVideoPlayer::Stop() {
  playing_ = false;
  if (audio_) {
    audio_->Stop();
    audio_.reset();
  }
  decoder_.Close();
  haveNext_ = false;
  videoEnded_ = true;
}

void CVideoPlayer::Draw(ISurface* target) {
  if (!target || target->GetFormat() == ISurface::PIXEL_BITS_8) return;
  if (picture_.size() != static_cast<size_t>(width_) * height_ * 4) return;
  target->Lock();
  const int rows = std::min(height_, target->GetHeight());
  const size_t bytes = static_cast<size_t>(std::min(width_, target->GetWidth())) * 4;
  for (int y = 0; y < rows; ++y) {
    uint8_t* line = target->GetLine(y);
    if (line) std::memcpy(line, picture_.data() + static_cast<size_t>(y) * width_ * 4, bytes);
  }
  target->Unlock();
}
