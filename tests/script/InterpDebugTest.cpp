// The error modes reach the debugging aids: mode 1 the log window, mode 2 the
// lines collected for the channel, mode 0 nowhere.
#include "InterpHarness.h"
#include "debug/LogWindow.h"
#include "platform/VirtualKeys.h"

class InterpDebug : public InterpHarness {
 protected:
  void TearDown() override {
    DestroyLogWindow();
    InterpHarness::TearDown();
  }
};

TEST_F(InterpDebug, ModeOneWritesReportsAndTracesToTheLogWindow) {
  WriteFile("game.iet", "[jump label=*nowhere]\n@\n[debug mode=1]\n[jump label=*missing]\n@\n[var name=t.x data=1]\n");
  DestroyLogWindow();
  ASSERT_FALSE(Start());
  Frame();
  // Mode 0: the failed jump made no window.
  EXPECT_EQ(FindLogWindow(), nullptr);
  Frame({platform::VK_LBUTTON});
  ASSERT_NE(FindLogWindow(), nullptr);
  const std::string text = FindLogWindow()->TextUtf8();
  EXPECT_NE(text.find("game.iet(4): [jump file=\"\" label=\"*missing\"]"), std::string::npos) << text;
  // The window appeared in this frame; a click right after still ends the wait.
  EXPECT_EQ(State(), CMainScript::kClickWait);
  Frame({platform::VK_LBUTTON});
  EXPECT_EQ(Var("t.x"), "1");
  EXPECT_NE(FindLogWindow()->TextUtf8().find("game.iet(6): var"), std::string::npos);
}

TEST_F(InterpDebug, ModeTwoCollectsForTheChannelAndBootReturnsToModeZero) {
  WriteFile("game.iet", "[debug mode=2]\n[jump label=*missing]\n@\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_NE(script_->GetReportBuffer().find("[jump file=\"\" label=\"*missing\"]"), std::string::npos);
  EXPECT_EQ(FindLogWindow(), nullptr);
  EXPECT_FALSE(script_->Boot());
  EXPECT_EQ(script_->GetErrorMode(), 0);
}

// Tracing shows what each attribute evaluates to without evaluating it again:
// a result that begins with '$' reaches the tag as it does with tracing off.
TEST_F(InterpDebug, TracingEvaluatesEachAttributeOnce) {
  for (const char* mode : {"0", "2"}) {
    SCOPED_TRACE(mode);
    WriteFile("game.iet", std::string("[var name=f.p data=100][var name=f.n data=0][debug mode=") + mode +
                              "]\n[var name=f.b data=$'$'+f.p][var name=f.c data=$'$$f.p']"
                              "[var name=f.d data=$f.n+1]\n@\n");
    ASSERT_FALSE(Start());
    Frame();
    EXPECT_EQ(Var("f.b"), "$100");
    EXPECT_EQ(Var("f.c"), "$$f.p");
    EXPECT_EQ(Var("f.d"), "1");
  }
  EXPECT_NE(script_->GetReportBuffer().find("data=\"$'$'+f.p\"($100)"), std::string::npos)
      << script_->GetReportBuffer();
}
