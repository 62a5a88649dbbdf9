// What the message tags keep between tags: the current message window, the
// window stack of chgmsg, the font stacks, ruby in progress and the
// click-wait glyphs.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "script/MainScript.h"
#include "script/TagRegistry.h"
#include "text/LinkableTextRenderer.h"

class CMessageTagState : public CTagFamilyState {
 public:
  void OnEvent(CMainScript& script, ScriptEvent event) override;

  // The window under the id, made when there is none. Windows live in the
  // graphic system; an interpreter without one keeps its own.
  CLinkableTextRenderer* SelectWindow(CMainScript& script, const std::string& id);
  CLinkableTextRenderer* FindWindow(CMainScript& script, const std::string& id) const;
  // The window of the current id (made when needed).
  CLinkableTextRenderer* CurrentWindow(CMainScript& script) { return SelectWindow(script, m_currentWindowId); }

  std::string m_currentWindowId;
  std::vector<std::string> m_windowIdStack;
  std::map<std::string, std::vector<CFontProperty>> m_fontStacks;
  bool m_rubyOn = false;
  std::string m_rubyBase;
  std::string m_rubyText;
  std::map<std::string, CMainScript::CGlyphInfo> m_glyphInfos;
  bool m_glyphShown = false;

 private:
  std::map<std::string, std::unique_ptr<CLinkableTextRenderer>> m_ownWindows;
};

// Applies the attributes of a font tag to the values (unknown names of the
// enumerated attributes leave them).
void ApplyFontAttributes(const CScriptBlock& record, CFontValues& font);
