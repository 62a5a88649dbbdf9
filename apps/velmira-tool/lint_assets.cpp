// velmira-tool lint: the images the layer tags name. A layer whose file does
// not load is quietly not made, a refused mask leaves the layer unmasked, a
// rule of the wrong kind wipes in an unexpected pattern; none of it shows
// until a player reaches the line. Values computed at run time ("$...") are
// not judged.
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Lint.h"
#include "files/Config.h"
#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Jpg.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"
#include "platform/TextCodec.h"

namespace {

bool IsLiteral(const std::string& value) { return value.empty() || value[0] != '$'; }

std::string Quoted(const CScriptBlock& block, const char* attribute) {
  return "[" + block.GetText() + " " + attribute + "=\"" + block.GetAttribute(attribute) + "\"]";
}

// What the engine's loaders make of an image: its size and format, or
// nothing. Each name is loaded once.
struct ImageFacts {
  bool loads = false;
  int width = 0, height = 0, format = 0;
};

class CImageProbe {
 public:
  CImageProbe() : m_loaders(&m_files) {
    (void)m_loaders.AddLoader(new CPng());
    (void)m_loaders.AddLoader(new CJpg());
  }
  const ImageFacts& Get(const std::string& name) {
    auto found = m_known.find(name);
    if (found != m_known.end()) return found->second;
    ImageFacts facts;
    CSurface surface;
    if (!m_loaders.LoadFile(&surface, name.c_str())) {
      facts.loads = true;
      facts.width = surface.GetWidth();
      facts.height = surface.GetHeight();
      facts.format = surface.GetFormat();
    }
    return m_known.emplace(name, facts).first->second;
  }

 private:
  CPackFileFactory m_files;
  CGraphicLoaders m_loaders;
  std::map<std::string, ImageFacts> m_known;
};

std::string Size(const ImageFacts& facts) { return std::to_string(facts.width) + "x" + std::to_string(facts.height); }

// The scene size the engine opens the game with.
void ScreenSize(int& width, int& height) {
  const CWindowSize size = WindowSizeFromIni(LoadIni("system.ini"));
  width = size.width;
  height = size.height;
}

void CheckFiles(const LintGame& game, std::vector<LintFinding>& findings) {
  static const std::string frameMessage = Utf8ToCp932("フレームとして指定された画像ファイルが読み込めません。");
  static const std::string ruleMessage = Utf8ToCp932("ルール画像として指定された画像ファイルが読み込めません。");
  CImageProbe probe;
  int screenW = 0, screenH = 0;
  ScreenSize(screenW, screenH);
  for (const LintScript& script : game.scripts) {
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kTag) continue;
      const std::string& tag = block.GetText();
      auto add = [&](std::string message) { findings.push_back({script.name, block.GetLine(), std::move(message)}); };
      const bool frame =
          tag == "anime" && (block.GetAttribute("mode") == "init" || block.GetAttribute("mode") == "add");
      if (tag == "lyc" || frame) {
        const std::string& file = block.GetAttribute("file");
        if (!block.HasAttribute("file") || !IsLiteral(file)) continue;
        const ImageFacts& image = probe.Get(file);
        if (!image.loads) {
          add(frame ? Quoted(block, "file") + " " + frameMessage
                    : "warning: " + Quoted(block, "file") + " the image does not load: no layer is made");
          continue;
        }
        const std::string& mask = block.GetAttribute("mask");
        if (tag != "lyc" || !block.HasAttribute("mask") || !IsLiteral(mask)) continue;
        const ImageFacts& facts = probe.Get(mask);
        if (!facts.loads) {
          add("warning: " + Quoted(block, "mask") + " the mask does not load: no layer is made");
        } else if (facts.format != ISurface::PIXEL_BITS_8 || facts.width != image.width ||
                   facts.height != image.height) {
          add("warning: " + Quoted(block, "mask") + " the mask is ignored: it must be an 8-bit grey image of " +
              Size(image) + " like the layer's, not " + (facts.format == ISurface::PIXEL_BITS_8 ? "" : "colour ") +
              Size(facts));
        }
      } else if (tag == "trans" && block.GetAttribute("type") == "2") {
        const std::string& rule = block.GetAttribute("rule");
        if (!IsLiteral(rule)) continue;
        const ImageFacts& facts = probe.Get(rule);
        if (!facts.loads) {
          add(Quoted(block, "rule") + " " + ruleMessage);
          continue;
        }
        if (facts.format != ISurface::PIXEL_BITS_8)
          add("warning: " + Quoted(block, "rule") + " a colour rule: the wipe reads only its green channel");
        if (facts.width != screenW || facts.height != screenH)
          add("warning: " + Quoted(block, "rule") + " " + Size(facts) + ", not the screen's " +
              std::to_string(screenW) + "x" + std::to_string(screenH) + ": the wipe stretches it");
      }
    }
  }
}

