#include "sound/DxSound.h"

#include <cmath>

#include "sound/Sound.h"

namespace {

// Length of one half of a streaming buffer.
constexpr int kBufferLengthMs = 1000;

}  // namespace

CDxSound::~CDxSound() { Close(); }

int CDxSound::VolumeToAttenuation(int volume) {
  if (volume >= 1000) return 0;
  if (volume <= 0) return platform::kAttenuationSilence;
  // 2000 * log10(volume / 1000), written so that whole powers of ten come out
  // exact (volume 1 is -6000, not -5999).
  return static_cast<int>(2000.0 * (std::log10(static_cast<double>(volume)) - 3.0));
}

void CDxSound::Close() {
  buffer_.reset();
  format_ = platform::AudioFormat{};
  halfSize_ = 0;
  staticSize_ = 0;
  streaming_ = false;
  state_ = kStopped;
  volume_ = 1000;
  attenuation_ = 0;
  decoder_ = nullptr;
  loop_ = false;
  endCount_ = 0;
  std::vector<uint8_t>().swap(scratch_);
}

bool CDxSound::Open(ISound* decoder, bool isStatic) {
  Close();
  if (!decoder) return true;
  platform::AudioFormat format;
  format.channels = decoder->GetChannels();
  format.sampleRate = decoder->GetSampleRate();
  format.bitsPerSample = decoder->GetBitsPerSample();
  if (!format.IsSupported()) return true;
  int halfSize = static_cast<int>(static_cast<int64_t>(format.BytesPerSecond()) * kBufferLengthMs / 1000);
  if (halfSize <= 0) return true;

  std::unique_ptr<platform::CAudioBuffer> buffer;
  std::vector<uint32_t> notifications;
  if (isStatic) {
    // The buffer is as long as what the decoder really delivers (up to the
    // size it reports), so a header that claims far more than the file holds
    // costs nothing.
    decoder_ = decoder;
    decoder->Rewind();
    int want = decoder->GetDataSize();
    if (want <= 0) {
      decoder_ = nullptr;
      return true;
    }
    int got = ReadInto(0, want, false);
    decoder_ = nullptr;
    if (got <= 0) return true;
    got -= got % format.BlockAlign();
    if (got <= 0) return true;
    buffer = platform::CAudioBuffer::Create(format, static_cast<uint32_t>(got));
    if (!buffer) return true;
    buffer->Write(0, scratch_.data(), static_cast<uint32_t>(got));
    staticSize_ = got;
    notifications = {0, platform::CAudioBuffer::kNotifyStop};
  } else {
    buffer = platform::CAudioBuffer::Create(format, static_cast<uint32_t>(halfSize) * 2);
    if (!buffer) return true;
    notifications = {0, static_cast<uint32_t>(halfSize), platform::CAudioBuffer::kNotifyStop};
  }
  if (buffer->SetNotifications(notifications)) return true;

  buffer_ = std::move(buffer);
  format_ = format;
  halfSize_ = halfSize;
  streaming_ = !isStatic;
  decoder_ = decoder;
  buffer_->SetAttenuation(attenuation_);
  return false;
}

int CDxSound::ReadInto(int at, int bytes, bool loop) {
  if (scratch_.size() < static_cast<size_t>(at) + static_cast<size_t>(bytes)) {
    // Grows with what arrives rather than with what was asked for.
    scratch_.resize(static_cast<size_t>(at) + static_cast<size_t>(bytes < (1 << 20) ? bytes : (1 << 20)));
  }
  int done = 0;
  bool rewound = false;
  while (done < bytes) {
    size_t room = scratch_.size() - static_cast<size_t>(at + done);
    if (room == 0) {
      size_t grow = scratch_.size();
      size_t limit = static_cast<size_t>(at) + static_cast<size_t>(bytes);
      scratch_.resize(scratch_.size() + grow < limit ? scratch_.size() + grow : limit);
      room = scratch_.size() - static_cast<size_t>(at + done);
    }
    int n = decoder_->Read(scratch_.data() + at + done, static_cast<int>(room));
    if (n < 0) return done > 0 ? done : -1;
    if (n > static_cast<int>(room)) n = static_cast<int>(room);
    if (n == 0) {
      // Looping continues from the first sample; a sound that delivers
      // nothing even from its start ends the fill.
      if (!loop || rewound) break;
      decoder_->Rewind();
      rewound = true;
      continue;
    }
    rewound = false;
    done += n;
  }
  return done;
}

