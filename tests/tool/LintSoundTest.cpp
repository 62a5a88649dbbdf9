// velmira-tool lint on the sound tags: files the engine cannot play and loop
// values that music and effect tags read differently.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "LintRun.h"
#include "support/TempDir.h"

namespace {

// A short mono 16-bit WAVE of silence.
std::string Wave() {
  auto u32 = [](uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  auto u16 = [](uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
  std::string pcm(400, '\0');
  std::string body = "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(8000) + u32(16000) + u16(2) + u16(16) + "data" +
                     u32(static_cast<uint32_t>(pcm.size())) + pcm;
  return "RIFF" + u32(static_cast<uint32_t>(body.size())) + body;
}

}  // namespace

TEST(Lint, ReportsSoundFilesAndLoopValues) {
  TempDir game;
  game.Write("bgm.wav", Wave());
  game.Write("broken.wav", "RIFF????WAVEjunk");
  game.Write("start.iet",
             "[splay file=bgm][seplay id=1 file=bgm.wav loop=1][voice id=v file=$f.name]\n"
             "[sxfade file=gone time=10]\n"
             "[seplay id=2 file=broken.wav]\n"
             "[splay file=bgm.wav loop=yes][sefadein id=3 file=bgm time=5 loop=true]\n");
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_EQ(out.find("start.iet(1)"), std::string::npos) << out;
  EXPECT_NE(out.find("start.iet(2): [sxfade file=\"gone\"] 指定されたファイルは見つからないか、非対応形式です。"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("start.iet(3): [seplay file=\"broken.wav\"]"), std::string::npos) << out;
  EXPECT_NE(out.find("start.iet(4): warning: [splay loop=\"yes\"] loops"), std::string::npos) << out;
  EXPECT_NE(out.find("start.iet(4): warning: [sefadein loop=\"true\"] plays once"), std::string::npos) << out;
}
