// Drives the sound tags with random sequences of their eleven names: random
// channel ids, missing, corrupt and good files, fade times of 0, negative and
// huge, odd loop values, frames with tweens in between, restarts and the
// replay of the music record a load would run.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "FuzzReader.h"
#include "files/Config.h"
#include "files/PackFile.h"
#include "platform/Audio.h"
#include "platform/FileSystem.h"
#include "platform/InputState.h"
#include "platform/Platform.h"
#include "save/SaveData.h"
#include "scene/Tween.h"
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"
#include "vars/QelVariables.h"

namespace {

using CReader = CFuzzReader;

void WriteBytes(const std::string& name, const std::string& bytes) { std::ofstream(name, std::ios::binary) << bytes; }

std::string Wave(int rate, int bits, int channels, int frames) {
  auto u32 = [](uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  auto u16 = [](uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
  int block = channels * bits / 8;
  std::string pcm(static_cast<size_t>(frames * block), '\x10');
  std::string body = "WAVEfmt " + u32(16) + u16(1) + u16(channels) + u32(rate) + u32(rate * block) + u16(block) +
                     u16(bits) + "data" + u32(static_cast<uint32_t>(pcm.size())) + pcm;
  return "RIFF" + u32(static_cast<uint32_t>(body.size())) + body;
}

platform::WindowHandle g_window = 0;
uint32_t g_now = 1000;

void SetUpOnce() {
  if (g_window) return;
  platform::Init(platform::Backend::Headless);
  auto dir = std::filesystem::temp_directory_path() / "velmira_fuzz_soundtags";
  std::filesystem::create_directories(dir);
  platform::SetCurrentDirectory(dir.string());
  SetRootArchivePath("game.pfs");
  WriteBytes("game.iet", "[]\n");
  WriteBytes("a.wav", Wave(22050, 16, 1, 2000));
  WriteBytes("b.wav", Wave(44100, 8, 2, 30000));
  WriteBytes("c.wav", Wave(11025, 16, 2, 50));
  WriteBytes("bad.wav", "RIFF\x10\0\0\0WAVEfmt \x02\0\0\0\x01");
  WriteBytes("empty.ogg", "");
  platform::RegisterWindowClass("fuzz-sound");
  platform::CreateWindowArgs args;
  args.className = "fuzz-sound";
  args.width = 64;
  args.height = 48;
  g_window = platform::CreateWindow(args);
  CInputState::Instance(g_window);
  platform::AudioOptions audio;
  audio.backend = platform::AudioBackend::Null;
  platform::AudioOpen(audio);
}

const char* const kTags[] = {"splay",    "sfadein",   "sfadeout", "sstop", "sxfade", "seplay",
                             "sefadein", "sefadeout", "sestop",   "voice", "/voice"};
const char* const kFiles[] = {"a.wav", "b", "c.wav", "bad.wav", "empty.ogg", "gone", ""};
const char* const kTimes[] = {"0", "-5", "16", "300", "2147483647", "-2147483648", "x", ""};
const char* const kLoops[] = {"0", "1", "yes", "", "-1", "01"};

void Frame(CMainScript& script, uint32_t step) {
  g_now += step;
  platform::SetVirtualTicks(static_cast<uint64_t>(g_now) << 10);
  CTweenRegistry::Instance().UpdateAll(g_now);
  CInputState::Instance()->Update(g_now);
  script.Frame(g_now);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetUpOnce();
  CReader in(data, size);
  {
    auto script = std::make_unique<CMainScript>(GetTagRegistry(), nullptr);
    if (script->Boot()) return 0;
    script->GetVariables().SetInt("s.bgmvol", 1000);
    script->GetVariables().SetInt("s.sevol", 700);
    for (int n = 0; n < 64 && in.More(); ++n) {
      const uint8_t op = in.Byte();
      if (op >= 0xF0) {
        if (op == 0xFF) {
          // A restart, then what a load would replay.
          CScriptBlock music = script->GetSaveData().GetMusicRecord();
          bool playing = script->GetSaveData().IsMusicPlaying();
          script->Boot();
          script->SetState(CMainScript::kHalted);
          if (playing) script->Dispatch(music, true);
        } else if (op == 0xFE) {
          script->GetVariables().SetInt("s.bgmvol", int(int8_t(in.Byte())) * 10);
          script->GetVariables().SetInt("s.sevol", in.Byte() * 5);
        } else {
          Frame(*script, 1u + (in.Byte() % 200u));
        }
        continue;
      }
      CScriptBlock record;
      record.m_type = CScriptBlock::kTag;
      record.m_text = kTags[op % 11];
      const uint8_t which = in.Byte();
      if (which & 1) record.m_attributes["id"] = std::string(1, char('0' + in.Byte() % 5));
      if (which & 2) record.m_attributes["file"] = kFiles[in.Byte() % 7];
      if (which & 4) record.m_attributes["time"] = kTimes[in.Byte() % 8];
      if (which & 8) record.m_attributes["loop"] = kLoops[in.Byte() % 6];
      if (which & 16) record.m_attributes["skippable"] = "1";
      script->Dispatch(record, (which & 32) != 0);
    }
    for (int i = 0; i < 4; ++i) Frame(*script, 100);
  }
  // Every fade belongs to the interpreter just gone.
  if (CTweenRegistry::Instance().GetCount() != 0) __builtin_trap();
  return 0;
}