// anime add or end on an id no anime init has made yet: the engine reports
// the animation missing. Another file's init may run first (a call), so only
// ids no file ever initialises, or initialised only further down this
// file, are reported.
void CheckAnimationOrder(const LintGame& game, std::vector<LintFinding>& findings) {
  static const std::string message = Utf8ToCp932("指定されたアニメーションが見つかりません。");
  std::map<std::string, std::set<std::string>> initsByScript;
  for (const LintScript& script : game.scripts)
    for (const CScriptBlock& block : script.blocks)
      if (block.GetType() == CScriptBlock::kTag && block.GetText() == "anime" && block.GetAttribute("mode") == "init")
        initsByScript[script.name].insert(block.GetAttribute("id"));
  for (const LintScript& script : game.scripts) {
    std::set<std::string> seen;
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kTag || block.GetText() != "anime") continue;
      const std::string& id = block.GetAttribute("id");
      const std::string& mode = block.GetAttribute("mode");
      if (!IsLiteral(id)) continue;
      if (mode == "init") {
        seen.insert(id);
        continue;
      }
      if ((mode != "add" && mode != "end") || seen.count(id)) continue;
      bool elsewhere = false;
      for (const auto& [name, ids] : initsByScript) elsewhere |= name != script.name && ids.count(id) != 0;
      if (!elsewhere)
        findings.push_back({script.name, block.GetLine(),
                            Quoted(block, "id") + " " + message + " (anime mode=" + mode + " before mode=init)"});
    }
  }
}

// Layers draw in the byte order of their ids, so "chara10" draws under
// "chara2". Ids that share a prefix and end in numbers of different lengths
// are reported where the byte order turns their numeric order round.
void CheckIdOrder(const LintGame& game, std::vector<LintFinding>& findings) {
  struct Where {
    std::string file;
    int line;
  };
  std::map<std::string, Where> ids;  // first place each literal id is made
  for (const LintScript& script : game.scripts)
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kTag) continue;
      const std::string& tag = block.GetText();
      if (tag != "lyc" && !(tag == "anime" && block.GetAttribute("mode") == "init")) continue;
      const std::string& id = block.GetAttribute("id");
      if (!id.empty() && IsLiteral(id)) ids.emplace(id, Where{script.name, block.GetLine()});
    }
  struct Numbered {
    std::string id;
    std::string digits;  // without leading zeros
  };
  std::map<std::string, std::vector<Numbered>> byPrefix;
  for (const auto& [id, where] : ids) {
    size_t start = id.size();
    while (start > 0 && id[start - 1] >= '0' && id[start - 1] <= '9') --start;
    if (start == id.size()) continue;
    size_t first = id.find_first_not_of('0', start);
    byPrefix[id.substr(0, start)].push_back({id, first == std::string::npos ? "" : id.substr(first)});
  }
  auto less = [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  };
  for (const auto& [prefix, list] : byPrefix) {
    for (const Numbered& high : list) {
      // The id it draws under: the highest-numbered one that sorts after it.
      const Numbered* under = nullptr;
      for (const Numbered& low : list)
        if (less(low.digits, high.digits) && high.id < low.id && (!under || less(under->digits, low.digits)))
          under = &low;
      if (!under) continue;
      const size_t width = high.id.size() - prefix.size();
      std::string padded = under->id.substr(prefix.size());
      padded.insert(0, width > padded.size() ? width - padded.size() : 0, '0');
      const Where& where = ids.at(high.id);
      findings.push_back({where.file, where.line,
                          "warning: [" + high.id + "] draws under \"" + under->id +
                              "\": layers draw in the byte order of their ids, not by number (write " + prefix +
                              padded + ")"});
    }
  }
}

}  // namespace

void CheckLayerAssets(const LintGame& game, std::vector<LintFinding>& findings) {
  CheckFiles(game, findings);
  CheckAnimationOrder(game, findings);
  CheckIdOrder(game, findings);
}
