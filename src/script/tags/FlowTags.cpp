// Flow tags: the empty tag, stop, jump, call, return and the raw lua block.
#include "core/Cp932.h"
#include "script/MainScript.h"

bool CMainScript::TagEmpty(const CScriptBlock&, bool) { return true; }

bool CMainScript::TagStop(const CScriptBlock&, bool) {
  // The current window ends its pending appearance and, unless skipping,
  // applies its appear list here once message windows exist.
  SetState(kSyncWait);
  return true;
}

namespace {

void ReportTarget(CMainScript& script, const std::string& file, const CScriptBlock& record) {
  static const std::string format =
      Utf8ToCp932("%s(%d): [%s file=\"%s\" label=\"%s\"] 指定された場所は見つかりません。");
  script.ReportFormat(format.c_str(), file.c_str(), record.m_line, record.m_text.c_str(),
                      record.GetAttribute("file").c_str(), record.GetAttribute("label").c_str());
}

}  // namespace

bool CMainScript::TagJump(const CScriptBlock& record, bool) {
  if (Jump(record.GetAttribute("file"), record.GetAttribute("label"))) ReportTarget(*this, m_cursor.m_file, record);
  return false;
}

bool CMainScript::TagCall(const CScriptBlock& record, bool) {
  if (Call(record.GetAttribute("file"), record.GetAttribute("label"))) ReportTarget(*this, m_cursor.m_file, record);
  return false;
}

bool CMainScript::TagReturn(const CScriptBlock&, bool) {
  if (Return()) {
    SetState(kEnded);
    return true;
  }
  return false;
}

// The body of a raw lua block ran when its file was loaded.
bool CMainScript::TagLua(const CScriptBlock&, bool) { return false; }
