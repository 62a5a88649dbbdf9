// Scripts stitched together from random pieces of the language: whatever
// they do, the interpreter must neither crash nor read out of bounds, and its
// call stack and scopes must stay consistent.
#include "InterpHarness.h"

#include <random>

#include "platform/VirtualKeys.h"

namespace {

class InterpRobust : public InterpHarness {};

const char* const kPieces[] = {
    "[jump label=a]",
    "[jump file=b label=c]",
    "[jump]",
    "[call label=a]",
    "[call file=b]",
    "[call file=zz]",
    "[return]",
    "[]",
    "@",
    "[stop]",
    "[wait time=5]",
    "[wait time=-5 input=2]",
    "[wait scenario=1]",
    "[if estimate=1]",
    "[if estimate=0]",
    "[/if]",
    "[loop estimate=f.n<2]",
    "[loop estimate=0]",
    "[/loop]",
    "[var name=f.n data=$f.n+1]",
    "[var name=f.s system=substr source=abc position=$f.n length=-2]",
    "[var name=f.s system=find source=abc string=]",
    "[var name=$f.s data=$$f.s]",
    "[m x=1]",
    "[m2]",
    "[macroadd file=b]",
    "[rclick allow=1]",
    "[exec command=rclick]",
    "[exec command=skip]",
    "[automode allow=1]",
    "[exec command=automode]",
    "[skip allow=0]",
    "[debug mode=2]",
    "[debug mode=9]",
    "[print data=$'x'+f.n]",
    "*a",
    "*c",
    "[lyc id=1 file=x]",
    "[unknown]",
    "[var name=g.x data=1]",
    "[var name=f.t system=random]",
    "text",
    "[if estimate=(]",
    "[/if][/if][/loop]",
};

std::string RandomScript(std::mt19937& rng, int pieces) {
  std::uniform_int_distribution<size_t> pick(0, std::size(kPieces) - 1);
  std::string text = "[&linetag allow=0]\n";
  for (int i = 0; i < pieces; ++i) {
    text += kPieces[pick(rng)];
    text += (rng() % 3) ? "\n" : "";
  }
  return text + "\n";
}

TEST_F(InterpRobust, RandomScriptsRunWithoutHarm) {
  std::mt19937 rng(12345);
  const int keys[] = {0, platform::VK_LBUTTON, platform::VK_RBUTTON, platform::VK_RETURN, platform::VK_LSHIFT, 'A'};
  for (int round = 0; round < 25; ++round) {
    WriteFile("game.iet", RandomScript(rng, 30));
    WriteFile("b.iet", RandomScript(rng, 15));
    WriteFile("macro.iet", "*m\n" + RandomScript(rng, 10) + "[return]\n*m2\n[return]\n");
    WriteFile("rclick.iet", RandomScript(rng, 8) + "*leave\n[return]\n");
    ASSERT_FALSE(Start()) << round;
    script_->SetRecordBudget(2000);
    for (int f = 0; f < 30 && State() != CMainScript::kEnded; ++f) {
      int key = keys[rng() % std::size(keys)];
      if (key) {
        Frame({key});
      } else {
        Frame({}, 50);
      }
      ASSERT_EQ(script_->GetCallStack().size(), script_->GetVariables().ScopeCount()) << round;
    }
    script_->OnClose();
    script_.reset();
  }
}

}  // namespace

TEST_F(InterpRobust, TextsStopGrowingAtTheLimitAndKeepTheirValue) {
  // Doubles a text until it would pass 16 MB: that tag is reported and
  // skipped, the variable keeps its last value, and the game goes on.
  WriteFile("game.iet",
            "[var name=t.n data=0][var name=f.s data=ab]\n"
            "*l\n[var name=f.s data=$f.s+f.s][var name=t.n data=$t.n+1]\n"
            "[if estimate=t.n<30][jump label=l][/if]\n[var name=t.done data=1]\n"
            // A condition that passes the limit is only false: the records
            // after it run.
            "[if estimate=f.s+f.s][var name=t.inside data=1][/if]\n"
            "[var name=t.after data=$1+1]\n[var name=t.after2 data=$1+2]@\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(Var("t.done"), "1");
  EXPECT_EQ(Var("f.s").size(), size_t{16} << 20);
  EXPECT_FALSE(Has("t.inside"));
  EXPECT_EQ(Var("t.after"), "2");
  EXPECT_EQ(Var("t.after2"), "3");
}
