// velmira-tool parse / lint: look at scripts the way the engine parses them.
//
//   parse FILE [--game DIR] [--raw]   one JSON object per record
//   lint GAME_DIR                     every parse error of every script
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "Lint.h"
#include "ToolCommand.h"
#include "lint_message.h"
#include "platform/TextCodec.h"
#include "files/GameFiles.h"
#include "files/PackFile.h"
#include "files/PackTool.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Jpg.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"
#include "lua/Lua.h"
#include "platform/FileSystem.h"
#include "scene/Easing.h"
#include "script/MainScript.h"
#include "script/QelParser.h"
#include "script/ScriptBlockJson.h"
#include "script/tags/TagFamilies.h"
#include "sound/SoundLoaders.h"
#include "sound/Vorbis.h"
#include "sound/Wave.h"

namespace fs = std::filesystem;

namespace {

void WriteOut(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// Reads a whole native file; true on failure.
bool ReadNativeFile(const fs::path& path, std::string& out) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return true;
  const uintmax_t size = fs::file_size(path, error);
  if (error || size > kMaxScriptSize) return true;
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.bad();
}

// Reads one archive entry; true on failure.
bool ReadArchiveEntry(const CPackFile::CPackedFile& entry, const std::string& cp932Name, std::string& out) {
  CPackFile file;
  if (file.OpenEntry(entry, cp932Name)) return true;
  return file.ReadAll(out, kMaxScriptSize);
}

// Parses a script as the engine does: a new parser per file, tag.ini from the
// current directory (the game folder). Bytes after a NUL are not read.
std::vector<CScriptBlock> ParseScript(const std::string& bytes) {
  CQelParser parser(GetTagRegistry());
  parser.Parse(bytes.c_str());
  return parser.TakeBlocks();
}

// Stands in the game folder and starts the file layer as the engine does, so
// that tag.ini and scripts are found where the engine finds them (loose, or
// in the game's root archive). True on failure.
bool EnterGameFolder(const fs::path& folder) {
  if (platform::SetCurrentDirectory(folder.string())) return true;
  StartGameFiles(platform::GetCurrentDirectory(), kDefaultExecutableName);
  return false;
}

// ---- parse -------------------------------------------------------------------

int ParseUsage(const char* problem) {
  std::fprintf(stderr, "parse: %s\nusage: velmira-tool parse FILE [--game DIR] [--raw]\n", problem);
  return 2;
}

int ParseCommand(int argc, char** argv) {
  std::string fileArg;
  std::string gameArg;
  bool raw = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--raw") {
      raw = true;
    } else if (arg == "--game") {
      if (i + 1 >= argc) return ParseUsage("--game needs a folder");
      gameArg = argv[++i];
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return ParseUsage("unknown option");
    } else if (fileArg.empty()) {
      fileArg = std::string(arg);
    } else {
      return ParseUsage("only one FILE");
    }
  }
  if (fileArg.empty()) return ParseUsage("no FILE");

  std::error_code error;
  const fs::path file = fs::absolute(fileArg, error);
  std::string bytes;
  if (error || ReadNativeFile(file, bytes)) {
    std::fprintf(stderr, "parse: cannot read %s\n", fileArg.c_str());
    return 2;
  }
  const fs::path game = gameArg.empty() ? file.parent_path() : fs::absolute(gameArg, error);
  if (error || !fs::is_directory(game, error) || EnterGameFolder(game)) {
    std::fprintf(stderr, "parse: cannot enter the game folder %s\n", game.string().c_str());
    return 2;
  }
  for (const CScriptBlock& block : ParseScript(bytes)) WriteOut(ScriptBlockToJson(block, raw) + "\n");
  return 0;
}

// ---- lint --------------------------------------------------------------------

