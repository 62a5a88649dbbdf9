// The WAVE decoder: chunk walking, header checks, and files that lie about
// their sizes.
#include <gtest/gtest.h>

#include "sound/SoundTestUtil.h"
#include "sound/Wave.h"

using namespace soundtest;

namespace {

std::vector<uint8_t> Bytes(int n, uint8_t start) {
  std::vector<uint8_t> out(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out[static_cast<size_t>(i)] = static_cast<uint8_t>(start + i * 7);
  return out;
}

bool OpenWave(CWave& wave, const std::vector<uint8_t>& file) { return wave.Open(MemoryFile(file)); }

}  // namespace

TEST(WaveTest, SkipsChunksBeforeFmtAndDataAndDeliversThePcm) {
  WaveSpec shape;
  shape.pcm = Bytes(4000, 3);
  AppendChunk(shape.beforeFmt, "LIST", Bytes(26, 100));
  AppendChunk(shape.beforeData, "fact", {0x10, 0x27, 0, 0});
  CWave wave;
  ASSERT_FALSE(OpenWave(wave, MakeWave(shape)));
  EXPECT_EQ(wave.GetChannels(), 2);
  EXPECT_EQ(wave.GetSampleRate(), 44100);
  EXPECT_EQ(wave.GetBitsPerSample(), 16);
  EXPECT_EQ(wave.GetDataSize(), 4000);
  EXPECT_EQ(ReadAll(wave, 999), shape.pcm);
  uint8_t byte;
  EXPECT_EQ(wave.Read(&byte, 1), 0);
  wave.Rewind();
  EXPECT_EQ(ReadAll(wave, 4096), shape.pcm);
}

TEST(WaveTest, LongFmtChunkAndOddSizedChunksAreSkippedAsStored) {
  WaveSpec shape;
  shape.pcm = Bytes(400, 9);
  shape.fmtExtra = 22;                                // an extensible-style tail after the 16 bytes
  AppendChunk(shape.beforeFmt, "junk", Bytes(3, 1));  // odd size, no pad byte follows
  CWave wave;
  ASSERT_FALSE(OpenWave(wave, MakeWave(shape)));
  EXPECT_EQ(ReadAll(wave), shape.pcm);
}

TEST(WaveTest, EightBitMonoReportsItsFormat) {
  WaveSpec shape;
  shape.channels = 1;
  shape.bits = 8;
  shape.rate = 11025;
  shape.pcm = Bytes(301, 0);
  CWave wave;
  ASSERT_FALSE(OpenWave(wave, MakeWave(shape)));
  EXPECT_EQ(wave.GetBitsPerSample(), 8);
  EXPECT_EQ(wave.GetChannels(), 1);
  EXPECT_EQ(wave.GetSampleRate(), 11025);
  EXPECT_EQ(wave.GetDataSize(), 301);
}

TEST(WaveTest, RejectsWhatThePlayerCannotPlay) {
  auto rejected = [](auto edit) {
    WaveSpec shape;
    shape.pcm = Bytes(64, 0);
    edit(shape);
    CWave wave;
    return OpenWave(wave, MakeWave(shape));
  };
  EXPECT_FALSE(rejected([](WaveSpec&) {}));
  EXPECT_TRUE(rejected([](WaveSpec& s) { s.formatTag = 3; }));
  EXPECT_TRUE(rejected([](WaveSpec& s) { s.channels = 3; }));
  EXPECT_TRUE(rejected([](WaveSpec& s) { s.channels = 0; }));
  EXPECT_TRUE(rejected([](WaveSpec& s) { s.bytesPerSecondOverride = 44100 * 4 + 1; }));
  EXPECT_TRUE(rejected([](WaveSpec& s) { s.blockAlignOverride = 2; }));
  // Consistent headers with sizes the player cannot use.
  EXPECT_TRUE(rejected([](WaveSpec& s) { s.bits = 24; }));
  EXPECT_TRUE(rejected([](WaveSpec& s) { s.bits = 0; }));
  EXPECT_TRUE(rejected([](WaveSpec& s) { s.rate = 0; }));
  EXPECT_TRUE(rejected([](WaveSpec& s) { s.rate = 2000000; }));
}

TEST(WaveTest, BadMagicAndEveryTruncatedHeaderFail) {
  WaveSpec shape;
  shape.pcm = Bytes(40, 0);
  AppendChunk(shape.beforeFmt, "LIST", Bytes(6, 0));
  std::vector<uint8_t> file = MakeWave(shape);
  size_t dataStart = file.size() - shape.pcm.size();
  for (size_t cut = 0; cut < dataStart; ++cut) {
    CWave wave;
    EXPECT_TRUE(OpenWave(wave, std::vector<uint8_t>(file.begin(), file.begin() + cut))) << cut;
  }
  // Cut inside the data: what the file holds, in whole frames.
  for (size_t cut = dataStart; cut <= file.size(); ++cut) {
    CWave wave;
    ASSERT_FALSE(OpenWave(wave, std::vector<uint8_t>(file.begin(), file.begin() + cut))) << cut;
    size_t whole = (cut - dataStart) / 4 * 4;
    EXPECT_EQ(wave.GetDataSize(), static_cast<int>(whole));
    EXPECT_EQ(ReadAll(wave), std::vector<uint8_t>(shape.pcm.begin(), shape.pcm.begin() + whole));
  }
  std::vector<uint8_t> bad = file;
  bad[8] = 'X';
  CWave wave;
  EXPECT_TRUE(OpenWave(wave, bad));
  bad = file;
  bad[0] = 'r';
  EXPECT_TRUE(OpenWave(wave, bad));
}

TEST(WaveTest, AbsurdChunkSizesNeitherHangNorReachOutside) {
  // A chunk size that would wrap a signed seek back onto its own header.
  WaveSpec loop;
  loop.pcm = Bytes(16, 0);
  loop.beforeFmt = {'L', 'I', 'S', 'T', 0xF8, 0xFF, 0xFF, 0xFF};
  CWave a;
  EXPECT_TRUE(OpenWave(a, MakeWave(loop)));

  // A chunk that runs past the end hides everything after it.
  WaveSpec past;
  past.pcm = Bytes(16, 0);
  past.beforeData = {'f', 'a', 'c', 't', 0x00, 0x00, 0x10, 0x00};
  CWave b;
  EXPECT_TRUE(OpenWave(b, MakeWave(past)));

  // A fmt chunk shorter than its fields.
  std::vector<uint8_t> shortFmt = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 14, 0, 0, 0};
  std::vector<uint8_t> rest = MakeWave(WaveSpec{});
  shortFmt.insert(shortFmt.end(), rest.begin() + 20, rest.end());
  CWave c;
  EXPECT_TRUE(OpenWave(c, shortFmt));

  // A data chunk claiming 4 GB delivers the bytes that are there.
  WaveSpec huge;
  huge.pcm = Bytes(1000, 5);
  huge.dataSizeOverride = 0xFFFFFFFFll;
  CWave d;
  ASSERT_FALSE(OpenWave(d, MakeWave(huge)));
  EXPECT_EQ(d.GetDataSize(), 1000);
  EXPECT_EQ(ReadAll(d, 300), huge.pcm);
}

TEST(WaveTest, SmallerDataChunkStopsAtItsEndAndUnopenedReadsNothing) {
  WaveSpec shape;
  shape.pcm = Bytes(100, 5);
  shape.dataSizeOverride = 40;
  CWave wave;
  ASSERT_FALSE(OpenWave(wave, MakeWave(shape)));
  EXPECT_EQ(ReadAll(wave, 7), std::vector<uint8_t>(shape.pcm.begin(), shape.pcm.begin() + 40));

  CWave closed;
  uint8_t buffer[16];
  EXPECT_EQ(closed.Read(buffer, 16), 0);
  closed.Rewind();
  EXPECT_TRUE(closed.Open(nullptr));
}
