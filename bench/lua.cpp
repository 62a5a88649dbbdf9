// Cost of the Lua bridge. Each bridge figure has a baseline in the same run:
//   calllua of an empty function  vs  bare lua_getglobal + lua_pcall;
//   o:now() in a Lua loop         vs  the loop calling an empty C function
//                                     from the same method table;
//   o:tag{"var", ...}             vs  building the equal record in C++ and
//                                     handing it to the same host.
// Report the ratios.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

extern "C" {
#include <lua.h>
}

#include "lua/Lua.h"

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
    "function tag(o) o:tag{'var', name='f.x', data=1} end\n"
    "function grab(o) engine = o end\n";

struct Fixture {
  CountingHost host;
  CQelLua lua{&host, CLua::Options()};
  Fixture() {
    lua_State* L = lua.GetState();
    lua_getglobal(L, "CQelLua");
    lua_pushcfunction(L, &Empty);
    lua_setfield(L, -2, "__empty");
    lua_pop(L, 1);
    if (lua.RunChunk(kSetup) || lua.CallFunction("grab")) std::abort();
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

void BM_BaselineTagFromCpp(benchmark::State& state) {
  CountingHost host;
  for (auto _ : state) {
    CScriptBlock record;
    record.m_type = CScriptBlock::kTag;
    record.m_text = "var";
    record.m_attributes["name"] = "f.x";
    record.m_attributes["data"] = "1";
    host.LuaTag(record);
  }
  benchmark::DoNotOptimize(host.count);
}
BENCHMARK(BM_BaselineTagFromCpp);

void BM_TagFromLua(benchmark::State& state) {
  Fixture f;
  lua_State* L = f.lua.GetState();
  // Only the tag call, not the calllua around it.
  for (auto _ : state) {
    lua_getglobal(L, "tag");
    lua_getglobal(L, "engine");
    if (lua_pcall(L, 1, 0, 0)) lua_pop(L, 1);
  }
}
BENCHMARK(BM_TagFromLua);

}  // namespace
