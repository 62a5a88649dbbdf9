// What the message tags keep between tags: the current message window, the
// window stack of chgmsg, the font stacks, the effect lists, ruby in
// progress and the click-wait glyphs.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "script/MainScript.h"
#include "script/TagRegistry.h"
#include "text/BackLog.h"
#include "text/LinkableTextRenderer.h"

class CMessageTagState : public CTagFamilyState {
 public:
  using CTweenList = CTextRenderer::CTweenList;

  CMessageTagState();
  void OnEvent(CMainScript& script, ScriptEvent event) override;
  bool TextEffectsRunning(CMainScript& script) override;

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
  CTweenList m_defaultAppear;
  CTweenList m_defaultVanish;
  std::map<std::string, CTweenList> m_appearLists;
  std::map<std::string, CTweenList> m_vanishLists;

  // The current window's appear (vanish) list; empty when it has none.
  const CTweenList& AppearList() const;
  const CTweenList& VanishList() const;
  // What @ and stop do before they wait: running effects jump to their end,
  // and unless skipping the new text starts appearing.
  // With evenWhenSkipping the new text starts appearing while skipping too.
  void BeginWait(CMainScript& script, bool evenWhenSkipping = false);
  void HideGlyphLayers(CMainScript& script);
  void ShowGlyphLayer(CMainScript& script);
  std::weak_ptr<CMainScript*> Token(CMainScript& script) {
    if (!m_token) m_token = std::make_shared<CMainScript*>(&script);
    return m_token;
  }

  // ---- The backlog and the hide and backlog paths (BacklogTags.cpp) ----
  bool OpenBacklog(CMainScript& script) override;
  bool UpdateBacklog(CMainScript& script) override;
  // What the hidden and backlog states do to the message windows.
  void OnHidePathEvent(CMainScript& script, ScriptEvent event);
  // The end of the current window's page (rp): the main window's page goes
  // to the backlog with the fonts it began with; every window starts a new
  // replay list and remembers its font stack as the next page's start.
  void EndPage(CMainScript& script);
  CBackLog& GetBacklog() { return *m_backlog; }
  const ISerializable* SavedBacklog() override { return m_backlog.get(); }
  std::unique_ptr<ISerializable> NewSavedBacklog() override { return std::make_unique<CBackLog>(); }
  bool AdoptBacklog(std::unique_ptr<ISerializable>& backlog) override;
  // A new empty backlog in place of the old one (loading reads into it).
  CBackLog& ResetBacklog();
  // Kept across a boot: the pages belong to the play session, and only
  // loading a game replaces them.
  std::unique_ptr<CBackLog> m_backlog;

 private:
  std::map<std::string, std::unique_ptr<CLinkableTextRenderer>> m_ownWindows;
  // Link actions and gates reach the interpreter through this and do
  // nothing once it is gone (the windows outlive it in the graphic system).
  std::shared_ptr<CMainScript*> m_token;
};

// The scetween names: a param name (0..11), false for an unknown one
// (param untouched); the list types; the entry an "add" builds.
bool ParseEffectParam(const std::string& name, int32_t& param);
bool IsEffectListType(const std::string& type);
CTextRenderer::CTweenInfo MakeEffectEntry(const CScriptBlock& record);

// The stop tag's part in the message windows (the same as @ before it waits).
void BeginMessageWait(CMainScript& script, bool evenWhenSkipping = false);
