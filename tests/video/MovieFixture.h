// Makes small test movies with the FFmpeg encoders: Motion JPEG pictures in
// an AVI file, optionally with 16-bit PCM sound. Each whole second of the
// movie has its own solid colour, so a test can tell from one pixel which
// second is on screen; the sound is silence with an optional square tone.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cstdint>
#include <string>
#include <vector>

struct MovieSpec {
  int width = 64;
  int height = 48;
  int fps = 10;
  int frames = 30;  // 0: a movie without pictures
  // 0xRRGGBB for second 0, 1, 2, ... (the last repeats).
  std::vector<uint32_t> colours = {0xFF0000, 0x00FF00, 0x0000FF};
  // Sound: sampleRate 0 for none.
  int sampleRate = 0;
  int channels = 2;
  int audioMs = 0;
  int toneStartMs = -1;  // a loud square wave from here ...
  int toneEndMs = -1;    // ... to here
  // A light bar sweeping from left to right once a second over the colour.
  bool sweep = false;
  std::string container = "avi";
};

namespace moviefixture {

struct Writer {
  AVFormatContext* out = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  AVPacket* packet = av_packet_alloc();
  ~Writer() {
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
    if (out) {
      if (out->pb) avio_closep(&out->pb);
      avformat_free_context(out);
    }
    av_packet_free(&packet);
  }
  bool Drain(AVCodecContext* codec, AVStream* stream) {
    for (;;) {
      int got = avcodec_receive_packet(codec, packet);
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return false;
      if (got < 0) return true;
      av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      if (av_interleaved_write_frame(out, packet) < 0) return true;
    }
  }
};

}  // namespace moviefixture

