// velmira-tool moviegen: writes a small movie of our own (Motion JPEG in AVI,
// a colour per second with a light bar sweeping across it, and a short tone
// at the start), made with the same encoder code as the tests' movies. The
// demo's opening movie comes from here.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "../../tests/video/MovieFixture.h"
#include "ToolCommand.h"

namespace {

constexpr const char* kMovieGenUsage = "moviegen OUT [--size WxH] [--seconds N]  write a small movie of our own";

int MovieGenUsage(const char* problem, const char* argument) {
  std::fprintf(stderr, "moviegen: %s%s%s\n", problem, argument ? ": " : "", argument ? argument : "");
  std::fprintf(stderr, "usage: velmira-tool %s\n", kMovieGenUsage);
  return 2;
}

bool ParseInt(std::string_view text, int& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out, 10);
  return !text.empty() && ec == std::errc() && ptr == text.data() + text.size();
}

int MovieGenCommand(int argc, char** argv) {
  const char* out = nullptr;
  MovieSpec clip;
  clip.width = 320;
  clip.height = 240;
  clip.fps = 12;
  int seconds = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--size" || arg == "--seconds") {
      if (i + 1 >= argc) return MovieGenUsage("option needs a value", argv[i]);
      const char* value = argv[++i];
      if (arg == "--seconds") {
        if (!ParseInt(value, seconds) || seconds < 1 || seconds > 60) return MovieGenUsage("bad length", value);
      } else {
        const char* x = std::strchr(value, 'x');
        if (!x || !ParseInt(std::string_view(value, x - value), clip.width) || !ParseInt(x + 1, clip.height) ||
            clip.width < 16 || clip.height < 16 || clip.width > 1920 || clip.height > 1080 || clip.width % 2 ||
            clip.height % 2)
          return MovieGenUsage("bad size (even, 16x16 to 1920x1080)", value);
      }
    } else if (!out) {
      out = argv[i];
    } else {
      return MovieGenUsage("unexpected argument", argv[i]);
    }
  }
  if (!out) return MovieGenUsage("no output file", nullptr);
  clip.frames = clip.fps * seconds;
  clip.colours = {0x1B2A4A, 0x6A2C5A, 0xC8703A, 0x2E6B4F};
  clip.sweep = true;
  clip.sampleRate = 11025;
  clip.channels = 1;
  clip.audioMs = seconds * 1000;
  clip.toneStartMs = 0;
  clip.toneEndMs = 250;
  if (WriteMovie(out, clip)) {
    std::fprintf(stderr, "moviegen: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

}  // namespace

VELMIRA_TOOL_COMMAND(moviegen, kMovieGenUsage, MovieGenCommand);
