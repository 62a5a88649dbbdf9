// The sound player on the null output: static and streaming playback, the
// refill protocol, the end of a stream, looping and volume.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "platform/Audio.h"
#include "sound/DxSound.h"
#include "sound/SoundTestUtil.h"
#include "sound/Vorbis.h"
#include "sound/Wave.h"

using namespace soundtest;

namespace {

// A decoder over PCM bytes in memory that counts what is asked of it.
class CPcmSound : public ISound {
 public:
  CPcmSound(std::vector<uint8_t> pcm, int channels, int rate, int bits)
      : pcm_(std::move(pcm)), channels_(channels), rate_(rate), bits_(bits) {}
  bool Open(std::shared_ptr<CFile>) override { return false; }
  int Read(void* buffer, int count) override {
    ++reads;
    if (failAfter >= 0 && reads > failAfter) return -1;
    size_t n = std::min(static_cast<size_t>(count), pcm_.size() - pos_);
    std::memcpy(buffer, pcm_.data() + pos_, n);
    pos_ += n;
    if (n < static_cast<size_t>(count)) ++shortReads;
    return static_cast<int>(n);
  }
  void Rewind() override {
    pos_ = 0;
    ++rewinds;
  }
  int GetSampleRate() override { return rate_; }
  int GetBitsPerSample() override { return bits_; }
  int GetChannels() override { return channels_; }
  int GetDataSize() override { return claimedSize >= 0 ? claimedSize : static_cast<int>(pcm_.size()); }

  int reads = 0, shortReads = 0, rewinds = 0;
  int failAfter = -1;
  int claimedSize = -1;

 private:
  std::vector<uint8_t> pcm_;
  size_t pos_ = 0;
  int channels_, rate_, bits_;
};

class PlayerTest : public ::testing::Test {
 protected:
  PlayerTest() : out_(dir_.File("out.wav")) {}

  // Runs frames of 1/60 s: the output catches up, then every player updates.
  void RunFrames(int count, std::initializer_list<CDxSound*> players) {
    for (int i = 0; i < count; ++i) {
      ++frame_;
      uint32_t now = static_cast<uint32_t>(frame_ * 1000 / 60);
      out_.Advance(now - elapsed_);
      elapsed_ = now;
      for (CDxSound* p : players) p->Update();
    }
  }
  // Runs frames until the player stops; the time (ms since the start) it took.
  uint32_t RunUntilStopped(CDxSound& player, uint32_t limitMs) {
    while (elapsed_ < limitMs && player.IsPlaying()) RunFrames(1, {&player});
    return elapsed_;
  }

  CTempDir dir_;
  CNullOutput out_;
  int64_t frame_ = 0;
  uint32_t elapsed_ = 0;
};

std::vector<int16_t> Repeat(const std::vector<int16_t>& pcm, size_t samples) {
  std::vector<int16_t> out;
  while (out.size() < samples) out.insert(out.end(), pcm.begin(), pcm.end());
  out.resize(samples);
  return out;
}

}  // namespace

TEST(VolumeTest, AttenuationFollowsTheVolume) {
  EXPECT_EQ(CDxSound::VolumeToAttenuation(1000), 0);
  EXPECT_EQ(CDxSound::VolumeToAttenuation(500), -602);
  EXPECT_EQ(CDxSound::VolumeToAttenuation(1), -6000);
  EXPECT_EQ(CDxSound::VolumeToAttenuation(10), -4000);
  EXPECT_EQ(CDxSound::VolumeToAttenuation(999), 0);  // -0.87 truncates to 0
  EXPECT_EQ(CDxSound::VolumeToAttenuation(0), -10000);
  CDxSound player;
  player.SetVolume(500);
  EXPECT_EQ(player.GetVolume(), 500);
  EXPECT_EQ(player.GetAttenuation(), -602);
  player.SetVolume(2500);
  EXPECT_EQ(player.GetVolume(), 1000);
  EXPECT_EQ(player.GetAttenuation(), 0);
  player.SetVolume(-3);
  EXPECT_EQ(player.GetVolume(), 0);
  EXPECT_EQ(player.GetAttenuation(), -10000);
  player.Close();
  EXPECT_EQ(player.GetVolume(), 1000);
}

