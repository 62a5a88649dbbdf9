// Variable and condition tags: var (assignment and engine queries), if, /if,
// loop and /loop.
#include <cstdio>

#include "core/Config.h"
#include "core/Cp932.h"
#include "platform/FileSystem.h"
#include "scene/GraphicSystem.h"
#include "script/MainScript.h"
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
    if (tagutil::ContainsToken(format, f.longToken)) {
      format = tagutil::ReplaceToken(format, f.longToken, Printf(longFormat, f.longValue));
    } else if (tagutil::ContainsToken(format, f.shortToken)) {
      format = tagutil::ReplaceToken(format, f.shortToken, Printf(f.shortFormat, f.shortValue));
    }
  }
  return format;
}

}  // namespace

bool CMainScript::TagVar(const CScriptBlock& record, bool) {
  const std::string& name = record.GetAttribute("name");
  if (record.HasAttribute("data")) {
    m_variables->SetString(name, record.GetAttribute("data"));
    return false;
  }
  VarSystem(record);
  return false;
}

void CMainScript::VarSystem(const CScriptBlock& record) {
  const std::string& name = record.GetAttribute("name");
  const std::string& system = record.GetAttribute("system");
  CQelVariables& vars = *m_variables;
  if (system == "var_exist") {
    vars.SetInt(name, vars.Find(record.GetAttribute("target")) ? 1 : 0);
  } else if (system == "array") {
    vars.SetInt(name + ".size", 0);
  } else if (system == "random") {
    vars.SetInt(name, NextRandom());
  } else if (system == "length") {
    vars.SetInt(name, static_cast<int32_t>(record.GetAttribute("source").size()));
  } else if (system == "find") {
    size_t at = record.GetAttribute("source").find(record.GetAttribute("string"));
    vars.SetInt(name, at == std::string::npos ? -1 : static_cast<int32_t>(at));
  } else if (system == "substr") {
    const std::string& source = record.GetAttribute("source");
    uint32_t position = static_cast<uint32_t>(tagutil::Atoi(record.GetAttribute("position")));
    uint32_t length = static_cast<uint32_t>(tagutil::Atoi(record.GetAttribute("length")));
    // The sum wraps like the unsigned 32-bit value it is; a start that only
    // passes the check by wrapping lies outside the text and stores nothing.
    if (position + length > source.size() || position > source.size()) {
      static const std::string format =
          Utf8ToCp932("%s(%d): positionパラメータとlengthパラメータの合計が、sourceパラメータの長さを超えています。");
      ReportFormat(format.c_str(), m_cursor.m_file.c_str(), record.m_line);
      return;
    }
    vars.SetString(name, source.substr(position, length));
  } else if (system == "os") {
    // Scripts compare against this text.
    vars.SetString(name, "windows");
  } else if (system == "screen_width" || system == "screen_height") {
    bool width = system == "screen_width";
    int size = 0;
    if (m_graphics) {
      size = width ? m_graphics->GetWidth() : m_graphics->GetHeight();
    } else if (CIni* ini = LoadIni("system.ini")) {
      size = ini->GetInt("WINDOW", width ? "WIDTH" : "HEIGHT");
    }
    vars.SetInt(name, size);
  } else if (system == "get_layer_info" || system == "get_sound_info") {
    // Answered once layers and sound channels exist.
  } else if (system == "file_exist") {
    std::string path = platform::ResolveExistingFile(record.GetAttribute("file"));
    vars.SetInt(name, !path.empty() && platform::IsRegularFile(path) ? 1 : 0);
  } else if (system == "file_update_time") {
    platform::FileTime time;
    std::string path = platform::ResolveExistingFile(record.GetAttribute("file"));
    if (path.empty() || !platform::IsRegularFile(path) ||
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

bool CMainScript::ConditionHolds(const CScriptBlock& record) {
  return tagutil::Atoi(m_variables->Evaluate(record.GetAttribute("estimate"))) != 0;
}

void CMainScript::SkipBlock(const char* open, const char* close, bool pastClose) {
  const RecordList* records = FindScript(m_cursor.m_file);
  if (!records) return;
  int depth = 0;
  for (size_t i = static_cast<size_t>(m_cursor.m_index < 0 ? 0 : m_cursor.m_index); i < records->size(); ++i) {
    const CScriptBlock& r = (*records)[i];
    if (r.m_type != CScriptBlock::kTag) continue;
    if (r.m_text == open) {
      ++depth;
    } else if (r.m_text == close) {
      if (depth == 0) {
        m_cursor.m_index = static_cast<int32_t>(pastClose ? i + 1 : i);
        return;
      }
      --depth;
    }
  }
  m_cursor.m_index = static_cast<int32_t>(records->size());
}

bool CMainScript::TagIf(const CScriptBlock& record, bool) {
  if (!ConditionHolds(record)) SkipBlock("if", "/if", false);
  return false;
}

bool CMainScript::TagEndIf(const CScriptBlock&, bool) { return false; }

bool CMainScript::TagLoop(const CScriptBlock& record, bool) {
  if (!ConditionHolds(record)) SkipBlock("loop", "/loop", true);
  return false;
}

bool CMainScript::TagEndLoop(const CScriptBlock&, bool) {
  const RecordList* records = FindScript(m_cursor.m_file);
  if (!records) return false;
  int depth = 0;
  // The cursor already stands after this /loop: start at the record before it.
  for (int64_t i = static_cast<int64_t>(m_cursor.m_index) - 2; i >= 0; --i) {
    if (static_cast<size_t>(i) >= records->size()) continue;
    const CScriptBlock& r = (*records)[static_cast<size_t>(i)];
    if (r.m_type != CScriptBlock::kTag) continue;
    if (r.m_text == "/loop") {
      ++depth;
    } else if (r.m_text == "loop") {
      if (depth == 0) {
        m_cursor.m_index = static_cast<int32_t>(i);
        return false;
      }
      --depth;
    }
  }
  // No matching loop: the script has run out.
  m_cursor.m_index = static_cast<int32_t>(records->size());
  return false;
}
