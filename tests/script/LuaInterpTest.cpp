// The Lua bridge inside the interpreter: raw blocks at load time, calllua,
// the per-frame handler, and Lua driving tags, waits and input.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "InterpHarness.h"
#include "debug/LogWindow.h"
#include "platform/Log.h"
#include "platform/VirtualKeys.h"
#include "script/tags/LuaTags.h"

namespace {

class LuaInterp : public InterpHarness {
 protected:
  void TearDown() override {
    LogClose();
    InterpHarness::TearDown();
  }
  // Starts "game.iet" with reports collected (error mode 2) and the -log
  // file open.
  void Run(const std::string& body, int frames = 1) {
    ASSERT_FALSE(LogOpen((dir_ / "run.log").string()));
    WriteFile("game.iet", body);
    ASSERT_FALSE(Start());
    for (int i = 0; i < frames; ++i) Frame();
  }
  std::string Reports() { return script_->GetReportBuffer(); }
  std::string Log() {
    LogClose();
    std::ifstream in(dir_ / "run.log", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  CLuaTagState& Lua() { return *script_->FindFamily<CLuaTagState>(); }
};

TEST_F(LuaInterp, ChunksRunAtLoadInFileOrder) {
  // The calllua comes before the block that defines its function.
  Run("[debug mode=2]\n[calllua function=late]\n[lua]order = 'a'[/lua]\n[lua][/lua]\n"
      "[lua]order = order .. 'b'\nfunction late(o) o:tag{'var', name='f.n', data=order} end[/lua]\n");
  EXPECT_EQ(Var("f.n"), "ab");
  const std::string reports = Reports();
  EXPECT_EQ(reports.find("[LUA]"), std::string::npos) << reports;
  // Reached later, every block, the empty one too, is left with an empty script.
  EXPECT_NE(reports.find("game.iet(3): lua script=\"\"()"), std::string::npos) << reports;
  EXPECT_NE(reports.find("game.iet(4): lua script=\"\"()"), std::string::npos) << reports;
}

TEST_F(LuaInterp, BrokenChunkIsLoggedAndTheFileStillLoads) {
  // Error mode 0, which reports nothing else: a broken block still shows in
  // the log window and the -log file, and the blocks after it run.
  DestroyLogWindow();
  Run("[var name=f.a data=1]\n\n[lua]x = = 1[/lua]\n[lua]after = 'ran'[/lua]\n[calllua function=mark]\n"
      "[var name=f.b data=2]\n[lua]function mark(o) o:tag{'var', name='f.after', data=after} end[/lua]\n");
  EXPECT_EQ(Var("f.b"), "2");
  EXPECT_EQ(Var("f.after"), "ran");
  const char kReport[] = "game.iet(3): [LUA] [string \"x = = 1\"]:1:";
  ASSERT_NE(FindLogWindow(), nullptr);
  const std::string window = FindLogWindow()->TextUtf8();
  EXPECT_NE(window.find(kReport), std::string::npos) << window;
  EXPECT_EQ(window.find("[LUA]", window.find(kReport) + sizeof kReport), std::string::npos) << window;
  std::string log = Log();
  EXPECT_NE(log.find(kReport), std::string::npos) << log;
  DestroyLogWindow();
}

TEST_F(LuaInterp, CallluaReportsAndTheScriptGoesOn) {
  Run("[debug mode=2]\n[calllua function=missing]\n[var name=f.after data=1]\n");
  EXPECT_EQ(Var("f.after"), "1");
  EXPECT_NE(Reports().find("game.iet(2): [LUA] "), std::string::npos) << Reports();
  EXPECT_NE(Reports().find("attempt to call a nil value"), std::string::npos) << Reports();
}

TEST_F(LuaInterp, StrictGlobalsAndOddErrorValuesAreReported) {
  Run("[debug mode=2]\n[lua]function e1() error(nil) end function e2() error({}) end\n"
      "function e3() error(setmetatable({}, {__tostring = function() return 'shown' end})) end\n"
      "setmetatable(_G, {__index = function(t, k) error('undeclared ' .. k) end})[/lua]\n"
      "[calllua function=e1][calllua function=e2][calllua function=e3][calllua function=nope]\n"
      "[var name=f.after data=1]\n");
  EXPECT_EQ(Var("f.after"), "1");
  std::string reports = Reports();
  EXPECT_NE(reports.find("[LUA] (error object is a nil value)"), std::string::npos) << reports;
  EXPECT_NE(reports.find("[LUA] (error object is a table value)"), std::string::npos) << reports;
  EXPECT_NE(reports.find("[LUA] shown"), std::string::npos) << reports;
  EXPECT_NE(reports.find("undeclared nope"), std::string::npos) << reports;
}

TEST_F(LuaInterp, TagVarAndStatusFromLua) {
  Run("[debug mode=2]\n[lua]function f(o)\n"
      "  o:tag{'var', name='f.x', data=12}\n"
      "  o:tag{name='f.ignored'}\n"
      "  o:tag{'var', name='f.y', data='$f.x+1'}\n"
      "  o:tag{'var', name='f.sum', data=o:var('1+2')}\n"
      "  o:tag{'var', name='f.bad', data=tostring((o:var(5)))}\n"
      "  o:tag{'var', name='f.state', data=o:getScriptStatus()}\n"
      "end[/lua]\n[calllua function=f]\n[var name=f.after data=1]\n");
  EXPECT_EQ(Var("f.x"), "12");
  EXPECT_EQ(Var("f.y"), "13");
  EXPECT_EQ(Var("f.sum"), "3");
  EXPECT_EQ(Var("f.bad"), "nil");
  EXPECT_EQ(Var("f.state"), "0");
  EXPECT_EQ(Var("f.after"), "1");
  EXPECT_FALSE(Has("f.ignored"));
}

TEST_F(LuaInterp, EachTagCallRunsItsOwnTagWhateverRanBefore) {
  // Real tags, unknown ones and an overlong name, one after another: each
  // call reaches its own tag.
  Run("[lua]function f(o)\n"
      "  for i = 1, 2 do\n"
      "    o:tag{'var', name='f.a' .. i, data=i}\n"
      "    o:tag{'nosuch', name='f.b' .. i, data=i}\n"
      "    o:tag{'var', name='f.c' .. i, data=i * 10}\n"
      "    o:tag{string.rep('v', 80), name='f.d' .. i, data=i}\n"
      "    o:tag{'var', name='f.e' .. i, data='$f.c' .. i .. '+1'}\n"
      "    o:tag('nosuch')\n"
      "  end\n"
      "end[/lua]\n[calllua function=f]\n");
  for (const char* i : {"1", "2"}) {
    EXPECT_EQ(Var(std::string("f.a") + i), i);
    EXPECT_EQ(Var(std::string("f.c") + i), std::string(i) + "0");
    EXPECT_EQ(Var(std::string("f.e") + i), std::string(i) + "1");
    EXPECT_FALSE(Has(std::string("f.b") + i));
    EXPECT_FALSE(Has(std::string("f.d") + i));
  }
  // Both unknown names are reported (repeats of a line are folded).
  std::string log = Log();
  EXPECT_NE(log.find("[nosuch]"), std::string::npos) << log;
  EXPECT_NE(log.find("[" + std::string(80, 'v') + "]"), std::string::npos) << log;
}

TEST_F(LuaInterp, AStateOfTheGamesOwnHoldsTheScriptUntilTheHandlerEndsIt) {
  Run("[lua]calls = 0\nfunction tick(o)\n  calls = calls + 1\n"
      "  o:tag{'var', name='f.seen', data=o:getScriptStatus()}\n"
      "  if calls == 3 then o:setScriptStatus(0) end\nend\n"
      "function park(o) o:setEventHandler{onEnterFrame='tick'} o:setScriptStatus(42) end[/lua]\n"
      "[calllua function=park]\n[var name=f.after data=1]\n",
      3);
  EXPECT_EQ(State(), 42);
  EXPECT_EQ(Var("f.seen"), "42");
  EXPECT_FALSE(Has("f.after"));
  // No save can hold such a state (a load would refuse it): none is written,
  // and the refusal is reported, not a save.
  EXPECT_TRUE(script_->GetSaveData().SaveState("parked.dat"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "parked.dat"));
  EXPECT_NE(Log().find("parked.dat not saved: the game is in a state of its own (42)"), std::string::npos) << Log();
  ASSERT_FALSE(LogOpen((dir_ / "run2.log").string()));
  Frame();  // the third call lets the script go on in the same frame
  EXPECT_EQ(Var("f.after"), "1");
}

TEST_F(LuaInterp, FrameHandlerEndsAWaitAndFailsOnlyOnce) {
  Run("[debug mode=2]\n[lua]calls = 0\nfunction tick(o)\n  calls = calls + 1\n"
      "  o:tag{'var', name='f.calls', data=calls}\n"
      "  if calls == 3 then o:setScriptStatus(0) end\n"
      "  if calls == 4 then error('broken') end\nend[/lua]\n"
      "[lua]CQelLua.setEventHandler(nil, {})[/lua]\n"
      "[calllua function=start]\n[wait time=100000]\n[var name=f.after data=1]\n[wait time=100000]\n"
      "[lua]function start(o) o:setEventHandler{onEnterFrame='tick'} end[/lua]\n",
      3);
  EXPECT_EQ(Var("f.calls"), "2");
  EXPECT_FALSE(Has("f.after"));
  Frame();  // the third call ends the timed wait
  EXPECT_EQ(Var("f.after"), "1");
  for (int i = 0; i < 5; ++i) Frame();
  EXPECT_EQ(Var("f.calls"), "4");
  std::string reports = Reports();
  size_t first = reports.find("[LUA] OnEnterFrame -> tick(): ");
  ASSERT_NE(first, std::string::npos) << reports;
  EXPECT_NE(reports.find("broken", first), std::string::npos);
  EXPECT_EQ(reports.find("[LUA]", first + 1), std::string::npos) << reports;
  EXPECT_EQ(Lua().m_frameFunction, "");
}

// A wait the handler ends takes its timer along: the next click wait still
// waits for a click.
TEST_F(LuaInterp, AWaitTheHandlerEndsLeavesNoTimerBehind) {
  Run("[lua]calls = 0\nfunction tick(o)\n  calls = calls + 1\n"
      "  if calls == 2 then o:setScriptStatus(0) end\nend\n"
      "function start(o) o:setEventHandler{onEnterFrame='tick'} end[/lua]\n"
      "[calllua function=start]\n[wait time=500]\n[var name=f.a data=1]\n@\n[var name=f.b data=1]\n");
  Frame();
  Frame();
  ASSERT_EQ(Var("f.a"), "1");
  ASSERT_EQ(State(), CMainScript::kClickWait);
  for (int i = 0; i < 60; ++i) Frame();
  EXPECT_FALSE(Has("f.b"));
  Frame({platform::VK_LBUTTON});
  EXPECT_EQ(Var("f.b"), "1");
}

// A load from the handler takes the frame's presses, as any other load does:
// the click that loaded does not also end the wait it brought back.
TEST_F(LuaInterp, ALoadFromTheHandlerLandsAtTheSavedWait) {
  Run("[lua]function tick(o)\n  if o:isDownEdge(1) then o:tag{'load', file='saveq.dat'} end\nend\n"
      "function start(o) o:setEventHandler{onEnterFrame='tick'} end[/lua]\n"
      "@\n[var name=f.n data=1]\n[calllua function=start]\n@\n[var name=f.n data=2]\n");
  ASSERT_EQ(State(), CMainScript::kClickWait);
  Frame({'S'});
  Frame({platform::VK_RETURN});
  ASSERT_EQ(Var("f.n"), "1");
  Frame({platform::VK_LBUTTON});
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_FALSE(Has("f.n"));
}

TEST_F(LuaInterp, AHandlerThatNamesAnotherAndFailsLeavesNoHandler) {
  Run("[debug mode=2]\n[lua]calls = 0\n"
      "function next(o) calls = calls + 1 o:tag{'var', name='f.next', data=calls} end\n"
      "function first(o) o:setEventHandler{onEnterFrame='next'} error('first fails') end\n"
      "function start(o) o:setEventHandler{onEnterFrame='first'} end\n"
      "function again(o) o:setEventHandler{onEnterFrame='next'} end[/lua]\n"
      "[calllua function=start]\n@\n[calllua function=again]\n@\n",
      4);
  EXPECT_FALSE(Has("f.next"));
  EXPECT_EQ(Lua().m_frameFunction, "");
  // A handler named afterwards runs again.
  Frame({platform::VK_LBUTTON});
  Frame();
  Frame();
  EXPECT_EQ(Lua().m_frameFunction, "next");
  EXPECT_EQ(Var("f.next"), "2");
}

TEST_F(LuaInterp, InputAfterScriptedMoveAndClick) {
  Run("[lua]function probe(o)\n  local p = o:getMousePoint()\n"
      "  o:tag{'var', name='f.xy', data=p.x .. ',' .. p.y}\n"
      "  o:tag{'var', name='f.edge', data=tostring(o:isDownEdge(1))}\nend\n"
      "function start(o) o:setEventHandler{onEnterFrame='probe'} end[/lua]\n"
      "[calllua function=start]\n@\n");
  platform::InjectCursor(window_, 123, 45);
  Frame({platform::VK_LBUTTON});
  EXPECT_EQ(Var("f.xy"), "123,45");
  EXPECT_EQ(Var("f.edge"), "true");
  Frame();
  EXPECT_EQ(Var("f.edge"), "false");
}

TEST_F(LuaInterp, SelfRecursiveCallluaEndsInOneReport) {
  Run("[debug mode=2]\n[lua]depth = 0\nfunction r(o) depth = depth + 1 o:tag{'calllua', ['function']='r'} end[/lua]\n"
      "[calllua function=r]\n[var name=f.after data=1]\n");
  EXPECT_EQ(Var("f.after"), "1");
  std::string reports = Reports();
  size_t first = reports.find("[LUA]");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(reports.find("[LUA]", first + 1), std::string::npos) << reports;
}

TEST_F(LuaInterp, ChunkJumpingIntoOtherFilesLoadsThemSafely) {
  WriteFile("b.iet", "[lua]loadedB = (loadedB or 0) + 1[/lua]\n*top\n[var name=f.inb data=1]\n");
  Run("[lua]function go(o) o:tag{'jump', file='b.iet', label='top'} end[/lua]\n[calllua function=go]\n"
      "[var name=f.nota data=1]\n[lua]CQelLua.tag(nil)[/lua]\n");
  EXPECT_EQ(Var("f.inb"), "1");
  EXPECT_FALSE(Has("f.nota"));
}

TEST_F(LuaInterp, GlobalsSurviveBootButTheHandlerDoesNot) {
  Run("[lua]kept = (kept or 0) + 1\nfunction t(o) end[/lua]\n[calllua function=setup]\n"
      "[lua]function setup(o) o:setEventHandler{onEnterFrame='t'} end[/lua]\n");
  EXPECT_EQ(Lua().m_frameFunction, "t");
  ASSERT_FALSE(script_->Boot());
  EXPECT_EQ(Lua().m_frameFunction, "");
  Frame();
  WriteFile("check.iet", "[lua]function c(o) o:tag{'var', name='f.kept', data=kept} end[/lua][calllua function=c]\n");
  ASSERT_FALSE(script_->Jump("check.iet", ""));
  Frame();
  // The boot script was loaded once; its block did not run again.
  EXPECT_EQ(Var("f.kept"), "1");
}

// A load brings back the handler's name, which then runs every frame again;
// the Lua globals stay as they are now (a load does not restore them).
TEST_F(LuaInterp, ALoadRestoresTheFrameHandlerByName) {
  Run("[lua]ticks = 0\nmarker = 'before'\n"
      "function count(o) ticks = ticks + 1 o:tag{'var', name='f.ticks', data=ticks} end\n"
      "function other(o) end\n"
      "function arm(o) o:setEventHandler{onEnterFrame='count'} end\n"
      "function swap(o) marker = 'after' o:setEventHandler{onEnterFrame='other'} end\n"
      "function probe(o) o:tag{'var', name='f.marker', data=marker} end[/lua]\n"
      "[calllua function=arm]\n@\n[calllua function=swap]\n@\n[calllua function=probe]\n@\n");
  ASSERT_EQ(State(), CMainScript::kClickWait);
  Frame({'S'});
  Frame({platform::VK_LBUTTON});
  ASSERT_EQ(Lua().m_frameFunction, "other");
  const std::string ticks = Var("f.ticks");
  Frame({'L'});
  EXPECT_EQ(Lua().m_frameFunction, "count");
  Frame();
  Frame();
  EXPECT_NE(Var("f.ticks"), ticks);
  Frame({platform::VK_LBUTTON});
  Frame({platform::VK_LBUTTON});
  EXPECT_EQ(Var("f.marker"), "after");
}

// Where a failed calllua and the debug method go, by error mode: nowhere in
// mode 0, the log window in mode 1, the channel's lines in mode 2.
TEST_F(LuaInterp, CallluaFailuresAndDebugLinesFollowTheErrorMode) {
  for (int mode : {0, 1, 2}) {
    DestroyLogWindow();
    WriteFile("game.iet", "[debug mode=" + std::to_string(mode) +
                              "]\n[calllua function=missing]\n[calllua function=say]\n"
                              "[lua]function say(o) o:debug('hello') end[/lua]\n[var name=f.after data=1]\n");
    ASSERT_FALSE(Start());
    Frame();
    EXPECT_EQ(Var("f.after"), "1");
    const std::string window = FindLogWindow() ? FindLogWindow()->TextUtf8() : std::string();
    const std::string lines = Reports();
    const std::string& seen = mode == 1 ? window : lines;
    const std::string& unseen = mode == 1 ? lines : window;
    if (mode == 0) {
      EXPECT_EQ(window + lines, "");
    } else {
      EXPECT_NE(seen.find("game.iet(2): [LUA] "), std::string::npos) << mode << seen;
      EXPECT_NE(seen.find("LUA: hello"), std::string::npos) << mode << seen;
      EXPECT_EQ(unseen.find("LUA"), std::string::npos) << mode << unseen;
    }
    script_.reset();
  }
  DestroyLogWindow();

  // A debug note is not a problem (a -strict run does not fail on it); a
  // failed call is, and it names the script the cursor is in by then.
  WriteFile("sub.iet", "[var name=f.sub data=1]\n");
  WriteFile("game.iet",
            "[debug mode=2]\n[lua]function say(o) o:debug('note') end\n"
            "function away(o) o:tag{'jump', file='sub.iet'} error('after') end[/lua]\n"
            "[calllua function=say]\n[calllua function=away]\n");
  ASSERT_FALSE(Start());
  const size_t problems = LogProblemCount();
  Frame();
  EXPECT_EQ(Var("f.sub"), "1");
  const std::string lines = Reports();
  EXPECT_NE(lines.find("LUA: note"), std::string::npos) << lines;
  EXPECT_NE(lines.find("sub.iet(5): [LUA] "), std::string::npos) << lines;
  EXPECT_EQ(LogProblemCount(), problems + 1);
}

TEST_F(LuaInterp, EndlessLoopIsStoppedInHeadlessRuns) {
  Run("[debug mode=2]\n[lua]function spin(o) while true do end end[/lua]\n[calllua function=spin]\n"
      "[var name=f.after data=1]\n");
  EXPECT_EQ(Var("f.after"), "1");
  EXPECT_NE(Reports().find("instruction limit"), std::string::npos);
}

TEST_F(LuaInterp, HeadlessClockAndPrintRepeat) {
  Run("[lua]function f(o) print('now', o:now(), os.time(), os.clock())\n"
      "o:tag{'var', name='f.r', data=o:random()} end[/lua]\n[calllua function=f]\n");
  std::string first = Log() + Var("f.r");
  EXPECT_NE(first.find("now\t1000016\t946685800\t1000.016"), std::string::npos) << first;
  script_.reset();
  platform::SetVirtualTicks(static_cast<uint64_t>(1000000) << 10);
  now_ = 1000000;
  Run("[lua]function f(o) print('now', o:now(), os.time(), os.clock())\n"
      "o:tag{'var', name='f.r', data=o:random()} end[/lua]\n[calllua function=f]\n");
  EXPECT_EQ(Log() + Var("f.r"), first);
}

}  // namespace

namespace {

class LuaStatus : public LuaInterp, public ::testing::WithParamInterface<int> {};

// States set from Lua with nothing behind them (no transition, no backlog, no
// video) are left as usual instead of freezing the game.
TEST_P(LuaStatus, StatesWithNothingBehindThemAreLeft) {
  Run("[lua]function s(o) o:setScriptStatus(" + std::to_string(GetParam()) +
          ") end[/lua]\n[calllua function=s]\n[var name=f.after data=1]\n",
      1);
  for (int i = 0; i < 3; ++i) {
    Frame({platform::VK_ESCAPE});
    Frame({platform::VK_RETURN});
  }
  EXPECT_EQ(Var("f.after"), "1") << "state " << State();
}

INSTANTIATE_TEST_SUITE_P(Lua, LuaStatus, ::testing::Values(2, 6, 7));

}  // namespace
