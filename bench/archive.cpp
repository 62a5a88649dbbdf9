// Opening and reading entries of a 100,000-entry archive, against opening and
// reading the same bytes as loose files. The loose-file run is the baseline:
// report the archive figures as ratios against it.
//
// Both go through CPackFile::Open, so the archive run includes the failed
// loose-file probe that every archive lookup makes first.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "files/Config.h"
#include "files/PackFile.h"
#include "platform/FileSystem.h"
#include "core/Serializer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 100000;
constexpr int kFolders = 100;
constexpr int kEntrySize = 200;

std::string EntryName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "d%02d\\f%06d.dat", i % kFolders, i);
  return name;
}

std::string Content(int i) {
  std::string s(kEntrySize, '\0');
  for (int k = 0; k < kEntrySize; ++k) s[k] = static_cast<char>(i * 31 + k);
  return s;
}

// Scratch data made once per process and removed at exit.
struct Data {
  fs::path root;
  fs::path archiveDir;
  fs::path looseDir;
  std::string saved;
  std::vector<int> order;  // entries visited in a scattered order

  Data() {
    saved = platform::GetCurrentDirectory();
    root = fs::temp_directory_path() / ("velmira_bench_archive_" + std::to_string(std::random_device{}()));
    archiveDir = root / "archive";
    looseDir = root / "loose";
    fs::create_directories(archiveDir);
    for (int d = 0; d < kFolders; ++d) {
      char folder[8];
      std::snprintf(folder, sizeof folder, "d%02d", d);
      fs::create_directories(looseDir / folder);
    }
    // pf1: index of names, offsets and sizes, then the bytes.
    CSerializer index;
    index.Write(0, static_cast<uint32_t>(kEntries));
    std::vector<std::string> names(kEntries);
    size_t indexSize = 4 + 4;
    for (int i = 0; i < kEntries; ++i) {
      names[i] = EntryName(i);
      indexSize += 4 + names[i].size() + 8;
    }
    uint32_t offset = static_cast<uint32_t>(3 + 4 + indexSize);
    for (int i = 0; i < kEntries; ++i) {
      index.Write(0, names[i]);
      index.Write(0, offset);
      index.Write(0, static_cast<uint32_t>(kEntrySize));
      offset += kEntrySize;
    }
    std::vector<uint8_t> bytes = index.Finish();
    std::ofstream out(archiveDir / "game.pfs", std::ios::binary);
    uint32_t n = static_cast<uint32_t>(bytes.size());
    out.write("pf1", 3);
    for (int k = 0; k < 4; ++k) out.put(static_cast<char>(n >> (8 * k)));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    for (int i = 0; i < kEntries; ++i) {
      std::string c = Content(i);
      out.write(c.data(), kEntrySize);
      std::string loose = names[i];
      loose[3] = '/';
      std::ofstream(looseDir / loose, std::ios::binary).write(c.data(), kEntrySize);
    }
    std::mt19937 rng(7);
    order.resize(kEntries);
    for (int i = 0; i < kEntries; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
  }
  ~Data() {
    platform::SetCurrentDirectory(saved);
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Data& GetData() {
  static Data data;
  return data;
}

void OpenAndRead(benchmark::State& state) {
  Data& data = GetData();
  std::vector<std::string> names;
  names.reserve(4096);
  for (int i = 0; i < 4096; ++i) names.push_back(EntryName(data.order[i]));
  char buffer[kEntrySize];
  size_t k = 0;
  for (auto _ : state) {
    CPackFile f;
    if (f.Open(names[k].c_str())) {
      state.SkipWithError("entry missing");
      break;
    }
    benchmark::DoNotOptimize(f.Read(buffer, sizeof buffer));
    k = (k + 1) % names.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kEntrySize);
}

void BM_LooseOpenRead(benchmark::State& state) {
  Data& data = GetData();
  platform::SetCurrentDirectory(data.looseDir.string());
  SetRootArchivePath("none.pfs");
  CPackFile::UnmountAll();
  OpenAndRead(state);
}

void BM_ArchiveOpenRead(benchmark::State& state) {
  Data& data = GetData();
  platform::SetCurrentDirectory(data.archiveDir.string());
  SetRootArchivePath("game.pfs");
  CPackFile::UnmountAll();
  CPackFile mounter;
  mounter.Mount("game.pfs");  // the directory is read once, before timing
  OpenAndRead(state);
}

// The entry opened straight from the table, without the loose-file probe and
// the lookup: what the archive itself costs.
void BM_ArchiveOpenEntryOnly(benchmark::State& state) {
  Data& data = GetData();
  platform::SetCurrentDirectory(data.archiveDir.string());
  CPackFile::UnmountAll();
  CPackFile mounter;
  mounter.Mount("game.pfs");
  const CPackFile::CEntryTable* table = CPackFile::FindArchive("game.pfs");
  std::vector<const CPackFile::CPackedFile*> entries;
  for (int i = 0; i < 4096; ++i) entries.push_back(&table->at(EntryName(data.order[i])));
  char buffer[kEntrySize];
  size_t k = 0;
  for (auto _ : state) {
    CPackFile f;
    if (f.OpenEntry(*entries[k], "x")) {
      state.SkipWithError("entry missing");
      break;
    }
    benchmark::DoNotOptimize(f.Read(buffer, sizeof buffer));
    k = (k + 1) % entries.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kEntrySize);
}

void BM_ArchiveMount(benchmark::State& state) {
  Data& data = GetData();
  platform::SetCurrentDirectory(data.archiveDir.string());
  for (auto _ : state) {
    CPackFile::UnmountAll();
    CPackFile mounter;
    benchmark::DoNotOptimize(mounter.Mount("game.pfs"));
  }
  CPackFile::UnmountAll();
}

}  // namespace

BENCHMARK(BM_LooseOpenRead);
BENCHMARK(BM_ArchiveOpenRead);
BENCHMARK(BM_ArchiveOpenEntryOnly);
BENCHMARK(BM_ArchiveMount)->Unit(benchmark::kMillisecond);
