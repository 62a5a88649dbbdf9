// System tags: debug, caption, autosave, rclick, wait, automode, skip, exec
// and macroadd.
#include "core/GameWindow.h"
#include "platform/Platform.h"
#include "scene/GraphicSystem.h"
#include "script/MainScript.h"
#include "script/tags/TagUtil.h"

bool CMainScript::TagDebug(const CScriptBlock& record, bool) {
  m_errorMode = tagutil::Atoi(record.GetAttribute("mode"));
  // Mode 2 opens the debugging channel and mode 3 starts the debugging
  // server here once they exist; until then mode 2 only collects reports.
  return false;
}

bool CMainScript::TagCaption(const CScriptBlock& record, bool) {
  m_caption = record.GetAttribute("data");
  if (m_graphics && m_graphics->GetWindow()) platform::SetWindowTitle(m_graphics->GetWindow()->GetHandle(), m_caption);
  return false;
}

bool CMainScript::TagAutosave(const CScriptBlock& record, bool) {
  const std::string& allow = record.GetAttribute("allow");
  if (allow == "0" || allow == "1" || allow == "2") m_autosaveMode = allow[0] - '0';
  return false;
}

bool CMainScript::TagRclick(const CScriptBlock& record, bool) {
  const std::string& allow = record.GetAttribute("allow");
  if (allow == "0") m_rightClickEnabled = false;
  if (allow == "1") m_rightClickEnabled = true;
  return false;
}

bool CMainScript::TagWait(const CScriptBlock& record, bool) {
  // The current window finishes its running effects here once message
  // windows exist.
  if (record.HasAttribute("scenario")) {
    m_waitTextEffects = true;
    SetState(kSyncWait);
    return true;
  }
  m_waitDeadline = platform::GetTimeMs() + static_cast<uint32_t>(tagutil::Atoi(record.GetAttribute("time")));
  if (m_waitDeadline == 0) m_waitDeadline = 1;  // 0 means no deadline
  m_autoDeadline = false;
  const std::string& input = record.GetAttribute("input");
  if (input == "1") {
    SetState(kClickWait);
  } else if (input == "2" && IsSkipping()) {
    // No wait is entered, so no deadline may be left behind: it would end
    // the next click wait on its own.
    m_waitDeadline = 0;
  } else {
    SetState(kTimedWait);
  }
  return true;
}

bool CMainScript::TagAutomode(const CScriptBlock& record, bool) {
  CIconInfo& icon = m_autoIcons[m_currentWindowId];
  if (record.HasAttribute("layer")) {
    icon.m_on = true;
    icon.m_layer = record.GetAttribute("layer");
  } else {
    icon.m_on = false;
  }
  if (record.HasAttribute("syncse")) m_autoSyncList = tagutil::SplitCommaList(record.GetAttribute("syncse"));
  const std::string& allow = record.GetAttribute("allow");
  if (allow == "0" || allow == "1") SetAutoAllowed(allow == "1");
  return false;
}

bool CMainScript::TagSkip(const CScriptBlock& record, bool) {
  const std::string& allow = record.GetAttribute("allow");
  if (allow == "0" || allow == "1") SetSkipAllowed(allow == "1");
  return false;
}

bool CMainScript::TagExec(const CScriptBlock& record, bool) {
  const std::string& command = record.GetAttribute("command");
  if (command == "rclick") {
    m_requestRightClick = true;
  } else if (command == "skip") {
    SetSkip(!m_skipOn);
  } else if (command == "automode") {
    SetAutoMode(true);
  } else if (command == "hide") {
    m_requestHide = true;
  } else if (command == "backlog") {
    m_requestBacklog = true;
  }
  return false;
}

bool CMainScript::TagMacroAdd(const CScriptBlock& record, bool) {
  m_macroFiles.push_back(record.GetAttribute("file"));
  return false;
}
