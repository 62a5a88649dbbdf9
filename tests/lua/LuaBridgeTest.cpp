// The Lua bridge on its own, with a recording host in place of the
// interpreter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "lua/Lua.h"
#include "platform/TextCodec.h"

namespace {

class FakeHost : public ILuaHost {
 public:
  void LuaDebug(const std::string& text) override { debug.push_back(text); }
  void LuaRejected(const std::string& text) override { rejected.push_back(text); }
  uint32_t LuaNow() override { return now; }
  int LuaRandom() override { return 4242; }
  void LuaTag(const CScriptBlock& record) override {
    tags.push_back(record);
    // A tag may call back into Lua (calllua); the bridge must allow it, and
    // the record must stay as it was while the nested call builds others.
    if (record.m_text == "calllua" && lua) {
      const CScriptBlock before = record;
      if (lua->CallFunction(record.GetAttribute("function"))) errors.push_back(lua->GetErrorText());
      if (!(record == before)) errors.push_back("record changed");
    }
  }
  std::string LuaEvaluate(const std::string& expression) override { return expression == "1+2" ? "3" : ""; }
  int LuaGetState() override { return state; }
  void LuaSetState(int s) override { state = s; }
  void LuaSetFrameHandler(const std::string& name) override { handler = name; }
  bool LuaKey(int kind, int key) override {
    keys.push_back(kind * 1000 + key);
    return key == 13;
  }
  void LuaPointer(int& x, int& y) override {
    x = 12;
    y = 34;
  }

  std::vector<std::string> debug, rejected, errors;
  std::vector<CScriptBlock> tags;
  std::vector<int> keys;
  uint32_t now = 1000000;
  int state = 1;
  std::string handler;
  CQelLua* lua = nullptr;
};

class LuaBridge : public ::testing::Test {
 protected:
  void SetUp() override { Make(CLua::Options()); }
  void Make(const CLua::Options& options) {
    lua_.reset();
    lua_ = std::make_unique<CQelLua>(&host_, options);
    host_.lua = lua_.get();
    ASSERT_TRUE(lua_->IsOpen()) << lua_->GetErrorText();
  }
  // Runs a chunk and then calls main(o); returns the error text, empty when
  // both succeeded.
  std::string Run(const std::string& code) {
    if (lua_->RunChunk(code)) return "chunk: " + lua_->GetErrorText();
    if (lua_->CallFunction("main")) return lua_->GetErrorText();
    return "";
  }
  // A global's value as text (through tostring).
  std::string Global(const std::string& name) {
    EXPECT_FALSE(lua_->RunChunk("__probe = tostring(" + name + ")"));
    EXPECT_TRUE(lua_->RunChunk("error(__probe, 0)"));
    return lua_->GetErrorText();
  }