// One check looks at the whole game and adds what it finds. More checks
// (missing labels and files) go into kLintChecks beside these.
void CheckParseErrors(const LintGame& game, std::vector<LintFinding>& findings) {
  for (const LintScript& script : game.scripts) {
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kError) continue;
      std::string message = block.GetText();
      while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
      findings.push_back({script.name, block.GetLine(), std::move(message)});
    }
  }
}

// Images the engine's loaders refuse: they would simply not appear in the
// game.
void CheckUnsupportedImages(const LintGame& game, std::vector<LintFinding>& findings) {
  for (const LintImage& image : game.pngs) {
    if (image.reason.empty()) continue;
    findings.push_back({image.name, 0, "warning: the engine will not load this image (" + image.reason + ")"});
  }
}

void CheckScriptEncoding(const LintGame& game, std::vector<LintFinding>& findings) {
  for (const std::string& name : game.utf8Scripts) {
    findings.push_back({name, 0, "warning: saved as UTF-8? the engine reads CP932"});
  }
}

// The name a script has in the game (what a jump or macroadd names): the
// part after an archive's "name.pfs:", lower-cased for comparison.
std::string GameName(const std::string& shown) {
  const size_t colon = shown.find(".pfs:");
  std::string name = colon == std::string::npos ? shown : shown.substr(colon + 5);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

// Tags that are neither in the tag registry nor a label of a macro file
// ("macro.iet" and every file a literal macroadd names): the engine reports
// them as unknown when it reaches them.
void CheckUnknownTags(const LintGame& game, std::vector<LintFinding>& findings) {
  const CTagRegistry& tags = GetTagRegistry();
  std::set<std::string> macroFiles = {"macro.iet"};
  for (const LintScript& script : game.scripts) {
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kTag || block.GetText() != "macroadd") continue;
      const std::string file = Cp932ToUtf8(block.GetAttribute("file"));
      if (file.empty() || file[0] == '$') continue;
      macroFiles.insert(GameName(file));
      macroFiles.insert(GameName(file + ".iet"));
    }
  }
  std::set<std::string> macros;
  for (const LintScript& script : game.scripts) {
    if (!macroFiles.count(GameName(script.name))) continue;
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() == CScriptBlock::kLabel) macros.insert(block.GetText());
    }
  }
  static const std::string message = Utf8ToCp932("未知のタグ、または未定義のマクロです。");
  for (const LintScript& script : game.scripts) {
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kTag || tags.Find(block.GetText()) || macros.count(block.GetText()) ||
          block.GetText() == CMainScript::kPrintTag)
        continue;
      findings.push_back({script.name, block.GetLine(), "[" + block.GetText() + "] " + message});
    }
  }
}

// Layer tag values the engine does not know: the tag then quietly does
// nothing (or less than the author meant). Values computed at run time ("$")
// are not judged.
void CheckLayerTagValues(const LintGame& game, std::vector<LintFinding>& findings) {
  struct Rule {
    const char* tag;
    const char* attribute;
    std::vector<std::string> allowed;  // empty: an easing name
  };
  static const std::vector<Rule> rules = {
      {"lytween", "ease", {}},
      {"lytween", "param", {"left", "top", "alpha", "xscale", "yscale", "rotate"}},
      {"lyprop", "layermode", {"normal", "add", "multiply", "screen"}},
      {"anime", "layermode", {"normal", "add", "multiply", "screen"}},
      {"anime", "mode", {"init", "add", "end"}},
      {"trans", "type", {"0", "1", "2"}},
  };
  for (const LintScript& script : game.scripts) {
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kTag) continue;
      for (const Rule& rule : rules) {
        if (block.GetText() != rule.tag || !block.HasAttribute(rule.attribute)) continue;
        const std::string& value = block.GetAttribute(rule.attribute);
        if (!value.empty() && value[0] == '$') continue;
        int kind = 0;
        const bool known = rule.allowed.empty()
                               ? EaseKindFromName(value, kind)
                               : std::find(rule.allowed.begin(), rule.allowed.end(), value) != rule.allowed.end();
        if (known) continue;
        findings.push_back({script.name, block.GetLine(),
                            "warning: [" + block.GetText() + "] unknown " + rule.attribute + " \"" + value +
                                "\": the engine ignores it"});
      }
    }
  }
}

