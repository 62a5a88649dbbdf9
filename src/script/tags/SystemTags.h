// What the system tags keep between tags: the caption, the auto-mode sync
// list, the hide and backlog layer lists and the mode icons per window.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "script/MainScript.h"
#include "script/TagRegistry.h"

class CVideoPlayer;

class CSystemTagState : public CTagFamilyState {
 public:
  ~CSystemTagState() override;
  void OnEvent(CMainScript& script, ScriptEvent event) override;
  bool PollMovie(CMainScript& script, bool stop) override;
  // Shows or hides the current window's auto icon layer (auto mode on/off).
  void ShowAutoIcon(CMainScript& script, bool show);
  // The movie player of the graphic system, made by the first video tag
  // (shared with the graphic system's render step).
  std::shared_ptr<CVideoPlayer> m_video;
  // The video tag ran in this frame: the key that led to it does not skip it.
  bool m_videoJustStarted = false;

  // Title given by the last caption tag.
  std::string m_caption;
  std::vector<std::string> m_autoSyncList;
  std::set<std::string> m_hideLayers;
  std::set<std::string> m_backlogHideLayers;
  std::map<std::string, CMainScript::CIconInfo> m_autoIcons;
  std::map<std::string, CMainScript::CIconInfo> m_backlogIcons;

 private:
  // The layer side of hiding the messages and of the backlog view.
  void FadeHidePath(CMainScript& script, ScriptEvent event);
};