  FakeHost host_;
  std::unique_ptr<CQelLua> lua_;
};

TEST_F(LuaBridge, TagBuildsRecordsFromStringsAndTables) {
  EXPECT_EQ(Run("function main(o) o:tag{'lyprop', id='bg', left=100, [2]='x', top=-3.9, flag=true} "
                "o:tag('flip') o:tag{id='x'} end"),
            "");
  ASSERT_EQ(host_.tags.size(), 3u);
  const CScriptBlock& first = host_.tags[0];
  EXPECT_EQ(first.m_type, CScriptBlock::kTag);
  EXPECT_EQ(first.m_line, 0);
  EXPECT_EQ(first.m_text, "lyprop");
  EXPECT_EQ(first.m_attributes.size(), 3u);  // id, left, top; the boolean and [2] are ignored
  EXPECT_EQ(first.GetAttribute("left"), "100");
  EXPECT_EQ(first.GetAttribute("top"), "-3");
  EXPECT_EQ(host_.tags[1].m_text, "flip");
  EXPECT_TRUE(host_.tags[1].m_attributes.empty());
  EXPECT_EQ(host_.tags[2].m_text, "");
  EXPECT_EQ(host_.tags[2].m_attributes, (CScriptBlock::AttributeMap{{"id", "x"}}));
}

TEST_F(LuaBridge, TagCallsWithExtraArgumentsAndTheirTablesAreCollected) {
  // Every call makes a table that is garbage at once; the collector runs
  // less often than by default but still keeps the heap small.
  EXPECT_EQ(Run("function main(o) for i = 1, 50000 do o:tag({'var', name='f.x', data=i}, 'extra', {}) end "
                "heap = collectgarbage('count') end"),
            "");
  ASSERT_EQ(host_.tags.size(), 50000u);
  EXPECT_EQ(host_.tags.back().m_text, "var");
  EXPECT_EQ(host_.tags.back().GetAttribute("data"), "50000");
  EXPECT_EQ(host_.tags.back().m_attributes.size(), 2u);
  EXPECT_LT(std::stod(Global("heap")), 4096.0);  // kilobytes
}

TEST_F(LuaBridge, NestedTagsLeaveTheOuterRecordAndTheStackAlone) {
  EXPECT_EQ(Run("function inner(o) o:tag{'inner', a='1', b='2', c='3'} end "
                "function bad(o) o:tag{'x', z=1} error('bad') end "
                "function main(o) local keep = 7 "
                "  for i = 1, 9000 do o:tag{'calllua', ['function']='bad', n=i} end "
                "  o:tag{'calllua', ['function']='inner', extra='e'} o:tag{'last'} r = keep end"),
            "");
  EXPECT_EQ(Global("r"), "7");
  // Every failing nested call was reported; none changed the record the
  // host was reading.
  ASSERT_EQ(host_.errors.size(), 9000u);
  EXPECT_NE(host_.errors[0].find("bad"), std::string::npos) << host_.errors[0];
  EXPECT_EQ(std::count(host_.errors.begin(), host_.errors.end(), "record changed"), 0);
  ASSERT_EQ(host_.tags.size(), 18003u);
  EXPECT_EQ(host_.tags[18001].m_text, "inner");
  EXPECT_EQ(host_.tags[18001].m_attributes.size(), 3u);
  EXPECT_EQ(host_.tags[18000].GetAttribute("extra"), "e");
  EXPECT_EQ(host_.tags[18002].m_text, "last");
  EXPECT_TRUE(host_.tags[18002].m_attributes.empty());
}

TEST_F(LuaBridge, FinalizersRunningAtCloseDoNotReachTheHost) {
  EXPECT_EQ(Run("function main(o) local p = newproxy(true) "
                "getmetatable(p).__gc = function() o:tag{'late', a=1} o:debug(tostring(o:now())) os.time() end "
                "keep = p end"),
            "");
  CLua::Options options;
  options.deterministicClock = true;
  lua_ = std::make_unique<CQelLua>(&host_, options);
  host_.lua = lua_.get();
  EXPECT_EQ(Run("function main(o) local p = newproxy(true) "
                "getmetatable(p).__gc = function() o:tag{'late', a=1} os.time() end keep = p end"),
            "");
  lua_.reset();
  EXPECT_TRUE(host_.tags.empty());
  EXPECT_TRUE(host_.debug.empty());
}

TEST_F(LuaBridge, CallsFollowTheGlobalAsItIsNow) {
  EXPECT_EQ(Run("function main() r = 1 end"), "");
  EXPECT_EQ(Run("function main() r = 2 end"), "");
  EXPECT_EQ(Global("r"), "2");
  EXPECT_FALSE(lua_->RunChunk("function other() r = 3 end main = nil"));
  EXPECT_TRUE(lua_->CallFunction("main"));
  EXPECT_FALSE(lua_->CallFunction("other"));
  EXPECT_EQ(Global("r"), "3");
  // A name with a NUL in it is looked up up to the NUL, as always.
  EXPECT_FALSE(lua_->CallFunction(std::string("other\0tail", 10)));
  // The registry is reachable from Lua; overwriting it must not crash.
  EXPECT_FALSE(lua_->RunChunk("for k in pairs(debug.getregistry()) do debug.getregistry()[k] = 5 end"));
  EXPECT_TRUE(lua_->CallFunction("other"));
  EXPECT_TRUE(lua_->CallFunction("other"));
}

TEST_F(LuaBridge, MethodsReachTheHost) {
  EXPECT_EQ(Run("function main(o) r = {o:var('1+2'), o:now(), o:random(), o:getScriptStatus(), "
                "o:isPush(13), o:isDown(1), o:isDownEdge(2), o:isUpEdge(3)} "
                "local p = o:getMousePoint() r.x, r.y = p.x, p.y o:setScriptStatus(0) "
                "o:setEventHandler{onEnterFrame='tick', other='x', [1]='y'} o:debug('hello') end"),
            "");
  EXPECT_EQ(
      Global("(function() local s = {} for i = 1, 8 do s[i] = tostring(r[i]) end return table.concat(s, ',') end)()"),
      "3,1000000,4242,1,true,false,false,false");
  EXPECT_EQ(Global("r.x .. ',' .. r.y"), "12,34");
  EXPECT_EQ(host_.keys, (std::vector<int>{13, 1001, 2002, 3003}));
  EXPECT_EQ(host_.state, 0);
  EXPECT_EQ(host_.handler, "tick");
  EXPECT_EQ(host_.debug, std::vector<std::string>{"hello"});
}

TEST_F(LuaBridge, BadArgumentsAreRefusedWithoutRaising) {
  EXPECT_EQ(Run("function main(o) r = {o:var(5), o:isPush('a'), o:tag(true), o:debug(1), "
                "o:setEventHandler('x'), o:setScriptStatus('1')} n = select('#', o:var(5)) "
                "k = select('#', o:isDown('x')) t = tostring(o:isUpEdge({})) .. tostring(o:var(nil)) end"),
            "");
  // A method with a result gives nil, so the call can stand as an argument.
  EXPECT_EQ(Global("#r .. ',' .. n .. ',' .. k .. ',' .. t"), "0,1,1,nilnil");
  ASSERT_EQ(host_.rejected.size(), 10u);
  EXPECT_EQ(host_.rejected[0], Utf8ToCp932("LUA: varメソャhの引数が不正です。"));
  EXPECT_EQ(host_.rejected[1], Utf8ToCp932("LUA: isPushメソャhの引数が不正です。"));
  EXPECT_EQ(host_.rejected[5], Utf8ToCp932("LUA: setScriptStatusメソャhの引数が不正です。"));
  EXPECT_TRUE(host_.tags.empty());
  EXPECT_EQ(host_.state, 1);
}

TEST_F(LuaBridge, ScriptStatusTakesAnyNumberButNaN) {
  // A game may park the interpreter in a state of its own and bring it back
  // from the per-frame handler; only a number that is no number is refused.
  for (auto [value, expected] : std::vector<std::pair<const char*, int>>{
           {"10", 10}, {"-1", -1}, {"42.9", 42}, {"1/0", INT32_MAX}, {"-1/0", INT32_MIN}, {"4294967296", INT32_MAX}}) {
    host_.state = 1;
    EXPECT_EQ(Run(std::string("function main(o) o:setScriptStatus(") + value + ") end"), "");
    EXPECT_EQ(host_.state, expected) << value;
  }
  host_.state = 1;
  EXPECT_EQ(Run("function main(o) o:setScriptStatus(0/0) end"), "");
  EXPECT_EQ(host_.state, 1);
}

TEST_F(LuaBridge, NumbersConvertSafely) {
  EXPECT_EQ(CLua::ToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(CLua::ToInt32(INFINITY), INT32_MAX);
  EXPECT_EQ(CLua::ToInt32(-INFINITY), INT32_MIN);
  EXPECT_EQ(CLua::ToInt32(1e300), INT32_MAX);
  EXPECT_EQ(CLua::ToInt32(-2.7), -2);
  EXPECT_EQ(Run("function main(o) o:tag{'t', a=0/0, b=1/0, c=-1e20} o:isDown(0/0) end"), "");
  ASSERT_EQ(host_.tags.size(), 1u);
  EXPECT_EQ(host_.tags[0].GetAttribute("a"), "0");
  EXPECT_EQ(host_.tags[0].GetAttribute("b"), "2147483647");
  EXPECT_EQ(host_.tags[0].GetAttribute("c"), "-2147483648");
  EXPECT_EQ(host_.keys.back(), 1000);
}

TEST_F(LuaBridge, MethodsOnAnythingButTheEngineObjectRaise) {
  for (const char* call : {"CQelLua.now({})", "CQelLua.now()", "CQelLua.tag(newproxy(), 'x')", "CQelLua.now(io.stdout)",
                           "CQelLua.var(1, '1')"}) {
    std::string error = Run(std::string("function main(o) ") + call + " end");
    EXPECT_NE(error.find("CQelLua expected"), std::string::npos) << call << ": " << error;
  }
  EXPECT_TRUE(host_.tags.empty());
  std::string error = Run("function main(o) local m = getmetatable(o) end");
  EXPECT_EQ(error, "");
  EXPECT_EQ(Global("getmetatable(CQelLua) == nil and type(CQelLua.tag)"), "function");
}

TEST_F(LuaBridge, ErrorValuesOfEveryTypeAreReported) {
  EXPECT_EQ(Run("function main() error(nil) end"), "(error object is a nil value)");
  EXPECT_EQ(Run("function main() error({}) end"), "(error object is a table value)");
  EXPECT_EQ(Run("function main() error(true) end"), "(error object is a boolean value)");
  EXPECT_EQ(Run("function main() error(42, 0) end"), "42");
  EXPECT_EQ(Run("function main() error(setmetatable({}, {__tostring=function() return 'custom' end})) end"), "custom");
  EXPECT_EQ(Run("function main() error(setmetatable({}, {__tostring=function() error('x') end})) end"),
            "(error object is a table value)");
  EXPECT_EQ(Run("function main() error('plain', 0) end"), "plain");
}

TEST_F(LuaBridge, MissingFunctionsAndStrictGlobalsFailCleanly) {
  EXPECT_TRUE(lua_->CallFunction("nothing_here"));
  EXPECT_NE(lua_->GetErrorText().find("attempt to call a nil value"), std::string::npos);
  ASSERT_FALSE(lua_->RunChunk("setmetatable(_G, {__index=function(t, k) error('undeclared ' .. k, 2) end})"));
  EXPECT_TRUE(lua_->CallFunction("nothing_here"));
  EXPECT_NE(lua_->GetErrorText().find("undeclared nothing_here"), std::string::npos);
}

TEST_F(LuaBridge, ChunksReportSyntaxAndRuntimeErrors) {
  EXPECT_TRUE(lua_->RunChunk("x = = 1"));
  EXPECT_NE(lua_->GetErrorText().find("[string \"x = = 1\"]:1:"), std::string::npos) << lua_->GetErrorText();
  EXPECT_TRUE(lua_->RunChunk("local t = nil\nreturn t.x"));
  EXPECT_NE(lua_->GetErrorText().find(":2:"), std::string::npos) << lua_->GetErrorText();
  std::string error;
  EXPECT_TRUE(CLua::CheckSyntax("function (", error));
  EXPECT_FALSE(CLua::CheckSyntax("while true do end", error));
}

TEST_F(LuaBridge, SelfRecursionThroughTagsEndsInAReport) {
  EXPECT_EQ(Run("depth = 0 function main(o) depth = depth + 1 o:tag{'calllua', ['function']='main'} end"), "");
  ASSERT_EQ(host_.errors.size(), 1u);
  EXPECT_EQ(host_.errors[0], "Lua calls nested too deeply");
  EXPECT_EQ(Global("depth"), std::to_string(CLua::kMaxDepth));
  // And the state is usable afterwards.
  EXPECT_EQ(Run("function main(o) ok = 1 end"), "");
}

TEST_F(LuaBridge, CoroutinesMayCallTheEngine) {
  EXPECT_EQ(Run("function inner(o) hits = (hits or 0) + 1 end "
                "function main(o) local co = coroutine.wrap(function() o:tag{'calllua', ['function']='inner'} "
                "coroutine.yield() o:tag('x') end) co() co() end"),
            "");
  EXPECT_EQ(Global("hits"), "1");
  EXPECT_TRUE(host_.errors.empty());
}

TEST_F(LuaBridge, InstructionLimitStopsEndlessLoops) {
  CLua::Options options;
  options.instructionLimit = 100000;
  Make(options);
  std::string error = Run("function main() while true do end end");
  EXPECT_NE(error.find("instruction limit"), std::string::npos) << error;
  // A loop that catches the error is stopped all the same.
  error = Run("function main() while true do pcall(function() while true do end end) end end");
  EXPECT_NE(error.find("instruction limit"), std::string::npos) << error;
  // Each call starts with a fresh budget.
  EXPECT_EQ(Run("function main() for i = 1, 1000 do end end"), "");
  // Coroutines too short to be counted, each calling back into Lua four
  // times: without a charge for each, they would branch on for ever.
  error =
      Run("function main(o) for i = 1, 4 do coroutine.wrap(function() o:tag{'calllua', ['function']='main'} end)() end "
          "end");
  EXPECT_NE(error.find("instruction limit"), std::string::npos) << error;
  EXPECT_EQ(Run("function main() return coroutine.wrap(function() return 1 end)() end"), "");
}

TEST_F(LuaBridge, MemoryLimitFailsInsteadOfGrowing) {
  CLua::Options options;
  options.memoryLimit = 4 << 20;
  Make(options);
  std::string error = Run("function main() local t = {} for i = 1, 1e8 do t[i] = i end end");
  EXPECT_NE(error.find("not enough memory"), std::string::npos) << error;
  EXPECT_EQ(Run("function main() collectgarbage() end"), "");
  // Small blocks made and freed in great numbers are counted back exactly:
  // a churn far larger than the cap never reaches it.
  Make(options);
  EXPECT_EQ(Run("function main(o) for i = 1, 200000 do local t = {i, tostring(i), x = {}, y = 'v' .. i} end end"), "");
  error = Run("function main() local t = {} for i = 1, 1e8 do t[i] = i end end");
  EXPECT_NE(error.find("not enough memory"), std::string::npos) << error;
}

TEST_F(LuaBridge, DeterministicClockFollowsTheHost) {
  CLua::Options options;
  options.deterministicClock = true;
  Make(options);
  host_.now = 1000000;
  EXPECT_EQ(Run("function main() t, c, d = os.time(), os.clock(), os.date('!%Y-%m-%d %H:%M:%S') end"), "");
  EXPECT_EQ(Global("t"), "946685800");
  EXPECT_EQ(Global("c"), "1000");
  EXPECT_EQ(Global("d"), "2000-01-01 00:16:40");
  host_.now += 2500;
  EXPECT_EQ(Run("function main() t = os.time() d = os.date('!%H:%M:%S', 0) end"), "");
  EXPECT_EQ(Global("t"), "946685802");
  EXPECT_EQ(Global("d"), "00:00:00");
  EXPECT_EQ(Global("os.time{year=2001, month=1, day=1, hour=12} > 0"), "true");
}

TEST_F(LuaBridge, BinaryChunksCanBeRefused) {
  CLua::Options options;
  options.refuseBinary = true;
  Make(options);
  EXPECT_TRUE(lua_->RunChunk("\x1bLua\x51"));
  EXPECT_NE(lua_->GetErrorText().find("precompiled"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(LuaBridge, ExitUnwindsTheCallAndNothingRunsAfterIt) {
  EXPECT_FALSE(lua_->IsExitRequested());
  // Neither pcall nor a coroutine swallows it; the code after it never runs.
  std::string error = Run("function main(o) pcall(os.exit, 3) o:tag{'after'} end");
  EXPECT_TRUE(lua_->IsExitRequested());
  EXPECT_NE(error.find("os.exit"), std::string::npos) << error;
  EXPECT_TRUE(host_.tags.empty());
  // Every later call fails at once.
  EXPECT_TRUE(lua_->RunChunk("x = 1"));
  EXPECT_TRUE(lua_->CallFunction("main"));
}

TEST_F(LuaBridge, ExitInsideANestedCallEndsTheOuterOneToo) {
  EXPECT_NE(Run("function quit(o) os.exit() end "
                "function main(o) local co = coroutine.wrap(function() o:tag{'calllua', ['function']='quit'} end) "
                "pcall(co) o:tag{'after'} end"),
            "");
  EXPECT_TRUE(lua_->IsExitRequested());
  ASSERT_EQ(host_.tags.size(), 1u);
  EXPECT_EQ(host_.tags[0].m_text, "calllua");
}

}  // namespace
