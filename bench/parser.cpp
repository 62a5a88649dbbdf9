// Script parse throughput against reading the same bytes from a file.
//
//   BM_ReadScriptFile  reads the generated script through the file layer
//   BM_ParseScript     parses it (fresh parser per run, tag.ini given)
// Compare the bytes_per_second of the two rows of one run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "files/Config.h"
#include "platform/TextCodec.h"
#include "files/PackFile.h"
#include "script/QelParser.h"
#include "script/tags/TagFamilies.h"

namespace {

// About 16 MB of text lines, bracket tags, line tags, labels, comments and a
// few lua blocks, in the proportions of a typical scenario.
const std::string& Script() {
  static const std::string script = [] {
    const std::string speech = Utf8ToCp932("「今日はいい天気ですね。散歩に行きませんか？」");
    const std::string narration = Utf8ToCp932("彼女はそう言って、窓の外を眺めた。ソファの上には表紙の破れた本がある。");
    std::string s = "[&scpsupport mode=add command=[r\\]][&scpsupport mode=add char=" + Utf8ToCp932("」") +
                    "]\n[&autoinsert target=lineend command=@]\n";
    int n = 0;
    while (s.size() < (16u << 20)) {
      ++n;
      s += "*scene" + std::to_string(n) + "\n";
      s += "// scene " + std::to_string(n) + ": the walk\n";
      s += "bg bg" + std::to_string(n % 30) + ".png, 500\n";
      s += "[lyc id=chara file=\"chara/a_" + std::to_string(n % 7) + ".png\" left=320 top=40]\n";
      s += "[trans type=fade time=300][wait time=300]\n";
      s += speech + "\n";
      s += narration + "[r]" + narration + "\n";
      s += "Plain ASCII narration with [ruby text=\"kanji\"]a ruby[/ruby] and more words here.\n";
      s += "[var name=f.count data=\"f.count + 1\"]\n";
      s += "se click.ogg\n";
      s += "/* a block comment\n   over two lines */\n";
      if (n % 50 == 0) s += "[lua]\nlocal x = " + std::to_string(n) + "\nprint(x)\n[/lua]\n";
      s += "\n";
    }
    return s;
  }();
  return script;
}

const CIni& TagIni() {
  static const CIni ini = [] {
    CIni doc;
    doc.Parse("[bg]\n0=file\n1=time\n[se]\n0=file\n");
    return doc;
  }();
  return ini;
}

void BM_ReadScriptFile(benchmark::State& state) {
  const std::string& script = Script();
  const std::string path = (std::filesystem::temp_directory_path() / "velmira_bench_parser.iet").string();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(script.data(), 1, script.size(), f);
    std::fclose(f);
  }
  std::string buffer;
  for (auto _ : state) {
    CPackFile file;
    if (file.Open(path.c_str())) {
      state.SkipWithError("cannot open the generated script");
      break;
    }
    buffer.assign(static_cast<size_t>(file.GetSize()) + 1, '\0');
    file.Read(buffer.data(), static_cast<unsigned>(file.GetSize()));
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(script.size()));
  std::filesystem::remove(path);
}
BENCHMARK(BM_ReadScriptFile)->Unit(benchmark::kMillisecond);

void BM_ParseScript(benchmark::State& state) {
  const std::string& script = Script();
  size_t records = 0;
  for (auto _ : state) {
    CQelParser parser(GetTagRegistry());
    parser.SetTagIni(&TagIni());
    parser.Parse(script.c_str());
    std::vector<CScriptBlock> blocks = parser.TakeBlocks();
    records = blocks.size();
    benchmark::DoNotOptimize(blocks.data());
  }
  state.counters["records"] = static_cast<double>(records);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(script.size()));
}
BENCHMARK(BM_ParseScript)->Unit(benchmark::kMillisecond);

}  // namespace
