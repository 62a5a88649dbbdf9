// Cost of the Lua bridge. Each bridge figure has a baseline in the same run:
//   calllua of an empty function  vs  bare lua_getglobal + lua_pcall;
//   o:now() in a Lua loop         vs  the loop calling an empty C function
//                                     from the same method table;
//   o:tag{"var", ...} in a Lua loop vs  building the equal record in C++
//                                     and dispatching it through the same
//                                     interpreter (a real game, headless).
// Report the ratios.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

extern "C" {
#include <lua.h>
}

#include "files/Config.h"
#include "lua/Lua.h"
#include "platform/FileSystem.h"
#include "platform/InputState.h"
#include "platform/Platform.h"
#include "script/MainScript.h"
#include "script/tags/LuaTags.h"
#include "script/tags/TagFamilies.h"
#include "BenchGame.h"

namespace {

class CountingHost : public ILuaHost {
 public:
  void LuaDebug(const std::string&) override {}
  void LuaRejected(const std::string&) override {}
  uint32_t LuaNow() override { return ++now; }
  int LuaRandom() override { return 0; }
  void LuaTag(const CScriptBlock& record) override { count += record.m_attributes.size(); }
  std::string LuaEvaluate(const std::string&) override { return std::string(); }
  int LuaGetState() override { return 0; }
  void LuaSetState(int) override {}
  void LuaSetFrameHandler(const std::string&) override {}
  bool LuaKey(int, int) override { return false; }
  void LuaPointer(int& x, int& y) override { x = y = 0; }
  uint32_t now = 0;
  size_t count = 0;
};

int Empty(lua_State*) { return 0; }

const char kSetup[] =
    "function empty(o) end\n"
    "function loop_now(o) for i = 1, 1000 do o:now() end end\n"
    "function loop_empty(o) for i = 1, 1000 do o:__empty() end end\n"
    "function table_empty(o) for i = 1, 1000 do o:__empty{'var', name='f.x', data=1} end end\n"
    "function tag_counting(o) for i = 1, 1000 do o:tag{'var', name='f.x', data=1} end end\n";

struct Fixture {
  CountingHost host;
  CQelLua lua{&host, CLua::Options()};
  Fixture() {
    lua_State* L = lua.GetState();
    lua_getglobal(L, "CQelLua");
    lua_pushcfunction(L, &Empty);
    lua_setfield(L, -2, "__empty");
    lua_pop(L, 1);
    if (lua.RunChunk(kSetup)) std::abort();
  }
};

void BM_BaselineBarePcall(benchmark::State& state) {
  Fixture f;
  lua_State* L = f.lua.GetState();
  for (auto _ : state) {
    lua_getglobal(L, "empty");
    if (lua_pcall(L, 0, 0, 0)) lua_pop(L, 1);
  }
}
BENCHMARK(BM_BaselineBarePcall);

void BM_CallluaEmpty(benchmark::State& state) {
  Fixture f;
  const std::string name = "empty";
  for (auto _ : state) benchmark::DoNotOptimize(f.lua.CallFunction(name));
}
BENCHMARK(BM_CallluaEmpty);

void BM_BaselineLoopEmptyMethod(benchmark::State& state) {
  Fixture f;
  const std::string name = "loop_empty";
  for (auto _ : state) benchmark::DoNotOptimize(f.lua.CallFunction(name));
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_BaselineLoopEmptyMethod);

void BM_LoopNow(benchmark::State& state) {
  Fixture f;
  const std::string name = "loop_now";
  for (auto _ : state) benchmark::DoNotOptimize(f.lua.CallFunction(name));
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_LoopNow);

// A headless game whose interpreter is the Lua host.
class TagGame : public bench::HeadlessGame {
 public:
  TagGame() : HeadlessGame("lua", {{"game.iet", "@\n"}}) {
    CLuaTagState* family = Booted() ? Script().FindFamily<CLuaTagState>() : nullptr;
    if (family) lua_ = &family->GetLua(Script());
    if (lua_ && (!lua_->IsOpen() ||
                 lua_->RunChunk("function tags(o) for i = 1, 1000 do o:tag{'var', name='f.x', data=1} end end")))
      lua_ = nullptr;
  }
  // The interpreter's own bridge; null when the game did not start.
  CQelLua* Lua() { return lua_; }

 private:
  CQelLua* lua_ = nullptr;
};

void BM_BaselineTagFromCpp(benchmark::State& state) {
  TagGame game;
  if (!game.Lua()) {
    state.SkipWithError("the game did not start");
    return;
  }
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      CScriptBlock record;
      record.m_type = CScriptBlock::kTag;
      record.m_line = 0;
      record.m_text = "var";
      record.m_attributes["name"] = "f.x";
      record.m_attributes["data"] = "1";
      game.Script().Dispatch(std::move(record), false);
    }
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_BaselineTagFromCpp);

void BM_TagFromLua(benchmark::State& state) {
  TagGame game;
  if (!game.Lua()) {
    state.SkipWithError("the game did not start");
    return;
  }
  const std::string name = "tags";
  for (auto _ : state) {
    if (game.Lua()->CallFunction(name)) {
      state.SkipWithError(game.Lua()->GetErrorText().c_str());
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_TagFromLua);

// Where the tag call's time goes: the Lua side alone (making the argument
// table and calling an empty method with it), and the bridge building the
// record for a host that only counts its attributes.
void BM_PartTableToEmptyMethod(benchmark::State& state) {
  Fixture f;
  const std::string name = "table_empty";
  for (auto _ : state) benchmark::DoNotOptimize(f.lua.CallFunction(name));
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_PartTableToEmptyMethod);

void BM_PartTagToCountingHost(benchmark::State& state) {
  Fixture f;
  const std::string name = "tag_counting";
  for (auto _ : state) benchmark::DoNotOptimize(f.lua.CallFunction(name));
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_PartTagToCountingHost);

}  // namespace
