// What the Lua family keeps: the Lua bridge (made on first use, kept for the
// interpreter's whole life, so Lua globals survive resets and loads) and the
// per-frame handler's name (saved with the game, emptied by a reset).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lua/Lua.h"
#include "script/TagRegistry.h"

class CLuaTagState : public CTagFamilyState, public ILuaHost {
 public:
  // Instructions a headless run lets one Lua call run when the command line
  // sets no -lua-limit.
  static constexpr uint64_t kDefaultHeadlessLimit = 100000000;

  CLuaTagState();
  ~CLuaTagState() override;

  void OnEvent(CMainScript& script, ScriptEvent event) override;
  void OnScriptLoaded(CMainScript& script, const std::string& file, const std::vector<CLoadedChunk>& chunks) override;
  void OnFrame(CMainScript& script) override;

  // The bridge, made on first use.
  CQelLua& GetLua(CMainScript& script);
  // Calls the global function name with the engine object; true on failure
  // (the bridge's error text tells why).
  bool CallFunction(CMainScript& script, const std::string& name);
  // True once Lua ran os.exit; the first time it asks the game window to
  // close (the engine's usual close path, which saves).
  bool CloseIfExiting(CMainScript& script);

  // ---- ILuaHost ------------------------------------------------------------
  void LuaDebug(const std::string& text) override;
  void LuaRejected(const std::string& text) override;
  uint32_t LuaNow() override;
  int LuaRandom() override;
  void LuaTag(const CScriptBlock& record) override;
  std::string LuaEvaluate(const std::string& expression) override;
  int LuaGetState() override;
  void LuaSetState(int state) override;
  void LuaSetFrameHandler(const std::string& name) override;
  bool LuaKey(int kind, int key) override;
  void LuaPointer(int& x, int& y) override;

  // Name of the per-frame handler; empty when none.
  std::string m_frameFunction;

 private:
  CMainScript* m_script = nullptr;
  std::unique_ptr<CQelLua> m_lua;
  bool m_closePosted = false;
  // The tag the bridge ran last and its row: a Lua loop calls one tag
  // again and again, and need not look it up each time.
  std::string m_lastTagName;
  const CTagRegistry* m_lastTagRegistry = nullptr;
  const CTagRow* m_lastTagRow = nullptr;
};
