// Game-state saves. Three questions, each with a baseline from the same run:
//
// 1. SaveState of a large game (2,000 variables, 100 layer lists, 101
//    message pages) against the bare atomic write of the same bytes: the
//    cost of building the stream. Goal: at most 1.5 times the baseline.
// 2. Reading a game state up to the replay (header, stream, staging and
//    checks) against reading the file: goal at most 3 times. Two more
//    figures build nothing: one finds only the variables in the stream, the
//    other walks every record and variable as views of the bytes (the floor
//    of this file layout).
// 3. Replaying the scene's records against running the same tags live:
//    goal at most 1.2 times.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/Config.h"
#include "graphics/PngWriter.h"
#include "platform/FileSystem.h"
#include "platform/InputState.h"
#include "platform/Platform.h"
#include "save/SaveData.h"
#include "scene/GraphicSystem.h"
#include "scene/Tween.h"
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"
#include "vars/QelVariables.h"
#include "BenchGame.h"

namespace {

// A 4x4 orange PNG, enough for the layer tags to load.
std::vector<uint8_t> SmallPng() {
  std::vector<uint8_t> pixels;
  for (int i = 0; i < 16; ++i) pixels.insert(pixels.end(), {0xF0, 0x80, 0x20});
  PngImage image;
  image.width = 4;
  image.height = 4;
  image.colorType = 2;
  image.pixels = pixels.data();
  image.pitch = 12;
  std::vector<uint8_t> bytes;
  if (EncodePng(image, bytes)) bytes.clear();
  return bytes;
}

class BigGame {
 public:
  BigGame() {
    const std::vector<uint8_t> png = SmallPng();
    game_ = std::make_unique<bench::HeadlessGame>(
        "save", std::map<std::string, std::string>{{"game.iet", "@\n"}, {"a.png", std::string(png.begin(), png.end())}},
        graphics_.get());
    if (!game_->Booted()) return;
    CMainScript& script = game_->Script();
    script.Frame(1000);
    for (int i = 0; i < 2000; ++i)
      script.GetVariables().SetString("v" + std::to_string(i), "value " + std::to_string(i));
    for (int i = 0; i < 100; ++i) {
      const std::string id = "layer" + std::to_string(i);
      records_.push_back(CScriptBlock(CScriptBlock::kTag, 0, "lyc", {{"id", id}, {"file", "a.png"}}));
      records_.push_back(CScriptBlock(CScriptBlock::kTag, 0, "lyprop", {{"id", id}, {"left", "10"}, {"top", "5"}}));
      records_.push_back(CScriptBlock(CScriptBlock::kTag, 0, "lyprop", {{"id", id}, {"alpha", "128"}}));
    }
    for (const CScriptBlock& record : records_) script.Dispatch(record, false);
    // 101 message pages' worth of text in the page lists.
    for (int page = 0; page < 101; ++page)
      for (int line = 0; line < 4; ++line)
        script.GetSaveData().AppendMessage(
            "w" + std::to_string(page), CScriptBlock(CScriptBlock::kText, 0, "a line of text on a page of the story"));
  }
  ~BigGame() {
    game_.reset();
    CTweenRegistry::Instance().DeleteAll();
  }
  CMainScript& Script() { return game_->Script(); }
  const std::vector<CScriptBlock>& Records() const { return records_; }
  bool Booted() const { return game_->Booted(); }