// Sound tags whose file the engine's loaders cannot find or decode (trying
// the ".ogg" and ".wav" names as the engine does), and loop values other
// than 0 and 1, which the music tags read as looping and the effect tags as
// playing once.
void CheckSoundTags(const LintGame& game, std::vector<LintFinding>& findings) {
  static const std::set<std::string> kMusic = {"splay", "sfadein", "sxfade"};
  static const std::set<std::string> kEffects = {"seplay", "sefadein", "voice"};
  static const std::string missing = Utf8ToCp932("指定されたファイルは見つからないか、非対応形式です。");
  CPackFileFactory files;
  CSoundLoaders loaders(&files);
  loaders.AddLoader(new CVorbisLoader());
  loaders.AddLoader(new CWaveLoader());
  std::map<std::string, bool> decodes;
  for (const LintScript& script : game.scripts) {
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kTag) continue;
      const std::string& tag = block.GetText();
      const bool music = kMusic.count(tag) != 0;
      if (!music && !kEffects.count(tag)) continue;
      const std::string& file = block.GetAttribute("file");
      // Values computed at run time cannot be judged here.
      if (block.HasAttribute("file") && (file.empty() || file[0] != '$')) {
        auto known = decodes.find(file);
        if (known == decodes.end()) {
          ISound* sound = nullptr;
          bool failed = loaders.LoadFile(&sound, file.c_str());
          delete sound;
          known = decodes.emplace(file, !failed).first;
        }
        if (!known->second)
          findings.push_back({script.name, block.GetLine(), "[" + tag + " file=\"" + file + "\"] " + missing});
      }
      const std::string& loop = block.GetAttribute("loop");
      if (block.HasAttribute("loop") && loop != "0" && loop != "1" && (loop.empty() || loop[0] != '$')) {
        findings.push_back({script.name, block.GetLine(),
                            "warning: [" + tag + " loop=\"" + loop + "\"] " +
                                (music ? "loops (only 0 plays once)" : "plays once (only 1 loops)") +
                                "; write 0 or 1"});
      }
    }
  }
}

// Lua blocks are compiled, never run: a syntax error would otherwise only
// show in the log when the game loads the file.
void CheckLuaBlocks(const LintGame& game, std::vector<LintFinding>& findings) {
  for (const LintScript& script : game.scripts) {
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kTag || block.GetText() != "lua") continue;
      std::string error;
      if (CLua::CheckSyntax(block.GetAttribute("script"), error)) {
        findings.push_back({script.name, block.GetLine(), "[LUA] " + error});
      }
    }
  }
}

const LintCheck kLintChecks[] = {
    CheckParseErrors,    CheckUnknownTags, CheckUnsupportedImages, CheckScriptEncoding,
    CheckLayerTagValues, CheckLuaBlocks,   CheckSoundTags,         CheckLayerAssets,
    CheckFonts,          CheckVideoTags,   CheckBrowserTags,       CheckMessageTags<LintGame, LintFinding>,
};

constexpr size_t kImageHeaderBytes = 64;

bool HasExtension(const std::string& name, const char* extension);
bool HasExtensionLower(const std::string& name, const char* extension) { return HasExtension(name, extension); }

bool IsValidUtf8(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
    if (n == 4 || (n == 1 && c < 0xC2) || i + n >= bytes.size() + (n == 0 ? 1 : 0)) return false;
    for (size_t k = 1; k <= n; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n + 1;
  }
  return true;
}

// A byte-order mark, or text that decodes as UTF-8 with characters beyond
// ASCII: CP932 text practically never does (its lead and trail bytes break
// UTF-8 sequences at once), while the engine would show UTF-8 garbled.
bool LooksLikeUtf8(const std::string& bytes) {
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return true;
  const bool ascii =
      std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return !ascii && IsValidUtf8(bytes);
}

