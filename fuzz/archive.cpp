// Mounts arbitrary bytes as an archive (written to a scratch file) and reads
// every entry it registers: damaged directories must mount what they can and
// never read out of bounds or allocate from a hostile size, and no entry may
// point outside the game folder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <list>
#include <random>
#include <string>

#include "files/PackFile.h"

namespace {

const std::string& ScratchFile() {
  static const std::string path = [] {
    auto dir =
        std::filesystem::temp_directory_path() / ("velmira_fuzz_archive_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    return (dir / "fuzz.pfs").string();
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& name = ScratchFile();
  {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  CPackFile::UnmountAll();
  CPackFile mounter;
  // As a volume: the thousand volume probes of a main archive add nothing here.
  mounter.MountArchive(name.c_str(), true);
  const CPackFile::CEntryTable* table = CPackFile::FindArchive(name);
  if (!table) __builtin_trap();  // an existing file is always registered
  int opened = 0;
  for (const auto& [entryName, entry] : *table) {
    // Entries naming another file never leave the game folder.
    if (entry.archivePath != name && !IsGameFolderPath(entry.archivePath)) __builtin_trap();
    if (entry.archivePath != name || ++opened > 32) continue;
    CPackFile f;
    if (f.OpenEntry(entry, entryName)) continue;
    if (f.GetSize() != static_cast<int>(entry.size) || f.Tell() != 0) __builtin_trap();
    char buffer[512];
    int total = 0;
    for (int n; (n = f.Read(buffer, sizeof buffer)) > 0;) total += n;
    if (total != static_cast<int>(entry.size)) __builtin_trap();
    f.Seek(-1, 1);
    f.Seek(1, 2);
    if (f.Read(buffer, 1) != 0) __builtin_trap();
  }
  std::list<std::string> names;
  mounter.ListEntries(name.c_str(), names);
  return 0;
}
