#include "video/VideoPlayer.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "core/Cp932.h"
#include "graphics/Surface.h"
#include "platform/Audio.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"

namespace {
constexpr int kFrameBytes = 4;  // 16-bit stereo
constexpr size_t kSoundChunkFrames = 2048;
constexpr size_t kQueuedSoundFrames =
    static_cast<size_t>(CMovieDecoder::kOutputRate) * CVideoPlayer::kQueuedSoundMs / 1000;
}  // namespace

CVideoPlayer::CVideoPlayer(int sceneWidth, int sceneHeight, Pacing pacing)
    : width_(std::max(1, sceneWidth)), height_(std::max(1, sceneHeight)), pacing_(pacing) {}

CVideoPlayer::~CVideoPlayer() { Stop(); }

size_t CVideoPlayer::CountCharacters(const std::string& cp932) {
  size_t count = 0;
  for (size_t i = 0; i < cp932.size(); ++i, ++count) {
    if (cp932::IsLeadByte(static_cast<unsigned char>(cp932[i])) && i + 1 < cp932.size()) ++i;
  }
  return count;
}

bool CVideoPlayer::Play(const char* fileName) {
  Stop();
  error_.clear();
  const std::string name = fileName ? fileName : "";
  // A cut-off name could open another file than the one meant.
  const std::string native = CountCharacters(name) > kMaxNameChars ? "" : platform::ResolveExistingFile(name);
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
  const CMovieInfo& info = decoder_.GetInfo();
  waitForPictures_ = pacing_ == Pacing::kEveryFrame || (pacing_ == Pacing::kAuto && platform::UsesVirtualClock());
  picture_.assign(static_cast<size_t>(width_) * height_ * 4, 0);
  for (size_t i = 3; i < picture_.size(); i += 4) picture_[i] = 0xFF;
  videoEnded_ = !info.hasVideo;
  videoEndMs_ = 0;
  soundEnded_ = !info.hasAudio;
  audioFramesWritten_ = 0;
  audioFramesDecoded_ = 0;
  audioEndMs_ = 0;

  pictures_.clear();
  videoDone_ = !info.hasVideo;
  videoFailed_ = false;
  threadError_.clear();
  sound_.clear();
  soundPos_ = 0;
  soundDone_ = !info.hasAudio;
  quit_ = false;
  clockMs_.store(0, std::memory_order_relaxed);
  try {
    thread_ = std::thread(&CVideoPlayer::DecodeLoop, this);
  } catch (const std::system_error&) {
    error_ = "cannot start the decoding thread";
    decoder_.Close();
    return true;
  }

  if (info.hasVideo) {
    // The first picture tells a movie from a file that only looks like one.
    std::unique_lock<std::mutex> lock(mutex_);
    while (pictures_.empty() && !videoDone_) WaitForThread(lock);
    if (pictures_.empty()) {
      // Not one picture: a broken video stream. Sound alone still plays over
      // black, but a movie with nothing at all is a failure.
      videoEnded_ = true;
      if (!info.hasAudio || videoFailed_) {
        error_ = videoFailed_ ? threadError_ : "the movie holds no picture";
        lock.unlock();
        StopThread();
        decoder_.Close();
        return true;
      }
    }
  }

  if (info.hasAudio && platform::AudioIsOpen()) {
    platform::AudioFormat format{platform::kAudioOutputChannels, CMovieDecoder::kOutputRate, 16};
    audio_ = platform::CAudioBuffer::Create(
        format,
        static_cast<uint32_t>(static_cast<int64_t>(CMovieDecoder::kOutputRate) * kAudioRingMs / 1000 * kFrameBytes));
  }
  playing_ = true;
  startMs_ = platform::GetTimeMs();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    FeedAudio(lock, 0);
    TakePictures(lock, 0);
  }
  workCv_.notify_one();
  // Full volume: movies carry no volume of their own.
  if (audio_ && audio_->Play(true)) audio_.reset();
  return false;
}

int64_t CVideoPlayer::GetElapsedMs() const {
  return playing_ ? static_cast<int64_t>(static_cast<uint32_t>(platform::GetTimeMs() - startMs_)) : 0;
}

void CVideoPlayer::Update() {
  if (!playing_) return;
  const int64_t now = GetElapsedMs();
  clockMs_.store(now, std::memory_order_relaxed);
  bool failed = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    TakePictures(lock, now);
    FeedAudio(lock, now);
    failed = videoEnded_ && videoFailed_;
  }
  workCv_.notify_one();
  if (failed) {
    Stop();
    return;
  }
  const bool videoDone = videoEnded_ && now >= videoEndMs_;
  const bool audioDone = soundEnded_ && now >= audioEndMs_;
  if (videoDone && audioDone) Stop();
}

void CVideoPlayer::WaitForThread(std::unique_lock<std::mutex>& lock) {
  // What was just taken may be the room the thread is waiting for.
  workCv_.notify_one();
  readyCv_.wait(lock);
}