// Decodes an image from the file's current position with the engine's own
// loaders, in the engine's order; returns why they refuse it ("" when one of
// them loads it, whatever its name says).
std::string ImageRefusal(CFile& file) {
  CGraphicLoaders loaders(nullptr);
  (void)loaders.AddLoader(new CPng());
  (void)loaders.AddLoader(new CJpg());
  std::string header(kImageHeaderBytes, '\0');
  const int start = file.Tell();
  const int read = file.Read(header.data(), static_cast<unsigned>(header.size()));
  header.resize(static_cast<size_t>(read > 0 ? read : 0));
  if (start < 0 || file.Seek(start, 0) != 0) return "cannot be read";
  CSurface surface;
  if (!loaders.Load(&surface, &file)) return {};
  std::string reason;
  if (PngHeaderUnsupported(header.data(), header.size(), &reason)) return reason;
  if (header.size() >= 24 && header.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0) {
    auto u32 = [&](size_t at) {
      return static_cast<uint32_t>(static_cast<unsigned char>(header[at])) << 24 |
             static_cast<uint32_t>(static_cast<unsigned char>(header[at + 1])) << 16 |
             static_cast<uint32_t>(static_cast<unsigned char>(header[at + 2])) << 8 |
             static_cast<uint32_t>(static_cast<unsigned char>(header[at + 3]));
    };
    const uint32_t width = u32(16), height = u32(20);
    if (width == 0 || height == 0 || !CSurface::IsAcceptedSize(width, height)) {
      return "size " + std::to_string(width) + "x" + std::to_string(height) + ": sides must be 1 to " +
             std::to_string(CSurface::kMaxSide) + " and the area at most " + std::to_string(CSurface::kMaxPixels) +
             " pixels";
    }
    return "damaged PNG data";
  }
  return "not a PNG or JPEG image the engine can decode";
}

bool IsImageName(const std::string& name) {
  return HasExtensionLower(name, ".png") || HasExtensionLower(name, ".jpg") || HasExtensionLower(name, ".jpeg");
}

bool HasExtension(const std::string& name, const char* extension) {
  const size_t n = std::strlen(extension);
  if (name.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = name[name.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != extension[i]) return false;
  }
  return true;
}

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Loose scripts and images anywhere under the game folder, symlinked folders
// included as the engine follows them.
void CollectLooseScripts(const fs::path& folder, LintGame& game, std::set<std::string>& seen, int& problems) {
  std::vector<std::string> files, loops;
  std::string error;
  if (packtool::ListGameFolder(folder.string(), files, loops, error)) {
    std::fprintf(stderr, "lint: %s\n", error.c_str());
    ++problems;
    return;
  }
  for (const std::string& loop : loops) {
    std::fprintf(stderr, "lint: symlinked folder leads back into itself: %s\n", loop.c_str());
    ++problems;
  }
  for (const std::string& name : files) {
    if (IsImageName(name)) {
      CFile file;
      std::string cp932 = Utf8ToCp932(name);
      std::replace(cp932.begin(), cp932.end(), '/', '\\');
      std::string reason = file.Open(cp932.c_str()) ? std::string("cannot be opened") : ImageRefusal(file);
      game.pngs.push_back({name, std::move(reason)});
      continue;
    }
    if (!HasExtension(name, ".iet")) continue;
    std::string bytes;
    if (ReadNativeFile(folder / fs::path(name), bytes)) {
      std::fprintf(stderr, "lint: cannot read %s\n", name.c_str());
      ++problems;
      continue;
    }
    seen.insert(LowerAscii(name));
    if (LooksLikeUtf8(bytes)) game.utf8Scripts.push_back(name);
    game.scripts.push_back({name, ParseScript(bytes)});
  }
}

