// What the message tags keep between tags: the current message window, the
// window stack of chgmsg, ruby in progress and the click-wait glyphs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "script/MainScript.h"
#include "script/TagRegistry.h"

class CMessageTagState : public CTagFamilyState {
 public:
  void OnEvent(CMainScript& script, ScriptEvent event) override;

  std::string m_currentWindowId;
  std::vector<std::string> m_windowIdStack;
  bool m_rubyOn = false;
  std::string m_rubyBase;
  std::string m_rubyText;
  std::map<std::string, CMainScript::CGlyphInfo> m_glyphInfos;
  bool m_glyphShown = false;
};
