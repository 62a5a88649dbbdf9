// velmira-tool play: plays a sound through the engine's own loaders, sound
// player and mixer on the null audio output, frame by frame on the virtual
// clock, and writes what a player would hear to a WAVE file.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "ToolCommand.h"
#include "platform/TextCodec.h"
#include "files/GameFiles.h"
#include "files/PackFile.h"
#include "platform/Audio.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "sound/DxSound.h"
#include "sound/SoundLoaders.h"
#include "sound/Vorbis.h"
#include "sound/Wave.h"

namespace {

constexpr const char* kPlayUsage =
    "play NAME [--game DIR] [--volume V] [--loop] [--static] [--seconds S] --out FILE.wav";

// Without --seconds a sound that ends is played to its end; one that loops,
// or never ends, stops here.
constexpr double kDefaultLoopSeconds = 10.0;
constexpr double kMaxSeconds = 3600.0;

int PlayUsage(const char* problem, const char* argument) {
  std::fprintf(stderr, "play: %s%s%s\n", problem, argument ? ": " : "", argument ? argument : "");
  std::fprintf(stderr, "usage: velmira-tool %s\n", kPlayUsage);
  return 2;
}

// True unless the text is a whole, finite number ("nan", "inf" and numbers
// too large for a double are refused: they would reach integer casts).
bool ParseNumber(std::string_view text, double& out) {
  const char* end = text.data() + text.size();
  double value = 0;
  auto result = std::from_chars(text.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) return true;
  out = value;
  return false;
}

// Checks the WAVE file the null output wrote: its header must name as many
// bytes as the file holds, and something must have been written when
// something was mixed. True when it is incomplete (a full disk, a write
// error); files that are not regular (a pipe, /dev/null) are not checked.
bool DumpIncomplete(const std::string& path, uint64_t framesMixed) {
  std::error_code ec;
  const std::filesystem::path file(path);
  if (!std::filesystem::exists(file, ec)) return true;
  if (!std::filesystem::is_regular_file(file, ec)) return false;
  const uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size < 44) return true;
  std::ifstream in(file, std::ios::binary);
  unsigned char header[44] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  if (in.gcount() != 44 || std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 36, "data", 4) != 0) {
    return true;
  }
  const uint32_t dataBytes = static_cast<uint32_t>(header[40]) | static_cast<uint32_t>(header[41]) << 8 |
                             static_cast<uint32_t>(header[42]) << 16 | static_cast<uint32_t>(header[43]) << 24;
  return size != 44 + static_cast<uintmax_t>(dataBytes) || (framesMixed > 0 && dataBytes == 0);
}

// Moves the virtual clock to `ms` milliseconds after `startTicks`.
void SetClock(uint64_t startTicks, uint64_t ms) { platform::SetVirtualTicks(startTicks + (ms << 10)); }

