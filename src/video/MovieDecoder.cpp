#include "video/MovieDecoder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

int64_t ToMs(int64_t value, AVRational base) { return av_rescale_q(value, base, AVRational{1, 1000}); }

}  // namespace

struct CMovieDecoder::CImpl {
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;
  std::vector<uint8_t> memory;
  size_t memoryPos = 0;
  std::chrono::steady_clock::time_point deadline;
  bool deadlineArmed = false;
  std::atomic<bool> abort{false};

  int videoIndex = -1;
  int audioIndex = -1;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  std::deque<PacketPtr> videoPackets;
  std::deque<PacketPtr> audioPackets;
  bool demuxEnded = false;
  bool videoFlushed = false;
  bool audioFlushed = false;
  AVFrame* frame = nullptr;  // the last picture
  AVFrame* audioFrame = nullptr;
  int64_t nextPtsMs = 0;  // for pictures without a time stamp

  SwsContext* sws = nullptr;
  std::array<int, 5> swsKey{};
  enum class Alpha { kUnknown, kOpaque, kForce } swsAlpha = Alpha::kUnknown;
  SwrContext* swr = nullptr;
  std::vector<int16_t> pending;  // converted sound not yet read
  size_t pendingPos = 0;

  ~CImpl() { Close(); }
  void Close() {
    videoPackets.clear();
    audioPackets.clear();
    av_frame_free(&frame);
    av_frame_free(&audioFrame);
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
    sws_freeContext(sws);
    sws = nullptr;
    swr_free(&swr);
    if (format) avformat_close_input(&format);
    if (io) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    memory.clear();
  }

  static int Interrupt(void* opaque) {
    auto* self = static_cast<CImpl*>(opaque);
    if (self->abort.load(std::memory_order_relaxed)) return 1;
    return self->deadlineArmed && std::chrono::steady_clock::now() > self->deadline;
  }
  static int ReadMemory(void* opaque, uint8_t* buf, int size) {
    auto* self = static_cast<CImpl*>(opaque);
    size_t left = self->memory.size() - self->memoryPos;
    if (left == 0) return AVERROR_EOF;
    size_t n = std::min(left, static_cast<size_t>(size));
    std::memcpy(buf, self->memory.data() + self->memoryPos, n);
    self->memoryPos += n;
    return static_cast<int>(n);
  }
  static int64_t SeekMemory(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<CImpl*>(opaque);
    const int64_t size = static_cast<int64_t>(self->memory.size());
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return size;
    int64_t base = whence == SEEK_CUR ? static_cast<int64_t>(self->memoryPos) : whence == SEEK_END ? size : 0;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
    int64_t pos = base + offset;
    if (pos < 0 || pos > size) return -1;
    self->memoryPos = static_cast<size_t>(pos);
    return pos;
  }
};

CMovieDecoder::CMovieDecoder() {
  // Damaged movies are reported through GetError; the libraries' own chatter
  // would only flood the console.
  static const bool quiet = (av_log_set_level(AV_LOG_FATAL), true);
  (void)quiet;
}
CMovieDecoder::~CMovieDecoder() { Close(); }

void CMovieDecoder::Close() {
  impl_.reset();
  info_ = CMovieInfo();
  failed_ = false;
  audioEnded_ = true;
  frameStartMs_ = frameEndMs_ = 0;
}

bool CMovieDecoder::IsOpen() const { return impl_ != nullptr; }

void CMovieDecoder::Abort() {
  if (impl_) impl_->abort.store(true, std::memory_order_relaxed);
}

bool CMovieDecoder::OpenFile(const std::string& nativePath) {
  Close();
  error_.clear();
  impl_ = std::make_unique<CImpl>();
  impl_->format = avformat_alloc_context();
  if (!impl_->format) {
    error_ = "out of memory";
    Close();
    return true;
  }
  impl_->format->interrupt_callback = {&CImpl::Interrupt, impl_.get()};
  impl_->deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kOpenTimeLimitMs);
  impl_->deadlineArmed = true;
  // On failure avformat_open_input frees the context.
  if (avformat_open_input(&impl_->format, nativePath.c_str(), nullptr, nullptr) < 0) {
    impl_->format = nullptr;
    error_ = "cannot open the file";
    Close();
    return true;
  }
  return OpenStreams();
}

