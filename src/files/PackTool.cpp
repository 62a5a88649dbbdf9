#include "files/PackTool.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "platform/TextCodec.h"
#include "files/PackFile.h"
#include "platform/FileSystem.h"
#include "core/Serializer.h"

namespace fs = std::filesystem;

namespace packtool {
namespace {

// Positions are signed 32-bit in the reader: no byte of an archive file may lie
// beyond this.
constexpr uint64_t kMaxFileSize = 0x7FFFFFFF;
constexpr size_t kPf0NameField = 260;
constexpr size_t kMaxVolumes = 1000;
constexpr size_t kCopyBuffer = 1 << 20;

std::string VolumeName(const std::string& base, size_t k) {
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".%03zu", k);
  return base + suffix;
}

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t LoadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// One output file of the archive: the main file or a volume.
struct SPlannedFile {
  std::string path;        // UTF-8 path on disk
  std::string storedPath;  // pf2: archive path written into its entries
  std::vector<size_t> entries;
  uint64_t base = 0;        // bytes of executable in front of the archive
  uint64_t headerSize = 0;  // magic and directory
  uint64_t dataSize = 0;
};

uint64_t FixedHeaderSize(EFormat format) {
  // pf0: magic, count. pf1/pf2: magic, index size, empty tag table, count.
  return format == EFormat::Pf0 ? 3 + 4 : 3 + 4 + 4 + 4;
}

uint64_t EntryHeaderSize(EFormat format, const std::string& name, const std::string& storedPath) {
  switch (format) {
    case EFormat::Pf0: return kPf0NameField + 8;
    case EFormat::Pf1: return 4 + name.size() + 8;
    case EFormat::Pf2:
      // name, then the nested entry: block length, tag table, path, offset, size
      return 4 + name.size() + 4 + 4 + 4 + storedPath.size() + 8;
  }
  return 0;
}

bool CopyFileBytes(std::ifstream& in, std::ofstream& out, uint64_t size, std::vector<char>& buffer) {
  while (size > 0) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(size, buffer.size()));
    in.read(buffer.data(), static_cast<std::streamsize>(n));
    if (static_cast<size_t>(in.gcount()) != n) return true;
    out.write(buffer.data(), static_cast<std::streamsize>(n));
    if (!out) return true;
    size -= n;
  }
  // The file must not have grown either.
  return in.peek() != std::char_traits<char>::eof();
}

