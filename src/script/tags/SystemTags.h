// What the system tags keep between tags: the caption, the auto-mode sync
// list, the hide and backlog layer lists and the mode icons per window.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "script/MainScript.h"
#include "script/TagRegistry.h"

class CSystemTagState : public CTagFamilyState {
 public:
  void OnEvent(CMainScript& script, ScriptEvent event) override;

  // Title given by the last caption tag.
  std::string m_caption;
  std::vector<std::string> m_autoSyncList;
  std::set<std::string> m_hideLayers;
  std::set<std::string> m_backlogHideLayers;
  std::map<std::string, CMainScript::CIconInfo> m_autoIcons;
  std::map<std::string, CMainScript::CIconInfo> m_backlogIcons;
};