bool CMovieDecoder::OpenMemory(const uint8_t* data, size_t size) {
  Close();
  error_.clear();
  impl_ = std::make_unique<CImpl>();
  impl_->memory.assign(data, data + size);
  constexpr int kBufferSize = 32768;
  auto* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
  impl_->io =
      buffer ? avio_alloc_context(buffer, kBufferSize, 0, impl_.get(), &CImpl::ReadMemory, nullptr, &CImpl::SeekMemory)
             : nullptr;
  impl_->format = avformat_alloc_context();
  if (!impl_->io || !impl_->format) {
    if (!impl_->io) av_free(buffer);
    error_ = "out of memory";
    Close();
    return true;
  }
  impl_->format->pb = impl_->io;
  impl_->format->flags |= AVFMT_FLAG_CUSTOM_IO;
  impl_->format->interrupt_callback = {&CImpl::Interrupt, impl_.get()};
  impl_->deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kOpenTimeLimitMs);
  impl_->deadlineArmed = true;
  if (avformat_open_input(&impl_->format, nullptr, nullptr, nullptr) < 0) {
    impl_->format = nullptr;
    error_ = "not a movie";
    Close();
    return true;
  }
  return OpenStreams();
}

bool CMovieDecoder::OpenStreams() {
  CImpl& d = *impl_;
  auto fail = [&](const char* why) {
    error_ = why;
    Close();
    return true;
  };
  if (avformat_find_stream_info(d.format, nullptr) < 0) return fail("cannot read the streams");
  d.deadlineArmed = false;

  auto openCodec = [&](int index, AVCodecContext*& context) {
    const AVCodecParameters* par = d.format->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return true;
    context = avcodec_alloc_context3(codec);
    if (!context || avcodec_parameters_to_context(context, par) < 0) return true;
    // One thread keeps decoding deterministic and cheap for small pictures.
    context->thread_count = 1;
    return avcodec_open2(context, codec, nullptr) < 0;
  };

  int v = av_find_best_stream(d.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (v >= 0) {
    const AVCodecParameters* par = d.format->streams[v]->codecpar;
    if (par->width > kMaxSide || par->height > kMaxSide) return fail("the picture is too large");
    if (par->width > 0 && par->height > 0 && !openCodec(v, d.video)) {
      d.videoIndex = v;
    } else {
      avcodec_free_context(&d.video);
    }
  }
  int a = av_find_best_stream(d.format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (a >= 0) {
    // A damaged header can claim any rate: the resampler would then build
    // filter tables for a minute and gigabytes before the first sample.
    const AVCodecParameters* par = d.format->streams[a]->codecpar;
    const bool plausible = par->sample_rate >= kMinSampleRate && par->sample_rate <= kMaxSampleRate &&
                           par->ch_layout.nb_channels <= kMaxChannels;
    if (plausible && !openCodec(a, d.audio) && d.audio->sample_rate >= kMinSampleRate &&
        d.audio->sample_rate <= kMaxSampleRate && d.audio->ch_layout.nb_channels > 0 &&
        d.audio->ch_layout.nb_channels <= kMaxChannels) {
      d.audioIndex = a;
    } else {
      avcodec_free_context(&d.audio);
    }
  }
  if (d.videoIndex < 0 && d.audioIndex < 0) return fail("no stream can be decoded");

  d.frame = av_frame_alloc();
  d.audioFrame = av_frame_alloc();
  if (!d.frame || !d.audioFrame) return fail("out of memory");

  if (d.videoIndex >= 0) {
    AVStream* st = d.format->streams[d.videoIndex];
    info_.hasVideo = true;
    info_.width = d.video->width;
    info_.height = d.video->height;
    AVRational rate = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
    info_.frameRate = rate.num && rate.den ? av_q2d(rate) : 0;
    info_.videoCodec = avcodec_get_name(d.video->codec_id);
  }
  if (d.audioIndex >= 0) {
    info_.hasAudio = true;
    info_.audioRate = d.audio->sample_rate;
    info_.audioChannels = d.audio->ch_layout.nb_channels;
    info_.audioCodec = avcodec_get_name(d.audio->codec_id);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (swr_alloc_set_opts2(&d.swr, &stereo, AV_SAMPLE_FMT_S16, kOutputRate, &d.audio->ch_layout, d.audio->sample_fmt,
                            d.audio->sample_rate, 0, nullptr) < 0 ||
        swr_init(d.swr) < 0)
      return fail("the sound cannot be converted");
    audioEnded_ = false;
  }
  if (d.format->duration != AV_NOPTS_VALUE && d.format->duration > 0)
    info_.durationMs = av_rescale(d.format->duration, 1000, AV_TIME_BASE);
  return false;
}

bool CMovieDecoder::ReadPacket() {
  CImpl& d = *impl_;
  if (d.demuxEnded) return true;
  PacketPtr packet(av_packet_alloc());
  if (!packet) {
    d.demuxEnded = true;
    return true;
  }
  for (;;) {
    if (av_read_frame(d.format, packet.get()) < 0) {
      d.demuxEnded = true;
      return true;
    }
    if (packet->stream_index == d.videoIndex) {
      d.videoPackets.push_back(std::move(packet));
      return false;
    }
    if (packet->stream_index == d.audioIndex) {
      d.audioPackets.push_back(std::move(packet));
      return false;
    }
    av_packet_unref(packet.get());
  }
}

bool CMovieDecoder::DecodeVideo() {
  if (!impl_ || failed_) return true;
  CImpl& d = *impl_;
  if (d.videoIndex < 0) return true;
  for (;;) {
    int got = avcodec_receive_frame(d.video, d.frame);
    if (got == 0) {
      if (d.frame->width > kMaxSide || d.frame->height > kMaxSide || d.frame->width <= 0 || d.frame->height <= 0) {
        failed_ = true;
        error_ = "a picture is too large";
        return true;
      }
      AVStream* st = d.format->streams[d.videoIndex];
      int64_t pts = d.frame->best_effort_timestamp;
      int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
      int64_t startMs = pts != AV_NOPTS_VALUE ? ToMs(pts - start, st->time_base) : d.nextPtsMs;
      int64_t lengthMs = d.frame->pkt_duration > 0 ? ToMs(d.frame->pkt_duration, st->time_base) : 0;
      if (lengthMs <= 0 && info_.frameRate > 0) lengthMs = static_cast<int64_t>(1000.0 / info_.frameRate);
      if (lengthMs <= 0) lengthMs = 40;
      // Time stamps never run backwards on screen.
      startMs = std::max(startMs, frameStartMs_ == 0 && frameEndMs_ == 0 ? int64_t(0) : frameStartMs_);
      frameStartMs_ = startMs;
      frameEndMs_ = startMs + lengthMs;
      d.nextPtsMs = frameEndMs_;
      return false;
    }
    if (got == AVERROR_EOF) return true;
    if (got != AVERROR(EAGAIN)) {
      failed_ = true;
      error_ = "a picture cannot be decoded";
      return true;
    }
    // The decoder wants input.
    while (d.videoPackets.empty() && !ReadPacket()) {}
    if (d.videoPackets.empty()) {
      if (d.videoFlushed) return true;
      d.videoFlushed = true;
      avcodec_send_packet(d.video, nullptr);
      continue;
    }
    PacketPtr packet = std::move(d.videoPackets.front());
    d.videoPackets.pop_front();
    int sent = avcodec_send_packet(d.video, packet.get());
    // A damaged packet is skipped like a decoder would on screen; only a
    // decoder that refuses everything ends the movie (below, on receive).
    if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) {
      failed_ = true;
      error_ = "a picture cannot be decoded";
      return true;
    }
  }
}

bool CMovieDecoder::ConvertFrame(int width, int height, uint8_t* pixels, int pitch) {
  if (!impl_ || width <= 0 || height <= 0 || !pixels) return true;
  CImpl& d = *impl_;
  AVFrame* f = d.frame;
  if (!f || f->width <= 0 || f->height <= 0 || !f->data[0]) return true;
  AVPixelFormat format = static_cast<AVPixelFormat>(f->format);
  if (!d.sws || d.swsKey != std::array<int, 5>{f->width, f->height, format, width, height}) {
    sws_freeContext(d.sws);
    d.swsKey = {f->width, f->height, format, width, height};
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    d.swsAlpha = desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA) ? CImpl::Alpha::kForce : CImpl::Alpha::kUnknown;
    // The JPEG formats are full-range YUV under an old name.
    bool fullRange = f->color_range == AVCOL_RANGE_JPEG;
    switch (format) {
      case AV_PIX_FMT_YUVJ420P: format = AV_PIX_FMT_YUV420P, fullRange = true; break;
      case AV_PIX_FMT_YUVJ422P: format = AV_PIX_FMT_YUV422P, fullRange = true; break;
      case AV_PIX_FMT_YUVJ444P: format = AV_PIX_FMT_YUV444P, fullRange = true; break;
      case AV_PIX_FMT_YUVJ440P: format = AV_PIX_FMT_YUV440P, fullRange = true; break;
      default: break;
    }
    d.sws = sws_getContext(f->width, f->height, format, width, height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                           nullptr);
    if (!d.sws) return true;
    int* inv = nullptr;
    int* table = nullptr;
    int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(d.sws, &inv, &srcRange, &table, &dstRange, &brightness, &contrast, &saturation) >= 0)
      sws_setColorspaceDetails(d.sws, inv, fullRange ? 1 : 0, table, 1, brightness, contrast, saturation);
  }
  uint8_t* dst[4] = {pixels, nullptr, nullptr, nullptr};
  int dstStride[4] = {pitch, 0, 0, 0};
  if (sws_scale(d.sws, f->data, f->linesize, 0, f->height, dst, dstStride) != height) return true;
  // The picture is opaque, but some conversions leave alpha at 0 (and a
  // source with alpha carries its own). A source without alpha gets the
  // same alpha from a conversion every time, so one look at the first
  // result tells whether the pass over every pixel is needed.
  if (d.swsAlpha == CImpl::Alpha::kUnknown) {
    d.swsAlpha = CImpl::Alpha::kOpaque;
    for (int y = 0; y < height && d.swsAlpha == CImpl::Alpha::kOpaque; ++y) {
      const uint8_t* row = pixels + static_cast<ptrdiff_t>(y) * pitch;
      for (int x = 0; x < width; ++x) {
        if (row[x * 4 + 3] != 0xFF) {
          d.swsAlpha = CImpl::Alpha::kForce;
          break;
        }
      }
    }
  }
  if (d.swsAlpha == CImpl::Alpha::kForce) {
    for (int y = 0; y < height; ++y) {
      uint8_t* row = pixels + static_cast<ptrdiff_t>(y) * pitch;
      for (int x = 0; x < width; ++x) row[x * 4 + 3] = 0xFF;
    }
  }
  return false;
}

