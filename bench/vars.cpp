// Expression evaluation speed for typical script conditions. The baseline looks up the same
// names in a plain hash map and compares the values directly, which is the least any
// evaluation has to do; report the evaluation figures as ratios against it.

#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>

#include "vars/QelVariables.h"

namespace {

void Fill(CQelVariables& vars) {
  vars.AddQuoteChar('\'');
  vars.SetInt("f.flag", 1);
  vars.SetInt("f.count", 4);
  vars.SetInt("f.i", 3);
  vars.SetString("f.name", "\x83\x41\x83\x8A\x83\x58");  // a katakana name
  for (int i = 0; i < 10; ++i) vars.SetInt("f.arr" + std::to_string(i), i * 10);
  for (int i = 0; i < 200; ++i) vars.SetInt("f.other" + std::to_string(i), i);
}

void BM_BaselineMapLookup(benchmark::State& state) {
  std::unordered_map<std::string, int> map;
  map["f.flag"] = 1;
  map["f.count"] = 4;
  for (int i = 0; i < 200; ++i) map["f.other" + std::to_string(i)] = i;
  const std::string flag = "f.flag", count = "f.count";
  for (auto _ : state) {
    // The same two lookups and comparisons as the condition benchmark.
    bool result = map.find(count)->second >= 3 && map.find(flag)->second == 1;
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BaselineMapLookup);

void RunExpression(benchmark::State& state, const char* expression) {
  CQelVariables vars;
  Fill(vars);
  const std::string text = expression;
  for (auto _ : state) {
    std::string result = vars.Evaluate(text);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_EvaluateComparison(benchmark::State& state) { RunExpression(state, "f.flag==1"); }
BENCHMARK(BM_EvaluateComparison);

void BM_EvaluateCondition(benchmark::State& state) { RunExpression(state, "f.count>=3 && f.flag==1"); }
BENCHMARK(BM_EvaluateCondition);

void BM_EvaluateConcatenation(benchmark::State& state) { RunExpression(state, "f.name+'\x82\xB3\x82\xF1'+f.count"); }
BENCHMARK(BM_EvaluateConcatenation);

void BM_EvaluateIndexed(benchmark::State& state) { RunExpression(state, "f.arr(f.i)+1"); }
BENCHMARK(BM_EvaluateIndexed);

void BM_EvaluateArithmetic(benchmark::State& state) { RunExpression(state, "(f.count*3+7)%5-1"); }
BENCHMARK(BM_EvaluateArithmetic);

}  // namespace
