// The frame cycle: click waits, skip and auto modes, timed waits, the
// engine's keys and the right-click menu.
#include "InterpHarness.h"

#include "platform/VirtualKeys.h"

namespace {

using namespace platform;

class InterpFrame : public InterpHarness {};

TEST_F(InterpFrame, ClickWaitHoldsUntilClickOrEnter) {
  WriteFile("game.iet",
            "[var name=f.n data=1]\n@\n"
            "[var name=f.n data=2]\n@\n"
            "[var name=f.n data=3]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(State(), CMainScript::kClickWait);
  Frame();
  Frame({'X'});
  EXPECT_EQ(Var("f.n"), "1");
  Frame({VK_LBUTTON});
  EXPECT_EQ(Var("f.n"), "2");
  EXPECT_EQ(State(), CMainScript::kClickWait);
  Frame({VK_RETURN});
  EXPECT_EQ(Var("f.n"), "3");
  EXPECT_EQ(State(), CMainScript::kEnded);
}

TEST_F(InterpFrame, CtrlPassesAClickWaitEveryFrame) {
  WriteFile("game.iet",
            "[var name=f.n data=1]\n@\n"
            "[var name=f.n data=2]\n@\n"
            "[var name=f.n data=3]\n@\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(Var("f.n"), "1");
  EXPECT_EQ(Var("s.status.controlskip"), "0");
  Hold(VK_CONTROL);
  // The click-wait tag ends its frame; the wait it enters is passed at the
  // start of the next one. Unread records do not stop Ctrl skipping.
  Frame();
  EXPECT_EQ(Var("f.n"), "2");
  EXPECT_EQ(Var("s.status.controlskip"), "1");
  Frame();
  EXPECT_EQ(Var("f.n"), "3");
  Frame();
  EXPECT_EQ(State(), CMainScript::kEnded);
  Release(VK_CONTROL);
  Frame();
  EXPECT_EQ(Var("s.status.controlskip"), "0");
}

TEST_F(InterpFrame, CtrlSkipNeedsSkipAllowed) {
  WriteFile("game.iet", "[skip allow=0]\n@\n[var name=f.n data=2]\n");
  ASSERT_FALSE(Start());
  Hold(VK_CONTROL);
  Frame();
  Frame();
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_FALSE(Has("f.n"));
}

TEST_F(InterpFrame, ShiftSkipStopsAtTheFirstUnreadRecord) {
  WriteFile("game.iet",
            "[call label=body]\n"
            "[call label=body]\n"
            "[var name=f.n data=new]\n@\n"
            "[var name=f.n data=end]\n"
            "[return]\n"
            "*body\n"
            "[var name=f.n data=a]\n@\n"
            "[var name=f.n data=b]\n@\n"
            "[return]\n");
  ASSERT_FALSE(Start());
  Frame();
  Frame({VK_RETURN});
  ASSERT_EQ(Var("f.n"), "b");
  Frame({VK_RETURN});
  ASSERT_EQ(Var("f.n"), "a");  // second pass through the body
  // Skip mode passes one click wait per frame, through read records only.
  Frame({VK_LSHIFT});
  EXPECT_EQ(Var("f.n"), "b");
  EXPECT_TRUE(script_->IsSkipOn());
  EXPECT_EQ(Var("s.status.commandskip"), "1");
  Frame();
  EXPECT_EQ(Var("f.n"), "new");
  Frame();
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_FALSE(script_->IsSkipOn());
  EXPECT_EQ(Var("s.status.commandskip"), "0");
}

TEST_F(InterpFrame, AnyInputEndsSkipModeWithoutAdvancing) {
  WriteFile("game.iet", "[wait time=5000]\n[var name=f.n data=1]\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kTimedWait);
  script_->SetSkip(true);
  Frame({VK_DOWN});
  EXPECT_FALSE(script_->IsSkipOn());
  EXPECT_EQ(State(), CMainScript::kTimedWait);
}

TEST_F(InterpFrame, AutoModeEndsAClickWaitAfterTheAutoWait) {
  WriteFile("game.iet", "[automode allow=1]\n@\n[var name=f.n data=1]\n@\n[var name=f.n data=2]\n");
  ASSERT_FALSE(Start());
  FrameAt(2000000);
  ASSERT_EQ(State(), CMainScript::kClickWait);
  FrameAt(2000010, {'A'});
  EXPECT_TRUE(script_->IsAutoOn());
  EXPECT_EQ(Var("s.status.automode"), "1");
  EXPECT_EQ(script_->GetWaitDeadline(), 2001010u);
  FrameAt(2001010);
  EXPECT_FALSE(Has("f.n"));  // a deadline equal to now still waits
  FrameAt(2001011);
  EXPECT_EQ(Var("f.n"), "1");
  ASSERT_EQ(State(), CMainScript::kClickWait);
  // The next wait gets its own deadline; a click in between switches auto
  // mode off and does not advance.
  FrameAt(2001100);
  FrameAt(2001200, {VK_LBUTTON});
  EXPECT_FALSE(script_->IsAutoOn());
  EXPECT_EQ(Var("s.status.automode"), "0");
  EXPECT_EQ(Var("f.n"), "1");
  FrameAt(2005000);
  EXPECT_EQ(Var("f.n"), "1");
}

TEST_F(InterpFrame, TimedWaitEndsOneFrameAfterItsDeadline) {
  WriteFile("game.iet", "[wait time=100]\n[var name=f.n data=1]\n");
  ASSERT_FALSE(Start());
  FrameAt(3000000);
  ASSERT_EQ(State(), CMainScript::kTimedWait);
  EXPECT_EQ(script_->GetWaitDeadline(), 3000100u);
  FrameAt(3000050, {VK_LBUTTON});  // clicks do not end a timed wait
  FrameAt(3000100);
  EXPECT_FALSE(Has("f.n"));
  FrameAt(3000101);
  EXPECT_EQ(Var("f.n"), "1");
}

TEST_F(InterpFrame, WaitWithInputOneIsAClickWaitWithADeadline) {
  WriteFile("game.iet",
            "[wait time=100 input=1]\n[var name=f.n data=1]\n[wait time=100 input=1]\n[var name=f.n data=2]\n");
  ASSERT_FALSE(Start());
  FrameAt(3000000);
  ASSERT_EQ(State(), CMainScript::kClickWait);
  FrameAt(3000200);
  EXPECT_EQ(Var("f.n"), "1");
  FrameAt(3000210, {VK_LBUTTON});
  EXPECT_EQ(Var("f.n"), "2");
}

TEST_F(InterpFrame, SkippedWaitLeavesNoDeadlineBehind) {
  WriteFile("game.iet", "[wait time=10 input=2]\n[var name=f.n data=1]\n@\n[var name=f.n data=2]\n");
  ASSERT_FALSE(Start());
  Hold(VK_CONTROL);
  FrameAt(3000000);
  Release(VK_CONTROL);
  // The input=2 wait was passed while skipping, and Ctrl was let go at the
  // click wait that followed: it must wait for a click, however late it is.
  FrameAt(3000016);
  EXPECT_EQ(script_->GetWaitDeadline(), 0u);
  FrameAt(3000500);
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_EQ(Var("f.n"), "1");
}

TEST_F(InterpFrame, SyncWaitsForEffectsAndStop) {
  WriteFile("game.iet", "[wait scenario=1]\n[var name=f.n data=1]\n[stop]\n[var name=f.n data=2]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(State(), CMainScript::kSyncWait);
  EXPECT_FALSE(Has("f.n"));
  Frame();  // no text effects are running: the wait is over
  EXPECT_EQ(Var("f.n"), "1");
  EXPECT_EQ(State(), CMainScript::kSyncWait);
  // Only a jump or call leaves a stop: clicks, keys and time do not.
  Frame({VK_LBUTTON});
  Frame({VK_RETURN});
  FrameAt(now_ + 100000);
  EXPECT_EQ(Var("f.n"), "1");
  EXPECT_EQ(State(), CMainScript::kSyncWait);
}

// A wait for text effects belongs to its wait: the right-click menu called
// from it has click waits of its own, which the effects' end does not pass,
// and the wait is still there when the menu returns. A quick save keeps it.
TEST_F(InterpFrame, AnEffectsWaitStaysWithItsWait) {
  WriteFile("rclick.iet", "[var name=m data=1]\nmenu\n@\n[var name=m data=2]\n[stop]\n*leave\n[return]\n");
  WriteFile("game.iet",
            "[rclick allow=1]\n[scetween mode=init type=in]\n"
            "[scetween mode=add type=in param=alpha ease=none diff=-255 msec=3000 delay=0]\n"
            "intro\n[wait scenario=1]\n[var name=a data=1]\n[stop]\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kSyncWait);
  Frame({'S'});
  ASSERT_TRUE(Exists("saveq.dat"));
  Frame({VK_RBUTTON});
  ASSERT_EQ(Var("m"), "1");
  ASSERT_EQ(State(), CMainScript::kClickWait);
  for (int i = 0; i < 40; ++i) Frame({}, 100);
  EXPECT_EQ(Var("m"), "1");  // the menu's wait needs its click
  EXPECT_FALSE(Has("a"));
  Frame({VK_RBUTTON});
  Frame();
  EXPECT_EQ(Var("a"), "1");  // back in the wait, whose effects are over

  // The loaded wait still waits for the effects, which the load finished.
  Frame({'L'});
  EXPECT_FALSE(Has("a"));
  EXPECT_TRUE(script_->GetCursor().m_waitTextEffects);
  Frame();
  Frame();
  EXPECT_EQ(Var("a"), "1");
}

TEST_F(InterpFrame, ReplayedRecordsAreNeitherTracedNorRecorded) {
  WriteFile("game.iet", "[debug mode=2]\n[]\n");
  ASSERT_FALSE(Start());
  Frame();
  script_->TakeReportBuffer();
  CScriptBlock print(CScriptBlock::kTag, 7, "print", {{"data", "$1+1"}});
  EXPECT_FALSE(script_->Dispatch(print, true));
  EXPECT_TRUE(script_->GetReportBuffer().empty());
  EXPECT_EQ(script_->GetSaveData().GetMessageReplay().count(""), 0u);
  EXPECT_FALSE(script_->Dispatch(print, false));
  EXPECT_NE(script_->GetReportBuffer().find("game.iet(7): print data=\"$1+1\"(2)"), std::string::npos)
      << script_->GetReportBuffer();
  ASSERT_EQ(script_->GetSaveData().GetMessageReplay().count(""), 1u);
  EXPECT_EQ(script_->GetSaveData().GetMessageReplay().at("").back().m_text, "2");
}

TEST_F(InterpFrame, QuickSaveKeysWorkOnlyInClickAndSyncWaits) {
  WriteFile("game.iet", "[wait time=100]\n[var name=f.n data=1]\n@\n[var name=f.n data=2]\n");
  ASSERT_FALSE(Start());
  FrameAt(3000000);
  // In a timed wait S is no key of the engine: the deadline ends the wait.
  FrameAt(3000200, {'S'});
  EXPECT_EQ(Var("f.n"), "1");
  ASSERT_EQ(State(), CMainScript::kClickWait);
  // In a click wait S is the quick save and takes the frame.
  FrameAt(3000300, {'S', VK_RETURN});
  EXPECT_EQ(Var("f.n"), "1");
  FrameAt(3000400, {VK_RETURN});
  EXPECT_EQ(Var("f.n"), "2");
}

TEST_F(InterpFrame, RightClickMenuReturnsFromNestedCallsAndLeaves) {
  WriteFile("game.iet",
            "[rclick allow=1]\n"
            "[var name=f.main data=1]\n@\n"
            "[var name=f.main data=2]\n@\n");
  WriteFile("rclick.iet",
            "[var name=f.menu data=open]\n"
            "[call label=inner]\n"
            "[var name=f.menu data=returned]\n"
            "[return]\n"
            "*inner\n"
            "[call label=inner2]\n"
            "[return]\n"
            "*inner2\n"
            "@\n"
            "[return]\n"
            "*leave\n"
            "[var name=f.menu data=left]\n"
            "[return]\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  Frame({VK_RBUTTON});
  EXPECT_EQ(Var("f.menu"), "open");
  EXPECT_TRUE(script_->IsInRightClickMenu());
  EXPECT_EQ(script_->GetRightClickDepth(), 2);
  EXPECT_EQ(script_->GetCursor().m_file, "rclick.iet");
  EXPECT_EQ(script_->GetVariables().ScopeCount(), 3u);

  Frame({VK_RBUTTON});
  EXPECT_EQ(Var("f.menu"), "left");
  // The leave section returned to the interrupted click wait; the same
  // press does not open the menu again.
  EXPECT_FALSE(script_->IsInRightClickMenu());
  EXPECT_EQ(script_->GetCursor().m_file, "game.iet");
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_EQ(script_->GetVariables().ScopeCount(), 0u);
  EXPECT_EQ(Var("f.main"), "1");

  Frame({VK_LBUTTON});
  EXPECT_EQ(Var("f.main"), "2");
}

// A macro run from the menu returns into the menu: its [return] takes one
// level off the menu's depth and leaves the menu open.
TEST_F(InterpFrame, AMacroInTheRightClickMenuReturnsIntoTheMenu) {
  WriteFile("macro.iet", "*pause\n@\n[return]\n");
  WriteFile("game.iet", "[rclick allow=1]\n[var name=f.main data=1]\n@\n[var name=f.main data=2]\n@\n");
  WriteFile("rclick.iet",
            "[var name=f.menu data=open]\n"
            "[pause]\n"
            "[var name=f.menu data=afterMacro]\n"
            "@\n"
            "[return]\n"
            "*leave\n"
            "[var name=f.menu data=left]\n"
            "[return]\n");
  ASSERT_FALSE(Start());
  Frame();
  Frame({VK_RBUTTON});
  ASSERT_TRUE(script_->IsInRightClickMenu());
  EXPECT_EQ(script_->GetRightClickDepth(), 1);
  Frame({VK_LBUTTON});
  EXPECT_EQ(Var("f.menu"), "afterMacro");
  EXPECT_TRUE(script_->IsInRightClickMenu());
  EXPECT_EQ(script_->GetRightClickDepth(), 0);
  EXPECT_EQ(script_->GetCursor().m_file, "rclick.iet");
  Frame({VK_RBUTTON});
  EXPECT_EQ(Var("f.menu"), "left");
  EXPECT_FALSE(script_->IsInRightClickMenu());
  EXPECT_EQ(script_->GetCursor().m_file, "game.iet");
  Frame({VK_LBUTTON});
  EXPECT_EQ(Var("f.main"), "2");
}

TEST_F(InterpFrame, EscapeOpensTheMenuAndOnePressActsOnce) {
  WriteFile("game.iet", "[rclick allow=1]\n@\n[var name=f.main data=done]\n");
  WriteFile("rclick.iet", "[var name=f.menu data=$f.menu+1]\n[return]\n");
  ASSERT_FALSE(Start());
  Frame();
  // The menu runs and returns within the frame; the press that opened it
  // does not open it a second time at the wait it returns to.
  Frame({VK_ESCAPE});
  EXPECT_EQ(Var("f.menu"), "1");
  EXPECT_FALSE(script_->IsInRightClickMenu());
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_FALSE(Has("f.main"));
  Frame({VK_ESCAPE});
  EXPECT_EQ(Var("f.menu"), "2");
  Frame({VK_RETURN});
  EXPECT_EQ(Var("f.main"), "done");
}

TEST_F(InterpFrame, RightClickWithoutMenuScriptChangesNothing) {
  WriteFile("game.iet", "[rclick allow=1]\n@\n[var name=f.n data=1]\n");
  ASSERT_FALSE(Start());
  Frame();
  Frame({VK_RBUTTON});
  EXPECT_FALSE(script_->IsInRightClickMenu());
  EXPECT_EQ(State(), CMainScript::kClickWait);
  Frame({VK_LBUTTON});
  EXPECT_EQ(Var("f.n"), "1");
  EXPECT_EQ(State(), CMainScript::kEnded);
}

TEST_F(InterpFrame, ExecAndModeTags) {
  // The second pass runs on read records, so skip mode is not switched off
  // by the read marks between the tags.
  WriteFile("game.iet",
            "*top\n"
            "[skip allow=0]\n[skip allow=1]\n[automode allow=0]\n"
            "[exec command=skip]\n[var name=f.a data=$s.status.commandskip]\n"
            "[exec command=skip]\n[var name=f.b data=$s.status.commandskip]\n"
            "[exec command=automode]\n[var name=f.c data=$s.status.automode]\n"
            "[automode allow=1]\n[exec command=automode]\n[var name=f.d data=$s.status.automode]\n"
            "[automode allow=0]\n[var name=f.e data=$s.status.automode]\n"
            "[exec command=skip]\n[skip allow=0]\n[var name=f.f data=$s.status.commandskip]\n"
            "[exec command=skip]\n[var name=f.g data=$s.status.commandskip]\n"
            "[autosave allow=2]\n[autosave allow=3]\n"
            "[if estimate=f.pass<1]\n[var name=f.pass data=1]\n[jump label=top]\n[/if]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(Var("f.a"), "1");
  EXPECT_EQ(Var("f.b"), "0");
  EXPECT_EQ(Var("f.c"), "0");  // auto mode not allowed: nothing switched on
  EXPECT_EQ(Var("f.d"), "1");
  EXPECT_EQ(Var("f.e"), "0");
  EXPECT_EQ(Var("f.f"), "0");
  EXPECT_EQ(Var("f.g"), "0");  // skip not allowed: nothing switched on
  EXPECT_EQ(script_->GetAutosaveMode(), 2);
}

}  // namespace
