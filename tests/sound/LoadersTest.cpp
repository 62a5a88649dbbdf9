// The loader registry: lookup order, the extension fallback and attempts on
// one open file.
#include <gtest/gtest.h>

#include "files/PackFile.h"
#include "sound/SoundLoaders.h"
#include "sound/SoundTestUtil.h"
#include "sound/Vorbis.h"
#include "sound/Wave.h"

using namespace soundtest;

namespace {

class LoadersTest : public ::testing::Test {
 protected:
  LoadersTest() : loaders_(&factory_) {
    loaders_.AddLoader(new CVorbisLoader());
    loaders_.AddLoader(new CWaveLoader());
    WaveSpec shape;
    shape.channels = 1;
    shape.bits = 8;
    shape.rate = 8000;
    shape.pcm.assign(800, 0x90);
    wave_ = MakeWave(shape);
    ogg_ = EncodeVorbis(Sine(4410, 2, 44100, 220.0, 3000.0), 2, 44100);
  }

  // Loads a name relative to the scratch folder; the format found, or "".
  std::string Kind(const std::string& name) {
    ISound* sound = reinterpret_cast<ISound*>(1);
    bool failed = loaders_.LoadFile(&sound, dir_.File(name).c_str());
    std::unique_ptr<ISound> owned(sound);
    if (failed) return sound ? "failure with a decoder" : "";
    if (dynamic_cast<CVorbis*>(sound)) return "ogg";
    if (dynamic_cast<CWave*>(sound)) return sound->GetBitsPerSample() == 8 ? "wav" : "wav?";
    return "?";
  }

  CTempDir dir_;
  CPackFileFactory factory_;
  CSoundLoaders loaders_;
  std::vector<uint8_t> wave_, ogg_;
};

}  // namespace

TEST_F(LoadersTest, AppendsEachRegisteredExtensionInOrder) {
  dir_.Write("bgm01.wav", wave_);
  EXPECT_EQ(Kind("bgm01"), "wav");  // no bgm01 and no bgm01.ogg: the .wav name
  dir_.Write("bgm01.ogg", ogg_);
  EXPECT_EQ(Kind("bgm01"), "ogg");  // the first loader's extension wins
  EXPECT_EQ(Kind("missing"), "");
  EXPECT_EQ(Kind("bgm01.mp3"), "");
}

TEST_F(LoadersTest, ContentDecidesWhenTheExtensionLies) {
  // Each failed attempt leaves the file where the next one can start over.
  dir_.Write("a.ogg", wave_);
  EXPECT_EQ(Kind("a.ogg"), "wav");
  dir_.Write("b.wav", ogg_);
  EXPECT_EQ(Kind("b.wav"), "ogg");
  dir_.Write("c.OGG", ogg_);  // extensions compare exactly; the content still decodes
  EXPECT_EQ(Kind("c.OGG"), "ogg");
  dir_.Write("d", wave_);
  EXPECT_EQ(Kind("d"), "wav");
  dir_.Write("e.ogg", {'n', 'o', 'p', 'e'});
  EXPECT_EQ(Kind("e.ogg"), "");
}

TEST_F(LoadersTest, RegistryLoadTriesEveryLoaderOnAnOpenFile) {
  auto file = MemoryFile(wave_);
  ISound* sound = nullptr;
  ASSERT_FALSE(loaders_.Load(&sound, file));
  std::unique_ptr<ISound> owned(sound);
  EXPECT_EQ(sound->GetChannels(), 1);
  EXPECT_EQ(ReadAll(*sound).size(), 800u);  // the WAVE attempt started from the file's start

  ISound* none = reinterpret_cast<ISound*>(1);
  EXPECT_TRUE(loaders_.Load(&none, MemoryFile({1, 2, 3})));
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(loaders_.GetExtension(), "");
}

TEST(SoundLoadersTest, AddLoaderOwnsEachLoaderOnce) {
  CPackFileFactory factory;
  CSoundLoaders loaders(&factory);
  EXPECT_TRUE(loaders.AddLoader(nullptr));
  auto* wave = new CWaveLoader();
  EXPECT_FALSE(loaders.AddLoader(wave));
  EXPECT_FALSE(loaders.AddLoader(wave));  // no second registration (and no double delete)
  CWaveLoader single;
  ISound* out = reinterpret_cast<ISound*>(1);
  EXPECT_TRUE(single.Load(&out, MemoryFile({0})));
  EXPECT_EQ(out, nullptr);

  CSoundLoaders empty(&factory);
  EXPECT_TRUE(empty.LoadFile(&out, "anything"));
  CSoundLoaders noFactory(nullptr);
  EXPECT_TRUE(noFactory.LoadFile(&out, "anything"));
}