bool CDxSound::Play(bool loop) {
  if (!buffer_) return true;
  if (state_ != kStopped) Stop();
  decoder_->Rewind();
  endCount_ = 0;
  if (streaming_) {
    int got = ReadInto(0, halfSize_, loop);
    if (got < 0) got = 0;
    buffer_->Write(0, scratch_.data(), static_cast<uint32_t>(got));
    buffer_->Silence(static_cast<uint32_t>(got), static_cast<uint32_t>(halfSize_ - got));
  } else {
    int got = ReadInto(0, staticSize_, false);
    if (got < 0) got = 0;
    buffer_->Write(0, scratch_.data(), static_cast<uint32_t>(got));
    buffer_->Silence(static_cast<uint32_t>(got), static_cast<uint32_t>(staticSize_ - got));
  }
  // Notifications left over from an earlier run must not trigger refills.
  while (buffer_->PollNotification() >= 0) {}
  buffer_->SetPosition(0);
  if (buffer_->Play(loop || streaming_)) return true;
  state_ = streaming_ ? kStreaming : kPlayingStatic;
  loop_ = loop;
  return false;
}

void CDxSound::Refill(int half) {
  uint32_t offset = half == 0 ? 0 : static_cast<uint32_t>(halfSize_);
  if (scratch_.size() < static_cast<size_t>(halfSize_)) scratch_.resize(static_cast<size_t>(halfSize_));
  int n = decoder_->Read(scratch_.data(), halfSize_);
  if (n < 0) {
    // The decoder broke down: nothing more can be played.
    Stop();
    return;
  }
  if (n > halfSize_) n = halfSize_;
  if (n < halfSize_) {
    if (loop_) {
      decoder_->Rewind();
      int more = ReadInto(n, halfSize_ - n, true);
      if (more > 0) n += more;
      buffer_->Write(offset, scratch_.data(), static_cast<uint32_t>(n));
      buffer_->Silence(offset + static_cast<uint32_t>(n), static_cast<uint32_t>(halfSize_ - n));
      return;
    }
    buffer_->Write(offset, scratch_.data(), static_cast<uint32_t>(n));
    buffer_->Silence(offset + static_cast<uint32_t>(n), static_cast<uint32_t>(halfSize_ - n));
    if (endCount_ == 2) Stop();
    ++endCount_;
    return;
  }
  buffer_->Write(offset, scratch_.data(), static_cast<uint32_t>(n));
}

void CDxSound::Update() {
  if (state_ != kStreaming || !buffer_) return;
  int fired = buffer_->PollNotification();
  // Offset 0 reached: the first half plays, so the second one is refilled;
  // and the other way round. The stop notification needs nothing.
  if (fired == 0) {
    Refill(1);
  } else if (fired == 1) {
    Refill(0);
  }
}

void CDxSound::Stop() {
  state_ = kStopped;
  if (!buffer_) return;
  buffer_->Stop();
  buffer_->SetPosition(0);
}

int CDxSound::IsPlaying() {
  if (state_ == kPlayingStatic && buffer_ && !buffer_->IsPlaying()) state_ = kStopped;
  return state_;
}

void CDxSound::SetVolume(int volume) {
  volume_ = volume >= 1000 ? 1000 : volume <= 0 ? 0 : volume;
  attenuation_ = VolumeToAttenuation(volume);
  if (buffer_) buffer_->SetAttenuation(attenuation_);
}
