// Drives the message tags with random sequences: text (with odd bytes and
// lone lead bytes), ruby, fonts, links, rp, rt, window switches, effect
// lists, glyphs and click waits, with frames of pointer moves, clicks,
// skipping and restarts in between, in an interpreter with a scene. Every
// window must take its tweens with it when the interpreter goes.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "FuzzReader.h"
#include "files/Config.h"
#include "platform/FileSystem.h"
#include "platform/InputState.h"
#include "platform/Platform.h"
#include "platform/VirtualKeys.h"
#include "scene/GraphicSystem.h"
#include "scene/Tween.h"
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"

namespace {

using CReader = CFuzzReader;

platform::WindowHandle g_window = 0;
uint32_t g_now = 1000;

void SetUpOnce() {
  if (g_window) return;
  platform::Init(platform::Backend::Headless);
  auto dir = std::filesystem::temp_directory_path() / "velmira_fuzz_messagetags";
  std::filesystem::create_directories(dir);
  platform::SetCurrentDirectory(dir.string());
  SetRootArchivePath("game.pfs");
  std::ofstream("game.iet", std::ios::binary) << "*a\n[]\n*b\n[]\n";
  platform::RegisterWindowClass("fuzz-message");
  platform::CreateWindowArgs args;
  args.className = "fuzz-message";
  args.width = 160;
  args.height = 120;
  g_window = platform::CreateWindow(args);
  CInputState::Instance(g_window);
}

const char* const kTags[] = {"rp",     "@",       "link",  "/link", "linkreset", "linkenable", "linkdisable",
                             "chgmsg", "/chgmsg", "glyph", "scein", "sceout",    "scetween",   "ruby",
                             "/ruby",  "font",    "/font", "rt",    "fontinit",  "stop"};
constexpr size_t kTagCount = sizeof(kTags) / sizeof(kTags[0]);
const char* const kTexts[] = {"\x82\xa0\x82\xa2", "ab", "\x81\x42", "\x81\x75", "\x88\x9f\x88\xa0\x88\xa1", "\x82", "",
                              "\xff\xfe",         "x y"};
const char* const kNumbers[] = {"0", "1", "-16", "50", "400", "2147483647", "-2147483648", "x", "", "100000"};
const char* const kParams[] = {"left", "top", "alpha", "xscale", "entirerotate", "entirexscale", "bogus", ""};
const char* const kEases[] = {"none", "easeout_sine", "easeinout_elastic", "easein_back", "??"};
const char* const kTypes[] = {"in", "out", "backlog_up_in", "sideways"};
const char* const kIds[] = {"", "a", "b", "backlog", "0"};

void Frame(CGraphicSystem& graphics, CMainScript& script, CReader& in) {
  const uint8_t how = in.Byte();
  g_now += 1u + (how & 0x3Fu) * 8u;
  platform::SetVirtualTicks(static_cast<uint64_t>(g_now) << 10);
  platform::InjectCursor(g_window, in.Byte() % 170, in.Byte() % 130);
  const bool click = how & 0x40, ctrl = how & 0x80;
  if (click) platform::InjectKey(platform::VK_LBUTTON, true);
  if (ctrl) platform::InjectKey(platform::VK_CONTROL, true);
  CTweenRegistry::Instance().UpdateAll(g_now);
  CInputState::Instance()->Update(g_now);
  graphics.Update();
  script.Frame(g_now);
  graphics.Render();
  platform::InjectKey(platform::VK_LBUTTON, false);
  platform::InjectKey(platform::VK_CONTROL, false);
  CInputState::Instance()->Update(g_now);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetUpOnce();
  CReader in(data, size);
  {
    CGraphicSystem graphics(nullptr, 160, 120);
    auto script = std::make_unique<CMainScript>(GetTagRegistry(), &graphics);
    if (script->Boot()) return 0;
    for (int n = 0; n < 96 && in.More(); ++n) {
      const uint8_t op = in.Byte();
      if (op >= 0xF0) {
        if (op == 0xFF)
          script->Boot();
        else
          Frame(graphics, *script, in);
        continue;
      }
      CScriptBlock record;
      if (op >= 0xC0) {
        record.m_type = CScriptBlock::kText;
        record.m_text = kTexts[in.Byte() % 9];
        if (op & 1) record.m_text += std::string(1, char(in.Byte()));
      } else {
        record.m_type = CScriptBlock::kTag;
        record.m_text = kTags[op % kTagCount];
        const uint8_t which = in.Byte();
        auto& a = record.m_attributes;
        if (which & 1) a["id"] = kIds[in.Byte() % 5];
        if (which & 2) a["label"] = (in.Byte() & 1) ? "a" : "missing";
        if (which & 4) a["text"] = kTexts[in.Byte() % 9];
        if (which & 8) {
          a["mode"] = (in.Byte() & 1) ? "add" : "init";
          a["type"] = kTypes[in.Byte() % 4];
          a["param"] = kParams[in.Byte() % 8];
          a["ease"] = kEases[in.Byte() % 5];
        }
        if (which & 16) {
          a["diff"] = kNumbers[in.Byte() % 10];
          a["msec"] = kNumbers[in.Byte() % 10];
          a["delay"] = kNumbers[in.Byte() % 10];
        }
        if (which & 32) {
          a["size"] = kNumbers[in.Byte() % 10];
          a["width"] = kNumbers[in.Byte() % 10];
          a["entirexscale"] = kNumbers[in.Byte() % 10];
          a["vertical"] = (in.Byte() & 1) ? "1" : "0";
        }
        if (which & 64) {
          a["layer"] = kIds[in.Byte() % 5];
          a["homing"] = "1";
          a["call"] = "1";
        }
      }
      script->Dispatch(record, (op & 0x80) != 0 && (op & 0x40) == 0 && (in.Byte() & 1));
    }
    for (int i = 0; i < 4; ++i) Frame(graphics, *script, in);
    script.reset();
  }
  // The windows went with the graphic system: none of their tweens may stay.
  if (CTweenRegistry::Instance().GetCount() != 0) __builtin_trap();
  return 0;
}