TEST_F(PlayerTest, ShortStreamStopsAtTheThirdShortRefill) {
  CPcmSound sound(ToBytes(Pattern(13230, 2, 7)), 2, 44100, 16);  // 0.3 s
  CDxSound player;
  ASSERT_FALSE(player.Open(&sound, false));
  EXPECT_TRUE(player.IsStreaming());
  EXPECT_EQ(player.GetHalfSize(), 44100 * 4);
  ASSERT_FALSE(player.Play(false));
  EXPECT_EQ(player.IsPlaying(), CDxSound::kStreaming);
  // Play fills half 0; refills at 0 s (half 1), 1 s (half 0) and 2 s (half 1):
  // the third short one stops the player.
  uint32_t stoppedAt = RunUntilStopped(player, 5000);
  EXPECT_GE(stoppedAt, 2000u);
  EXPECT_LE(stoppedAt, 2017u);
  std::vector<int16_t> mixed = out_.Finish();
  std::vector<int16_t> pcm = ToSamples(ToBytes(Pattern(13230, 2, 7)));
  ASSERT_GE(mixed.size(), pcm.size() + 2 * 44100);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), mixed.begin()));
  EXPECT_TRUE(std::all_of(mixed.begin() + pcm.size(), mixed.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(PlayerTest, ReplayingAFinishedStreamEndsAgain) {
  CPcmSound sound(ToBytes(Pattern(4410, 2, 3)), 2, 44100, 16);
  CDxSound player;
  ASSERT_FALSE(player.Open(&sound, false));
  ASSERT_FALSE(player.Play(false));
  RunUntilStopped(player, 5000);
  ASSERT_EQ(player.IsPlaying(), 0);
  uint32_t again = elapsed_;
  ASSERT_FALSE(player.Play(false));
  EXPECT_LE(RunUntilStopped(player, again + 5000) - again, 2017u);
  EXPECT_EQ(player.IsPlaying(), 0);
}

TEST_F(PlayerTest, LoopingStreamIsSampleExactAcrossTheLoopPoint) {
  // 1.3 s and 0.3 s: neither is a multiple of the one-second half.
  std::vector<int16_t> longPcm = Pattern(57330, 2, 11);
  std::vector<int16_t> shortPcm = Pattern(13230, 2, 12);
  CPcmSound longSound(ToBytes(longPcm), 2, 44100, 16);
  CPcmSound shortSound(ToBytes(shortPcm), 2, 44100, 16);
  CDxSound a, b;
  ASSERT_FALSE(a.Open(&longSound, false));
  ASSERT_FALSE(a.Play(true));
  RunFrames(330, {&a, &b});  // 5.5 s
  EXPECT_EQ(a.IsPlaying(), CDxSound::kStreaming);
  a.Stop();
  std::vector<int16_t> mixed = out_.Finish();
  ASSERT_EQ(mixed.size(), 5500u * 441 / 10 * 2);
  EXPECT_EQ(mixed, Repeat(longPcm, mixed.size()));

  CNullOutput second(dir_.File("second.wav"));
  ASSERT_FALSE(b.Open(&shortSound, false));
  ASSERT_FALSE(b.Play(true));
  for (int i = 0; i < 200; ++i) {
    second.Advance(i % 3 == 0 ? 16 : 17);
    b.Update();
  }
  std::vector<int16_t> again = second.Finish();
  ASSERT_GT(again.size(), 3u * 44100 * 2);
  EXPECT_EQ(again, Repeat(shortPcm, again.size()));
}

TEST_F(PlayerTest, LoopingVorbisStreamRepeatsItsDecodedSamples) {
  std::vector<uint8_t> ogg = EncodeVorbis(Sine(30000, 2, 44100, 330.0, 8000.0), 2, 44100);
  CVorbis reference;
  ASSERT_FALSE(reference.Open(MemoryFile(ogg)));
  std::vector<int16_t> decoded = ToSamples(ReadAll(reference));
  ASSERT_EQ(decoded.size(), 60000u);
  CVorbis sound;
  ASSERT_FALSE(sound.Open(MemoryFile(ogg)));
  CDxSound player;
  ASSERT_FALSE(player.Open(&sound, false));
  ASSERT_FALSE(player.Play(true));
  RunFrames(180, {&player});
  std::vector<int16_t> mixed = out_.Finish();
  ASSERT_EQ(mixed.size(), 3000u * 441 / 10 * 2);
  EXPECT_EQ(mixed, Repeat(decoded, mixed.size()));
}

TEST_F(PlayerTest, StaticOneShotEndsAndStaticLoopKeepsPlaying) {
  WaveSpec shape;
  shape.channels = 1;
  shape.bits = 8;
  shape.rate = 22050;
  shape.pcm.assign(2205, 0xC0);  // 0.1 s
  CWave wave;
  ASSERT_FALSE(wave.Open(MemoryFile(MakeWave(shape))));
  CDxSound once, looped;
  ASSERT_FALSE(once.Open(&wave, true));
  EXPECT_FALSE(once.IsStreaming());
  ASSERT_FALSE(once.Play(false));
  EXPECT_EQ(once.IsPlaying(), CDxSound::kPlayingStatic);
  RunFrames(5, {&once});
  EXPECT_EQ(once.IsPlaying(), CDxSound::kPlayingStatic);
  RunFrames(2, {&once});
  EXPECT_EQ(once.IsPlaying(), 0);
  ASSERT_FALSE(once.Play(false));  // plays again from the start
  RunFrames(3, {&once});
  EXPECT_EQ(once.IsPlaying(), CDxSound::kPlayingStatic);

  ASSERT_FALSE(looped.Open(&wave, true));
  ASSERT_FALSE(looped.Play(true));
  RunFrames(60, {&looped});
  EXPECT_EQ(looped.IsPlaying(), CDxSound::kPlayingStatic);
  looped.Stop();
  EXPECT_EQ(looped.IsPlaying(), 0);
}

TEST_F(PlayerTest, EightBitStreamEndsInSilenceNotAnOffset) {
  CPcmSound sound(std::vector<uint8_t>(4410, 0x80 + 0x10), 1, 44100, 8);
  CDxSound player;
  ASSERT_FALSE(player.Open(&sound, false));
  ASSERT_FALSE(player.Play(false));
  RunUntilStopped(player, 5000);
  std::vector<int16_t> mixed = out_.Finish();
  ASSERT_GT(mixed.size(), 44100u * 2);
  EXPECT_EQ(mixed[0], 0x10 * 256);
  EXPECT_EQ(mixed[2 * 4409 + 1], 0x10 * 256);
  EXPECT_TRUE(std::all_of(mixed.begin() + 2 * 4410, mixed.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(PlayerTest, VolumesGiveTheAmplitudesTheAttenuationPredicts) {
  std::vector<int16_t> constant(44100 * 2, 16000);
  CPcmSound loud(ToBytes(constant), 2, 44100, 16);
  std::vector<int16_t> rightOnly(44100 * 2, 0);
  for (size_t i = 1; i < rightOnly.size(); i += 2) rightOnly[i] = 16000;
  std::vector<int16_t> leftOnly(44100 * 2, 0);
  for (size_t i = 0; i < leftOnly.size(); i += 2) leftOnly[i] = 16000;
  CPcmSound left(ToBytes(leftOnly), 2, 44100, 16);
  CPcmSound right(ToBytes(rightOnly), 2, 44100, 16);
  CDxSound full, half;
  ASSERT_FALSE(full.Open(&left, true));
  ASSERT_FALSE(half.Open(&right, false));
  full.SetVolume(1000);
  half.SetVolume(500);
  full.Play(false);
  half.Play(false);
  RunFrames(30, {&full, &half});
  std::vector<int16_t> mixed = out_.Finish();
  ASSERT_GT(mixed.size(), 2000u);
  const double predicted = 16000 * std::pow(10.0, CDxSound::VolumeToAttenuation(500) / 2000.0);
  for (size_t i = 0; i < 2000; i += 2) {
    ASSERT_EQ(mixed[i], 16000);
    ASSERT_NEAR(mixed[i + 1], predicted, 0.5);
  }
  EXPECT_NEAR(predicted, 8000.6, 0.1);
}

TEST_F(PlayerTest, DecoderFailureAndBadOpensStopCleanly) {
  CPcmSound failing(ToBytes(Pattern(44100 * 3, 2, 5)), 2, 44100, 16);
  failing.failAfter = 2;  // Play's read and one refill succeed
  CDxSound player;
  ASSERT_FALSE(player.Open(&failing, false));
  ASSERT_FALSE(player.Play(false));
  EXPECT_LE(RunUntilStopped(player, 5000), 1017u);
  EXPECT_EQ(player.IsPlaying(), 0);

  CPcmSound surround(std::vector<uint8_t>(600), 3, 44100, 16);
  EXPECT_TRUE(player.Open(&surround, false));
  CPcmSound twentyFour(std::vector<uint8_t>(600), 2, 44100, 24);
  EXPECT_TRUE(player.Open(&twentyFour, true));
  CPcmSound empty(std::vector<uint8_t>(), 2, 44100, 16);
  EXPECT_TRUE(player.Open(&empty, true));
  EXPECT_FALSE(player.Open(&empty, false));  // a stream of nothing plays silence and ends
  EXPECT_TRUE(player.Open(nullptr, false));
  EXPECT_TRUE(player.Play(false));  // nothing open
  CDxSound unopened;
  unopened.Update();
  unopened.Stop();
  EXPECT_EQ(unopened.IsPlaying(), 0);
}

TEST_F(PlayerTest, StaticBufferHoldsWhatTheDecoderDelivers) {
  // A header claiming 2 GB of sound that holds 0.05 s: no 2 GB buffer.
  CPcmSound liar(ToBytes(Pattern(2205, 2, 9)), 2, 44100, 16);
  liar.claimedSize = INT_MAX;
  CDxSound player;
  ASSERT_FALSE(player.Open(&liar, true));
  ASSERT_FALSE(player.Play(false));
  RunFrames(4, {&player});
  EXPECT_EQ(player.IsPlaying(), 0);
  std::vector<int16_t> mixed = out_.Finish();
  std::vector<int16_t> pcm = Pattern(2205, 2, 9);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), mixed.begin()));
}

TEST_F(PlayerTest, OpeningNeedsTheOutput) {
  out_.Finish();
  CPcmSound sound(ToBytes(Pattern(100, 2, 1)), 2, 44100, 16);
  CDxSound player;
  EXPECT_TRUE(player.Open(&sound, false));
  EXPECT_TRUE(player.Open(&sound, true));
}
