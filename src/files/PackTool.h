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
  // Packs the developer's save files and the temporaries of interrupted
  // saves too (left out by default: a game must not ship them).
  bool includeSaves = false;
};

// Progress: files written so far and in total.
using ProgressFn = std::function<void(size_t done, size_t total)>;

// The regular files below `dir`, as the engine finds loose files: symlinked
// folders are followed, except one that leads back into a folder it lies in
// (that would never end), which is named in `loops` and not entered. Paths
// are relative to `dir`, UTF-8 with '/', sorted. True when `dir` is not a
// readable folder, with `error` set.
bool ListGameFolder(const std::string& dir, std::vector<std::string>& files, std::vector<std::string>& loops,
                    std::string& error);

// True for the engine's save files ("saveg.dat", "system.dat", "autosave.dat",
// "saveq.dat" and other ".dat" files with a save header) and the temporaries
// its writes leave when interrupted ("NAME.tmp<PID>"). `relative` is the
// UTF-8 name in the game folder, `path` the file on disk.
bool IsSaveOrTemporary(const std::string& relative, const std::string& path);

// Lists the regular files below `dir` (recursively, see ListGameFolder) with
// entry names relative to it. A symlinked folder loop is a failure. True on
// failure, with `error` set.
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
// True on failure (file missing or not an archive). A damaged directory is
// described in `damage` ("" when intact) while the intact entries are listed.
bool ListArchive(const std::string& archive, std::vector<SListedEntry>& out, std::string& error,
                 std::string* damage = nullptr);

// Extracts every entry of `archive` below `dir`, creating folders as needed.
// Entry names that would leave `dir` (absolute, "..", drive letters) are
// refused. True on failure.
bool ExtractArchive(const std::string& archive, const std::string& dir, std::string& error,
                    const ProgressFn& progress = {});

}  // namespace packtool
