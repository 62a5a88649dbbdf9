// velmira-tool lint: fonts. A prerendered font (.rft) whose index is cut
// short or points past the end of the file loses those characters without a
// word; a prerendered font the font tags name but the game lacks shows only
// spaces; a face that is not installed is drawn with a fallback face, so the
// text looks and measures differently from what the author saw.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "Lint.h"
#include "core/Numbers.h"
#include "files/PackFile.h"
#include "platform/FontBackend.h"
#include "platform/TextCodec.h"
#include "text/RftFile.h"

namespace fs = std::filesystem;

namespace {

bool IsLiteral(const std::string& value) { return value.empty() || value[0] != '$'; }

std::string Hex(uint16_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", unsigned(code));
  return text;
}

// Every loose .rft file of the game folder (the current directory).
void CheckRftFiles(std::vector<LintFinding>& findings) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(".", fs::directory_options::follow_directory_symlink, error), end;
       !error && it != end; it.increment(error)) {
    std::string ext = it->path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == ".rft" && it->is_regular_file(error)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& path : files) {
    const std::string shown = path.lexically_relative(".").generic_string();
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    char version = 0;
    std::vector<CRftFile::SIndexEntry> entries;
    bool shortIndex = false;
    if (CRftFile::ReadIndex(bytes, version, entries, shortIndex)) {
      findings.push_back(
          {shown, 0, "warning: not a prerendered font (no \"rft0\", \"rft1\" or \"rft2\" at the start)"});
      continue;
    }
    if (shortIndex) {
      findings.push_back({shown, 0,
                          "warning: the index ends after " + std::to_string(entries.size()) + " of " +
                              std::to_string(CRftFile::IndexEntryCount(version)) +
                              " entries: the characters after it have no glyph"});
    }
    size_t outside = 0;
    const CRftFile::SIndexEntry* first = nullptr;
    for (const CRftFile::SIndexEntry& entry : entries) {
      if (!entry.outside) continue;
      if (!first) first = &entry;
      ++outside;
    }
    if (outside) {
      findings.push_back({shown, 0,
                          "warning: " + std::to_string(outside) + " index entr" +
                              (outside == 1 ? "y points" : "ies point") + " outside the file (the first for " +
                              Hex(first->code) + "): those characters have no glyph"});
    }
  }
}

// Font tags: prerendered fonts that are missing, faces that are drawn with
// a fallback. Each face is looked up once.
void CheckFontTags(const LintGame& game, std::vector<LintFinding>& findings) {
  const bool haveBackend = !platform::InitFontBackend() && platform::GetFontBackend();
  std::map<std::string, bool> fallback;  // face -> drawn by a fallback face
  std::map<std::string, std::string> used;
  CPackFileFactory files;
  std::set<std::string> reportedFiles;
  for (const LintScript& script : game.scripts) {
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kTag || block.GetText() != "font") continue;
      const bool rendered = block.HasAttribute("rendered") && numbers::Atoi(block.GetAttribute("rendered")) != 0;
      const std::string& face = block.GetAttribute("face");
      if (rendered) {
        const std::string& sizeText = block.GetAttribute("size");
        if (!block.HasAttribute("face") || !block.HasAttribute("size") || !IsLiteral(face) || !IsLiteral(sizeText))
          continue;
        const int size = std::clamp(numbers::Atoi(sizeText), 1, 255);
        const std::string name = face + "_" + std::to_string(size) + ".rft";
        std::unique_ptr<CFile> file(files.Create());
        if (file && !file->Open(name.c_str())) continue;
        findings.push_back({script.name, block.GetLine(),
                            "warning: [font face=\"" + face + "\" rendered=\"1\"] the prerendered font \"" + name +
                                "\" is missing: the text shows as spaces"});
        continue;
      }
      for (const char* attribute : {"face", "rubyface"}) {
        const std::string& name = block.GetAttribute(attribute);
        if (!block.HasAttribute(attribute) || name.empty() || !IsLiteral(name) || !haveBackend) continue;
        auto known = fallback.find(name);
        if (known == fallback.end()) {
          platform::FontFaceInfo info;
          const bool none = platform::GetFontBackend()->DescribeFace(name, info);
          known = fallback.emplace(name, none || info.fallback).first;
          used[name] = none ? std::string() : info.familyUtf8;
        }
        if (!known->second) continue;
        findings.push_back({script.name, block.GetLine(),
                            "warning: [font " + std::string(attribute) + "=\"" + name +
                                "\"] this face is not installed" +
                                (used[name].empty() ? std::string(": no font can stand in for it")
                                                    : ": drawn with " + Utf8ToCp932(used[name]) + " instead")});
      }
    }
  }
}

}  // namespace

void CheckFonts(const LintGame& game, std::vector<LintFinding>& findings) {
  CheckRftFiles(findings);
  CheckFontTags(game, findings);
}
