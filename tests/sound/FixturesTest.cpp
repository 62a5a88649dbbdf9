// The committed sound files decode through the loader registry as a game's
// files would. They are written by the disabled test below; run it after a
// change to the generator:
//   test_sound --gtest_also_run_disabled_tests --gtest_filter='*WriteFixtures*'
// It also refreshes the fuzzers' seed corpora (fuzz/corpus/wave, fuzz/corpus/vorbis).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "files/PackFile.h"
#include "sound/SoundLoaders.h"
#include "sound/SoundTestUtil.h"
#include "sound/Vorbis.h"
#include "sound/Wave.h"

using namespace soundtest;

namespace {

const std::filesystem::path kTests = VELMIRA_TEST_DATA_DIR;

struct Fixture {
  std::string name;
  std::vector<uint8_t> bytes;
};

std::vector<Fixture> MakeFixtures() {
  std::vector<Fixture> out;
  out.push_back({"tone_stereo.ogg", EncodeVorbis(Sine(11025, 2, 44100, 440.0, 8000.0), 2, 44100, 0.0f)});
  out.push_back({"tone_mono.ogg", EncodeVorbis(Sine(2000, 1, 8000, 300.0, 8000.0), 1, 8000, 0.0f)});

  WaveSpec chunks;
  chunks.channels = 1;
  chunks.bits = 8;
  chunks.rate = 11025;
  for (int i = 0; i < 1103; ++i) chunks.pcm.push_back(static_cast<uint8_t>(128 + (i % 50) - 25));
  AppendChunk(chunks.beforeFmt, "LIST", {'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 2, 0, 0, 0, 'v', 0});
  AppendChunk(chunks.beforeData, "fact", {0x4F, 0x04, 0, 0});
  out.push_back({"chunks_mono8.wav", MakeWave(chunks)});

  WaveSpec longFmt;
  longFmt.rate = 22050;
  longFmt.fmtExtra = 22;
  longFmt.pcm = ToBytes(Sine(2205, 2, 22050, 500.0, 6000.0));
  out.push_back({"long_fmt.wav", MakeWave(longFmt)});
  return out;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(FixturesTest, CommittedFilesDecodeByTheirBareNames) {
  CPackFileFactory factory;
  CSoundLoaders loaders(&factory);
  loaders.AddLoader(new CVorbisLoader());
  loaders.AddLoader(new CWaveLoader());
  struct Expect {
    const char* name;
    int channels, rate, bits, bytes;
  };
  for (const Expect& e : {Expect{"tone_stereo", 2, 44100, 16, 11025 * 4}, Expect{"tone_mono", 1, 8000, 16, 4000},
                          Expect{"chunks_mono8", 1, 11025, 8, 1103}, Expect{"long_fmt", 2, 22050, 16, 2205 * 4}}) {
    std::string path = (kTests / "sound" / "data" / e.name).string();
    ISound* sound = nullptr;
    ASSERT_FALSE(loaders.LoadFile(&sound, path.c_str())) << e.name;
    std::unique_ptr<ISound> owned(sound);
    EXPECT_EQ(sound->GetChannels(), e.channels) << e.name;
    EXPECT_EQ(sound->GetSampleRate(), e.rate) << e.name;
    EXPECT_EQ(sound->GetBitsPerSample(), e.bits) << e.name;
    EXPECT_EQ(sound->GetDataSize(), e.bytes) << e.name;
    EXPECT_EQ(static_cast<int>(ReadAll(*sound).size()), e.bytes) << e.name;
  }
}

TEST(FixturesTest, DISABLED_WriteFixtures) {
  const std::filesystem::path root = kTests.parent_path();
  for (const Fixture& f : MakeFixtures()) {
    const bool ogg = f.name.ends_with(".ogg");
    for (const std::filesystem::path& dir :
         {kTests / "sound" / "data", root / "fuzz" / "corpus" / (ogg ? "vorbis" : "wave")}) {
      std::filesystem::create_directories(dir);
      std::ofstream out(dir / f.name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(f.bytes.data()), static_cast<std::streamsize>(f.bytes.size()));
    }
  }
}

TEST(FixturesTest, CommittedFilesMatchTheGenerator) {
  // A changed encoder or generator shows up here rather than as a puzzling
  // decode difference; the WAVE files must match byte for byte.
  for (const Fixture& f : MakeFixtures()) {
    if (f.name.ends_with(".ogg")) continue;
    EXPECT_EQ(ReadFile(kTests / "sound" / "data" / f.name), f.bytes) << f.name;
  }
}
