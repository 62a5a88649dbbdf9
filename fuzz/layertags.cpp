// Drives the layer tags with random sequences: a few ids and files (missing,
// corrupt, and images and rules of many sizes and formats, one of them made
// from the input), extreme and non-numeric values, tween queues, animations,
// pointer handlers and transitions, with frames (tweens, input, script,
// picture) and restarts in between. Nothing may crash, read outside a
// surface or leak.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "FuzzReader.h"
#include "files/Config.h"
#include "graphics/PngWriter.h"
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

void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A PNG of the size and colour type, its bytes a pattern seeded by seed.
void WritePng(const std::string& name, int w, int h, int colorType, uint8_t seed) {
  const int channels = colorType == 0 ? 1 : colorType == 4 ? 2 : colorType == 2 ? 3 : 4;
  std::vector<uint8_t> pixels(size_t(w) * size_t(h) * size_t(channels));
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 37u + seed);
  PngImage image;
  image.width = w;
  image.height = h;
  image.colorType = colorType;
  image.pixels = pixels.data();
  image.pitch = size_t(w) * size_t(channels);
  std::vector<uint8_t> bytes;
  if (!EncodePng(image, bytes)) WriteBytes(name, bytes);
}

platform::WindowHandle g_window = 0;
uint32_t g_now = 1000;
// The engine finds its files from the current directory, libFuzzer its
// corpus from the one it started in (often a relative path): each input
// runs in the game folder and goes back.
std::string g_startDir, g_gameDir;
constexpr int kW = 64, kH = 48;