// Writes the movie to a native path; true on failure.
inline bool WriteMovie(const std::string& path, const MovieSpec& clip) {
  moviefixture::Writer w;
  if (avformat_alloc_output_context2(&w.out, nullptr, clip.container.c_str(), path.c_str()) < 0) return true;
  if (clip.frames > 0) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!codec) return true;
    w.video = avcodec_alloc_context3(codec);
    w.video->width = clip.width;
    w.video->height = clip.height;
    w.video->pix_fmt = AV_PIX_FMT_YUVJ420P;
    w.video->time_base = AVRational{1, clip.fps};
    w.video->framerate = AVRational{clip.fps, 1};
    w.video->global_quality = FF_QP2LAMBDA * 2;
    w.video->flags |= AV_CODEC_FLAG_QSCALE;
    if (avcodec_open2(w.video, codec, nullptr) < 0) return true;
    w.videoStream = avformat_new_stream(w.out, nullptr);
    avcodec_parameters_from_context(w.videoStream->codecpar, w.video);
    w.videoStream->time_base = w.video->time_base;
  }
  if (clip.sampleRate > 0) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    if (!codec) return true;
    w.audio = avcodec_alloc_context3(codec);
    w.audio->sample_rate = clip.sampleRate;
    w.audio->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&w.audio->ch_layout, clip.channels);
    w.audio->time_base = AVRational{1, clip.sampleRate};
    if (avcodec_open2(w.audio, codec, nullptr) < 0) return true;
    w.audioStream = avformat_new_stream(w.out, nullptr);
    avcodec_parameters_from_context(w.audioStream->codecpar, w.audio);
    w.audioStream->time_base = w.audio->time_base;
  }
  if (avio_open(&w.out->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return true;
  if (avformat_write_header(w.out, nullptr) < 0) return true;

  AVFrame* frame = av_frame_alloc();
  bool failed = false;
  // Pictures and sound interleaved a second at a time, as a muxer expects.
  const int seconds = std::max(clip.frames / std::max(clip.fps, 1) + 1, clip.audioMs / 1000 + 1);
  int nextFrame = 0;
  int64_t nextSample = 0;
  const int64_t totalSamples = static_cast<int64_t>(clip.sampleRate) * clip.audioMs / 1000;
  for (int s = 0; s < seconds && !failed; ++s) {
    for (; w.video && nextFrame < clip.frames && nextFrame < (s + 1) * clip.fps; ++nextFrame) {
      av_frame_unref(frame);
      frame->format = AV_PIX_FMT_YUVJ420P;
      frame->width = clip.width;
      frame->height = clip.height;
      if (av_frame_get_buffer(frame, 0) < 0) {
        failed = true;
        break;
      }
      size_t index = std::min<size_t>(nextFrame / clip.fps, clip.colours.size() - 1);
      uint32_t c = clip.colours[index];
      double r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
      int y = int(0.299 * r + 0.587 * g + 0.114 * b + 0.5);
      int u = int(-0.168736 * r - 0.331264 * g + 0.5 * b + 128.5);
      int v = int(0.5 * r - 0.418688 * g - 0.081312 * b + 128.5);
      auto clamp = [](int x) { return uint8_t(std::min(255, std::max(0, x))); };
      for (int row = 0; row < clip.height; ++row)
        memset(frame->data[0] + row * frame->linesize[0], clamp(y), clip.width);
      for (int row = 0; row < (clip.height + 1) / 2; ++row) {
        memset(frame->data[1] + row * frame->linesize[1], clamp(u), (clip.width + 1) / 2);
        memset(frame->data[2] + row * frame->linesize[2], clamp(v), (clip.width + 1) / 2);
      }
      if (clip.sweep) {
        const int barWidth = std::max(2, clip.width / 8) & ~1;
        const int left = (nextFrame % clip.fps) * (clip.width - barWidth) / std::max(1, clip.fps - 1) & ~1;
        for (int row = 0; row < clip.height; ++row)
          memset(frame->data[0] + row * frame->linesize[0] + left, 220, barWidth);
        for (int row = 0; row < (clip.height + 1) / 2; ++row) {
          memset(frame->data[1] + row * frame->linesize[1] + left / 2, 128, barWidth / 2);
          memset(frame->data[2] + row * frame->linesize[2] + left / 2, 128, barWidth / 2);
        }
      }
      frame->pts = nextFrame;
      if (avcodec_send_frame(w.video, frame) < 0 || w.Drain(w.video, w.videoStream)) failed = true;
    }
    const int64_t secondEnd = std::min<int64_t>(totalSamples, static_cast<int64_t>(s + 1) * clip.sampleRate);
    while (w.audio && !failed && nextSample < secondEnd) {
      const int n = static_cast<int>(std::min<int64_t>(1024, secondEnd - nextSample));
      av_frame_unref(frame);
      frame->format = AV_SAMPLE_FMT_S16;
      frame->nb_samples = n;
      frame->sample_rate = clip.sampleRate;
      av_channel_layout_copy(&frame->ch_layout, &w.audio->ch_layout);
      if (av_frame_get_buffer(frame, 0) < 0) {
        failed = true;
        break;
      }
      auto* samples = reinterpret_cast<int16_t*>(frame->data[0]);
      for (int i = 0; i < n; ++i) {
        int64_t t = nextSample + i;
        int64_t ms = t * 1000 / clip.sampleRate;
        int16_t value = 0;
        if (ms >= clip.toneStartMs && ms < clip.toneEndMs) value = (t / 50) % 2 ? 12000 : -12000;
        for (int ch = 0; ch < clip.channels; ++ch) samples[i * clip.channels + ch] = value;
      }
      frame->pts = nextSample;
      nextSample += n;
      if (avcodec_send_frame(w.audio, frame) < 0 || w.Drain(w.audio, w.audioStream)) failed = true;
    }
  }
  av_frame_free(&frame);
  if (w.video && !failed) failed = avcodec_send_frame(w.video, nullptr) < 0 || w.Drain(w.video, w.videoStream);
  if (w.audio && !failed) failed = avcodec_send_frame(w.audio, nullptr) < 0 || w.Drain(w.audio, w.audioStream);
  if (!failed && av_write_trailer(w.out) < 0) failed = true;
  return failed;
}

// The movie's bytes (empty on failure).
inline std::vector<uint8_t> MakeMovie(const MovieSpec& clip) {
  static int counter = 0;
  auto path = std::filesystem::temp_directory_path() /
              ("velmira_movie_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
               std::to_string(counter++) + "." + clip.container);
  std::vector<uint8_t> bytes;
  if (!WriteMovie(path.string(), clip)) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return bytes;
}