std::string Utf8Path(const fs::path& p) {
  std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

std::string Utf8Path(const std::u8string& s) { return std::string(s.begin(), s.end()); }

fs::path PathFromUtf8(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

// Checks the executable and returns its size; true on failure.
bool CheckExecutable(const std::string& exe, uint64_t& size, std::string& error) {
  std::ifstream in(PathFromUtf8(exe), std::ios::binary);
  if (!in) {
    error = "cannot open executable " + exe;
    return true;
  }
  unsigned char head[32] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  if (in.gcount() < static_cast<std::streamsize>(sizeof head) || head[0] != 'M' || head[1] != 'Z') {
    error = exe + " is not an MZ executable: the engine only finds archives appended to one";
    return true;
  }
  std::error_code ec;
  size = fs::file_size(PathFromUtf8(exe), ec);
  if (ec) {
    error = "cannot read the size of " + exe;
    return true;
  }
  uint32_t header28 = LoadU32(head + 28);
  if (header28 != 0 && header28 != size) {
    // The reader would take this word as the archive's start.
    error = exe + " has a non-zero word at byte 28; the appended archive could not be found";
    return true;
  }
  return false;
}

}  // namespace

namespace {

void WalkFolder(const fs::path& root, const fs::path& folder, std::vector<fs::path>& ancestors,
                std::vector<std::string>& files, std::vector<std::string>& loops) {
  std::error_code ec;
  std::vector<fs::directory_entry> children;
  for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
       it.increment(ec)) {
    children.push_back(*it);
  }
  for (const fs::directory_entry& child : children) {
    std::error_code sec;
    const fs::path rel = child.path().lexically_relative(root);
    if (child.is_directory(sec)) {
      fs::path real = fs::canonical(child.path(), sec);
      if (sec) continue;
      if (std::find(ancestors.begin(), ancestors.end(), real) != ancestors.end()) {
        loops.push_back(rel.generic_string());
        continue;
      }
      ancestors.push_back(real);
      WalkFolder(root, child.path(), ancestors, files, loops);
      ancestors.pop_back();
    } else if (child.is_regular_file(sec)) {
      files.push_back(Utf8Path(rel.generic_u8string()));
    }
  }
}

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

bool ListGameFolder(const std::string& dir, std::vector<std::string>& files, std::vector<std::string>& loops,
                    std::string& error) {
  files.clear();
  loops.clear();
  std::error_code ec;
  const fs::path root = PathFromUtf8(dir);
  if (!fs::is_directory(root, ec)) {
    error = dir + (fs::exists(root, ec) ? " is not a folder" : " is not a folder (not found)");
    return true;
  }
  fs::directory_iterator probe(root, ec);
  if (ec) {
    error = "cannot read folder " + dir + ": " + ec.message();
    return true;
  }
  std::vector<fs::path> ancestors{fs::canonical(root, ec)};
  WalkFolder(root, root, ancestors, files, loops);
  std::sort(files.begin(), files.end());
  std::sort(loops.begin(), loops.end());
  return false;
}

bool IsSaveOrTemporary(const std::string& relative, const std::string& path) {
  const size_t slash = relative.rfind('/');
  const std::string name = LowerAscii(slash == std::string::npos ? relative : relative.substr(slash + 1));
  // An interrupted atomic write leaves NAME.tmp<PID>.
  const size_t tmp = name.rfind(".tmp");
  if (tmp != std::string::npos && tmp + 4 < name.size() &&
      std::all_of(name.begin() + static_cast<std::ptrdiff_t>(tmp + 4), name.end(),
                  [](char c) { return c >= '0' && c <= '9'; })) {
    return true;
  }
  if (name == "saveg.dat" || name == "system.dat" || name == "autosave.dat" || name == "saveq.dat") return true;
  if (name.size() < 4 || name.compare(name.size() - 4, 4, ".dat") != 0) return false;
  // Other saves carry the save header: "BOW" and the kind of save.
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  char head[4] = {};
  in.read(head, sizeof head);
  return in.gcount() == 4 && std::memcmp(head, "BOW", 3) == 0 && (head[3] == 'S' || head[3] == 'G' || head[3] == 'X');
}

bool CollectDirectory(const std::string& dir, std::vector<SSource>& out, std::string& error) {
  out.clear();
  std::vector<std::string> files, loops;
  if (ListGameFolder(dir, files, loops, error)) return true;
  if (!loops.empty()) {
    error = "symlinked folder leads back into itself: " + loops.front() + " (the engine would never finish it)";
    return true;
  }
  const fs::path root = PathFromUtf8(dir);
  for (const std::string& relative : files) {
    if (relative.find('\\') != std::string::npos) {
      error = "file name contains a backslash: " + relative;
      return true;
    }
    std::string name = relative;
    std::replace(name.begin(), name.end(), '/', '\\');
    std::string cp932 = Utf8ToCp932(name);
    if (Cp932ToUtf8(cp932) != name) {
      error = "file name has no CP932 form: " + relative;
      return true;
    }
    SSource source;
    source.name = std::move(cp932);
    const fs::path path = root / PathFromUtf8(relative);
    source.path = Utf8Path(path);
    std::error_code sec;
    source.size = fs::file_size(path, sec);
    if (sec) {
      error = "cannot read the size of " + source.path;
      return true;
    }
    out.push_back(std::move(source));
  }
  std::sort(out.begin(), out.end(), [](const SSource& a, const SSource& b) { return a.name < b.name; });
  return false;
}

namespace {

bool WriteArchiveFiles(const std::string& out, std::vector<SSource> sources, const SPackOptions& options,
                       std::string& error, const ProgressFn& progress, std::vector<std::string>& created);

}  // namespace

bool WriteArchive(const std::string& out, std::vector<SSource> sources, const SPackOptions& options, std::string& error,
                  const ProgressFn& progress) {
  std::vector<std::string> created;
  if (!WriteArchiveFiles(out, std::move(sources), options, error, progress, created)) return false;
  // A half-written archive is worse than none: the engine would mount it.
  for (const std::string& path : created) {
    std::error_code ec;
    if (fs::is_regular_file(PathFromUtf8(path), ec)) fs::remove(PathFromUtf8(path), ec);
  }
  return true;
}

namespace {

bool WriteArchiveFiles(const std::string& out, std::vector<SSource> sources, const SPackOptions& options,
                       std::string& error, const ProgressFn& progress, std::vector<std::string>& created) {
  if (sources.empty()) {
    error = "nothing to pack";
    return true;
  }
  std::sort(sources.begin(), sources.end(), [](const SSource& a, const SSource& b) { return a.name < b.name; });
  for (size_t i = 0; i < sources.size(); ++i) {
    const std::string& name = sources[i].name;
    if (name.empty()) {
      error = "empty entry name";
      return true;
    }
    if (i > 0 && name == sources[i - 1].name) {
      error = "entry name used twice: " + Cp932ToUtf8(name);
      return true;
    }
    if (options.format == EFormat::Pf0 && name.size() >= kPf0NameField) {
      error = "entry name longer than 259 bytes (pf0 cannot hold it): " + Cp932ToUtf8(name);
      return true;
    }
  }

  uint64_t exeSize = 0;
  if (!options.appendTo.empty() && CheckExecutable(options.appendTo, exeSize, error)) return true;

  std::string stored = options.storedPath;
  if (stored.empty()) stored = Utf8ToCp932(Utf8Path(PathFromUtf8(out).filename()));

  // Plan: fill the main file, then volumes, keeping each file within the
  // volume size (a file always takes at least one entry).
  std::vector<SPlannedFile> files;
  auto startFile = [&]() {
    SPlannedFile f;
    size_t volume = files.size();  // 0 is the main file
    f.path = volume == 0 ? out : VolumeName(out, volume - 1);
    f.storedPath = volume == 0 ? stored : VolumeName(stored, volume - 1);
    f.base = volume == 0 ? exeSize : 0;
    f.headerSize = FixedHeaderSize(options.format);
    files.push_back(std::move(f));
  };
  startFile();
  for (size_t i = 0; i < sources.size(); ++i) {
    uint64_t add = EntryHeaderSize(options.format, sources[i].name, files.back().storedPath) + sources[i].size;
    SPlannedFile* f = &files.back();
    uint64_t total = f->base + f->headerSize + f->dataSize;
    if (!f->entries.empty() && options.volumeSize > 0 && total + add > options.volumeSize) {
      if (files.size() > kMaxVolumes) {
        error = "more than 1000 volumes would be needed; choose a larger --volume-size";
        return true;
      }
      startFile();
      f = &files.back();
      add = EntryHeaderSize(options.format, sources[i].name, f->storedPath) + sources[i].size;
      total = f->headerSize;
    }
    if (total + add > kMaxFileSize) {
      error = options.volumeSize > 0 ? "entry too large for an archive file: " + sources[i].path
                                     : "archive larger than 2 GiB; use --volume-size";
      return true;
    }
    f->entries.push_back(i);
    f->headerSize += add - sources[i].size;
    f->dataSize += sources[i].size;
  }

  std::error_code ec;
  fs::path parent = PathFromUtf8(out).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  std::vector<char> buffer(kCopyBuffer);
  size_t done = 0;
  for (const SPlannedFile& f : files) {
    std::ofstream o(PathFromUtf8(f.path), std::ios::binary | std::ios::trunc);
    if (!o) {
      error = "cannot create " + f.path;
      return true;
    }
    created.push_back(f.path);
    if (f.base > 0) {
      std::ifstream exe(PathFromUtf8(options.appendTo), std::ios::binary);
      if (!exe || CopyFileBytes(exe, o, f.base, buffer)) {
        error = "cannot copy executable " + options.appendTo;
        return true;
      }
    }
    // Directory.
    std::string header;
    header.reserve(static_cast<size_t>(f.headerSize));
    const uint64_t dataStart = f.headerSize;  // relative to the base
    uint64_t position = dataStart;
    if (options.format == EFormat::Pf0) {
      header += "pf0";
      PutU32(header, static_cast<uint32_t>(f.entries.size()));
      for (size_t i : f.entries) {
        std::string field(kPf0NameField, '\0');
        std::memcpy(field.data(), sources[i].name.data(), sources[i].name.size());
        header += field;
        PutU32(header, static_cast<uint32_t>(position));  // pf0 offsets are relative to the base
        PutU32(header, static_cast<uint32_t>(sources[i].size));
        position += sources[i].size;
      }
    } else {
      CSerializer index;
      index.Write(0, static_cast<uint32_t>(f.entries.size()));
      for (size_t i : f.entries) {
        // pf1 and pf2 offsets are positions in the file itself.
        uint32_t offset = static_cast<uint32_t>(f.base + position);
        index.Write(0, sources[i].name);
        if (options.format == EFormat::Pf1) {
          index.Write(0, offset);
          index.Write(0, static_cast<uint32_t>(sources[i].size));
        } else {
          CPackFile::CPackedFile entry;
          entry.archivePath = f.storedPath;
          entry.offset = offset;
          entry.size = static_cast<uint32_t>(sources[i].size);
          index.Write(0, entry);
        }
        position += sources[i].size;
      }
      std::vector<uint8_t> bytes = index.Finish();
      header += options.format == EFormat::Pf1 ? "pf1" : "pf2";
      PutU32(header, static_cast<uint32_t>(bytes.size()));
      header.append(bytes.begin(), bytes.end());
    }
    if (header.size() != f.headerSize) {
      error = "internal error: directory size differs from its plan";
      return true;
    }
    o.write(header.data(), static_cast<std::streamsize>(header.size()));
    // Entry bytes.
    for (size_t i : f.entries) {
      std::ifstream in(PathFromUtf8(sources[i].path), std::ios::binary);
      if (!in) {
        error = "cannot open " + sources[i].path;
        return true;
      }
      if (CopyFileBytes(in, o, sources[i].size, buffer)) {
        error = !o ? "cannot write " + f.path + " (disk full?)"
                   : "cannot copy " + sources[i].path + " (changed while packing?)";
        return true;
      }
      ++done;
      if (progress) progress(done, sources.size());
    }
    if (f.base > 0) {
      // Trailer: the archive's start, for executables whose word at 28 is 0.
      std::string trailer;
      PutU32(trailer, static_cast<uint32_t>(f.base));
      o.write(trailer.data(), 4);
    }
    o.close();
    if (!o) {
      error = "cannot write " + f.path + " (disk full?)";
      return true;
    }
  }
  // Volumes left from an earlier, larger packing would be mounted over this
  // archive: remove them.
  for (size_t k = files.size() - 1; k < kMaxVolumes; ++k) {
    std::error_code ec;
    const fs::path volume = PathFromUtf8(VolumeName(out, k));
    if (fs::is_regular_file(volume, ec)) fs::remove(volume, ec);
  }
  return false;
}

}  // namespace

bool PackDirectory(const std::string& dir, const std::string& out, const SPackOptions& options, std::string& error,
                   const ProgressFn& progress) {
  std::vector<SSource> sources;
  if (CollectDirectory(dir, sources, error)) return true;
  if (!options.includeSaves) {
    const fs::path root = PathFromUtf8(dir);
    sources.erase(std::remove_if(sources.begin(), sources.end(),
                                 [&](const SSource& s) {
                                   std::string relative = Cp932ToUtf8(s.name);
                                   std::replace(relative.begin(), relative.end(), '\\', '/');
                                   return IsSaveOrTemporary(relative, s.path);
                                 }),
                  sources.end());
  }
  // Leave out the archive being written and its volumes when they sit in the
  // folder being packed.
  std::error_code ec;
  fs::path outAbs = fs::weakly_canonical(PathFromUtf8(out), ec);
  std::string outText = Utf8Path(outAbs);
  sources.erase(std::remove_if(sources.begin(), sources.end(),
                               [&](const SSource& s) {
                                 std::error_code sec;
                                 std::string p = Utf8Path(fs::weakly_canonical(PathFromUtf8(s.path), sec));
                                 if (p == outText) return true;
                                 return p.size() == outText.size() + 4 && p.compare(0, outText.size(), outText) == 0 &&
                                        p[outText.size()] == '.' &&
                                        std::all_of(p.end() - 3, p.end(), [](char c) { return c >= '0' && c <= '9'; });
                               }),
                sources.end());
  return WriteArchive(out, std::move(sources), options, error, progress);
}

namespace {

// Runs with the current directory set to the archive's folder, where the
// engine would run, so that pf2 entries naming their files relatively resolve.
class CDirectoryScope {
 public:
  explicit CDirectoryScope(const fs::path& dir) : m_saved(platform::GetCurrentDirectory()) {
    m_changed = !platform::SetCurrentDirectory(Utf8Path(dir));
  }
  ~CDirectoryScope() {
    if (m_changed) platform::SetCurrentDirectory(m_saved);
  }

 private:
  std::string m_saved;
  bool m_changed = false;
};

bool MountForReading(const std::string& archive, fs::path& absolute, std::string& mounted, std::string& error) {
  std::error_code ec;
  absolute = fs::absolute(PathFromUtf8(archive), ec);
  if (ec || !fs::is_regular_file(absolute, ec)) {
    error = "no such archive: " + archive;
    return true;
  }
  CPackFile::UnmountAll();
  // Mounted by its name from its own folder, as the engine mounts a game's
  // archives: the folders above may hold characters CP932 cannot spell.
  CDirectoryScope scope(absolute.parent_path());
  mounted = Utf8ToCp932(Utf8Path(absolute.filename()));
  CPackFile file;
  if (file.Mount(mounted.c_str())) {
    error = archive + " is not an archive (or is damaged)";
    return true;
  }
  return false;
}

// The relative path an entry is extracted to, or "" when the name is unsafe.
fs::path SafeRelativePath(const std::string& cp932Name) {
  std::string utf8 = Cp932ToUtf8(cp932Name);
  if (utf8.empty() || utf8[0] == '\\' || utf8[0] == '/') return {};
  fs::path rel;
  size_t start = 0;
  while (start <= utf8.size()) {
    size_t end = utf8.find_first_of("\\/", start);
    if (end == std::string::npos) end = utf8.size();
    std::string part = utf8.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (part == "." || part == ".." || part.find(':') != std::string::npos) return {};
    rel /= PathFromUtf8(part);
  }
  return rel;
}

}  // namespace

bool ListArchive(const std::string& archive, std::vector<SListedEntry>& out, std::string& error, std::string* damage) {
  out.clear();
  if (damage) damage->clear();
  fs::path absolute;
  std::string mounted;
  const bool failed = MountForReading(archive, absolute, mounted, error);
  const CPackFile::CEntryTable* table = mounted.empty() ? nullptr : CPackFile::FindArchive(mounted);
  const std::string& problem = mounted.empty() ? std::string() : CPackFile::GetArchiveDamage(mounted);
  // A directory damaged after some entries still serves those entries.
  if (failed && (problem.empty() || !table || table->empty())) {
    if (!problem.empty()) error = archive + ": damaged directory: " + problem;
    return true;
  }
  if (!table) {
    error = "internal error: archive not registered";
    return true;
  }
  if (damage) *damage = problem;
  for (const auto& [name, entry] : *table) {
    SListedEntry e;
    e.name = name;
    e.archivePath = entry.archivePath;
    e.offset = entry.offset;
    e.size = entry.size;
    out.push_back(std::move(e));
  }
  std::sort(out.begin(), out.end(), [](const SListedEntry& a, const SListedEntry& b) { return a.name < b.name; });
  return false;
}

bool ExtractArchive(const std::string& archive, const std::string& dir, std::string& error,
                    const ProgressFn& progress) {
  std::vector<SListedEntry> entries;
  std::string damage;
  if (ListArchive(archive, entries, error, &damage)) return true;
  std::error_code ec;
  fs::path root = fs::absolute(PathFromUtf8(dir), ec);
  fs::create_directories(root, ec);
  if (!fs::is_directory(root, ec)) {
    error = "cannot create folder " + dir;
    return true;
  }
  const fs::path archivePath = fs::absolute(PathFromUtf8(archive), ec);
  const CPackFile::CEntryTable* table = CPackFile::FindArchive(Utf8ToCp932(Utf8Path(archivePath.filename())));
  CDirectoryScope scope(archivePath.parent_path());
  std::vector<char> buffer(kCopyBuffer);
  size_t done = 0;
  size_t failed = 0;
  std::string firstError;
  auto fail = [&](const std::string& message) {
    if (failed++ == 0) firstError = message;
  };
  if (!damage.empty()) fail(archive + ": damaged directory: " + damage);
  for (const SListedEntry& e : entries) {
    ++done;
    fs::path rel = SafeRelativePath(e.name);
    if (rel.empty()) {
      fail("refused unsafe entry name: " + Cp932ToUtf8(e.name));
      continue;
    }
    fs::path target = root / rel;
    fs::create_directories(target.parent_path(), ec);
    CPackFile file;
    if (!table || file.OpenEntry(table->at(e.name), e.name)) {
      fail("cannot read entry " + Cp932ToUtf8(e.name));
      continue;
    }
    std::ofstream o(target, std::ios::binary | std::ios::trunc);
    if (!o) {
      fail("cannot create " + Utf8Path(target));
      continue;
    }
    uint64_t remaining = e.size;
    while (remaining > 0) {
      unsigned n = static_cast<unsigned>(std::min<uint64_t>(remaining, buffer.size()));
      int got = file.Read(buffer.data(), n);
      if (got <= 0) break;
      o.write(buffer.data(), got);
      remaining -= static_cast<unsigned>(got);
    }
    o.close();
    if (remaining > 0 || !o) {
      fail(!o ? "cannot write " + Utf8Path(target) + " (disk full?)" : "cannot extract " + Cp932ToUtf8(e.name));
      std::error_code rec;
      if (fs::is_regular_file(target, rec)) fs::remove(target, rec);
    }
    if (progress) progress(done, entries.size());
  }
  if (failed > 0) {
    error = firstError + (failed > 1 ? " (and " + std::to_string(failed - 1) + " more)" : "");
    return true;
  }
  return false;
}

}  // namespace packtool
