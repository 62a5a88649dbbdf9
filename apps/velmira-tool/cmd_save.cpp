// velmira-tool save FILE... [--game DIR] [--json]: what a save file holds
// (header, cursor and call stack, variables, replay lists, read marks), and
// with --game whether that game, as it is now, can load it: what an author
// needs to know before shipping an update.
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "ToolCommand.h"
#include "core/ScriptBlock.h"
#include "core/Serializer.h"
#include "files/GameFiles.h"
#include "files/PackFile.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "save/SaveData.h"
#include "script/MainScript.h"
#include "script/QelParser.h"
#include "script/SavedState.h"
#include "script/tags/TagFamilies.h"
#include "text/BackLog.h"
#include "vars/DumpVariables.h"
#include "vars/QelVariables.h"

namespace fs = std::filesystem;

namespace {

using Caret = CMainScript::CCaret;
using ReplayMap = CSaveData::ReplayMap;

const char* const kStateNames[] = {"running", "click wait", "transition wait", "sync wait", "timed wait",
                                   "hidden",  "backlog",    "video wait",      "halted",    "ended"};

std::string StateName(int32_t state) {
  return state >= 0 && state <= 9 ? kStateNames[state] : "unknown state " + std::to_string(state);
}

std::string Json(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Utf8(const std::string& cp932) { return Cp932ToUtf8(cp932); }

// A game folder's scripts, parsed as the engine loads them.
class CGameScripts {
 public:
  // Records of the script (trying NAME, then NAME.iet), or null; found
  // receives the name it was found under.
  const std::vector<CScriptBlock>* Find(const std::string& name, std::string* found = nullptr) {
    // Copies: found may be name itself.
    const std::string candidates[] = {name, name + ".iet"};
    for (const std::string& candidate : candidates) {
      if (found) *found = candidate;
      auto it = m_scripts.find(candidate);
      if (it != m_scripts.end()) {
        if (it->second.empty() && m_missing.count(candidate)) continue;
        return &it->second;
      }
      CPackFile file;
      std::string text;
      if (file.Open(candidate.c_str()) || file.ReadAll(text, kMaxScriptSize)) {
        m_missing.insert(candidate);
        m_scripts[candidate];
        continue;
      }
      CQelParser parser(GetTagRegistry());
      parser.Parse(text.c_str());
      return &(m_scripts[candidate] = parser.TakeBlocks());
    }
    return nullptr;
  }

 private:
  std::map<std::string, std::vector<CScriptBlock>> m_scripts;
  std::set<std::string> m_missing;
};

struct CaretReport {
  std::string text;     // one line, UTF-8
  std::string json;     // one object
  std::string problem;  // empty when the game can resume there
};

CaretReport DescribeCaret(const Caret& caret, CGameScripts* game) {
  CaretReport report;
  report.text = Utf8(caret.m_file) + " index " + std::to_string(caret.m_index) + ", " + StateName(caret.m_state) +
                " (previous: " + StateName(caret.m_previousState) + ")";
  report.json = "{\"file\":" + Json(Utf8(caret.m_file)) + ",\"index\":" + std::to_string(caret.m_index) +
                ",\"state\":" + std::to_string(caret.m_state) +
                ",\"previousState\":" + std::to_string(caret.m_previousState);
  if (caret.m_waitTextEffects) {
    report.text += ", waiting for text effects";
    report.json += ",\"waitsForTextEffects\":true";
  }
  if (game) {
    const std::vector<CScriptBlock>* records = game->Find(caret.m_file);
    if (!records) {
      report.problem = "the script " + Utf8(caret.m_file) + " is missing";
    } else if (caret.m_index < 0 || static_cast<size_t>(caret.m_index) > records->size()) {
      report.problem = Utf8(caret.m_file) + " has " + std::to_string(records->size()) +
                       " records, the save points at " + std::to_string(caret.m_index);
    } else if (static_cast<size_t>(caret.m_index) < records->size()) {
      const int line = (*records)[static_cast<size_t>(caret.m_index)].m_line;
      report.text += ", next record on line " + std::to_string(line);
      report.json += ",\"line\":" + std::to_string(line);
    } else {
      report.text += ", at the end of the file";
    }
    if (caret.m_state < 0 || caret.m_state > 9 || caret.m_previousState < 0 || caret.m_previousState > 9)
      report.problem = "the state is out of range";
  }
  report.json += "}";
  return report;
}

bool Replayable(ReplayList list, const CScriptBlock& record) {
  if (record.m_type == CScriptBlock::kText) return list == ReplayList::kMessage;
  const CTagRow* row = record.m_type == CScriptBlock::kTag ? GetTagRegistry().Find(record.m_text) : nullptr;
  if (!row) return false;
  switch (list) {
    case ReplayList::kMessage: return row->replay == TagReplay::kMessage;
    case ReplayList::kLayer: return row->replay == TagReplay::kLayer;
    case ReplayList::kAnimation: return row->replay == TagReplay::kAnimation || row->replay == TagReplay::kLayer;
    case ReplayList::kMusic: return row->replay == TagReplay::kMusic;
  }
  return false;
}

// The engine's own reading of a game state, with this game's scripts: every
// check a load makes before it changes anything (fields readable, modes and
// depths in range, carets loadable, replay lists holding only replayed tags).
class CheckingSubject : public ISaveSubject {
 public:
  explicit CheckingSubject(CGameScripts& game) : m_game(game) {}
  CQelVariables& GetVariables() override { return m_variables; }
  ReadMarks& GetReadMarks() override { return m_marks; }
  void OnReadMarksLoaded() override {}
  void OnSaveProblem(const std::string&) override {}
  void OnSaveEvent(const std::string&) override {}
  std::unique_ptr<IStateStage> CaptureState() override { return NewStateStage(); }
  std::unique_ptr<IStateStage> NewStateStage() override {
    return std::make_unique<CSavedState>(
        [this](std::string& name) -> const CMainScript::RecordList* { return m_game.Find(name, &name); });
  }
  std::unique_ptr<ISerializable> NewBacklog() override { return std::make_unique<CBackLog>(); }
  bool AcceptsReplay(ReplayList list, const CScriptBlock& record) override { return Replayable(list, record); }
  void ApplyLoadedGame(CLoadedGame&) override {}

 private:
  CGameScripts& m_game;
  CQelVariables m_variables;
  ReadMarks m_marks;
};

// Why the engine would refuse the state, or empty when it would load it.
std::string EngineVerdict(CSerializer& stream, CGameScripts& game) {
  CheckingSubject subject(game);
  CSaveData data(&subject);
  CLoadedGame loaded;
  std::string why;
  return data.ReadState(stream, loaded, why) ? why : std::string();
}

std::string RecordText(const CScriptBlock& record) {
  if (record.m_type == CScriptBlock::kText) return Utf8(record.m_text);
  std::string out = "[" + Utf8(record.m_text);
  for (const auto& [name, value] : record.m_attributes) out += " " + Utf8(name) + "=" + Utf8(value);
  return out + "]";
}

struct Output {
  std::string text;
  std::string json;
  std::vector<std::string> problems;
};

void DescribeLists(const char* kind, ReplayList list, const ReplayMap& lists, Output& out) {
  std::string json;
  for (const auto& [id, records] : lists) {
    out.text += std::string("  ") + kind + " \"" + Utf8(id) + "\": " + std::to_string(records.size()) + " record(s)\n";
    json += std::string(json.empty() ? "" : ",") + Json(Utf8(id)) + ":" + std::to_string(records.size());
    for (const CScriptBlock& record : records)
      if (!Replayable(list, record))
        out.problems.push_back(std::string("the ") + kind + " list \"" + Utf8(id) + "\" holds " + RecordText(record) +
                               ", which is never replayed");
  }
  out.json += std::string(",\"") + kind + "\":{" + json + "}";
}

std::string DescribeVariables(const std::map<std::string, std::string>& variables, Output& out) {
  std::string json;
  for (const auto& [name, value] : variables) {
    out.text += "  " + Utf8(name) + " = " + Utf8(value) + "\n";
    json += std::string(json.empty() ? "" : ",") + Json(Utf8(name)) + ":" + Json(Utf8(value));
  }
  return "{" + json + "}";
}

void DescribeState(CSerializer& stream, CGameScripts* game, Output& out) {
  Caret cursor;
  std::vector<Caret> callStack;
  stream.Read(3, cursor);
  stream.Read(4, callStack);
  CaretReport report = DescribeCaret(cursor, game);
  out.text += "cursor: " + report.text + "\n";
  out.json += ",\"cursor\":" + report.json + ",\"callStack\":[";
  if (!report.problem.empty()) out.problems.push_back("cursor: " + report.problem);
  out.text += "call stack: " + std::to_string(callStack.size()) + " caller(s)\n";
  for (size_t i = 0; i < callStack.size(); ++i) {
    CaretReport caller = DescribeCaret(callStack[i], game);
    out.text += "  " + caller.text + "\n";
    out.json += (i ? "," : "") + caller.json;
    if (!caller.problem.empty()) out.problems.push_back("caller " + std::to_string(i + 1) + ": " + caller.problem);
  }
  out.json += "]";

  CQelVariables variables;
  stream.Read(30, variables);
  std::string dump = DumpVariables(variables);
  out.text += "game variables:\n";
  std::string json;
  size_t start = 0;
  while (start < dump.size()) {
    size_t end = dump.find('\n', start);
    if (end == std::string::npos) end = dump.size();
    const std::string line = dump.substr(start, end - start);
    start = end + 1;
    const size_t tab1 = line.find('\t');
    const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) continue;
    out.text += "  " + line.substr(0, tab1) + " = " + line.substr(tab2 + 1) + "\n";
    json += std::string(json.empty() ? "" : ",") + Json(line.substr(0, tab1)) + ":" + Json(line.substr(tab2 + 1));
  }
  out.json += ",\"variables\":{" + json + "}";

  ReplayMap messages, layers, animations;
  stream.Read(24, messages);
  stream.Read(26, layers);
  stream.Read(27, animations);
  out.text += "replay lists:\n";
  DescribeLists("message", ReplayList::kMessage, messages, out);
  DescribeLists("layer", ReplayList::kLayer, layers, out);
  DescribeLists("animation", ReplayList::kAnimation, animations, out);
  bool music = false;
  CScriptBlock record;
  stream.Read(28, music);
  if (music && !stream.Read(29, record)) {
    out.text += "music: " + RecordText(record) + "\n";
    out.json += ",\"music\":" + Json(RecordText(record));
    if (!Replayable(ReplayList::kMusic, record)) out.problems.push_back("the music record is not a music tag");
  } else {
    out.text += "music: none\n";
    out.json += ",\"music\":null";
  }
  // The backlog: each page's text, its tags left out.
  CBackLog backlog;
  if (stream.HasTag(31) && stream.Read(31, backlog)) out.problems.push_back("the backlog field is damaged");
  if (backlog.GetPageCount() == 0) {
    out.text += "backlog: no pages\n";
  } else {
    out.text += "backlog: " + std::to_string(backlog.GetPageCount()) + " page(s)\n";
  }
  std::string pages;
  for (const CBackLog::Page& page : backlog.GetPages()) {
    std::string text;
    for (const CScriptBlock& record : page)
      if (record.m_type == CScriptBlock::kText) text += record.m_text;
    out.text += "  " + Utf8(text) + "\n";
    pages += std::string(pages.empty() ? "" : ",") + Json(Utf8(text));
  }
  out.json += ",\"backlogPages\":" + std::to_string(backlog.GetPageCount()) + ",\"backlog\":[" + pages + "]";
}

void DescribeGlobal(CSerializer& stream, char kind, Output& out) {
  std::map<std::string, std::string> variables;
  if (kind == CSaveData::kKindGlobal) {
    ISaveSubject::ReadMarks marks;
    stream.Read(1, marks);
    out.text += "read marks:\n";
    std::string json;
    for (const auto& [file, indices] : marks) {
      out.text += "  " + Utf8(file) + ": " + std::to_string(indices.size()) + " record(s) read\n";
      json += std::string(json.empty() ? "" : ",") + Json(Utf8(file)) + ":" + std::to_string(indices.size());
    }
    out.json += ",\"readMarks\":{" + json + "}";
    stream.Read(2, variables);
  } else {
    stream.Read(1, variables);
  }
  out.text += "variables:\n";
  out.json += ",\"variables\":" + DescribeVariables(variables, out);
}

int Usage(const char* problem) {
  std::fprintf(stderr, "save: %s\nusage: velmira-tool save FILE... [--game DIR] [--json]\n", problem);
  return 2;
}

int SaveCommand(int argc, char** argv) {
  std::vector<std::string> files;
  std::string gameArg;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--game") {
      if (i + 1 >= argc) return Usage("--game needs a folder");
      gameArg = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("unknown option");
    } else {
      files.emplace_back(arg);
    }
  }
  if (files.empty()) return Usage("no FILE");
  std::error_code error;
  std::vector<fs::path> paths;
  for (const std::string& file : files) paths.push_back(fs::absolute(file, error));
  std::unique_ptr<CGameScripts> game;
  if (!gameArg.empty()) {
    const fs::path folder = fs::absolute(gameArg, error);
    if (error || !fs::is_directory(folder, error) || platform::SetCurrentDirectory(folder.string())) {
      std::fprintf(stderr, "save: cannot enter the game folder %s\n", gameArg.c_str());
      return 2;
    }
    StartGameFiles(platform::GetCurrentDirectory(), "velmira");
    game = std::make_unique<CGameScripts>();
  }

  int status = 0;
  std::string jsonOut = "[";
  for (size_t f = 0; f < paths.size(); ++f) {
    Output out;
    std::vector<uint8_t> bytes;
    std::string why;
    char kind = 0;
    int32_t version = 0;
    size_t offset = 0;
    CSerializer stream;
    const std::string shown = files[f];
    out.json = "{\"file\":" + Json(shown);
    if (platform::ReadWholeNativeFile(paths[f].string(), bytes, &why)) {
      out.problems.push_back("cannot be read: " + why);
    } else if (CSaveData::ParseHeader(bytes, kind, version, offset)) {
      out.problems.push_back("not a save file this engine reads (magic or version)");
    } else if (kind != CSaveData::kKindState && kind != CSaveData::kKindGlobal && kind != CSaveData::kKindSystem) {
      out.problems.push_back(std::string("unknown kind '") + kind + "'");
    } else if (stream.LoadView(bytes.data() + offset, bytes.size() - offset)) {
      out.problems.push_back("the stream's tag table is damaged");
    } else {
      const char* kindName = kind == CSaveData::kKindState    ? "game state"
                             : kind == CSaveData::kKindGlobal ? "global data"
                                                              : "system data";
      out.text += shown + ": kind " + kind + " (" + kindName + "), version " + std::to_string(version) + ", " +
                  std::to_string(bytes.size()) + " bytes\n";
      out.json += ",\"kind\":\"" + std::string(1, kind) + "\",\"version\":" + std::to_string(version) +
                  ",\"size\":" + std::to_string(bytes.size());
      if (kind == CSaveData::kKindState) {
        DescribeState(stream, game.get(), out);
        // The engine's checks find what the description above does not look at.
        if (game && out.problems.empty()) {
          const std::string verdict = EngineVerdict(stream, *game);
          if (!verdict.empty()) out.problems.push_back(Utf8(verdict));
        }
      } else {
        DescribeGlobal(stream, kind, out);
      }
    }
    if (out.text.empty()) out.text = shown + ":\n";
    std::string problems;
    for (const std::string& problem : out.problems) {
      out.text += "problem: " + problem + "\n";
      problems += std::string(problems.empty() ? "" : ",") + Json(problem);
    }
    if (game && kind == CSaveData::kKindState)
      out.text += out.problems.empty() ? "this game can load it\n" : "this game cannot load it\n";
    out.json += ",\"problems\":[" + problems + "]";
    if (game) out.json += std::string(",\"loadable\":") + (out.problems.empty() ? "true" : "false");
    out.json += "}";
    if (!out.problems.empty()) status = 1;
    if (json) {
      jsonOut += (f ? "," : "") + out.json;
    } else {
      std::fwrite(out.text.data(), 1, out.text.size(), stdout);
    }
  }
  if (json) {
    jsonOut += "]\n";
    std::fwrite(jsonOut.data(), 1, jsonOut.size(), stdout);
  }
  return std::fflush(stdout) == 0 ? status : 1;
}

}  // namespace

VELMIRA_TOOL_COMMAND(save, "save FILE... [--game DIR] [--json]  show a save file; with --game, whether it loads there",
                     SaveCommand);
