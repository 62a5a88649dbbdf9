// velmira-tool movie: what the engine sees in a movie file (its length as
// the engine counts it, picture size, frame rate, sound) and the picture it
// would show at a given time, stretched to the scene.

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "ToolCommand.h"
#include "graphics/PngWriter.h"
#include "video/MovieDecoder.h"

namespace {

constexpr const char* kMovieUsage = "movie FILE [--scene WxH] [--at MS --out PNG]  describe a movie; save a frame";

int MovieUsage(const char* problem, const char* argument) {
  std::fprintf(stderr, "movie: %s%s%s\n", problem, argument ? ": " : "", argument ? argument : "");
  std::fprintf(stderr, "usage: velmira-tool %s\n", kMovieUsage);
  return 2;
}

bool ParseInt(std::string_view text, int64_t& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out, 10);
  return !text.empty() && ec == std::errc() && ptr == text.data() + text.size();
}

int MovieCommand(int argc, char** argv) {
  const char* file = nullptr;
  const char* outPath = nullptr;
  int64_t at = -1;
  int sceneW = 0, sceneH = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--scene" || arg == "--at" || arg == "--out") {
      if (i + 1 >= argc) return MovieUsage("option needs a value", argv[i]);
      const char* value = argv[++i];
      if (arg == "--out") {
        outPath = value;
      } else if (arg == "--at") {
        if (!ParseInt(value, at) || at < 0) return MovieUsage("bad time", value);
      } else {
        const char* x = std::strchr(value, 'x');
        int64_t w = 0, h = 0;
        if (!x || !ParseInt(std::string_view(value, x - value), w) || !ParseInt(x + 1, h) || w < 1 || h < 1 ||
            w > 16384 || h > 16384)
          return MovieUsage("bad scene size", value);
        sceneW = int(w);
        sceneH = int(h);
      }
    } else if (!file) {
      file = argv[i];
    } else {
      return MovieUsage("unexpected argument", argv[i]);
    }
  }
  if (!file) return MovieUsage("no file", nullptr);
  if ((at >= 0) != (outPath != nullptr)) return MovieUsage("--at and --out go together", nullptr);

  CMovieDecoder decoder;
  if (decoder.OpenFile(file)) {
    std::fprintf(stderr, "movie: %s: %s\n", file, decoder.GetError().c_str());
    return 1;
  }
  const CMovieInfo info = decoder.GetInfo();
  if (sceneW == 0) {
    sceneW = info.hasVideo ? info.width : 640;
    sceneH = info.hasVideo ? info.height : 480;
  }
  // Walk the whole movie as the player would: the picture due at `at` is
  // the last one starting at or before it.
  std::vector<uint8_t> picture(size_t(sceneW) * sceneH * 4, 0);
  for (size_t i = 3; i < picture.size(); i += 4) picture[i] = 0xFF;
  int64_t videoEnd = 0;
  int64_t frames = 0;
  while (info.hasVideo && !decoder.DecodeVideo()) {
    ++frames;
    videoEnd = decoder.GetFrameEndMs();
    if (at >= 0 && decoder.GetFrameStartMs() <= at) decoder.ConvertFrame(sceneW, sceneH, picture.data(), sceneW * 4);
  }
  const bool failed = decoder.IsFailed();
  uint64_t samples = 0;
  std::vector<int16_t> chunk(2 * 4096);
  while (info.hasAudio && !decoder.IsAudioEnded()) samples += decoder.ReadAudio(chunk.data(), 4096);
  const int64_t audioEnd = int64_t(samples * 1000 / CMovieDecoder::kOutputRate);

  std::printf("file: %s\n", file);
  std::printf("duration: %lld ms\n", static_cast<long long>(std::max(videoEnd, audioEnd)));
  if (info.hasVideo) {
    std::printf("picture: %dx%d %s, %.3f fps, %lld frames, ends at %lld ms\n", info.width, info.height,
                info.videoCodec.c_str(), info.frameRate, static_cast<long long>(frames),
                static_cast<long long>(videoEnd));
  } else {
    std::printf("picture: none (sound over black)\n");
  }
  if (info.hasAudio) {
    std::printf("sound: %s, %d Hz, %d channels, ends at %lld ms (played at %d Hz stereo)\n", info.audioCodec.c_str(),
                info.audioRate, info.audioChannels, static_cast<long long>(audioEnd), CMovieDecoder::kOutputRate);
  } else {
    std::printf("sound: none\n");
  }
  if (failed) std::printf("warning: decoding stops early: %s\n", decoder.GetError().c_str());
  std::printf("scene: %dx%d\n", sceneW, sceneH);
  if (outPath) {
    std::vector<uint8_t> png;
    if (EncodeBgraAsRgbPng(picture.data(), sceneW, sceneH, png)) {
      std::fprintf(stderr, "movie: cannot encode the picture\n");
      return 1;
    }
    std::ofstream out(outPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    if (!out) {
      std::fprintf(stderr, "movie: cannot write %s\n", outPath);
      return 1;
    }
  }
  return 0;
}

}  // namespace

VELMIRA_TOOL_COMMAND(movie, kMovieUsage, &MovieCommand);
