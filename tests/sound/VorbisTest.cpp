// The Ogg Vorbis decoder: format and size reports, exact rewinds, and broken
// streams.
#include <gtest/gtest.h>

#include "sound/SoundTestUtil.h"
#include "sound/Vorbis.h"

using namespace soundtest;

namespace {

const std::vector<uint8_t>& StereoOgg() {
  static const std::vector<uint8_t> ogg = EncodeVorbis(Sine(44100 + 333, 2, 44100, 440.0, 9000.0), 2, 44100);
  return ogg;
}

}  // namespace

TEST(VorbisTest, ReportsSixteenBitsAndTheTotalOfItsFrames) {
  CVorbis stereo;
  ASSERT_FALSE(stereo.Open(MemoryFile(StereoOgg())));
  EXPECT_EQ(stereo.GetBitsPerSample(), 16);
  EXPECT_EQ(stereo.GetChannels(), 2);
  EXPECT_EQ(stereo.GetSampleRate(), 44100);
  EXPECT_EQ(stereo.GetDataSize(), (44100 + 333) * 2 * 2);
  EXPECT_EQ(static_cast<int>(ReadAll(stereo, 5000).size()), stereo.GetDataSize());

  CVorbis mono;
  ASSERT_FALSE(mono.Open(MemoryFile(EncodeVorbis(Sine(12345, 1, 22050, 300.0, 5000.0), 1, 22050))));
  EXPECT_EQ(mono.GetChannels(), 1);
  EXPECT_EQ(mono.GetSampleRate(), 22050);
  EXPECT_EQ(mono.GetDataSize(), 12345 * 2);
}

TEST(VorbisTest, RewindDeliversTheSameSamplesAgain) {
  CVorbis sound;
  ASSERT_FALSE(sound.Open(MemoryFile(StereoOgg())));
  std::vector<uint8_t> first = ReadAll(sound, 4096);
  uint8_t probe[64];
  EXPECT_EQ(sound.Read(probe, sizeof(probe)), 0);
  sound.Rewind();
  std::vector<uint8_t> part(10000);
  ASSERT_EQ(sound.Read(part.data(), 10000), 10000);  // one call fills the whole request
  sound.Rewind();
  EXPECT_EQ(ReadAll(sound, 777), first);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), first.begin()));
  // The decoded sine is close to what was encoded (a sanity check of byte order).
  std::vector<int16_t> samples = ToSamples(first);
  int peak = 0;
  for (int16_t s : samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
  EXPECT_GT(peak, 8000);
  EXPECT_LT(peak, 10500);
}

TEST(VorbisTest, ReadsTheFileFromWhereverItStands) {
  auto file = MemoryFile(StereoOgg());
  file->Seek(100, 0);  // the whole file is taken from the current position
  CVorbis sound;
  EXPECT_TRUE(sound.Open(file));
  file->Seek(0, 0);
  EXPECT_FALSE(sound.Open(file));
}

TEST(VorbisTest, NotOggEmptyOrUnopenedFails) {
  CVorbis sound;
  EXPECT_TRUE(sound.Open(MemoryFile({})));
  EXPECT_TRUE(sound.Open(MemoryFile(MakeWave(WaveSpec{}))));
  EXPECT_TRUE(sound.Open(nullptr));
  uint8_t buffer[16];
  EXPECT_EQ(sound.Read(buffer, 16), -1);
  sound.Rewind();
  EXPECT_EQ(sound.Read(buffer, 16), -1);
}

TEST(VorbisTest, DamagedStreamsFailOrEndCleanly) {
  const std::vector<uint8_t>& good = StereoOgg();
  const size_t full = (44100 + 333) * 4;
  // Truncated anywhere: either no stream or a bounded amount of sound.
  for (size_t cut : {size_t{0}, size_t{27}, size_t{58}, size_t{200}, good.size() / 3, good.size() / 2,
                     good.size() - 100, good.size() - 1}) {
    CVorbis sound;
    if (sound.Open(MemoryFile(std::vector<uint8_t>(good.begin(), good.begin() + cut)))) continue;
    EXPECT_LE(ReadAll(sound).size(), full + 8192) << cut;
    EXPECT_GE(sound.GetDataSize(), 0);
  }
  // Bytes flipped in the headers and in the audio pages.
  for (size_t at = 0; at < good.size(); at += good.size() / 97 + 1) {
    std::vector<uint8_t> bad = good;
    bad[at] ^= 0x5A;
    CVorbis sound;
    if (sound.Open(MemoryFile(bad))) continue;
    EXPECT_LE(ReadAll(sound).size(), full + 8192) << at;
    sound.Rewind();
    uint8_t buffer[4096];
    EXPECT_GE(sound.Read(buffer, sizeof(buffer)), 0);
  }
}
