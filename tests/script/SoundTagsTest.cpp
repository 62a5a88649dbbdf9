// The sound tags run through the interpreter headless, on constant-value
// (DC) WAVE files written by the tests, with the tween registry advanced
// every frame as the engine does.
#include "InterpHarness.h"

#include <cmath>
#include <tuple>

#include "platform/Audio.h"
#include "platform/TextCodec.h"
#include "platform/VirtualKeys.h"
#include "scene/Easing.h"
#include "scene/Tween.h"
#include "script/tags/SoundTags.h"
#include "sound/DxSound.h"

namespace {

class SoundTags : public InterpHarness {
 protected:
  void SetUp() override {
    InterpHarness::SetUp();
    CTweenRegistry::Instance().DeleteAll();
    platform::AudioOptions audio;
    audio.backend = platform::AudioBackend::Null;
    ASSERT_FALSE(platform::AudioOpen(audio));
  }
  void TearDown() override {
    script_.reset();
    EXPECT_EQ(CTweenRegistry::Instance().GetCount(), 0u);
    CTweenRegistry::Instance().DeleteAll();
    platform::AudioClose();
    InterpHarness::TearDown();
  }

  // A mono 16-bit WAVE of ms milliseconds holding one value throughout.
  void Dc(const std::string& name, int16_t value, int ms, int rate = 22050) {
    int frames = rate * ms / 1000;
    std::string pcm;
    for (int i = 0; i < frames; ++i) {
      pcm += static_cast<char>(value & 0xFF);
      pcm += static_cast<char>((value >> 8) & 0xFF);
    }
    auto u32 = [](uint32_t v) {
      std::string s;
      for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
      return s;
    };
    auto u16 = [](uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
    std::string fmt = u16(1) + u16(1) + u32(rate) + u32(rate * 2) + u16(2) + u16(16);
    std::string body = "WAVEfmt " + u32(16) + fmt + "data" + u32(static_cast<uint32_t>(pcm.size())) + pcm;
    WriteFile(name, "RIFF" + u32(static_cast<uint32_t>(body.size())) + body);
  }

  // Boots a script with the volume settings in place and runs its first frame.
  void Run(const std::string& body, int bgmvol = 1000, int sevol = 800) {
    WriteFile("game.iet", "[debug mode=2]\n" + body);
    ASSERT_FALSE(Start());
    script_->GetVariables().SetInt("s.bgmvol", bgmvol);
    script_->GetVariables().SetInt("s.sevol", sevol);
    Step();
  }
  // One engine frame: tweens first, then the interpreter.
  void Step(uint32_t ms = 16) {
    CTweenRegistry::Instance().UpdateAll(now_ + ms);
    FrameAt(now_ + ms);
  }
  // A frame in which Enter ends a click wait.
  void Click() {
    CTweenRegistry::Instance().UpdateAll(now_ + 16);
    FrameAt(now_ + 16, {platform::VK_RETURN});
  }
  CSoundTagState& Sound() { return *script_->FindFamily<CSoundTagState>(); }
  CSoundTagState::CSlot& A() { return Sound().m_bgm[0]; }
  CSoundTagState::CSlot& B() { return Sound().m_bgm[1]; }
  CSoundTagState::CSlot& Se(const std::string& id) { return Sound().m_channels.at(id); }
  std::string Reports() { return script_->TakeReportBuffer(); }
  static std::string FileMessage(int line, const std::string& tag, const std::string& file) {
    return "game.iet(" + std::to_string(line) + "): [" + tag + " file=\"" + file + "\"] " +
           Utf8ToCp932("指定されたファイルは見つからないか、非対応形式です。");
  }
  static int Curve(int ease, int from, int to, uint32_t elapsed, int duration) {
    if (static_cast<int>(elapsed) >= duration) return to;
    return static_cast<int>(Ease(ease, elapsed, from, to - from, duration));
  }
};

TEST_F(SoundTags, LoopReadingsOfMusicAndEffects) {
  Dc("m.wav", 1000, 300);
  Dc("e.wav", 1000, 300);
  Run("[splay file=m.wav][]\n[splay file=m.wav loop=0][]\n[splay file=m.wav loop=no][]\n"
      "[seplay id=1 file=e.wav][seplay id=2 file=e.wav loop=1][seplay id=3 file=e.wav loop=yes]\n"
      "[var name=f.s system=get_sound_info][]\n");
  EXPECT_TRUE(A().loop);
  EXPECT_NE(A().player->IsPlaying(), 0);
  Step();
  EXPECT_FALSE(A().loop);
  Step();
  EXPECT_TRUE(A().loop);
  Step();
  EXPECT_FALSE(Se("1").loop);
  EXPECT_TRUE(Se("2").loop);
  EXPECT_FALSE(Se("3").loop);
  EXPECT_EQ(Var("f.s.playing"), "1");
  EXPECT_EQ(Var("f.s.size"), "3");
  EXPECT_EQ(Var("f.s.0.id"), "1");
  EXPECT_EQ(Var("f.s.2.id"), "3");
  EXPECT_EQ(Var("f.s.1.playing"), "1");
  EXPECT_EQ(Reports().find(Utf8ToCp932("指定されたファイル")), std::string::npos);
}

TEST_F(SoundTags, FileMessagesAndTheStateTheyLeave) {
  Dc("m.wav", 1000, 300);
  Dc("e.wav", 1000, 300);
  WriteFile("bad.wav", "RIFF nonsense");
  Run("[splay file=m.wav]\n[sxfade file=gone time=500]\n[seplay id=x file=e.wav loop=1]\n"
      "[seplay id=x file=bad.wav]\n[sefadein id=y file=gone time=10]\n[voice id=v file=gone]\n[]\n"
      "[splay file=m][]\n[sfadein file=gone time=100][]\n");
  std::string reports = Reports();
  for (auto [line, tag, file] : {std::tuple<int, const char*, const char*>{3, "sxfade", "gone"},
                                 {5, "seplay", "bad.wav"},
                                 {6, "sefadein", "gone"},
                                 {7, "voice", "gone"}}) {
    EXPECT_NE(reports.find(FileMessage(line, tag, file)), std::string::npos) << tag << "\n" << reports;
  }
  // A failed cross-fade leaves the music playing; a failed effect leaves its
  // channel stopped and empty.
  EXPECT_NE(A().player->IsPlaying(), 0);
  EXPECT_FALSE(Sound().m_bActive);
  EXPECT_EQ(Se("x").player->IsPlaying(), 0);
  EXPECT_EQ(Se("x").sound, nullptr);
  EXPECT_TRUE(script_->GetSaveData().IsMusicPlaying());

  // The ".wav" fallback name finds m.wav.
  Step();
  EXPECT_NE(A().player->IsPlaying(), 0);
  EXPECT_EQ(Reports().find(Utf8ToCp932("指定されたファイル")), std::string::npos);
  // A failed splay has stopped the music, and a save made now must not
  // bring it back.
  Step();
  EXPECT_NE(Reports().find(FileMessage(10, "sfadein", "gone")), std::string::npos);
  EXPECT_EQ(A().player->IsPlaying(), 0);
  EXPECT_EQ(B().player->IsPlaying(), 0);
  EXPECT_FALSE(script_->GetSaveData().IsMusicPlaying());
}

TEST_F(SoundTags, FadeInAndOutFollowTheirCurvesFrameByFrame) {
  Dc("m.wav", 1000, 3000);
  Run("[splay file=m.wav time=1000][@]\n[sfadeout time=500][@]\n", 900);
  // The fade starts with the next frame.
  EXPECT_EQ(A().player->GetVolume(), 1);
  uint32_t start = now_ + 16;
  for (;;) {
    Step();
    uint32_t elapsed = now_ - start;
    EXPECT_EQ(A().player->GetVolume(), Curve(kEaseInSine, 1, 900, elapsed, 1000)) << elapsed;
    if (elapsed >= 1000) break;
    EXPECT_TRUE(Sound().IsFading(A()));
  }
  EXPECT_FALSE(Sound().IsFading(A()));
  // The fade-out runs on, then stops the player on the frame it ends.
  Click();
  ASSERT_TRUE(Sound().IsFading(A()));
  EXPECT_FALSE(script_->GetSaveData().IsMusicPlaying());
  start = now_ + 16;
  for (;;) {
    Step();
    uint32_t elapsed = now_ - start;
    if (elapsed >= 500) {
      EXPECT_EQ(A().player->IsPlaying(), 0);
      break;
    }
    EXPECT_EQ(A().player->GetVolume(), Curve(kEaseInSine, 900, 1, elapsed, 500)) << elapsed;
    EXPECT_NE(A().player->IsPlaying(), 0);
  }
}

TEST_F(SoundTags, CrossFadesAndTwoInARow) {
  Dc("m1.wav", 1000, 3000);
  Dc("m2.wav", 2000, 3000);
  Dc("m3.wav", 3000, 3000);
  Run("[splay file=m1.wav][]\n[sxfade file=m2.wav time=400][@]\n[sxfade file=m3.wav time=400][@]\n", 800);
  Step();  // the cross-fade to m2
  EXPECT_TRUE(Sound().m_bActive);
  uint32_t start = now_ + 16;
  for (int i = 0; i < 9; ++i) {
    Step();
    uint32_t elapsed = now_ - start;
    EXPECT_EQ(B().player->GetVolume(), Curve(kEaseOutSine, 1, 800, elapsed, 400)) << elapsed;
    EXPECT_EQ(A().player->GetVolume(), Curve(kEaseOutSine, 800, 1, elapsed, 400)) << elapsed;
  }
  Click();
  // The second cross-fade ran in the last frame, mid-way: the fades of the
  // first jumped to their ends, A (fading out) was stopped and now brings m3
  // in while B fades m2 out from its full volume.
  EXPECT_FALSE(Sound().m_bActive);
  EXPECT_EQ(A().file, "m3.wav");
  EXPECT_NE(A().player->IsPlaying(), 0);
  EXPECT_EQ(A().player->GetVolume(), 1);
  EXPECT_EQ(B().player->GetVolume(), 800);
  for (int i = 0; i < 30; ++i) Step();
  EXPECT_EQ(B().player->IsPlaying(), 0);
  EXPECT_EQ(A().player->GetVolume(), 800);
  EXPECT_EQ(script_->GetSaveData().GetMusicRecord().GetAttribute("file"), "m3.wav");
}

TEST_F(SoundTags, FailedCrossFadeLeavesTheRunningOneAlone) {
  Dc("m1.wav", 1000, 3000);
  Dc("m2.wav", 1000, 3000);
  Run("[splay file=m1.wav][sxfade file=m2.wav time=300][@]\n[sxfade file=gone time=300][@]\n");
  for (int i = 0; i < 5; ++i) Step();
  Click();
  EXPECT_NE(Reports().find(FileMessage(3, "sxfade", "gone")), std::string::npos);
  // Both fades run on: the old music still fades out and then stops, so two
  // pieces never play at full volume.
  EXPECT_TRUE(Sound().IsFading(A()));
  EXPECT_TRUE(Sound().IsFading(B()));
  EXPECT_TRUE(Sound().m_bActive);
  for (int i = 0; i < 20; ++i) Step();
  EXPECT_EQ(A().player->IsPlaying(), 0);
  EXPECT_NE(B().player->IsPlaying(), 0);
  EXPECT_EQ(script_->GetSaveData().GetMusicRecord().GetAttribute("file"), "m2.wav");
}

TEST_F(SoundTags, VolumeSettingsReachPlayingSounds) {
  Dc("m.wav", 1000, 3000);
  Dc("e.wav", 1000, 3000);
  Run("[splay file=m.wav][seplay id=1 file=e.wav loop=1][voice id=v file=e.wav loop=1]"
      "[sefadein id=f file=e.wav time=200 loop=1][]\n");
  EXPECT_EQ(A().player->GetVolume(), 1000);
  EXPECT_EQ(Se("v").player->GetVolume(), 800);
  script_->GetVariables().SetInt("s.bgmvol", 300);
  script_->GetVariables().SetInt("s.sevol", 400);
  script_->GetVariables().SetInt("s.voicevol", 10);
  Step();
  EXPECT_EQ(A().player->GetVolume(), 300);
  EXPECT_EQ(Se("1").player->GetVolume(), 400);
  EXPECT_EQ(Se("v").player->GetVolume(), 400);
  // The fade keeps the value the setting had when it started.
  EXPECT_LT(Se("f").player->GetVolume(), 800);
  for (int i = 0; i < 12; ++i) Step();
  EXPECT_TRUE(Sound().IsFading(Se("f")) || Se("f").player->GetVolume() == 400);
  while (Sound().IsFading(Se("f"))) {
    CTweenRegistry::Instance().UpdateAll(now_ + 16);
    now_ += 16;
    if (!Sound().IsFading(Se("f"))) {
      EXPECT_EQ(Se("f").player->GetVolume(), 800);
    }
    FrameAt(now_);
  }
  EXPECT_EQ(Se("f").player->GetVolume(), 400);
}

TEST_F(SoundTags, EffectEdgeCases) {
  Dc("e.wav", 1000, 50);
  Run("[sefadeout id=never time=100][sestop id=never2]\n[var name=f.a system=get_sound_info][]\n"
      "[seplay id=s file=e.wav skippable=1][var name=f.b system=get_sound_info][]\n"
      "[seplay id=o file=e.wav][]\n");
  EXPECT_EQ(Var("f.a.size"), "0");
  EXPECT_EQ(Var("f.a.playing"), "0");
  Hold(platform::VK_CONTROL);
  Step();
  Release(platform::VK_CONTROL);
  EXPECT_EQ(Var("f.b.size"), "1");
  EXPECT_EQ(Var("f.b.0.playing"), "0");
  EXPECT_EQ(Se("s").sound, nullptr);
  Step();
  ASSERT_NE(Se("o").sound, nullptr);
  // A finished one-shot effect frees its sound; the channel stays.
  for (int i = 0; i < 20; ++i) Step(16);
  EXPECT_EQ(Se("o").player->IsPlaying(), 0);
  EXPECT_EQ(Se("o").sound, nullptr);
  EXPECT_EQ(Sound().m_channels.size(), 2u);
  EXPECT_EQ(Reports().find(Utf8ToCp932("指定されたファイル")), std::string::npos);
}

TEST_F(SoundTags, VoicesBelongToThePage) {
  Dc("v.wav", 1000, 300);
  Run("[voice id=v file=missing][/voice][voice id=v file=v.wav][]\n");
  auto& pages = script_->GetSaveData().GetMessageReplay();
  ASSERT_EQ(pages.count(""), 1u);
  ASSERT_EQ(pages.at("").size(), 3u);
  EXPECT_EQ(pages.at("")[0].m_text, "voice");
  EXPECT_EQ(pages.at("")[1].m_text, "/voice");
  EXPECT_NE(Se("v").player->IsPlaying(), 0);
}

TEST_F(SoundTags, MusicRecordAndReplay) {
  Dc("m.wav", 1000, 3000);
  Run("[splay file=m.wav time=100][]\n[sstop][]\n");
  CScriptBlock record = script_->GetSaveData().GetMusicRecord();
  EXPECT_TRUE(script_->GetSaveData().IsMusicPlaying());
  Step();
  EXPECT_FALSE(script_->GetSaveData().IsMusicPlaying());
  EXPECT_EQ(A().player->IsPlaying(), 0);
  EXPECT_FALSE(Sound().IsFading(A()));
  // Loading a game re-runs the record with the replay flag: the music plays
  // and the record is not touched.
  script_->Dispatch(record, true);
  EXPECT_NE(A().player->IsPlaying(), 0);
  EXPECT_FALSE(script_->GetSaveData().IsMusicPlaying());
}

// A quick load brings back the music the saved game was playing, and a
// game saved in silence loads silent.
TEST_F(SoundTags, QuickLoadBringsBackTheSavedMusic) {
  Dc("m.wav", 1000, 3000);
  Run("[splay file=m.wav loop=1]\n@\n[sstop]\n@\n[splay file=m.wav loop=1]\n@\n");
  ASSERT_EQ(State(), CMainScript::kClickWait);
  ASSERT_NE(A().player->IsPlaying(), 0);
  FrameAt(now_ + 16, {'S'});
  ASSERT_TRUE(Exists("saveq.dat"));
  const std::vector<uint8_t> withMusic = ReadFile("saveq.dat");
  Click();
  ASSERT_EQ(A().player->IsPlaying(), 0);
  FrameAt(now_ + 16, {'L'});
  EXPECT_NE(A().player->IsPlaying(), 0);
  EXPECT_TRUE(script_->GetSaveData().IsMusicPlaying());
  EXPECT_EQ(script_->GetSaveData().GetMusicRecord().GetAttribute("file"), "m.wav");

  // Saved after the stop: the load stops the music that plays now.
  Click();
  ASSERT_EQ(A().player->IsPlaying(), 0);
  FrameAt(now_ + 16, {'S'});
  Click();
  ASSERT_NE(A().player->IsPlaying(), 0);
  FrameAt(now_ + 16, {'L'});
  Step();
  EXPECT_EQ(A().player->IsPlaying(), 0);
  EXPECT_FALSE(script_->GetSaveData().IsMusicPlaying());
  EXPECT_NE(ReadFile("saveq.dat"), withMusic);
}

TEST_F(SoundTags, BootFinishesFadesAndStopsEverything) {
  Dc("m.wav", 1000, 3000);
  Dc("e.wav", 1000, 3000);
  Run("[splay file=m.wav][]\n[sxfade file=m.wav time=2000][seplay id=1 file=e.wav loop=1]"
      "[sefadeout id=1 time=2000][sfadeout time=1500][@]\n");
  Step();
  Step();
  // sfadeout keeps the fade of the player that is fading out.
  EXPECT_TRUE(Sound().IsFading(A()));
  EXPECT_TRUE(Sound().IsFading(B()));
  ASSERT_FALSE(script_->Boot());
  EXPECT_EQ(CTweenRegistry::Instance().GetCount(), 0u);
  EXPECT_EQ(A().player->IsPlaying(), 0);
  EXPECT_EQ(B().player->IsPlaying(), 0);
  EXPECT_EQ(Se("1").player->IsPlaying(), 0);
  // Nothing left running can stop the music a loaded game starts now.
  script_->GetVariables().SetInt("s.bgmvol", 1000);
  // As a load does: halt, then replay the saved music record.
  script_->SetState(CMainScript::kHalted);
  CScriptBlock music;
  music.m_type = CScriptBlock::kTag;
  music.m_text = "splay";
  music.m_attributes["file"] = "m.wav";
  script_->Dispatch(music, true);
  for (int i = 0; i < 150; ++i) Step();
  EXPECT_NE(A().player->IsPlaying(), 0) << Sound().Dump() << Reports();
  EXPECT_EQ(A().player->GetVolume(), 1000);
}

TEST_F(SoundTags, AutoModeWaitsForSyncChannels) {
  Dc("e.wav", 1000, 500);
  Run("[automode allow=1 syncse=1][seplay id=1 file=e.wav][@]\n[var name=f.done data=1]\n");
  script_->GetVariables().SetInt("s.automodewait", 0);
  CTweenRegistry::Instance().UpdateAll(now_ + 16);
  FrameAt(now_ + 16, {'A'});
  for (int i = 0; i < 10; ++i) Step();
  EXPECT_FALSE(Has("f.done"));
  for (int i = 0; i < 40; ++i) Step();
  EXPECT_TRUE(Has("f.done"));
}

TEST_F(SoundTags, DumpIsStable) {
  Dc("m.wav", 1000, 3000);
  Dc("e.wav", 1000, 3000);
  Run("[splay file=m.wav][sefadein id=b file=e.wav time=500 loop=1][]\n");
  EXPECT_EQ(Sound().Dump(),
            "bgm.a file=\"m.wav\" playing=2 volume=1000 loop=1 fade=0\n"
            "bgm.b file=\"\" playing=0 volume=1000 loop=0 fade=0\n"
            "se.b file=\"e.wav\" playing=1 volume=1 loop=1 fade=1\n");
  // A stopped channel has let its sound go.
  Run("[seplay id=b file=e.wav loop=1][sestop id=b]\n");
  EXPECT_EQ(Sound().Dump(),
            "bgm.a file=\"\" playing=0 volume=1000 loop=0 fade=0\n"
            "bgm.b file=\"\" playing=0 volume=1000 loop=0 fade=0\n"
            "se.b file=\"\" playing=0 volume=1000 loop=1 fade=0\n");
}

TEST_F(SoundTags, AudioDumpFollowsTheFadeCurveAndRepeats) {
  Dc("m.wav", 16000, 3000);
  const uint32_t opened = 2000000;
  std::vector<std::vector<uint8_t>> dumps;
  std::vector<std::string> states;
  for (int run = 0; run < 2; ++run) {
    script_.reset();
    platform::AudioClose();
    now_ = opened;
    platform::SetVirtualTicks(static_cast<uint64_t>(now_) << 10);
    platform::AudioOptions audio;
    audio.backend = platform::AudioBackend::Null;
    audio.dumpPath = (dir_ / ("dump" + std::to_string(run) + ".wav")).string();
    ASSERT_FALSE(platform::AudioOpen(audio));
    Run("[splay file=m.wav time=1000]\n");
    for (int i = 0; i < 80; ++i) Step();
    states.push_back(Sound().Dump());
    script_.reset();
    platform::AudioClose();
    dumps.push_back(ReadFile("dump" + std::to_string(run) + ".wav"));
  }
  EXPECT_EQ(states[0], states[1]);
  ASSERT_EQ(dumps[0], dumps[1]);

  const std::vector<uint8_t>& dump = dumps[0];
  size_t data = 12;
  while (data + 8 <= dump.size() && std::string(dump.begin() + data, dump.begin() + data + 4) != "data")
    data += 8 + (dump[data + 4] | dump[data + 5] << 8 | dump[data + 6] << 16 | size_t(dump[data + 7]) << 24);
  ASSERT_LT(data + 8, dump.size());
  data += 8;
  auto left = [&](size_t frame) {
    size_t at = data + frame * 4;
    return at + 1 < dump.size() ? static_cast<int16_t>(dump[at] | dump[at + 1] << 8) : int16_t(0);
  };
  // The first frame (opened + 16) starts the music at volume 1; the fade
  // starts with the next one. Between frames the level holds the volume the
  // last frame set: the curve at that frame's time.
  const uint32_t fadeStart = opened + 32;
  auto level = [&](uint32_t frameTime) {
    int volume = frameTime < fadeStart ? 1 : Curve(kEaseInSine, 1, 1000, frameTime - fadeStart, 1000);
    return 16000.0 * std::pow(10.0, CDxSound::VolumeToAttenuation(volume) / 2000.0);
  };
  int checked = 0;
  for (uint32_t t = 40; t < 80 * 16; t += 10) {
    uint32_t frameTime = opened + t / 16 * 16;
    int16_t got = left(static_cast<size_t>(t) * 44100 / 1000);
    // The mixer works in blocks, so a sample near a frame boundary may carry
    // the volume of the neighbouring frame.
    bool near = false;
    for (uint32_t at : {frameTime - 16, frameTime, frameTime + 16}) near |= std::abs(got - level(at)) <= 328;
    EXPECT_TRUE(near) << "t=" << t << " got " << got << " want " << level(frameTime);
    ++checked;
  }
  EXPECT_GT(checked, 100);
}

}  // namespace
