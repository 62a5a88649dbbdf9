// velmira-tool ease: prints the values a tween sets along an easing curve,
// so authors can look at a curve and tests can compare one.

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "ToolCommand.h"
#include "scene/Easing.h"
#include "scene/Tween.h"

namespace {

constexpr const char* kEaseUsage = "ease KIND|NAME FROM TO MSEC [--step MS]  print 'MS VALUE' per step of a tween";

int EaseUsage(const char* problem, const char* argument) {
  std::fprintf(stderr, "ease: %s%s%s\n", problem, argument ? ": " : "", argument ? argument : "");
  std::fprintf(stderr, "usage: velmira-tool %s\n", kEaseUsage);
  std::fprintf(stderr, "kinds: 0..30 or");
  for (int kind = 0; kind < kEaseKindCount; ++kind) std::fprintf(stderr, " %s", EaseName(kind));
  std::fprintf(stderr, "\n");
  return 2;
}

bool ParseInt32(std::string_view text, int32_t& out) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out, 10);
  return !text.empty() && ec == std::errc() && ptr == end;
}

int EaseCommand(int argc, char** argv) {
  const char* positional[4] = {};
  int count = 0;
  int32_t step = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--step") == 0) {
      if (i + 1 >= argc) return EaseUsage("--step needs a value", nullptr);
      if (!ParseInt32(argv[++i], step) || step < 1)
        return EaseUsage("step must be a whole number of at least 1", argv[i]);
    } else if (count < 4) {
      positional[count++] = argv[i];
    } else {
      return EaseUsage("unexpected argument", argv[i]);
    }
  }
  if (count < 4) return EaseUsage("missing arguments", nullptr);
  int kind = 0;
  int32_t number = 0;
  if (ParseInt32(positional[0], number)) {
    if (number < 0 || number >= kEaseKindCount) return EaseUsage("unknown easing kind", positional[0]);
    kind = number;
  } else if (!EaseKindFromName(positional[0], kind)) {
    return EaseUsage("unknown easing kind", positional[0]);
  }
  int32_t from = 0, to = 0, msec = 0;
  if (!ParseInt32(positional[1], from)) return EaseUsage("FROM is not a 32-bit integer", positional[1]);
  if (!ParseInt32(positional[2], to)) return EaseUsage("TO is not a 32-bit integer", positional[2]);
  if (!ParseInt32(positional[3], msec) || msec < 0) return EaseUsage("MSEC must be 0 or more", positional[3]);
  for (const auto& [ms, value] : SampleTween(kind, from, to, msec, step))
    std::printf("%lld %d\n", static_cast<long long>(ms), static_cast<int>(value));
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

VELMIRA_TOOL_COMMAND(ease, kEaseUsage, EaseCommand);
