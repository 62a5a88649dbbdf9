// Lua tags: raw lua blocks (run when their file is loaded) and calllua.
#include <string>

#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"
#include "script/tags/TagUtil.h"

namespace {

// The per-frame handler's name (saved with the game).
class CLuaTagState : public CTagFamilyState {
 public:
  void OnEvent(CMainScript&, ScriptEvent event) override {
    if (event == ScriptEvent::kBoot) m_frameFunction.clear();
  }
  std::string m_frameFunction;
};

using State = CLuaTagState;

// The body of a raw lua block ran when its file was loaded.
bool Lua(State&, CMainScript&, const CScriptBlock&, bool) { return false; }

}  // namespace

void AddLuaTags(CTagRegistry& registry) {
  const TagReplay kNone = TagReplay::kNone;
  tagutil::AddFamilyOrDie(registry, "lua", &CreateFamilyState<State>,
                          {
                              TagRow<&Lua>("lua", {}, kNone, "a block of Lua code, run when its file is loaded"),
                              TagRow<&tagutil::NotYet<State>>("calllua", {"function"}, kNone,
                                                              "calls a global Lua function with the engine object"),
                          });
}
