// Interpreter speed. Two questions, each with a baseline from the same run:
//
// 1. Records dispatched per second for a script of variable assignments and
//    conditions, against evaluating the same expressions straight on a
//    variable store (the work no interpreter can avoid): the ratio is the
//    interpreter's own overhead.
// 2. The cost of one frame of the frame cycle when the script only waits for
//    a click, against sampling the input state once (which the engine does
//    every frame anyway). A frame has 16.7 ms; this should stay far below 1 ms.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "files/Config.h"
#include "platform/InputState.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"
#include "vars/QelVariables.h"
#include "BenchGame.h"

namespace {

// A game whose boot script is the given text.
struct TempGame : bench::HeadlessGame {
  explicit TempGame(const std::string& script) : HeadlessGame("interp", {{"game.iet", script}}) {}
};

// Each frame runs the whole loop once and ends at the empty tag.
const char kLoopScript[] =
    "*top\n"
    "[var name=f.i data=0]\n"
    "[loop estimate=f.i<1000]\n"
    "[var name=f.i data=$f.i+1]\n"
    "[if estimate=f.i%2==0]\n"
    "[var name=f.even data=$f.even+1]\n"
    "[/if]\n"
    "[/loop]\n"
    "[]\n"
    "[jump label=top]\n";

// Records one pass dispatches: the first var; 1000 turns of loop, var, if,
// /if plus the even turns' var; the last loop test; the empty tag; the jump
// (counted in the next frame, which also starts with the label).
constexpr int64_t kRecordsPerFrame = 1 + 1000 * 5 + 500 + 1 + 1 + 1 + 1;

void BM_DispatchVariablesAndConditions(benchmark::State& state) {
  TempGame game(kLoopScript);
  if (!game.Booted()) {
    state.SkipWithError("boot failed");
    return;
  }
  uint32_t now = 1000000;
  game.Script().Frame(now);  // warm up: loads, read marks
  for (auto _ : state) game.Script().Frame(now += 16);
  state.SetItemsProcessed(state.iterations() * kRecordsPerFrame);
}
BENCHMARK(BM_DispatchVariablesAndConditions)->Unit(benchmark::kMicrosecond);

void BM_BaselineEvaluateSameExpressions(benchmark::State& state) {
  CQelVariables vars;
  SetInitialVariables(vars, false);
  for (auto _ : state) {
    vars.SetString("f.i", "0");
    for (;;) {
      if (vars.Evaluate("f.i<1000") != "1") break;
      vars.SetString("f.i", vars.Evaluate("f.i+1"));
      if (vars.Evaluate("f.i%2==0") == "1") vars.SetString("f.even", vars.Evaluate("f.even+1"));
    }
  }
  state.SetItemsProcessed(state.iterations() * kRecordsPerFrame);
}
BENCHMARK(BM_BaselineEvaluateSameExpressions)->Unit(benchmark::kMicrosecond);

void BM_IdleFrameInClickWait(benchmark::State& state) {
  TempGame game("@\n");
  if (!game.Booted()) {
    state.SkipWithError("boot failed");
    return;
  }
  uint32_t now = 1000000;
  game.Script().Frame(now);
  if (game.Script().GetState() != CMainScript::kClickWait) {
    state.SkipWithError("not waiting");
    return;
  }
  for (auto _ : state) game.Script().Frame(now += 16);
}
BENCHMARK(BM_IdleFrameInClickWait);

void BM_BaselineInputSample(benchmark::State& state) {
  TempGame game("@\n");
  uint32_t now = 1000000;
  for (auto _ : state) game.Input().Update(now += 16);
}
BENCHMARK(BM_BaselineInputSample);

}  // namespace
