// velmira-tool channel: the tool's end of the debugging channel. It creates
// the channel a game in debug mode 2 sends to, writes every message as UTF-8
// and answers it empty, and ends after the game's "EXIT" or a time limit.
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "ToolCommand.h"
#include "platform/TextCodec.h"
#include "debug/ProcessCommunication.h"

namespace {

constexpr const char* kChannelUsage = "channel [--name N] [--size BYTES] [--out FILE] [--no-reply] [--seconds S]";
constexpr uint32_t kDefaultSize = 65536;

int ChannelUsage(const char* problem, const char* argument) {
  std::fprintf(stderr, "channel: %s%s%s\n", problem, argument ? ": " : "", argument ? argument : "");
  std::fprintf(stderr, "usage: velmira-tool %s\n", kChannelUsage);
  return 2;
}

class ChannelWriter : public CProcessCommunication {
 public:
  ChannelWriter(const std::string& name, uint32_t size, FILE* out) : CProcessCommunication(name, size), out_(out) {}

  void OnRequest(uint8_t* data, uint32_t* length) override {
    ++requests_;
    // The game sends C strings: the text ends at the first zero byte.
    const char* text = reinterpret_cast<const char*>(data);
    size_t n = strnlen(text, *length);
    std::string_view message(text, n);
    std::string utf8 = Cp932ToUtf8(message);
    // A frame's lines end with their line feeds; a line longer than the
    // block comes in parts that are written as they are, joined again.
    // "EXIT" has none of its own.
    if (message == "EXIT") utf8 += '\n';
    std::fwrite(utf8.data(), 1, utf8.size(), out_);
    std::fflush(out_);
    if (message == "EXIT") sawExit_ = true;
    *length = 0;  // the reply is empty
  }

  bool SawExit() const { return sawExit_; }
  uint64_t Requests() const { return requests_; }

 private:
  FILE* out_;
  bool sawExit_ = false;
  uint64_t requests_ = 0;
};

int RunChannel(int argc, char** argv) {
  std::string name = "Velmira_Debug", outPath;
  uint32_t size = kDefaultSize;
  double seconds = -1;
  bool reply = true;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--no-reply") {
      reply = false;
      continue;
    }
    if (arg != "--name" && arg != "--size" && arg != "--out" && arg != "--seconds") {
      return ChannelUsage("unknown argument", argv[i]);
    }
    if (i + 1 >= argc) return ChannelUsage("missing value after", argv[i]);
    std::string_view value = argv[++i];
    const char* end = value.data() + value.size();
    if (arg == "--name") {
      if (value.empty()) return ChannelUsage("empty name", nullptr);
      name = value;
    } else if (arg == "--out") {
      outPath = value;
    } else if (arg == "--size") {
      auto r = std::from_chars(value.data(), end, size);
      // The length word and "EXIT" with its zero must fit in one message.
      if (r.ec != std::errc() || r.ptr != end || size < 9) {
        return ChannelUsage("size must be a whole number of at least 9", argv[i]);
      }
    } else {
      auto r = std::from_chars(value.data(), end, seconds);
      if (r.ec != std::errc() || r.ptr != end || !(seconds >= 0) || seconds > 1e7) {
        return ChannelUsage("seconds must be a number of 0 or more", argv[i]);
      }
    }
  }

  FILE* out = stdout;
  if (!outPath.empty()) {
    out = std::fopen(outPath.c_str(), "wb");
    if (!out) {
      std::fprintf(stderr, "channel: cannot write %s: %s\n", outPath.c_str(), std::strerror(errno));
      return 1;
    }
  }
  int status = 0;
  {
    ChannelWriter channel(name, size, out);
    channel.SetAnswering(reply);
    if (!channel.IsValid()) {
      std::fprintf(stderr, "channel: cannot create the channel %s\n", name.c_str());
      status = 1;
    } else {
      std::fprintf(stderr, "channel: %s ready (%u bytes)\n", name.c_str(), size);
      std::fflush(stderr);
      const auto start = std::chrono::steady_clock::now();
      const auto limit = std::chrono::duration<double>(seconds);
      while (!channel.SawExit()) {
        if (seconds >= 0 && std::chrono::steady_clock::now() - start >= limit) break;
        uint64_t before = channel.Requests();
        (void)channel.Poll();
        // Busy while messages come, resting between them.
        if (channel.Requests() == before) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  }
  if (out != stdout) std::fclose(out);
  return status;
}

}  // namespace

VELMIRA_TOOL_COMMAND(channel,
                     "channel [--name N] [--size BYTES] [--out FILE] [--no-reply] [--seconds S]  the tool's end of "
                     "the debugging channel: writes each message as UTF-8 and answers it",
                     RunChannel);
