// Archive packing, listing and extraction for the author tool.
//
// The engine itself only reads archives (CPackFile); these helpers are the
// writing side and are linked by velmira-tool and by tests only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace packtool {

enum class EFormat { Pf0, Pf1, Pf2 };

// One file to pack: its entry name (CP932, relative, backslash separators) and
// the file on disk it comes from.
struct SSource {
  std::string name;
  std::string path;  // UTF-8 path on disk
  uint64_t size = 0;
};

struct SPackOptions {
  EFormat format = EFormat::Pf1;
  // Largest size of one output file; 0 keeps everything in one file. Entries
  // that do not fit go to volumes OUT.000, OUT.001, ...
  uint64_t volumeSize = 0;
  // Executable (an MZ image) to put in front of the main file.
  std::string appendTo;
  // pf2 only: the archive path stored in each entry, the name the engine opens
  // to read the bytes. Empty: the output file's own name (volumes get
  // ".000" ... appended). Use backslashes for folders below the game folder.
  std::string storedPath;
};

// Progress: files written so far and in total.
using ProgressFn = std::function<void(size_t done, size_t total)>;

// Lists the regular files below `dir` (recursively) with entry names relative
// to it. True on failure, with `error` set.
bool CollectDirectory(const std::string& dir, std::vector<SSource>& out, std::string& error);

// Writes the archive `out` (and its volumes) from `sources`. True on failure.
bool WriteArchive(const std::string& out, std::vector<SSource> sources, const SPackOptions& options, std::string& error,
                  const ProgressFn& progress = {});

// Packs the folder `dir` into `out`. True on failure.
bool PackDirectory(const std::string& dir, const std::string& out, const SPackOptions& options, std::string& error,
                   const ProgressFn& progress = {});

struct SListedEntry {
  std::string name;  // CP932 as stored
  std::string archivePath;
  uint32_t offset = 0;
  uint32_t size = 0;
};

// Mounts `archive` (with its volumes) and returns its entries sorted by name.
// True on failure (file missing or not an archive).
bool ListArchive(const std::string& archive, std::vector<SListedEntry>& out, std::string& error);

// Extracts every entry of `archive` below `dir`, creating folders as needed.
// Entry names that would leave `dir` (absolute, "..", drive letters) are
// refused. True on failure.
bool ExtractArchive(const std::string& archive, const std::string& dir, std::string& error,
                    const ProgressFn& progress = {});

}  // namespace packtool
