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
#include "text/BackLog.h"
#include "text/TextRenderer.h"

class CMessageTagState : public CTagFamilyState {
 public:
  CMessageTagState();
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

  // ---- The backlog and the hide and backlog paths (BacklogTags.cpp) ----
  bool OpenBacklog(CMainScript& script) override;
  bool UpdateBacklog(CMainScript& script) override;
  // What the hidden and backlog states do to the message windows.
  void OnHidePathEvent(CMainScript& script, ScriptEvent event);
  // The end of the current window's page (rp): the main window's page goes
  // to the backlog with the fonts it began with; every window starts a new
  // replay list and remembers its font stack as the next page's start.
  void EndPage(CMainScript& script);
  // The current window's appear and vanish lists.
  const CTextRenderer::CTweenList& CurrentAppearList() const;
  const CTextRenderer::CTweenList& CurrentVanishList() const;
  CBackLog& GetBacklog() { return *m_backlog; }
  // A new empty backlog in place of the old one (loading reads into it).
  CBackLog& ResetBacklog();
  // Kept across a boot: the pages belong to the play session, and only
  // loading a game replaces them.
  std::unique_ptr<CBackLog> m_backlog;

 private:
  std::map<std::string, std::unique_ptr<CLinkableTextRenderer>> m_ownWindows;
};
