// What the layer tags keep between tags: the open tween queue, the pointer
// handlers of layers, and a token through which tween callbacks reach the
// interpreter only while it lives.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "scene/PointerEvents.h"
#include "scene/Tween.h"
#include "script/TagRegistry.h"

class CMainScript;

class CLayerTagState : public CTagFamilyState {
 public:
  ~CLayerTagState() override;
  bool OnWaitFrame(CMainScript& script, uint32_t now) override;
  // A restart drops the open tween queue and every pointer handler: the
  // scene they were made for is gone.
  void OnEvent(CMainScript& script, ScriptEvent event) override;

  // A weak handle to the interpreter for tween callbacks (which may outlive
  // it in the process-wide registry).
  std::weak_ptr<CMainScript*> Token(CMainScript& script);

  std::unique_ptr<CTweenQueue> m_queue;
  std::set<std::string> m_queuedIds;
  // A tween inside the open queue asked for the sync wait: closing the
  // queue enters it, and gives its id to the tweens that end it.
  bool m_queueSync = false;
  // ... and that tween is an endless yoyo.
  bool m_queueSyncEndless = false;
  std::shared_ptr<uint64_t> m_queueWait;
  CPointerEvents m_pointer;
  // The line of the tag that set each handler (click, rollover, rollout by
  // layer id), so that a save holds the tag's record as it was.
  std::map<std::string, int32_t> m_handlerLines[3];

 private:
  std::shared_ptr<CMainScript*> m_token;
};