// Scripts inside the archives of the game folder that no loose file hides.
void CollectArchiveScripts(const fs::path& folder, LintGame& game, std::set<std::string>& seen, int& problems) {
  std::error_code error;
  std::vector<std::string> archives;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (it->is_regular_file(error) && HasExtension(name, ".pfs")) archives.push_back(name);
  }
  std::sort(archives.begin(), archives.end());
  for (const std::string& archive : archives) {
    const std::string archiveName = Utf8ToCp932(archive);
    std::list<std::string> entries;
    CPackFile lister;
    const CPackFile::CEntryTable* table = nullptr;
    if (lister.ListEntries(archiveName.c_str(), entries) || (table = CPackFile::FindArchive(archiveName)) == nullptr) {
      std::fprintf(stderr, "lint: cannot list the archive %s\n", archive.c_str());
      ++problems;
      continue;
    }
    const std::string& damage = CPackFile::GetArchiveDamage(archiveName);
    if (!damage.empty()) {
      std::fprintf(stderr, "lint: %s: damaged directory: %s\n", archive.c_str(), damage.c_str());
      ++problems;
    }
    entries.sort();
    for (const std::string& entry : entries) {
      if (IsImageName(entry)) {
        auto found = table->find(entry);
        CPackFile file;
        std::string shown = Cp932ToUtf8(entry);
        std::replace(shown.begin(), shown.end(), '\\', '/');
        std::string reason = found == table->end() || file.OpenEntry(found->second, entry)
                                 ? std::string("cannot be read from the archive")
                                 : ImageRefusal(file);
        game.pngs.push_back({archive + ":" + shown, std::move(reason)});
        continue;
      }
      if (!HasExtension(entry, ".iet")) continue;
      std::string shown = Cp932ToUtf8(entry);
      std::replace(shown.begin(), shown.end(), '\\', '/');
      if (!seen.insert(LowerAscii(shown)).second) continue;
      auto found = table->find(entry);
      std::string bytes;
      if (found == table->end() || ReadArchiveEntry(found->second, entry, bytes)) {
        std::fprintf(stderr, "lint: cannot read %s in %s\n", shown.c_str(), archive.c_str());
        ++problems;
        continue;
      }
      if (LooksLikeUtf8(bytes)) game.utf8Scripts.push_back(archive + ":" + shown);
      game.scripts.push_back({archive + ":" + shown, ParseScript(bytes)});
    }
  }
}

int LintCommand(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: velmira-tool lint GAME_DIR\n");
    return 2;
  }
  std::error_code error;
  const fs::path folder = fs::absolute(argv[1], error);
  if (error || !fs::is_directory(folder, error) || EnterGameFolder(folder)) {
    std::fprintf(stderr, "lint: cannot enter the game folder %s\n", argv[1]);
    return 2;
  }
  LintGame game;
  std::set<std::string> seen;
  int problems = 0;
  CollectLooseScripts(folder, game, seen, problems);
  CollectArchiveScripts(folder, game, seen, problems);

  std::vector<LintFinding> findings;
  for (LintCheck check : kLintChecks) check(game, findings);
  for (const LintFinding& finding : findings) {
    std::string where = finding.line > 0 ? "(" + std::to_string(finding.line) + ")" : std::string();
    WriteOut(finding.file + where + ": " + Cp932ToUtf8(finding.message) + "\n");
  }
  std::fprintf(stderr, "lint: %zu script(s), %zu finding(s), %d unreadable\n", game.scripts.size(), findings.size(),
               problems);
  return findings.empty() && problems == 0 ? 0 : 1;
}

}  // namespace

VELMIRA_TOOL_COMMAND(parse, "parse FILE [--game DIR] [--raw]  print a script's records as JSON lines", ParseCommand);
VELMIRA_TOOL_COMMAND(lint,
                     "lint GAME_DIR  report script errors, unknown tags and layer values, Lua syntax errors, and "
                     "images, sounds, movies, sliders and openbrowser addresses the engine will refuse",
                     LintCommand);
