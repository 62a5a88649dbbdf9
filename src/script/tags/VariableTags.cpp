// Variable and condition tags: var (assignment and engine queries), if, /if,
// loop and /loop.
#include <cstdio>

#include "files/Config.h"
#include "platform/TextCodec.h"
#include "platform/FileSystem.h"
#include "scene/GraphicSystem.h"
#include "script/MainScript.h"
#include "script/tags/SoundTags.h"
#include "script/tags/TagFamilies.h"
#include "script/tags/TagUtil.h"
#include "vars/QelVariables.h"

namespace {

std::string Printf(const char* format, int value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// Fills the date and time fields of a file-time format; each field takes its
// long token when present, else its short one.
std::string FormatFileTime(std::string format, const platform::FileTime& t) {
  struct Field {
    const char* longToken;
    const char* shortToken;
    int longValue;
    int shortValue;
    const char* shortFormat;
  };
  const Field fields[] = {
      {"yyyy", "yy", t.year, t.year % 100, "%02d"},
      {"MM", "M", t.month, t.month, "%d"},
      {"dd", "d", t.day, t.day, "%d"},
      {"hh", "h", t.hour, t.hour, "%d"},
      {"mm", "m", t.minute, t.minute, "%d"},
      {"ss", "s", t.second, t.second, "%d"},
  };
  bool first = true;
  for (const Field& f : fields) {
    // The year prints in full with its long token; every other long token is
    // two digits wide.
    const char* longFormat = first ? "%d" : "%02d";
    first = false;
    // Which token applies goes by the bytes alone: a long token whose only
    // occurrence begins inside a double-byte character is still the one
    // chosen, and that occurrence is then left as it is.
    if (format.find(f.longToken) != std::string::npos) {
      format = tagutil::ReplaceToken(format, f.longToken, Printf(longFormat, f.longValue));
    } else if (format.find(f.shortToken) != std::string::npos) {
      format = tagutil::ReplaceToken(format, f.shortToken, Printf(f.shortFormat, f.shortValue));
    }
  }
  return format;
}

using State = CStatelessFamily;
using RecordList = CMainScript::RecordList;

void VarSystem(CMainScript& script, const CScriptBlock& record) {
  const std::string& name = record.GetAttribute("name");
  const std::string& system = record.GetAttribute("system");
  CQelVariables& vars = script.GetVariables();
  CGraphicSystem* graphics = script.GetGraphics();
  if (system == "var_exist") {
    vars.SetInt(name, vars.Find(record.GetAttribute("target")) ? 1 : 0);
  } else if (system == "array") {
    vars.SetInt(name + ".size", 0);
  } else if (system == "random") {
    vars.SetInt(name, script.NextRandom());
  } else if (system == "length") {
    vars.SetInt(name, static_cast<int32_t>(record.GetAttribute("source").size()));
  } else if (system == "find") {
    size_t at = record.GetAttribute("source").find(record.GetAttribute("string"));
    vars.SetInt(name, at == std::string::npos ? -1 : static_cast<int32_t>(at));
  } else if (system == "substr") {
    const std::string& source = record.GetAttribute("source");
    uint32_t position = static_cast<uint32_t>(tagutil::Atoi(record.GetAttribute("position")));
    uint32_t length = static_cast<uint32_t>(tagutil::Atoi(record.GetAttribute("length")));
    // The sum wraps like the unsigned 32-bit value it is.
    if (position + length > source.size()) {
      static const std::string format =
          Utf8ToCp932("%s(%d): positionパラメータとlengthパラメータの合計が、sourceパラメータの長さを超えています。");
      script.ReportFormat(format.c_str(), script.GetCursor().m_file.c_str(), record.m_line);
      return;
    }
    // A start that passes the check only by wrapping (a negative position)
    // lies outside the text: nothing is stored, as nothing was wrong with
    // the sum.
    if (position > source.size()) return;
    vars.SetString(name, source.substr(position, length));
  } else if (system == "os") {
    // Scripts compare against this text.
    vars.SetString(name, "windows");
  } else if (system == "screen_width" || system == "screen_height") {
    bool width = system == "screen_width";
    int size = 0;
    if (graphics) {
      size = width ? graphics->GetWidth() : graphics->GetHeight();
    } else if (CIni* ini = LoadIni("system.ini")) {
      size = ini->GetInt("WINDOW", width ? "WIDTH" : "HEIGHT");
    }
    vars.SetInt(name, size);
  } else if (system == "get_layer_info") {
    if (!graphics) return;
    for (const CLayerInfoValue& value : graphics->GetLayerInfo()) {
      if (value.isText)
        vars.SetString(name + "." + value.name, value.text);
      else
        vars.SetInt(name + "." + value.name, value.number);
    }
  } else if (system == "get_sound_info") {
    if (CSoundTagState* sound = script.FindFamily<CSoundTagState>()) {
      vars.SetInt(name + ".playing", sound->CurrentMusic().player->IsPlaying() ? 1 : 0);
      vars.SetInt(name + ".size", static_cast<int32_t>(sound->m_channels.size()));
      int i = 0;
      for (auto& [id, slot] : sound->m_channels) {
        std::string prefix = name + "." + std::to_string(i++);
        vars.SetString(prefix + ".id", id);
        vars.SetInt(prefix + ".playing", slot.player->IsPlaying() ? 1 : 0);
      }
    }
  } else if (system == "file_exist") {
    std::string path = platform::ResolveExistingFile(record.GetAttribute("file"));
    vars.SetInt(name, !path.empty() && platform::IsReadableFile(path) ? 1 : 0);
  } else if (system == "file_update_time") {
    platform::FileTime time;
    std::string path = platform::ResolveExistingFile(record.GetAttribute("file"));
    if (path.empty() || !platform::IsReadableFile(path) ||
        platform::GetFileWriteTime(record.GetAttribute("file"), time)) {
      vars.SetString(name, record.GetAttribute("noexist"));
      return;
    }
    std::string format = record.GetAttribute("format");
    if (format.empty()) format = "yyyy/MM/dd hh:mm:ss";
    // Stored without raising the change flags.
    vars.FindOrCreateOwn(name).SetString(FormatFileTime(format, time));
  }
}

bool Var(State&, CMainScript& script, const CScriptBlock& record, bool) {
  const std::string& name = record.GetAttribute("name");
  if (record.HasAttribute("data")) {
    script.GetVariables().SetString(name, record.GetAttribute("data"));
    return false;
  }
  VarSystem(script, record);
  return false;
}

bool ConditionHolds(CMainScript& script, const CScriptBlock& record) {
  return tagutil::Atoi(script.GetVariables().Evaluate(record.GetAttribute("estimate"))) != 0;
}

// Moves the cursor to the close tag that matches (or past it), counting
// nested open and close tags; to the end of the script when none matches.
void SkipBlock(CMainScript& script, const char* open, const char* close, bool pastClose) {
  CMainScript::CCaret& cursor = script.GetCursor();
  const RecordList* records = script.FindScript(cursor.m_file);
  if (!records) return;
  int depth = 0;
  for (size_t i = static_cast<size_t>(cursor.m_index < 0 ? 0 : cursor.m_index); i < records->size(); ++i) {
    const CScriptBlock& r = (*records)[i];
    if (r.m_type != CScriptBlock::kTag) continue;
    if (r.m_text == open) {
      ++depth;
    } else if (r.m_text == close) {
      if (depth == 0) {
        cursor.m_index = static_cast<int32_t>(pastClose ? i + 1 : i);
        return;
      }
      --depth;
    }
  }
  cursor.m_index = static_cast<int32_t>(records->size());
}

bool If(State&, CMainScript& script, const CScriptBlock& record, bool) {
  if (!ConditionHolds(script, record)) SkipBlock(script, "if", "/if", false);
  return false;
}

bool EndIf(State&, CMainScript&, const CScriptBlock&, bool) { return false; }

bool Loop(State&, CMainScript& script, const CScriptBlock& record, bool) {
  if (!ConditionHolds(script, record)) SkipBlock(script, "loop", "/loop", true);
  return false;
}

bool EndLoop(State&, CMainScript& script, const CScriptBlock&, bool) {
  CMainScript::CCaret& cursor = script.GetCursor();
  const RecordList* records = script.FindScript(cursor.m_file);
  if (!records) return false;
  int depth = 0;
  // The cursor already stands after this /loop: start at the record before it.
  for (int64_t i = static_cast<int64_t>(cursor.m_index) - 2; i >= 0; --i) {
    if (static_cast<size_t>(i) >= records->size()) continue;
    const CScriptBlock& r = (*records)[static_cast<size_t>(i)];
    if (r.m_type != CScriptBlock::kTag) continue;
    if (r.m_text == "/loop") {
      ++depth;
    } else if (r.m_text == "loop") {
      if (depth == 0) {
        cursor.m_index = static_cast<int32_t>(i);
        return false;
      }
      --depth;
    }
  }
  // No matching loop: the script has run out.
  cursor.m_index = static_cast<int32_t>(records->size());
  return false;
}

}  // namespace

void AddVariableTags(CTagRegistry& registry) {
  const TagReplay kNone = TagReplay::kNone;
  const std::vector<std::string> estimate = {"estimate"};
  tagutil::AddFamilyOrDie(registry, "variable", &CreateFamilyState<State>,
                          {
                              TagRow<&Var>("var", {"name"}, kNone, "sets a variable, or stores an engine query"),
                              TagRow<&If>("if", estimate, kNone, "runs the block up to /if when the condition holds"),
                              TagRow<&EndIf>("/if", {}, kNone, "ends an if block"),
                              TagRow<&Loop>("loop", estimate, kNone, "repeats the block up to /loop while it holds"),
                              TagRow<&EndLoop>("/loop", {}, kNone, "goes back to the matching loop"),
                          });
}
