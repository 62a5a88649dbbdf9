// Script flow through the interpreter: loading, jumps, calls, macros,
// dispatch, conditions and loops.
#include "InterpHarness.h"

#include "platform/TextCodec.h"
#include "platform/Log.h"

namespace {

class InterpFlow : public InterpHarness {};

TEST_F(InterpFlow, JumpsAndCallsResolveFilesAndLabels) {
  WriteFile("game.iet",
            "[var name=f.log data=s]\n"
            "[call file=sub label=twice]\n"  // ".iet" is added, the first label wins
            "[var name=f.log data=$f.log+'c']\n"
            "[call file=sub.iet]\n"  // no label: from the top
            "[jump label=end]\n"
            "[var name=f.log data=$f.log+'X']\n"
            "*end\n"
            "[var name=f.log data=$f.log+'e']\n");
  WriteFile("sub.iet",
            "[var name=f.log data=$f.log+'t']\n"
            "[return]\n"
            "*twice\n"
            "[var name=f.log data=$f.log+'1']\n"
            "[return]\n"
            "*twice\n"
            "[var name=f.log data=$f.log+'2']\n"
            "[return]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(Var("f.log"), "s1cte");
  // Running off the end of the boot script with nothing to return to ends
  // the game.
  EXPECT_EQ(State(), CMainScript::kEnded);
  EXPECT_TRUE(script_->GetCallStack().empty());
  EXPECT_EQ(script_->GetVariables().ScopeCount(), 0u);
}

TEST_F(InterpFlow, BareJumpRestartsTheCurrentFile) {
  WriteFile("game.iet",
            "[var name=f.n data=$f.n+1]\n"
            "[if estimate=f.n<3]\n"
            "[jump]\n"
            "[/if]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(Var("f.n"), "3");
  EXPECT_EQ(State(), CMainScript::kEnded);
}

TEST_F(InterpFlow, BootScriptComesFromSystemIni) {
  WriteFile("system.ini", "[SYSTEM]\nBOOT=start\n");
  WriteFile("start.iet", "[var name=f.booted data=yes]\n");
  ASSERT_FALSE(Start());
  EXPECT_EQ(script_->GetCursor().m_file, "start.iet");
  Frame();
  EXPECT_EQ(Var("f.booted"), "yes");
}

TEST_F(InterpFlow, MissingBootScriptFailsToStart) { EXPECT_TRUE(Start()); }

TEST_F(InterpFlow, FailedTargetsAreReportedAndSkipped) {
  WriteFile("game.iet",
            "[debug mode=2]\n"
            "[jump file=nothere label=x]\n"
            "[call label=nolabel]\n"
            "[var name=f.after data=1]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(Var("f.after"), "1");
  EXPECT_TRUE(script_->GetCallStack().empty());
  std::string reports = script_->TakeReportBuffer();
  std::string notFound = Utf8ToCp932("指定された場所は見つかりません。");
  EXPECT_NE(reports.find("game.iet(2): [jump file=\"nothere\" label=\"x\"] " + notFound), std::string::npos) << reports;
  EXPECT_NE(reports.find("game.iet(3): [call file=\"\" label=\"nolabel\"] " + notFound), std::string::npos);
}

TEST_F(InterpFlow, MacrosRunWithTheirAttributesAsLocalVariables) {
  WriteFile("macro.iet",
            "*greet\n"
            "[var name=f.seen data=$who]\n"
            "[var name=who data=changed]\n"
            "[var name=f.inside data=$who]\n"
            "[return]\n"
            "*lyc\n"
            "[var name=f.lycmacro data=ran]\n"
            "[return]\n");
  WriteFile("more.iet",
            "*extra\n"
            "[var name=f.extra data=$n]\n"
            "[return]\n");
  WriteFile("game.iet",
            "[var name=who data=outer]\n"
            "[greet who=alice]\n"
            "[var name=f.after data=$who]\n"
            "[macroadd file=missing.iet]\n"
            "[macroadd file=more.iet]\n"
            "[extra n=5]\n"
            "[lyc id=a file=b]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(Var("f.seen"), "alice");
  // Writes go to the main store; the macro keeps reading its attribute.
  EXPECT_EQ(Var("f.inside"), "alice");
  EXPECT_EQ(Var("f.after"), "changed");
  EXPECT_EQ(Var("f.extra"), "5");
  // A real tag of the engine is never taken for a macro of the same name.
  EXPECT_FALSE(Has("f.lycmacro"));
  EXPECT_EQ(script_->GetVariables().ScopeCount(), 0u);
}

TEST_F(InterpFlow, UnknownTagsAreReportedOnlyWhenReportingIsOn) {
  WriteFile("game.iet",
            "[misspelt a=1]\n"
            "[var name=f.one data=1]\n"
            "[debug mode=2]\n"
            "[misspelt a=1]\n"
            "[var name=f.two data=1]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(Var("f.one"), "1");
  EXPECT_EQ(Var("f.two"), "1");
  std::string reports = script_->TakeReportBuffer();
  std::string unknown = Utf8ToCp932("未知のタグ、または未定義のマクロです。");
  EXPECT_EQ(reports.find("game.iet(1)"), std::string::npos) << "mode 0 reports nothing";
  EXPECT_NE(reports.find("game.iet(4): [misspelt] " + unknown), std::string::npos) << reports;
  // With reporting on every record is traced, evaluated values included.
  EXPECT_NE(reports.find("game.iet(5): var data=\"1\"(1) name=\"f.two\"(f.two)"), std::string::npos) << reports;
}

TEST_F(InterpFlow, DebugModeOneTracesAndTheLogGetsEveryReport) {
  WriteFile("game.iet", "[debug mode=1]\n[misspelt]\n[debug mode=0]\n[misspelt2]\n");
  std::string log = (dir_ / "run.log").string();
  ASSERT_FALSE(LogOpen(log));
  ASSERT_FALSE(Start());
  Frame();
  LogClose();
  std::ifstream in(log, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("game.iet(2): [misspelt] 未知のタグ、または未定義のマクロです。"), std::string::npos) << text;
  EXPECT_NE(text.find("game.iet(3): debug mode=\"0\"(0)"), std::string::npos) << text;
  // Mode 0 traces nothing, but the -log file still gets the report.
  EXPECT_EQ(text.find("game.iet(4): misspelt2"), std::string::npos) << text;
  EXPECT_NE(text.find("game.iet(4): [misspelt2] "), std::string::npos) << text;
  EXPECT_TRUE(script_->GetReportBuffer().empty());
}

TEST_F(InterpFlow, DollarAttributesAreEvaluatedOncePerSign) {
  WriteFile("game.iet",
            "[var name=f.sum data=$1+2]\n"
            "[var name=f.target data=hello]\n"
            "[var name=f.ref data=f.target]\n"
            "[var name=f.once data=$f.ref]\n"
            "[var name=f.twice data=$$f.ref]\n"
            "[var name=f.plain data=1+1]\n"
            "[print data=$1+1]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(Var("f.sum"), "3");
  EXPECT_TRUE(script_->GetVariables().Find("f.sum")->IsString());
  EXPECT_EQ(Var("f.once"), "f.target");
  EXPECT_EQ(Var("f.twice"), "hello");
  EXPECT_EQ(Var("f.plain"), "1+1");
  // print is a text record: it lands in the main window's page.
  const auto& pages = script_->GetSaveData().GetMessageReplay();
  ASSERT_EQ(pages.count(""), 1u);
  ASSERT_EQ(pages.at("").size(), 1u);
  EXPECT_EQ(pages.at("").front().m_type, CScriptBlock::kText);
  EXPECT_EQ(pages.at("").front().m_text, "2");
}

TEST_F(InterpFlow, IfAndLoopBlocksNest) {
  WriteFile("game.iet",
            "[var name=f.out data=s]\n"
            "[if estimate=0]\n"
            "  [if estimate=1]\n"
            "    [var name=f.out data=$f.out+'A']\n"
            "  [/if]\n"
            "  [var name=f.out data=$f.out+'B']\n"
            "[/if]\n"
            "[if estimate=1]\n"
            "  [var name=f.out data=$f.out+'C']\n"
            "  [if estimate=0][var name=f.out data=$f.out+'D'][/if]\n"
            "[/if]\n"
            "[var name=f.i data=0]\n"
            "[loop estimate=f.i<2]\n"
            "  [var name=f.j data=0]\n"
            "  [loop estimate=f.j<3]\n"
            "    [var name=f.out data=$f.out+'x']\n"
            "    [var name=f.j data=$f.j+1]\n"
            "  [/loop]\n"
            "  [var name=f.out data=$f.out+'|']\n"
            "  [var name=f.i data=$f.i+1]\n"
            "[/loop]\n"
            "[var name=f.hex data=0x10]\n"
            "[if estimate=0x10][var name=f.out data=$f.out+'H'][/if]\n"
            "[if estimate=f.hex][var name=f.out data=$f.out+'V'][/if]\n"
            "[var name=f.out data=$f.out+'E']\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(Var("f.out"), "sCxxx|xxx|HE");
}

TEST_F(InterpFlow, UnmatchedBlocksRunToTheEndOfTheFile) {
  WriteFile("game.iet",
            "[call file=a]\n"
            "[call file=b]\n"
            "[var name=f.done data=1]\n");
  WriteFile("a.iet", "[if estimate=0]\n[var name=f.a data=bad]\n");
  WriteFile("b.iet", "[var name=f.b data=1]\n[/loop]\n[var name=f.b data=bad]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_FALSE(Has("f.a"));
  EXPECT_EQ(Var("f.b"), "1");
  EXPECT_EQ(Var("f.done"), "1");
}

TEST_F(InterpFlow, EmptyTagEndsTheFrame) {
  WriteFile("game.iet", "[var name=f.a data=1]\n[]\n[var name=f.b data=1]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(Var("f.a"), "1");
  EXPECT_FALSE(Has("f.b"));
  EXPECT_EQ(State(), CMainScript::kRunning);
  Frame();
  EXPECT_EQ(Var("f.b"), "1");
}

TEST_F(InterpFlow, ReturnWithAnEmptyStackEndsTheGame) {
  WriteFile("game.iet", "[return]\n[var name=f.x data=1]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(State(), CMainScript::kEnded);
  Frame();
  EXPECT_FALSE(Has("f.x"));
  EXPECT_EQ(State(), CMainScript::kEnded);
}

TEST_F(InterpFlow, EndlessLoopStillYieldsFrames) {
  WriteFile("game.iet", "[var name=f.n data=0]\n[loop estimate=1]\n[var name=f.n data=$f.n+1]\n[/loop]\n");
  ASSERT_FALSE(Start());
  script_->SetRecordBudget(300);
  Frame();
  EXPECT_EQ(State(), CMainScript::kRunning);
  int first = script_->GetVariables().GetInt("f.n");
  EXPECT_GT(first, 0);
  Frame();
  EXPECT_GT(script_->GetVariables().GetInt("f.n"), first);
}

// An empty BOOT= in system.ini names no script: the default one starts.
TEST_F(InterpFlow, AnEmptyBootKeyStartsTheDefaultScript) {
  WriteFile("system.ini", "[SYSTEM]\nBOOT=\n");
  WriteFile("game.iet", "[var name=f.ran data=1]\n");
  ASSERT_FALSE(Start());
  EXPECT_EQ(script_->GetCursor().m_file, "game.iet");
  Frame();
  EXPECT_EQ(Var("f.ran"), "1");
}

TEST_F(InterpFlow, EndlessRecursionHitsTheCallLimit) {
  // A macro and a call tag that recurse: the innermost call fails with one
  // report on its own line, and everything unwinds through the returns.
  WriteFile("macro.iet", "*r\n[r]\n[return]\n");
  WriteFile("sub.iet", "*c\n[call file=sub.iet label=c]\n[return]\n");
  WriteFile("game.iet",
            "[debug mode=2]\n[r]\n[var name=f.done data=1]\n[call file=sub.iet label=c]\n[var name=f.done2 data=1]\n");
  ASSERT_FALSE(Start());
  for (int i = 0; i < 40 && State() != CMainScript::kEnded; ++i) {
    Frame();
    ASSERT_LE(script_->GetCallStack().size(), CMainScript::kMaxCallDepth);
  }
  EXPECT_EQ(Var("f.done"), "1");
  EXPECT_EQ(Var("f.done2"), "1");
  EXPECT_EQ(State(), CMainScript::kEnded);
  EXPECT_EQ(script_->GetVariables().ScopeCount(), 0u);
  const std::string reports = Cp932ToUtf8(script_->TakeReportBuffer());
  EXPECT_NE(reports.find("macro.iet(2): [r] 呼び出しの入れ子が深すぎます。"), std::string::npos) << reports;
  EXPECT_NE(reports.find("sub.iet(2): [call file=\"sub.iet\" label=\"c\"] 呼び出しの入れ子が深すぎます。"),
            std::string::npos)
      << reports;
  // The macro is there: it is not reported as unknown.
  EXPECT_EQ(reports.find("未知のタグ"), std::string::npos) << reports;
}

TEST_F(InterpFlow, BootInsideAMacroDropsItsScopes) {
  WriteFile("macro.iet", "*hold\n@\n[return]\n");
  WriteFile("game.iet", "[var name=who data=main]\n[hold who=macro]\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  EXPECT_EQ(Var("who"), "macro");
  ASSERT_FALSE(script_->Boot());
  EXPECT_EQ(script_->GetVariables().ScopeCount(), 0u);
  EXPECT_EQ(Var("who"), "main");
  EXPECT_EQ(script_->GetCursor().m_index, 0);
  EXPECT_EQ(State(), CMainScript::kRunning);
}

}  // namespace