 private:
  // The scene outlives the interpreter, which drops its layers at the end.
  std::unique_ptr<CGraphicSystem> graphics_ = std::make_unique<CGraphicSystem>(nullptr, 64, 48);
  std::unique_ptr<bench::HeadlessGame> game_;
  std::vector<CScriptBlock> records_;
};

void BM_SaveState(benchmark::State& state) {
  BigGame game;
  if (!game.Booted()) return state.SkipWithError("boot failed");
  for (auto _ : state)
    if (game.Script().GetSaveData().SaveState("slot.dat")) return state.SkipWithError("save failed");
}
// Wall time: most of a save is the wait for the disk (fsync), which a
// processor-time figure would leave out of both sides.
BENCHMARK(BM_SaveState)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_BaselineAtomicWriteOfTheSameBytes(benchmark::State& state) {
  BigGame game;
  if (!game.Booted() || game.Script().GetSaveData().SaveState("slot.dat")) return state.SkipWithError("save failed");
  std::vector<uint8_t> bytes;
  if (platform::ReadWholeFile("slot.dat", bytes)) return state.SkipWithError("read failed");
  for (auto _ : state)
    if (platform::WriteFileAtomic("copy.dat", bytes.data(), bytes.size())) return state.SkipWithError("write failed");
  state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_BaselineAtomicWriteOfTheSameBytes)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Reads slot.dat and opens its stream (a view of bytes); true on failure.
bool OpenSlot(std::vector<uint8_t>& bytes, CSerializer& stream) {
  if (platform::ReadWholeFile("slot.dat", bytes)) return true;
  char kind = 0;
  int32_t version = 0;
  size_t offset = 0;
  return CSaveData::ParseHeader(bytes, kind, version, offset) ||
         stream.LoadView(bytes.data() + offset, bytes.size() - offset);
}

void BM_ReadStateUpToTheReplay(benchmark::State& state) {
  BigGame game;
  if (!game.Booted() || game.Script().GetSaveData().SaveState("slot.dat")) return state.SkipWithError("save failed");
  for (auto _ : state) {
    std::vector<uint8_t> bytes;
    CSerializer stream;
    if (OpenSlot(bytes, stream)) return state.SkipWithError("cannot read slot.dat");
    CLoadedGame loaded;
    std::string why;
    if (game.Script().GetSaveData().ReadState(stream, loaded, why)) return state.SkipWithError(why.c_str());
    benchmark::DoNotOptimize(loaded.layers.size());
  }
}
BENCHMARK(BM_ReadStateUpToTheReplay)->Unit(benchmark::kMicrosecond);

// How far down the read up to the replay can go with the file as it is: the
// variables' names and values only found in the stream, as views of its
// bytes, with no store built.
class CVariableViews : public ISerializable {
 public:
  void Serialize(CSerializer&) const override {}
  void Deserialize(CSerializer& stream) override { stream.Read(2, pairs); }
  std::vector<std::pair<std::string_view, std::string_view>> pairs;
};

void BM_FindTheVariablesAsViewsOnly(benchmark::State& state) {
  BigGame game;
  if (!game.Booted() || game.Script().GetSaveData().SaveState("slot.dat")) return state.SkipWithError("save failed");
  for (auto _ : state) {
    std::vector<uint8_t> bytes;
    CSerializer stream;
    if (OpenSlot(bytes, stream)) return state.SkipWithError("cannot read slot.dat");
    CVariableViews views;
    if (stream.Read(30, views)) return state.SkipWithError("no variables");
    benchmark::DoNotOptimize(views.pairs.size());
  }
}
BENCHMARK(BM_FindTheVariablesAsViewsOnly)->Unit(benchmark::kMicrosecond);

// One record of a replay list as views of the stream's bytes.
class CRecordView : public ISerializable {
 public:
  void Serialize(CSerializer&) const override {}
  void Deserialize(CSerializer& stream) override {
    stream.Read(1, type);
    stream.Read(2, line);
    stream.Read(3, text);
    stream.Read(4, attributes);
  }
  int32_t type = 2;
  int32_t line = 0;
  std::string_view text;
  std::vector<std::pair<std::string_view, std::string_view>> attributes;
};

// The floor of the file layout for everything the read up to the replay
// must look at: the replay lists' records (each a nested stream with its own
// tag table) and the variables, found as views, nothing built or checked.
void BM_WalkTheWholeStreamAsViews(benchmark::State& state) {
  BigGame game;
  if (!game.Booted() || game.Script().GetSaveData().SaveState("slot.dat")) return state.SkipWithError("save failed");
  using Lists = std::vector<std::pair<std::string_view, std::vector<CRecordView>>>;
  for (auto _ : state) {
    std::vector<uint8_t> bytes;
    CSerializer stream;
    if (OpenSlot(bytes, stream)) return state.SkipWithError("cannot read slot.dat");
    Lists messages, layers;
    CVariableViews views;
    if (stream.Read(24, messages) || stream.Read(26, layers) || stream.Read(30, views))
      return state.SkipWithError("a field is missing");
    benchmark::DoNotOptimize(messages.size() + layers.size() + views.pairs.size());
  }
}
BENCHMARK(BM_WalkTheWholeStreamAsViews)->Unit(benchmark::kMicrosecond);

void BM_BaselineReadTheFile(benchmark::State& state) {
  BigGame game;
  if (!game.Booted() || game.Script().GetSaveData().SaveState("slot.dat")) return state.SkipWithError("save failed");
  for (auto _ : state) {
    std::vector<uint8_t> bytes;
    if (platform::ReadWholeFile("slot.dat", bytes)) return state.SkipWithError("read failed");
    benchmark::DoNotOptimize(bytes.data());
  }
}
BENCHMARK(BM_BaselineReadTheFile)->Unit(benchmark::kMicrosecond);

void RunRecords(benchmark::State& state, bool replay) {
  BigGame game;
  if (!game.Booted()) return state.SkipWithError("boot failed");
  for (auto _ : state)
    for (const CScriptBlock& record : game.Records()) game.Script().Dispatch(record, replay);
  state.SetItemsProcessed(state.iterations() * int64_t(game.Records().size()));
}

void BM_ReplayTheLayerLists(benchmark::State& state) { RunRecords(state, true); }
BENCHMARK(BM_ReplayTheLayerLists)->Unit(benchmark::kMicrosecond);

void BM_BaselineRunTheSameTagsLive(benchmark::State& state) { RunRecords(state, false); }
BENCHMARK(BM_BaselineRunTheSameTagsLive)->Unit(benchmark::kMicrosecond);

}  // namespace
