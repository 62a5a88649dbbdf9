// The SDL output, through SDL's disk driver: what the mixer renders reaches
// the device.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Audio.h"
#include "sound/SoundTestUtil.h"

using namespace soundtest;

namespace {

// Sets environment variables for the test's lifetime.
class CEnvironment {
 public:
  void Set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old ? std::string(old) : std::string(), old != nullptr});
    setenv(name, value.c_str(), 1);
  }
  ~CEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->had)
        setenv(it->name, it->value.c_str(), 1);
      else
        unsetenv(it->name);
    }
  }

 private:
  struct Saved {
    const char* name;
    std::string value;
    bool had;
  };
  std::vector<Saved> saved_;
};

}  // namespace

TEST(SdlAudioTest, BufferPlaysThroughTheDiskDriver) {
  CTempDir dir;
  CEnvironment env;
  env.Set("SDL_AUDIODRIVER", "disk");
  env.Set("SDL_DISKAUDIOFILE", dir.File("disk.raw"));
  platform::AudioOptions options;
  options.backend = platform::AudioBackend::Sdl;
  if (platform::AudioOpen(options)) GTEST_SKIP() << "SDL audio with the disk driver cannot open here";

  platform::AudioFormat format;
  format.channels = 1;
  format.sampleRate = 22050;
  format.bitsPerSample = 16;
  auto buffer = platform::CAudioBuffer::Create(format, 2205 * 2);  // 0.1 s
  ASSERT_TRUE(buffer);
  std::vector<int16_t> pcm(2205, 12000);
  buffer->Write(0, ToBytes(pcm).data(), 2205 * 2);
  buffer->SetNotifications({platform::CAudioBuffer::kNotifyStop});
  ASSERT_FALSE(buffer->Play(false));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (buffer->IsPlaying() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(buffer->IsPlaying());
  EXPECT_EQ(buffer->PollNotification(), 0);
  platform::AudioClose();

  std::ifstream f(dir.File("disk.raw"), std::ios::binary);
  std::vector<uint8_t> raw((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<int16_t> out = ToSamples(raw);
  size_t loud = 0;
  for (size_t i = 0; i + 1 < out.size(); i += 2) {
    if (out[i] == 12000 && out[i + 1] == 12000) ++loud;
  }
  // 0.1 s at 22,050 Hz is 4,410 output frames; the ends are interpolated.
  EXPECT_GE(loud, 4400u);
  EXPECT_LE(loud, 4412u);
}
