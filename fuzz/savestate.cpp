// Feeds the game-state loader whatever bytes come: the header checks, the
// tagged stream, the checks of the staged state (carets, replay lists,
// counts) and, for what passes, the restart and the replay of the scene
// through the tag handlers, followed by a few frames of the restored game.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "files/Config.h"
#include "platform/Audio.h"
#include "platform/FileSystem.h"
#include "platform/InputState.h"
#include "platform/Platform.h"
#include "save/SaveData.h"
#include "scene/GraphicSystem.h"
#include "scene/Tween.h"
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"

namespace {

void WriteBytes(const std::string& name, const void* data, size_t size) {
  std::ofstream(name, std::ios::binary).write(static_cast<const char*>(data), std::streamsize(size));
}

void WriteText(const std::string& name, const std::string& text) { WriteBytes(name, text.data(), text.size()); }

uint32_t g_now = 1000;

void SetUpOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  platform::Init(platform::Backend::Headless);
  auto dir = std::filesystem::temp_directory_path() / "velmira_fuzz_savestate";
  std::filesystem::create_directories(dir);
  platform::SetCurrentDirectory(dir.string());
  SetRootArchivePath("game.pfs");
  // The scripts the seed saves point into.
  WriteText("game.iet", "[var name=a data=1]\n[call file=sub.iet label=x]\n[var name=done data=1]\n@\n[return]\n");
  WriteText("sub.iet", "*x\n[var name=a data=2]\nline one\n@\n[var name=a data=3]\n@\n[return]\n");
  platform::RegisterWindowClass("fuzz-savestate");
  platform::CreateWindowArgs args;
  args.className = "fuzz-savestate";
  args.width = 64;
  args.height = 48;
  CInputState::Instance(platform::CreateWindow(args));
  platform::AudioOptions audio;
  audio.backend = platform::AudioBackend::Null;
  platform::AudioOpen(audio);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetUpOnce();
  // saveg.dat and system.dat a load writes must not carry over.
  std::error_code ec;
  std::filesystem::remove("saveg.dat", ec);
  std::filesystem::remove("system.dat", ec);
  auto graphics = std::make_unique<CGraphicSystem>(nullptr, 32, 24);
  auto script = std::make_unique<CMainScript>(GetTagRegistry(), graphics.get());
  script->SetRecordBudget(2000);
  if (!script->Boot()) {
    WriteBytes("fuzz.dat", data, size);
    if (!script->GetSaveData().LoadFile("fuzz.dat", CSaveData::kKindState)) graphics->Commit();
    for (int i = 0; i < 3; ++i) {
      g_now += 17;
      platform::SetVirtualTicks(uint64_t(g_now) << 10);
      CTweenRegistry::Instance().UpdateAll(g_now);
      script->Frame(g_now);
      graphics->Render();
    }
  }
  script.reset();
  graphics.reset();
  CTweenRegistry::Instance().DeleteAll();
  return 0;
}
