// Lua tags: raw lua blocks (run when their file is loaded) and calllua, and
// the interpreter's side of the Lua bridge.
#include "script/tags/LuaTags.h"

#include <cstdlib>
#include <string>

#include "debug/LogWindow.h"
#include "files/Config.h"
#include "platform/InputState.h"
#include "platform/Log.h"
#include "platform/Messages.h"
#include "platform/Platform.h"
#include "scene/GraphicSystem.h"
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"
#include "script/tags/TagUtil.h"
#include "vars/QelVariables.h"

namespace {

// The options of the interpreter's Lua state. Headless runs must repeat and
// must not hang a test: a fixed clock and an instruction budget. A windowed
// game plays as long as its code likes.
CLua::Options LuaOptions() {
  CLua::Options options;
  if (!platform::IsHeadless()) return options;
  options.deterministicClock = true;
  options.instructionLimit = CLuaTagState::kDefaultHeadlessLimit;
  ArgumentMap arguments;
  if (!CDynamicVariables::Instance()->Get("ApplicationArguments", arguments)) {
    auto it = arguments.find("lua-limit");
    if (it != arguments.end()) options.instructionLimit = std::strtoull(it->second.c_str(), nullptr, 10);
  }
  return options;
}

std::string Format(const char* format, const std::string& a, long b, const std::string& c) {
  int n = std::snprintf(nullptr, 0, format, a.c_str(), b, c.c_str());
  if (n < 0) return std::string();
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, a.c_str(), b, c.c_str());
  text.resize(static_cast<size_t>(n));
  return text;
}

}  // namespace

CLuaTagState::CLuaTagState() = default;
CLuaTagState::~CLuaTagState() = default;

CQelLua& CLuaTagState::GetLua(CMainScript& script) {
  m_script = &script;
  if (!m_lua) m_lua = std::make_unique<CQelLua>(this, LuaOptions());
  return *m_lua;
}

bool CLuaTagState::CallFunction(CMainScript& script, const std::string& name) {
  CQelLua& lua = GetLua(script);
  if (!lua.IsOpen()) return true;
  const bool failed = lua.CallFunction(name);
  if (failed) CloseIfExiting(script);
  return failed;
}

bool CLuaTagState::CloseIfExiting(CMainScript& script) {
  if (!m_lua || !m_lua->IsExitRequested()) return false;
  if (m_closePosted) return true;
  m_closePosted = true;
  LogWrite("lua: os.exit; the game closes");
  // The window's close path saves what closing saves and ends with code 0.
  CGraphicSystem* graphics = script.GetGraphics();
  if (graphics && graphics->GetWindowHandle())
    platform::PostMessage(graphics->GetWindowHandle(), platform::WM_CLOSE, 0, 0);
  return true;
}

void CLuaTagState::OnEvent(CMainScript& script, ScriptEvent event) {
  if (event == ScriptEvent::kBoot) m_frameFunction.clear();
}

void CLuaTagState::OnScriptLoaded(CMainScript& script, const std::string& file,
                                  const std::vector<CLoadedChunk>& chunks) {
  if (chunks.empty()) return;
  CQelLua& lua = GetLua(script);
  for (const CLoadedChunk& chunk : chunks) {
    if (!lua.IsOpen() || lua.RunChunk(chunk.text)) {
      if (CloseIfExiting(script)) return;
      // Shown in the log window whatever the error mode: a broken block is
      // the author's to see at once. The -log file counts it as a problem.
      const std::string text = Format("%s(%ld): [LUA] %s", file, chunk.line, lua.GetErrorText());
      LogProblem(text);
      LogPrintText(text);
    }
  }
}

void CLuaTagState::OnFrame(CMainScript& script) {
  if (m_frameFunction.empty()) return;
  std::string name = m_frameFunction;
  if (!CallFunction(script, name) || CloseIfExiting(script)) return;
  script.ReportFormat("[LUA] OnEnterFrame -> %s(): %s", name.c_str(), m_lua->GetErrorText().c_str());
  // A handler that fails is not called again, nor one it named before it
  // failed.
  m_frameFunction.clear();
}

// ---- ILuaHost --------------------------------------------------------------

