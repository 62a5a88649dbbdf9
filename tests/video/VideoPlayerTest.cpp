// The movie player on the virtual clock: which picture shows when, when a
// movie ends, how bad files fail, and where its sound lands in the output.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <thread>

#include "graphics/Surface.h"
#include "platform/Audio.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "video/MovieFixture.h"
#include "video/VideoPlayer.h"

namespace {

constexpr int kW = 32;
constexpr int kH = 24;

class VideoPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Init(platform::Backend::Headless);
    dir_ = std::filesystem::temp_directory_path() /
           ("velmira_video_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_);
    oldDir_ = platform::GetCurrentDirectory();
    platform::SetCurrentDirectory(dir_.string());
    SetNow(1000000);
  }
  void TearDown() override {
    platform::AudioClose();
    platform::SetCurrentDirectory(oldDir_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    platform::Shutdown();
  }
  void SetNow(uint32_t ms) {
    now_ = ms;
    platform::SetVirtualTicks(static_cast<uint64_t>(ms) << 10);
  }
  void Write(const std::string& name, const MovieSpec& clip) { ASSERT_FALSE(WriteMovie((dir_ / name).string(), clip)); }
  // The colour (0xRRGGBB) of the scene's centre pixel.
  uint32_t Centre(CVideoPlayer& player) {
    CSurface target;
    EXPECT_FALSE(target.Create(kW, kH, ISurface::PIXEL_BITS_32));
    target.Fill(0xFF808080u);
    player.Draw(&target);
    const uint8_t* p = target.GetLine(kH / 2) + (kW / 2) * 4;
    return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
  }
  // Plays at `at` ms after the start.
  void At(CVideoPlayer& player, uint32_t start, uint32_t at) {
    SetNow(start + at);
    player.Update();
  }

  std::filesystem::path dir_;
  std::string oldDir_;
  uint32_t now_ = 0;
};

// MJPEG is lossy: a solid colour comes back within a few steps.
::testing::AssertionResult Near(uint32_t got, uint32_t want) {
  for (int shift : {0, 8, 16}) {
    int a = (got >> shift) & 255, b = (want >> shift) & 255;
    if (std::abs(a - b) > 12)
      return ::testing::AssertionFailure() << std::hex << "got 0x" << got << ", want 0x" << want;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(VideoPlayerTest, ColourOfEachSecondShowsAtItsTimeAndTheMovieEndsAfterTheLastFrame) {
  Write("movie.avi", MovieSpec{});  // 3 s at 10 fps: red, green, blue
  CVideoPlayer player(kW, kH);
  const uint32_t start = now_;
  ASSERT_FALSE(player.Play("movie.avi")) << player.GetError();
  EXPECT_TRUE(player.IsPlaying());
  EXPECT_EQ(player.GetInfo().width, 64);
  EXPECT_TRUE(Near(Centre(player), 0xFF0000));
  At(player, start, 999);
  EXPECT_TRUE(Near(Centre(player), 0xFF0000));
  At(player, start, 1000);
  EXPECT_TRUE(Near(Centre(player), 0x00FF00));
  At(player, start, 2099);
  EXPECT_TRUE(Near(Centre(player), 0x0000FF));
  At(player, start, 2999);
  EXPECT_TRUE(player.IsPlaying());
  At(player, start, 3000);
  EXPECT_FALSE(player.IsPlaying());
}

TEST_F(VideoPlayerTest, PicturesFillTheWholeScene) {
  MovieSpec clip;
  clip.width = 16;  // smaller than the scene, and of another shape
  clip.height = 16;
  Write("small.avi", clip);
  CVideoPlayer player(kW, kH);
  ASSERT_FALSE(player.Play("small.avi"));
  CSurface target;
  ASSERT_FALSE(target.Create(kW, kH, ISurface::PIXEL_BITS_32));
  target.Fill(0xFF000000u);
  player.Draw(&target);
  for (auto [x, y] : {std::pair{0, 0}, {kW - 1, 0}, {0, kH - 1}, {kW - 1, kH - 1}}) {
    const uint8_t* p = target.GetLine(y) + x * 4;
    EXPECT_GT(p[2], 200) << x << "," << y;
    EXPECT_EQ(p[3], 255);
  }
}

TEST_F(VideoPlayerTest, JumpingAheadShowsTheLastFrameDueNotALaterOne) {
  Write("movie.avi", MovieSpec{});
  CVideoPlayer player(kW, kH);
  const uint32_t start = now_;
  ASSERT_FALSE(player.Play("movie.avi"));
  At(player, start, 1999);  // many frames at once: all decoded, the green one shows
  EXPECT_TRUE(Near(Centre(player), 0x00FF00));
  EXPECT_TRUE(player.IsPlaying());
}

TEST_F(VideoPlayerTest, FilesThatCannotPlayFailAndLeaveThePlayerStopped) {
  CVideoPlayer player(kW, kH);
  EXPECT_TRUE(player.Play("missing.avi"));
  EXPECT_FALSE(player.IsPlaying());
  EXPECT_FALSE(player.GetError().empty());

  std::ofstream(dir_ / "junk.avi", std::ios::binary) << std::string(4000, 'x');
  EXPECT_TRUE(player.Play("junk.avi"));
  EXPECT_FALSE(player.IsPlaying());

  std::filesystem::create_directory(dir_ / "folder.avi");
  EXPECT_TRUE(player.Play("folder.avi"));

  MovieSpec huge;
  huge.width = 8200;  // wider than any picture the player takes
  huge.height = 8;
  huge.frames = 1;
  Write("huge.avi", huge);
  EXPECT_TRUE(player.Play("huge.avi"));
  EXPECT_FALSE(player.IsPlaying());

  // A truncated movie either fails at once or plays what it holds and ends.
  std::vector<uint8_t> bytes = MakeMovie(MovieSpec{});
  ASSERT_FALSE(bytes.empty());
  bytes.resize(bytes.size() / 3);
  if (!player.PlayMemory(bytes.data(), bytes.size())) {
    for (uint32_t t = 0; t < 4000 && player.IsPlaying(); t += 16) At(player, now_, 16);
    EXPECT_FALSE(player.IsPlaying());
  }
}

TEST_F(VideoPlayerTest, NamesFallBackToAnotherCase) {
  Write("Opening.AVI", MovieSpec{});
  CVideoPlayer player(kW, kH);
  EXPECT_FALSE(player.Play("opening.avi")) << player.GetError();
}

TEST_F(VideoPlayerTest, ASecondPlayStopsTheFirst) {
  Write("red.avi", MovieSpec{});
  MovieSpec blue;
  blue.colours = {0x0000FF};
  Write("blue.avi", blue);
  CVideoPlayer player(kW, kH);
  ASSERT_FALSE(player.Play("red.avi"));
  At(player, now_, 500);
  const uint32_t start = now_;
  ASSERT_FALSE(player.Play("blue.avi"));
  EXPECT_TRUE(Near(Centre(player), 0x0000FF));
  At(player, start, 2999);
  EXPECT_TRUE(player.IsPlaying());  // counted from the second start
  At(player, start, 3000);
  EXPECT_FALSE(player.IsPlaying());
  // Stopping twice, and destroying while playing, are safe.
  player.Stop();
  ASSERT_FALSE(player.Play("blue.avi"));
}

TEST_F(VideoPlayerTest, SoundOnlyPlaysOverBlackUntilTheSoundEnds) {
  MovieSpec clip;
  clip.frames = 0;
  clip.sampleRate = 22050;
  clip.audioMs = 1500;
  Write("sound.avi", clip);
  CVideoPlayer player(kW, kH);
  const uint32_t start = now_;
  ASSERT_FALSE(player.Play("sound.avi")) << player.GetError();
  EXPECT_EQ(Centre(player), 0u);
  At(player, start, 1499);
  EXPECT_TRUE(player.IsPlaying());
  At(player, start, 1500);
  EXPECT_FALSE(player.IsPlaying());
}

TEST_F(VideoPlayerTest, LongerSoundKeepsTheLastPictureUntilItEnds) {
  MovieSpec clip;
  clip.frames = 10;  // one second of red
  clip.sampleRate = 44100;
  clip.audioMs = 2000;
  Write("long.avi", clip);
  CVideoPlayer player(kW, kH);
  const uint32_t start = now_;
  ASSERT_FALSE(player.Play("long.avi"));
  At(player, start, 1500);
  EXPECT_TRUE(player.IsPlaying());
  EXPECT_TRUE(Near(Centre(player), 0xFF0000));
  At(player, start, 2000);
  EXPECT_FALSE(player.IsPlaying());
}

TEST_F(VideoPlayerTest, ToneLandsAtItsOffsetInTheAudioDump) {
  const std::string dump = (dir_ / "dump.wav").string();
  platform::AudioOptions options;
  options.dumpPath = dump;
  ASSERT_FALSE(platform::AudioOpen(options));
  const uint32_t opened = now_;
  SetNow(opened + 100);
  MovieSpec clip;
  clip.sampleRate = 22050;  // resampled to the output rate on the way
  clip.channels = 1;
  clip.audioMs = 3000;
  clip.toneStartMs = 1000;
  clip.toneEndMs = 1200;
  Write("tone.avi", clip);
  CVideoPlayer player(kW, kH);
  const uint32_t start = now_;
  ASSERT_FALSE(player.Play("tone.avi"));
  while (player.IsPlaying()) {
    At(player, now_, 16);
    platform::AudioPump();
  }
  platform::AudioClose();
  std::ifstream in(dump, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 44u);
  const int16_t* samples = reinterpret_cast<const int16_t*>(bytes.data() + 44);
  const size_t count = (bytes.size() - 44) / 2;
  size_t first = count, last = 0;
  for (size_t i = 0; i < count; ++i) {
    if (std::abs(samples[i]) > 3000) {
      first = std::min(first, i / 2);
      last = i / 2;
    }
  }
  const size_t expectFirst = static_cast<size_t>(start - opened + 1000) * 441 / 10;
  const size_t expectLast = static_cast<size_t>(start - opened + 1200) * 441 / 10;
  EXPECT_NEAR(double(first), double(expectFirst), 30.0);
  EXPECT_NEAR(double(last), double(expectLast), 30.0);
}

TEST_F(VideoPlayerTest, MatroskaMoviesPlayToo) {
  MovieSpec clip;
  clip.container = "matroska";
  clip.sampleRate = 44100;
  clip.audioMs = 3000;
  Write("movie.mkv", clip);
  CVideoPlayer player(kW, kH);
  const uint32_t start = now_;
  ASSERT_FALSE(player.Play("movie.mkv")) << player.GetError();
  At(player, start, 1500);
  EXPECT_TRUE(Near(Centre(player), 0x00FF00));
  At(player, start, 3000);
  EXPECT_FALSE(player.IsPlaying());
}

// The pictures come from the player's own thread. Paced frame by frame (the
// headless default) every run shows the same pixels at the same times,
// however the thread is scheduled.
TEST_F(VideoPlayerTest, EveryRunShowsTheSamePicturesAtTheSameFrames) {
  MovieSpec clip;
  clip.fps = 25;
  clip.frames = 50;
  clip.colours = {0x102030, 0xC0A080};
  clip.sampleRate = 44100;
  clip.audioMs = 2000;
  Write("movie.avi", clip);
  auto run = [&] {
    std::vector<size_t> hashes;
    CVideoPlayer player(kW, kH);
    const uint32_t start = now_;
    EXPECT_FALSE(player.Play("movie.avi"));
    for (uint32_t t = 0; player.IsPlaying(); t += 16) {
      At(player, start, t);
      const std::vector<uint8_t>& p = player.GetPicture();
      hashes.push_back(
          std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(p.data()), p.size())));
    }
    SetNow(start);
    return hashes;
  };
  const std::vector<size_t> first = run();
  EXPECT_EQ(first.size(), 126u);  // ends in the frame at 2000 ms
  for (int i = 0; i < 3; ++i) EXPECT_EQ(run(), first);
}

// With a real display the main thread never waits for a picture: late ones
// are dropped, and the player catches up with the clock.
TEST_F(VideoPlayerTest, DroppingLatePicturesCatchesUpWithoutWaiting) {
  Write("movie.avi", MovieSpec{});
  CVideoPlayer player(kW, kH, CVideoPlayer::Pacing::kDropLate);
  const uint32_t start = now_;
  ASSERT_FALSE(player.Play("movie.avi"));
  EXPECT_TRUE(Near(Centre(player), 0xFF0000));
  // Far ahead at once: whatever the thread has is shown, never a picture
  // that is not due yet; within a bounded real time the due one arrives.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool blue = false;
  while (!blue && std::chrono::steady_clock::now() < deadline) {
    At(player, start, 2500);
    const uint32_t c = Centre(player);
    EXPECT_TRUE(Near(c, 0xFF0000) || Near(c, 0x00FF00) || Near(c, 0x0000FF));
    blue = Near(c, 0x0000FF);
    if (!blue) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(blue);
  EXPECT_TRUE(player.IsPlaying());
  while (player.IsPlaying() && std::chrono::steady_clock::now() < deadline) {
    At(player, start, 3000);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_FALSE(player.IsPlaying());
  EXPECT_FALSE(player.HasThread());
}

// The thread is joined whenever the movie stops: at its end, on Stop, on a
// second Play, on a failed Play and when the player goes away mid-movie.
TEST_F(VideoPlayerTest, TheDecodingThreadEndsWithTheMovie) {
  MovieSpec clip;
  clip.sampleRate = 44100;
  clip.audioMs = 3000;
  Write("movie.avi", clip);
  {
    CVideoPlayer player(kW, kH);
    const uint32_t start = now_;
    ASSERT_FALSE(player.Play("movie.avi"));
    EXPECT_TRUE(player.HasThread());
    At(player, start, 3000);
    EXPECT_FALSE(player.IsPlaying());
    EXPECT_FALSE(player.HasThread());

    ASSERT_FALSE(player.Play("movie.avi"));
    ASSERT_FALSE(player.Play("movie.avi"));
    EXPECT_TRUE(player.HasThread());
    player.Stop();
    EXPECT_FALSE(player.HasThread());

    ASSERT_FALSE(player.Play("movie.avi"));
    EXPECT_TRUE(player.Play("missing.avi"));
    EXPECT_FALSE(player.HasThread());
    std::vector<uint8_t> junk(4000, 'x');
    EXPECT_TRUE(player.PlayMemory(junk.data(), junk.size()));
    EXPECT_FALSE(player.HasThread());
  }
  for (auto pacing : {CVideoPlayer::Pacing::kEveryFrame, CVideoPlayer::Pacing::kDropLate}) {
    CVideoPlayer player(kW, kH, pacing);
    ASSERT_FALSE(player.Play("movie.avi"));
    At(player, now_, 100);
    // Destroyed with the thread running and its queues full.
  }
}

// Names are never cut short: one character too many fails like a missing
// file, even when the file is there.
TEST_F(VideoPlayerTest, NamesLongerThanTheLimitFailLikeMissingFiles) {
  const std::string folder(200, 'd');
  std::filesystem::create_directory(dir_ / folder);
  const std::string fits = folder + "/" + std::string(55, 'm') + ".avi";  // 260 characters
  const std::string tooLong = folder + "/" + std::string(56, 'm') + ".avi";
  ASSERT_EQ(fits.size(), CVideoPlayer::kMaxNameChars);
  Write(fits, MovieSpec{});
  Write(tooLong, MovieSpec{});
  CVideoPlayer player(kW, kH);
  EXPECT_FALSE(player.Play(fits.c_str())) << player.GetError();
  EXPECT_TRUE(player.Play(tooLong.c_str()));
  EXPECT_EQ(player.GetError(), "file not found");
  // A double-byte character counts once.
  EXPECT_EQ(CVideoPlayer::CountCharacters("\x93\xae\x89\xe6.avi"), 6u);
}

// A sample rate no real sound has (a damaged header) would make the
// resampler work for a minute: such sound is left out, the pictures play.
TEST_F(VideoPlayerTest, ImplausibleSampleRatesLeaveTheSoundOut) {
  MovieSpec clip;
  clip.sampleRate = 500000;
  clip.audioMs = 100;
  Write("fast.avi", clip);
  CVideoPlayer player(kW, kH);
  ASSERT_FALSE(player.Play("fast.avi")) << player.GetError();
  EXPECT_TRUE(player.GetInfo().hasVideo);
  EXPECT_FALSE(player.GetInfo().hasAudio);
  clip.frames = 0;
  Write("sound.avi", clip);
  EXPECT_TRUE(player.Play("sound.avi"));
  EXPECT_EQ(player.GetError(), "no stream can be decoded");
}
