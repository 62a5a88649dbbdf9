// Movie playback at 1280x720: decoding and converting a picture through the
// player's decoder against bare FFmpeg decode plus sws_scale to BGRA (the
// baseline for the first ratio), and the main thread's cost per frame while a
// movie plays against a memcpy of one 1280x720 BGRA frame (the baseline for
// the second).

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/video/MovieFixture.h"
#include "graphics/Surface.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "video/MovieDecoder.h"
#include "video/VideoPlayer.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

constexpr int kW = 1280;
constexpr int kH = 720;
constexpr int kFrames = 24;

const std::string& MoviePath() {
  static const std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() / "velmira_bench_720p.avi").string();
    MovieSpec clip;
    clip.width = kW;
    clip.height = kH;
    clip.fps = 24;
    clip.frames = kFrames;
    clip.colours = {0x336699, 0x993366};
    if (WriteMovie(p, clip)) std::abort();
    return p;
  }();
  return path;
}

void BM_BareFfmpegDecodeAndScale(benchmark::State& state) {
  std::vector<uint8_t> out(size_t(kW) * kH * 4);
  for (auto _ : state) {
    state.PauseTiming();
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, MoviePath().c_str(), nullptr, nullptr) < 0) std::abort();
    avformat_find_stream_info(format, nullptr);
    int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec = avcodec_find_decoder(format->streams[index]->codecpar->codec_id);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(context, format->streams[index]->codecpar);
    context->thread_count = 1;
    avcodec_open2(context, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* sws = nullptr;
    state.ResumeTiming();
    while (av_read_frame(format, packet) >= 0) {
      if (packet->stream_index == index && avcodec_send_packet(context, packet) >= 0) {
        while (avcodec_receive_frame(context, frame) == 0) {
          sws = sws_getCachedContext(sws, frame->width, frame->height, AVPixelFormat(frame->format), kW, kH,
                                     AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
          uint8_t* dst[4] = {out.data()};
          int stride[4] = {kW * 4};
          sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
        }
      }
      av_packet_unref(packet);
    }
    state.PauseTiming();
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_BareFfmpegDecodeAndScale)->Unit(benchmark::kMillisecond);

void BM_PlayerDecodeAndConvert(benchmark::State& state) {
  std::vector<uint8_t> out(size_t(kW) * kH * 4);
  for (auto _ : state) {
    state.PauseTiming();
    CMovieDecoder decoder;
    if (decoder.OpenFile(MoviePath())) std::abort();
    state.ResumeTiming();
    while (!decoder.DecodeVideo()) decoder.ConvertFrame(kW, kH, out.data(), kW * 4);
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_PlayerDecodeAndConvert)->Unit(benchmark::kMillisecond);

void BM_MemcpyOneFrame(benchmark::State& state) {
  std::vector<uint8_t> a(size_t(kW) * kH * 4, 1), b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
  }
}
BENCHMARK(BM_MemcpyOneFrame)->Unit(benchmark::kMicrosecond);

// Update and Draw of one engine frame (16 ms) while the movie plays, paced
// as with a real display: the player's own thread decodes and converts, and
// this thread's CPU time is what is measured. The virtual clock only makes
// the frame times exact.
void BM_PlayerMainThreadPerFrame(benchmark::State& state) {
  platform::Init(platform::Backend::Headless);
  CSurface target;
  target.Create(kW, kH, ISurface::PIXEL_BITS_32);
  CVideoPlayer player(kW, kH, CVideoPlayer::Pacing::kDropLate);
  uint64_t now = 1000000;
  for (auto _ : state) {
    if (!player.IsPlaying()) {
      state.PauseTiming();
      if (player.Play(MoviePath().c_str())) std::abort();
      state.ResumeTiming();
    }
    now += 16;
    platform::SetVirtualTicks(now << 10);
    player.Update();
    player.Draw(&target);
  }
  player.Stop();
  platform::Shutdown();
}
BENCHMARK(BM_PlayerMainThreadPerFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