void SetUpOnce() {
  if (g_window) {
    platform::SetCurrentDirectory(g_gameDir);
    return;
  }
  platform::Init(platform::Backend::Headless);
  auto dir = std::filesystem::temp_directory_path() / "velmira_fuzz_layertags";
  std::filesystem::create_directories(dir);
  g_startDir = platform::GetCurrentDirectory();
  g_gameDir = dir.string();
  platform::SetCurrentDirectory(g_gameDir);
  SetRootArchivePath("game.pfs");
  WriteBytes("game.iet", {'[', ']', '\n'});
  WritePng("rgb.png", 16, 12, 2, 1);
  WritePng("rgba.png", 20, 30, 6, 2);
  WritePng("grey.png", 20, 30, 0, 3);
  WritePng("greya.png", 1, 1, 4, 4);
  WritePng("wide.png", 300, 2, 6, 5);
  WritePng("rule.png", kW, kH, 0, 6);
  WritePng("rulec.png", 7, 300, 2, 7);
  WriteBytes("bad.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0});
  platform::RegisterWindowClass("fuzz-layertags");
  platform::CreateWindowArgs args;
  args.className = "fuzz-layertags";
  args.width = kW;
  args.height = kH;
  g_window = platform::CreateWindow(args);
  CInputState::Instance(g_window);
}

const char* const kTags[] = {"lyc",        "lydel",         "lyprop",        "lytween",      "lytweendel",
                             "tweenset",   "/tweenset",     "anime",         "animedel",     "setonclick",
                             "delonclick", "setonrollover", "delonrollover", "setonrollout", "delonrollout",
                             "flip",       "trans"};
constexpr int kTagCount = sizeof(kTags) / sizeof(kTags[0]);
const char* const kIds[] = {"a", "b", "10", "9", "s", ""};
const char* const kFiles[] = {"rgb", "rgba.png", "grey", "greya", "wide", "rule", "rulec", "dyn", "bad", "gone", ""};
const char* const kValues[] = {"0",   "1",   "-1",          "2147483647", "-2147483648", "100", "255",
                               "256", "abc", "65536000000", "",           "50",          "-100"};
const char* const kProperties[] = {"left",   "top",    "alpha",   "anchorx",   "anchory",           "xscale",
                                   "yscale", "rotate", "visible", "layermode", "clickablethreshold"};
const char* const kParams[] = {"left", "top", "alpha", "xscale", "yscale", "rotate", "visible", ""};
const char* const kEases[] = {"linear", "easeinout_cubic", "easeout_bounce", "easein_elastic", "nope", "19"};
const char* const kModes[] = {"init", "add", "end", "bogus", ""};
const char* const kLayerModes[] = {"normal", "add", "multiply", "screen", "overlay"};

template <size_t N>
const char* Pick(CReader& in, const char* const (&list)[N]) {
  return list[in.Byte() % N];
}

void Frame(CMainScript& script, CGraphicSystem& graphics, uint32_t step) {
  g_now += step;
  platform::SetVirtualTicks(static_cast<uint64_t>(g_now) << 10);
  CTweenRegistry::Instance().UpdateAll(g_now);
  CInputState::Instance()->Update(g_now);
  script.Frame(g_now);
  graphics.Render();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetUpOnce();
  CReader in(data, size);
  {
    CGraphicSystem graphics(nullptr, kW, kH);
    auto script = std::make_unique<CMainScript>(GetTagRegistry(), &graphics);
    if (script->Boot()) {
      platform::SetCurrentDirectory(g_startDir);
      return 0;
    }
    for (int n = 0; n < 96 && in.More(); ++n) {
      const uint8_t op = in.Byte();
      if (op >= 0xF0) {
        if (op == 0xFF) {
          script->Boot();
        } else if (op == 0xFE) {
          // An image (and rule) of any size and format, from the input.
          static const int kTypes[] = {0, 2, 4, 6};
          WritePng("dyn.png", 1 + in.Byte() % 200, 1 + in.Byte() % 200, kTypes[in.Byte() % 4], in.Byte());
        } else if (op == 0xFD) {
          platform::InjectCursor(g_window, in.Byte() % (kW + 8), in.Byte() % (kH + 8));
        } else if (op == 0xFC) {
          platform::InjectKey(platform::VK_LBUTTON, true);
          Frame(*script, graphics, 16);
          platform::InjectKey(platform::VK_LBUTTON, false);
        } else {
          Frame(*script, graphics, 1u + (in.Byte() % 250u));
        }
        continue;
      }
      CScriptBlock record;
      record.m_type = CScriptBlock::kTag;
      record.m_text = kTags[op % kTagCount];
      uint8_t which = in.Byte();
      record.m_attributes["id"] = Pick(in, kIds);
      if (which & 1) record.m_attributes["file"] = Pick(in, kFiles);
      if (which & 2) record.m_attributes[Pick(in, kProperties)] = Pick(in, kValues);
      if (which & 4) record.m_attributes["layermode"] = Pick(in, kLayerModes);
      if (record.m_text == "lytween") {
        record.m_attributes["param"] = Pick(in, kParams);
        record.m_attributes["from"] = Pick(in, kValues);
        record.m_attributes["to"] = Pick(in, kValues);
        record.m_attributes["msec"] = Pick(in, kValues);
        if (which & 8) record.m_attributes["ease"] = Pick(in, kEases);
        if (which & 16) record.m_attributes["yoyo"] = Pick(in, kValues);
        if (which & 32) record.m_attributes["sync"] = "1";
        if (which & 64) record.m_attributes["delay"] = Pick(in, kValues);
      } else if (record.m_text == "anime") {
        record.m_attributes["mode"] = Pick(in, kModes);
        record.m_attributes["time"] = Pick(in, kValues);
      } else if (record.m_text == "lyc" && (which & 8)) {
        record.m_attributes["mask"] = Pick(in, kFiles);
      } else if (record.m_text == "trans") {
        record.m_attributes["type"] = std::to_string(in.Byte() % 4);
        record.m_attributes["time"] = Pick(in, kValues);
        record.m_attributes["rule"] = Pick(in, kFiles);
        record.m_attributes["vague"] = Pick(in, kValues);
      } else if (record.m_text.rfind("seton", 0) == 0) {
        record.m_attributes["label"] = (which & 8) ? "nowhere" : "";
        if (which & 16) record.m_attributes["call"] = "1";
      }
      script->Dispatch(record, (which & 128) != 0);
    }
    for (int i = 0; i < 4; ++i) Frame(*script, graphics, 200);
    std::string dump;
    graphics.DumpLayers(dump);
    script.reset();
  }
  // Tweens may outlive the scene in the process-wide registry; a dead
  // layer's tween must do nothing, and the next input starts clean.
  CTweenRegistry::Instance().UpdateAll(g_now + 1000);
  CTweenRegistry::Instance().DeleteAll();
  platform::SetCurrentDirectory(g_startDir);
  return 0;
}
