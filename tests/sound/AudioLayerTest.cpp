// The audio layer on the null output: pacing by the clock, notifications,
// resampling, attenuation and the dump file.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/Audio.h"
#include "platform/Platform.h"
#include "sound/SoundTestUtil.h"

using namespace soundtest;
using platform::AudioFormat;
using platform::CAudioBuffer;

namespace {

AudioFormat Format(int channels, int rate, int bits) {
  AudioFormat f;
  f.channels = channels;
  f.sampleRate = rate;
  f.bitsPerSample = bits;
  return f;
}

class AudioLayerTest : public ::testing::Test {
 protected:
  AudioLayerTest() : out_(dir_.File("out.wav")) {}
  CTempDir dir_;
  CNullOutput out_;
};

}  // namespace

TEST_F(AudioLayerTest, BuffersAreConsumedAtTheClocksPace) {
  ASSERT_FALSE(out_.Failed());
  auto buffer = CAudioBuffer::Create(Format(2, 44100, 16), 22050 * 4);  // half a second
  ASSERT_TRUE(buffer);
  std::vector<int16_t> pcm = Pattern(22050, 2, 1);
  ASSERT_FALSE(buffer->Write(0, ToBytes(pcm).data(), 22050 * 4));
  ASSERT_FALSE(buffer->Play(false));
  out_.Advance(490);
  EXPECT_TRUE(buffer->IsPlaying());
  EXPECT_EQ(buffer->GetPosition(), static_cast<uint32_t>(490 * 441 / 10 * 4));
  out_.Advance(20);
  EXPECT_FALSE(buffer->IsPlaying());
  out_.Advance(490);
  std::vector<int16_t> mixed = out_.Finish();
  ASSERT_EQ(mixed.size(), 44100u * 2);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), mixed.begin()));
  EXPECT_TRUE(std::all_of(mixed.begin() + 44100, mixed.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(AudioLayerTest, NotificationsFireWhereTheCursorPasses) {
  auto buffer = CAudioBuffer::Create(Format(1, 1000, 16), 2000);  // 1000 frames: one second
  ASSERT_TRUE(buffer);
  ASSERT_FALSE(buffer->SetNotifications({0, 1000, CAudioBuffer::kNotifyStop}));
  EXPECT_TRUE(buffer->SetNotifications({2000}));
  ASSERT_FALSE(buffer->SetNotifications({0, 1000, CAudioBuffer::kNotifyStop}));
  EXPECT_EQ(buffer->PollNotification(), -1);
  ASSERT_FALSE(buffer->Play(true));
  EXPECT_EQ(buffer->PollNotification(), -1);  // nothing consumed yet
  out_.Advance(10);
  EXPECT_EQ(buffer->PollNotification(), 0);   // playback began at offset 0
  EXPECT_EQ(buffer->PollNotification(), -1);  // polling clears it
  out_.Advance(480);
  EXPECT_EQ(buffer->PollNotification(), -1);
  out_.Advance(20);
  EXPECT_EQ(buffer->PollNotification(), 1);  // the second half began
  out_.Advance(500);
  EXPECT_EQ(buffer->PollNotification(), 0);  // wrapped around
  out_.Advance(1000);                        // both passed: the lowest comes first
  EXPECT_EQ(buffer->PollNotification(), 0);
  EXPECT_EQ(buffer->PollNotification(), 1);
  buffer->Stop();
  EXPECT_EQ(buffer->PollNotification(), 2);
  buffer->Stop();  // stopping a stopped buffer fires nothing
  EXPECT_EQ(buffer->PollNotification(), -1);
}

TEST_F(AudioLayerTest, OneShotBufferFiresStopAtItsEnd) {
  auto buffer = CAudioBuffer::Create(Format(1, 44100, 8), 4410);
  ASSERT_TRUE(buffer);
  buffer->SetNotifications({CAudioBuffer::kNotifyStop});
  buffer->Play(false);
  out_.Advance(99);
  EXPECT_EQ(buffer->PollNotification(), -1);
  out_.Advance(2);
  EXPECT_EQ(buffer->PollNotification(), 0);
  EXPECT_FALSE(buffer->IsPlaying());
  EXPECT_EQ(buffer->GetPosition(), 0u);  // ready to play again from the start
}

TEST_F(AudioLayerTest, ResamplesEveryFormatToTheOutput) {
  // 8-bit mono at 22,050 Hz holding a constant: every output frame carries it
  // on both channels, for twice as many frames.
  auto eight = CAudioBuffer::Create(Format(1, 22050, 8), 2205);
  ASSERT_TRUE(eight);
  std::vector<uint8_t> value(2205, 0x80 + 0x20);
  eight->Write(0, value.data(), 2205);
  // 16-bit stereo at 11,025 Hz: a ramp, interpolated linearly.
  auto ramp = CAudioBuffer::Create(Format(2, 11025, 16), 8 * 4);
  ASSERT_TRUE(ramp);
  std::vector<int16_t> r;
  for (int i = 0; i < 8; ++i) r.insert(r.end(), {static_cast<int16_t>(i * 400), static_cast<int16_t>(-i * 400)});
  ramp->Write(0, ToBytes(r).data(), 32);
  eight->Play(false);
  ramp->Play(false);
  out_.Advance(200);
  std::vector<int16_t> mixed = out_.Finish();
  ASSERT_GE(mixed.size(), 4410u * 2 + 2);
  // Frames 0..31 hold the ramp (4 output frames per input frame) plus the constant.
  for (int k = 0; k < 28; ++k) {
    EXPECT_NEAR(mixed[2 * k], 0x20 * 256 + k * 100, 1) << k;
    EXPECT_NEAR(mixed[2 * k + 1], 0x20 * 256 - k * 100, 1) << k;
  }
  for (int k = 32; k < 4410; ++k) ASSERT_EQ(mixed[2 * k], 0x20 * 256) << k;
  EXPECT_EQ(mixed[2 * 4410], 0);
}

TEST_F(AudioLayerTest, AttenuationScalesAndSumsClip) {
  const int frames = 4410;
  std::vector<int16_t> left(frames * 2), right(frames * 2);
  for (int i = 0; i < frames; ++i) {
    left[2 * i] = 20000;
    right[2 * i + 1] = 20000;
  }
  auto a = CAudioBuffer::Create(Format(2, 44100, 16), frames * 4);
  auto b = CAudioBuffer::Create(Format(2, 44100, 16), frames * 4);
  auto c = CAudioBuffer::Create(Format(2, 44100, 16), frames * 4);
  ASSERT_TRUE(a && b && c);
  a->Write(0, ToBytes(left).data(), frames * 4);
  b->Write(0, ToBytes(right).data(), frames * 4);
  c->Write(0, ToBytes(left).data(), frames * 4);
  b->SetAttenuation(-602);
  EXPECT_EQ(b->GetAttenuation(), -602);
  c->SetAttenuation(-20000);
  EXPECT_EQ(c->GetAttenuation(), platform::kAttenuationSilence);
  a->Play(false);
  b->Play(false);
  c->Play(false);
  out_.Advance(50);
  c->SetAttenuation(0);  // from here on a and c sum past full scale
  out_.Advance(60);
  std::vector<int16_t> mixed = out_.Finish();
  ASSERT_GE(mixed.size(), static_cast<size_t>(frames) * 2);
  EXPECT_EQ(mixed[0], 20000);
  EXPECT_EQ(mixed[1], static_cast<int16_t>(std::lrint(20000 * std::pow(10.0, -602 / 2000.0))));
  EXPECT_EQ(mixed[1], 10001);
  EXPECT_EQ(mixed[2 * (frames - 1)], 32767);
  EXPECT_FLOAT_EQ(platform::AttenuationToGain(0), 1.0f);
  EXPECT_EQ(platform::AttenuationToGain(-10000), 0.0f);
  EXPECT_NEAR(platform::AttenuationToGain(-6000), 0.001f, 1e-6);
}

TEST_F(AudioLayerTest, RefusesWhatItCannotHold) {
  EXPECT_FALSE(CAudioBuffer::Create(Format(3, 44100, 16), 600));
  EXPECT_FALSE(CAudioBuffer::Create(Format(2, 44100, 24), 600));
  EXPECT_FALSE(CAudioBuffer::Create(Format(2, 0, 16), 600));
  EXPECT_FALSE(CAudioBuffer::Create(Format(2, 44100, 16), 3));  // not one frame
  auto buffer = CAudioBuffer::Create(Format(2, 44100, 16), 10);
  ASSERT_TRUE(buffer);
  EXPECT_EQ(buffer->GetSize(), 8u);  // whole frames only
  uint8_t bytes[16] = {};
  EXPECT_TRUE(buffer->Write(4, bytes, 8));
  EXPECT_TRUE(buffer->Write(0xFFFFFFF0u, bytes, 0x20));
  EXPECT_FALSE(buffer->Write(4, bytes, 4));
  EXPECT_TRUE(buffer->Silence(9, 0));
  EXPECT_TRUE(buffer->SetPosition(8));
  EXPECT_FALSE(buffer->SetPosition(5));
  EXPECT_EQ(buffer->GetPosition(), 4u);

  // Closing the output silences buffers that outlive it; new ones need an output.
  out_.Finish();
  EXPECT_FALSE(platform::AudioIsOpen());
  EXPECT_TRUE(buffer->Play(true));
  EXPECT_FALSE(buffer->IsPlaying());
  EXPECT_FALSE(CAudioBuffer::Create(Format(2, 44100, 16), 8));
}

TEST(AudioOutputTest, DumpNeedsAWritablePathAndAClockJumpIsBounded) {
  platform::AudioOptions options;
  options.dumpPath = "/nonexistent-folder/x/out.wav";
  EXPECT_TRUE(platform::AudioOpen(options));
  EXPECT_FALSE(platform::AudioIsOpen());

  CTempDir dir;
  CNullOutput out(dir.File("jump.wav"));
  ASSERT_FALSE(out.Failed());
  out.Advance(1000);
  EXPECT_EQ(platform::AudioFramesMixed(), 44100u);
  // A clock set backwards is a new starting point, not a huge jump forwards.
  platform::SetVirtualTicks(platform::GetVirtualTicks() - (uint64_t{500} << 10));
  out.Advance(0);
  out.Advance(100);
  EXPECT_EQ(platform::AudioFramesMixed(), 44100u + 4410u);
  // A jump of hours renders at most a minute.
  out.Advance(3 * 3600 * 1000);
  EXPECT_EQ(platform::AudioFramesMixed(), 44100u + 4410u + 60u * 44100u);
  std::vector<int16_t> mixed = out.Finish();
  EXPECT_EQ(mixed.size(), (44100u + 4410u + 60u * 44100u) * 2);
}