void CVideoPlayer::TakePictures(std::unique_lock<std::mutex>& lock, int64_t now) {
  while (!videoEnded_) {
    if (pictures_.empty()) {
      if (videoDone_) {
        videoEnded_ = true;
        break;
      }
      // Without waiting, the next picture may be due already: knowing only
      // at the next frame is what a slow decoder costs.
      if (!waitForPictures_) break;
      WaitForThread(lock);
      continue;
    }
    CQueuedPicture& next = pictures_.front();
    if (next.startMs > now) break;
    videoEndMs_ = next.endMs;
    // A picture that was not converted keeps the previous one.
    if (!next.pixels.empty()) {
      picture_.swap(next.pixels);
      spare_.push_back(std::move(next.pixels));
    }
    pictures_.pop_front();
  }
}

void CVideoPlayer::FeedAudio(std::unique_lock<std::mutex>& lock, int64_t now) {
  if (!decoder_.GetInfo().hasAudio) return;
  const uint64_t target = static_cast<uint64_t>(now + kAudioLeadMs) * CMovieDecoder::kOutputRate / 1000;
  const uint32_t ringBytes = audio_ ? audio_->GetSize() : 0;
  int16_t chunk[2 * 1024];
  while (audioFramesWritten_ < target) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(1024, target - audioFramesWritten_));
    size_t got = 0;
    if (!soundEnded_) {
      const size_t queued = QueuedSoundFrames();
      if (queued == 0 && soundDone_) {
        soundEnded_ = true;
        audioEndMs_ = static_cast<int64_t>(audioFramesDecoded_ * 1000 / CMovieDecoder::kOutputRate);
      } else if (queued == 0) {
        // Sound is never dropped, whatever the pacing: the thread keeps a
        // second ahead, so this wait is rare and short.
        WaitForThread(lock);
        continue;
      } else {
        got = std::min(queued, want);
        if (!soundDone_) want = got;
        std::memcpy(chunk, sound_.data() + soundPos_, got * kFrameBytes);
        soundPos_ += got * 2;
        audioFramesDecoded_ += got;
      }
    }
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
  // The sound that ends exactly at the target is over too.
  if (!soundEnded_ && soundDone_ && QueuedSoundFrames() == 0) {
    soundEnded_ = true;
    audioEndMs_ = static_cast<int64_t>(audioFramesDecoded_ * 1000 / CMovieDecoder::kOutputRate);
  }
}

void CVideoPlayer::DecodeLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (quit_) return;
    const bool video = !videoDone_ && pictures_.size() < kQueuedPictures;
    const bool sound = !soundDone_ && QueuedSoundFrames() < kQueuedSoundFrames;
    if (!video && !sound) {
      workCv_.wait(lock);
      continue;
    }
    std::vector<uint8_t> buffer;
    if (video && !spare_.empty()) {
      buffer = std::move(spare_.back());
      spare_.pop_back();
    }
    // Drop what the main thread has already taken.
    if (soundPos_ > 0 && soundPos_ * 2 >= sound_.size()) {
      sound_.erase(sound_.begin(), sound_.begin() + static_cast<ptrdiff_t>(soundPos_));
      soundPos_ = 0;
    }
    lock.unlock();

    CQueuedPicture picture;
    bool videoEnd = false;
    if (video) {
      if (decoder_.DecodeVideo()) {
        videoEnd = true;
      } else {
        picture.startMs = decoder_.GetFrameStartMs();
        picture.endMs = decoder_.GetFrameEndMs();
        const bool late = !waitForPictures_ && picture.endMs <= clockMs_.load(std::memory_order_relaxed);
        if (!late) {
          buffer.resize(static_cast<size_t>(width_) * height_ * 4);
          if (!decoder_.ConvertFrame(width_, height_, buffer.data(), width_ * 4)) picture.pixels.swap(buffer);
        }
      }
    }
    int16_t chunk[2 * kSoundChunkFrames];
    size_t got = 0;
    bool soundEnd = false;
    if (sound) {
      got = decoder_.ReadAudio(chunk, kSoundChunkFrames);
      soundEnd = decoder_.IsAudioEnded();
    }

    lock.lock();
    if (video) {
      if (videoEnd) {
        videoDone_ = true;
        videoFailed_ = decoder_.IsFailed();
        if (videoFailed_) threadError_ = decoder_.GetError();
      } else {
        pictures_.push_back(std::move(picture));
      }
      if (!buffer.empty()) spare_.push_back(std::move(buffer));
    }
    if (sound) {
      sound_.insert(sound_.end(), chunk, chunk + got * 2);
      soundDone_ = soundEnd;
    }
    readyCv_.notify_one();
  }
}

void CVideoPlayer::StopThread() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  workCv_.notify_one();
  // A read stuck in the demuxer gives up rather than hold the join.
  decoder_.Abort();
  thread_.join();
  pictures_.clear();
  spare_.clear();
  sound_.clear();
  soundPos_ = 0;
}

void CVideoPlayer::Stop() {
  playing_ = false;
  if (audio_) {
    audio_->Stop();
    audio_.reset();
  }
  StopThread();
  decoder_.Close();
  videoEnded_ = true;
  soundEnded_ = true;
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