size_t CMovieDecoder::ReadAudio(int16_t* out, size_t frames) {
  if (!impl_ || audioEnded_) return 0;
  CImpl& d = *impl_;
  size_t done = 0;
  while (done < frames) {
    size_t available = (d.pending.size() - d.pendingPos) / 2;
    if (available > 0) {
      size_t n = std::min(available, frames - done);
      std::memcpy(out + done * 2, d.pending.data() + d.pendingPos, n * 2 * sizeof(int16_t));
      d.pendingPos += n * 2;
      done += n;
      continue;
    }
    d.pending.clear();
    d.pendingPos = 0;
    int got = avcodec_receive_frame(d.audio, d.audioFrame);
    if (got == 0) {
      int outCount = swr_get_out_samples(d.swr, d.audioFrame->nb_samples);
      if (outCount < 0) outCount = 0;
      d.pending.resize(static_cast<size_t>(outCount) * 2);
      uint8_t* dst = reinterpret_cast<uint8_t*>(d.pending.data());
      int n = swr_convert(d.swr, &dst, outCount, const_cast<const uint8_t**>(d.audioFrame->extended_data),
                          d.audioFrame->nb_samples);
      d.pending.resize(n > 0 ? static_cast<size_t>(n) * 2 : 0);
      continue;
    }
    if (got == AVERROR_EOF) {
      // What the resampler still holds.
      int outCount = swr_get_out_samples(d.swr, 0);
      if (outCount > 0) {
        d.pending.resize(static_cast<size_t>(outCount) * 2);
        uint8_t* dst = reinterpret_cast<uint8_t*>(d.pending.data());
        int n = swr_convert(d.swr, &dst, outCount, nullptr, 0);
        d.pending.resize(n > 0 ? static_cast<size_t>(n) * 2 : 0);
        if (n > 0) continue;
      }
      audioEnded_ = true;
      break;
    }
    if (got != AVERROR(EAGAIN)) {
      audioEnded_ = true;
      break;
    }
    while (d.audioPackets.empty() && !ReadPacket()) {}
    if (d.audioPackets.empty()) {
      if (d.audioFlushed) {
        audioEnded_ = true;
        break;
      }
      d.audioFlushed = true;
      avcodec_send_packet(d.audio, nullptr);
      continue;
    }
    PacketPtr packet = std::move(d.audioPackets.front());
    d.audioPackets.pop_front();
    int sent = avcodec_send_packet(d.audio, packet.get());
    if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) {
      audioEnded_ = true;
      break;
    }
  }
  return done;
}