void CLuaTagState::LuaDebug(const std::string& text) {
  int mode = m_script->GetErrorMode();
  // A note the game writes for itself, not a fault: -strict does not count it.
  if (mode == CMainScript::kErrorLogWindow || mode == CMainScript::kErrorChannel) m_script->Trace("LUA: " + text);
}

void CLuaTagState::LuaRejected(const std::string& text) {
  if (m_script->GetErrorMode() == CMainScript::kErrorLogWindow) m_script->Report(text);
}

uint32_t CLuaTagState::LuaNow() { return platform::GetTimeMs(); }

int CLuaTagState::LuaRandom() { return m_script->NextRandom(); }

// The bridge keeps the record until the call returns: no copy needed.
void CLuaTagState::LuaTag(const CScriptBlock& record) {
  const CTagRegistry& registry = m_script->GetTagRegistry();
  if (m_lastTagRegistry != &registry || record.m_text != m_lastTagName) {
    // Names are short; a long one is looked up each time rather than kept.
    constexpr size_t kMaxKeptName = 64;
    m_lastTagRow = registry.Find(record.m_text);
    m_lastTagRegistry = &registry;
    if (record.m_text.size() <= kMaxKeptName) {
      m_lastTagName = record.m_text;
    } else {
      m_lastTagName.clear();
      m_lastTagRow = nullptr;
    }
  }
  m_script->DispatchStored(record, m_lastTagRow);
}

std::string CLuaTagState::LuaEvaluate(const std::string& expression) {
  return m_script->GetVariables().Evaluate(expression);
}

int CLuaTagState::LuaGetState() { return m_script->GetState(); }

void CLuaTagState::LuaSetState(int state) {
  CMainScript::CCaret& cursor = m_script->GetCursor();
  cursor.m_previousState = cursor.m_state;
  cursor.m_state = state;
  // A sync wait of its own: no tween made for an earlier one ends it.
  if (state == CMainScript::kSyncWait) cursor.m_syncWaitId = m_script->NewSyncWaitId();
  // Running again: the wait that was left takes its timer and its text
  // effect condition along, or they would end the next wait early.
  if (state == CMainScript::kRunning) {
    m_script->SetWaitDeadline(0);
    cursor.m_waitTextEffects = false;
  }
}

void CLuaTagState::LuaSetFrameHandler(const std::string& name) { m_frameFunction = name; }

bool CLuaTagState::LuaKey(int kind, int key) {
  CInputState* input = m_script->GetInput();
  if (!input) return false;
  switch (kind) {
    case 0: return input->IsPush(key);
    case 1: return input->IsDown(key);
    case 2: return input->IsDownEdge(key);
    default: return input->IsUpEdge(key);
  }
}

void CLuaTagState::LuaPointer(int& x, int& y) {
  CInputState* input = m_script->GetInput();
  if (!input) return;
  platform::Point point = input->GetPointer();
  x = point.x;
  y = point.y;
}

// ---- Tags ------------------------------------------------------------------

namespace {

using State = CLuaTagState;

// The body of a raw lua block ran when its file was loaded.
bool Lua(State&, CMainScript&, const CScriptBlock&, bool) { return false; }

bool CallLua(State& state, CMainScript& script, const CScriptBlock& record, bool) {
  // The record may live in the script store, which Lua can change (a jump
  // that loads a file): take what the report needs before calling. The
  // report names the script the cursor is in when it is made.
  std::string name = record.GetAttribute("function");
  long line = record.m_line;
  if (state.CallFunction(script, name)) {
    // After os.exit the game only waits for its window to close.
    if (state.CloseIfExiting(script)) return true;
    script.Report(Format("%s(%ld): [LUA] %s", script.GetCursor().m_file, line, state.GetLua(script).GetErrorText()));
  }
  return false;
}

}  // namespace

void AddLuaTags(CTagRegistry& registry) {
  const TagReplay kNone = TagReplay::kNone;
  tagutil::AddFamilyOrDie(
      registry, "lua", &CreateFamilyState<State>,
      {
          TagRow<&Lua>("lua", {}, kNone, "a block of Lua code, run when its file is loaded"),
          TagRow<&CallLua>("calllua", {"function"}, kNone, "calls a global Lua function with the engine object"),
      });
}