int RunPlay(int argc, char** argv) {
  std::string name, game, out;
  double volume = 1000, seconds = -1;
  bool loop = false, isStatic = false, secondsGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--game" || arg == "--out" || arg == "--volume" || arg == "--seconds") {
      if (i + 1 >= argc) return PlayUsage("missing value", argv[i]);
      const char* v = argv[++i];
      if (arg == "--game")
        game = v;
      else if (arg == "--out")
        out = v;
      else if (arg == "--volume" ? ParseNumber(v, volume) : ParseNumber(v, seconds)) {
        return PlayUsage("not a finite number", v);
      } else if (arg == "--seconds") {
        secondsGiven = true;
      }
    } else if (arg == "--loop") {
      loop = true;
    } else if (arg == "--static") {
      isStatic = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return PlayUsage("unknown option", argv[i]);
    } else if (name.empty()) {
      name = argv[i];
    } else {
      return PlayUsage("more than one sound named", argv[i]);
    }
  }
  if (name.empty()) return PlayUsage("no sound named", nullptr);
  if (out.empty()) return PlayUsage("no output file (--out)", nullptr);
  if (volume < 0 || volume > 1000) return PlayUsage("volume must be 0 to 1000", nullptr);
  if (secondsGiven && seconds < 0) return PlayUsage("seconds must not be negative", nullptr);
  if (seconds > kMaxSeconds) return PlayUsage("too long (at most 3600 seconds)", nullptr);
  if (!secondsGiven) seconds = loop ? kDefaultLoopSeconds : kMaxSeconds;

  // The output path is taken before moving into the game folder.
  std::error_code ec;
  std::string outPath = std::filesystem::absolute(out, ec).string();
  if (ec) outPath = out;
  if (!game.empty() && platform::SetCurrentDirectory(game)) {
    std::fprintf(stderr, "play: cannot enter the game folder %s\n", game.c_str());
    return 1;
  }
  // Sounds are found as the engine finds them, in the game's archives too.
  StartGameFiles(platform::GetCurrentDirectory(), kDefaultExecutableName);

  platform::Init(platform::Backend::Headless);
  platform::AudioOptions options;
  options.backend = platform::AudioBackend::Null;
  options.dumpPath = outPath;
  if (platform::AudioOpen(options)) {
    std::fprintf(stderr, "play: cannot write %s\n", outPath.c_str());
    platform::Shutdown();
    return 1;
  }

  int status = 0;
  uint64_t frames = 0;
  {
    CPackFileFactory factory;
    CSoundLoaders loaders(&factory);
    loaders.AddLoader(new CVorbisLoader());
    loaders.AddLoader(new CWaveLoader());
    ISound* decoded = nullptr;
    std::string nameCp932 = Utf8ToCp932(name);
    if (loaders.LoadFile(&decoded, nameCp932.c_str())) {
      std::fprintf(stderr, "play: %s: not found or not a supported sound\n", name.c_str());
      status = 1;
    }
    std::unique_ptr<ISound> sound(decoded);
    CDxSound player;
    if (status == 0 && player.Open(sound.get(), isStatic)) {
      std::fprintf(stderr, "play: %s: the player cannot play this format\n", name.c_str());
      status = 1;
    }
    if (status == 0) {
      std::printf("%s: %d Hz, %d bit, %s, %d bytes of PCM (%.3f s)\n", name.c_str(), sound->GetSampleRate(),
                  sound->GetBitsPerSample(), sound->GetChannels() == 1 ? "mono" : "stereo", sound->GetDataSize(),
                  static_cast<double>(sound->GetDataSize()) / (static_cast<double>(sound->GetSampleRate()) *
                                                               sound->GetChannels() * (sound->GetBitsPerSample() / 8)));
      player.SetVolume(static_cast<int>(volume));
      const uint64_t start = platform::GetVirtualTicks();
      const uint64_t endMs = static_cast<uint64_t>(seconds * 1000.0 + 0.5);
      platform::AudioPump();
      player.Play(loop);
      // One engine frame every 1/60 s: the output catches up, then the
      // player refills as the frame cycle would.
      for (uint64_t frame = 1;; ++frame) {
        uint64_t ms = frame * 1000 / 60;
        if (ms >= endMs) break;
        SetClock(start, ms);
        platform::AudioPump();
        player.Update();
        if (!player.IsPlaying()) break;
      }
      if (player.IsPlaying()) {
        SetClock(start, endMs);
        platform::AudioPump();
      }
      player.Stop();
      frames = platform::AudioFramesMixed();
    }
    player.Close();
  }
  platform::AudioClose();
  platform::Shutdown();
  if (status == 0 && DumpIncomplete(outPath, frames)) {
    std::fprintf(stderr, "play: cannot write %s (disk full?)\n", outPath.c_str());
    status = 1;
  }
  if (status != 0) {
    // No half-written sound is left behind.
    std::error_code rec;
    if (std::filesystem::is_regular_file(outPath, rec)) std::filesystem::remove(outPath, rec);
    return status;
  }
  std::printf("wrote %s: %.3f s\n", outPath.c_str(), static_cast<double>(frames) / platform::kAudioOutputRate);
  return status;
}

}  // namespace

VELMIRA_TOOL_COMMAND(play,
                     "play NAME [--game DIR] [--volume V] [--loop] [--static] [--seconds S] --out FILE.wav  "
                     "play a sound through the engine's loaders, player and mixer into a WAVE file",
                     RunPlay);
