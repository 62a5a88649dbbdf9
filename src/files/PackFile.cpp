#include "files/PackFile.h"
#include "core/Cp932.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "files/Config.h"

namespace {

using cp932::IsLeadByte;

// Largest position the reader handles (positions are signed 32-bit).
constexpr uint64_t kMaxPosition = 0x7FFFFFFF;
constexpr size_t kPf0NameField = 260;
constexpr size_t kPf0Record = kPf0NameField + 8;
constexpr int kVolumeCount = 1000;

std::unordered_map<std::string, CPackFile::CEntryTable>& Archives() {
  static std::unordered_map<std::string, CPackFile::CEntryTable> archives;
  return archives;
}

std::unordered_map<std::string, std::string>& Damage() {
  static std::unordered_map<std::string, std::string> damage;
  return damage;
}

// Keeps the first report of an archive and counts the rest.
class CDamageNote {
 public:
  void Add(const std::string& what) {
    if (count_++ == 0) first_ = what;
  }
  bool Empty() const { return count_ == 0; }
  std::string Text() const { return count_ > 1 ? first_ + " (and " + std::to_string(count_ - 1) + " more)" : first_; }

 private:
  std::string first_;
  int count_ = 0;
};

uint32_t LoadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// Splits at backslashes outside double-byte characters. Empty components
// between separators are kept; a trailing empty one is dropped.
std::vector<std::string> SplitComponents(const std::string& key) {
  std::vector<std::string> parts;
  std::string current;
  for (size_t i = 0; i < key.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(key[i]);
    if (IsLeadByte(c) && i + 1 < key.size()) {
      current += key[i];
      current += key[++i];
      continue;
    }
    if (c == '\\') {
      parts.push_back(std::move(current));
      current.clear();
      continue;
    }
    current += key[i];
  }
  if (!current.empty()) parts.push_back(std::move(current));
  return parts;
}

std::string Join(const std::vector<std::string>& parts, size_t begin, size_t end) {
  std::string out;
  for (size_t i = begin; i < end; ++i) {
    if (i > begin) out += '\\';
    out += parts[i];
  }
  return out;
}

}  // namespace

bool CollapseGameFolderPath(const std::string& cp932Path, std::string& inside) {
  inside.clear();
  if (cp932Path.empty() || cp932Path[0] == '\\' || cp932Path[0] == '/') return false;
  std::vector<std::string> folders;  // below the game folder
  std::string component;
  for (size_t i = 0; i <= cp932Path.size(); ++i) {
    const unsigned char c = i < cp932Path.size() ? static_cast<unsigned char>(cp932Path[i]) : '\\';
    if (IsLeadByte(c) && i + 1 < cp932Path.size()) {
      component += cp932Path[i];
      component += cp932Path[++i];
      continue;
    }
    // A drive ("C:") or a stream name is never a file of the game folder.
    if (c == ':') return false;
    if (c == '\\' || c == '/') {
      // "sub\..\x" stays inside; a ".." above the game folder leaves it.
      if (component == "..") {
        if (folders.empty()) return false;
        folders.pop_back();
      } else if (!component.empty() && component != ".") {
        folders.push_back(component);
      }
      component.clear();
      continue;
    }
    component += static_cast<char>(c);
  }
  // Something below the folder, not the folder itself ("a\..").
  if (folders.empty()) return false;
  // Collapsed, so that the system never resolves a ".." after following a
  // link inside the game folder.
  for (const std::string& folder : folders) {
    if (!inside.empty()) inside += '\\';
    inside += folder;
  }
  return true;
}

bool IsGameFolderPath(const std::string& cp932Path) {
  std::string inside;
  return CollapseGameFolderPath(cp932Path, inside);
}

std::string NormalizeSeparators(const std::string& name) {
  std::string key = name;
  for (size_t i = 0; i < key.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(key[i]);
    if (IsLeadByte(c)) {
      ++i;
      continue;
    }
    if (c == '/') key[i] = '\\';
  }
  return key;
}

// ---- CPackFile::CPackedFile --------------------------------------------------

void CPackFile::CPackedFile::Serialize(CSerializer& stream) const {
  stream.Write(0, archivePath);
  stream.Write(0, offset);
  stream.Write(0, size);
}

void CPackFile::CPackedFile::Deserialize(CSerializer& stream) {
  truncated_ = stream.Read(0, archivePath);
  truncated_ = stream.Read(0, offset) || truncated_;
  truncated_ = stream.Read(0, size) || truncated_;
}

// ---- CPackFile -----------------------------------------------------------------

CPackFile::~CPackFile() { CPackFile::Close(); }

const CPackFile::CEntryTable* CPackFile::FindArchive(const std::string& archive) {
  auto it = Archives().find(archive);
  return it == Archives().end() ? nullptr : &it->second;
}

const std::string& CPackFile::GetArchiveDamage(const std::string& archive) {
  static const std::string none;
  auto it = Damage().find(archive);
  return it == Damage().end() ? none : it->second;
}

void CPackFile::UnmountAll() {
  Archives().clear();
  Damage().clear();
}

bool CPackFile::Open(const char* name) {
  std::string key = NormalizeSeparators(name ? name : "");
  if (!CFile::Open(key.c_str())) {
    offset_ = 0;
    size_ = CFile::GetSize();
    return false;
  }
  return OpenFromArchives(key);
}

bool CPackFile::OpenEntry(const CPackedFile& entry, const std::string& name) {
  if (CFile::Open(entry.archivePath.c_str())) return true;
  // An entry whose bytes run past the end of its file (a truncated archive, a
  // damaged directory) is not served: reading it would give short data.
  int fileSize = CFile::GetSize();
  uint64_t end = static_cast<uint64_t>(entry.offset) + entry.size;
  if (fileSize < 0 || end > static_cast<uint64_t>(fileSize) || end > kMaxPosition) {
    CFile::Close();
    return true;
  }
  offset_ = static_cast<int>(entry.offset);
  size_ = static_cast<int>(entry.size);
  name_ = name;
  Seek(0, 0);
  return false;
}

bool CPackFile::OpenFromArchives(const std::string& key) {
  // Mounting opens archive files; a separate object does it, so that a failed
  // lookup leaves this one closed.
  CPackFile mounter;
  auto& archives = Archives();
  auto tryEntry = [&](const std::string& archive, const std::string& entryName) {
    auto a = archives.find(archive);
    if (a == archives.end()) return true;
    auto e = a->second.find(entryName);
    if (e == a->second.end()) return true;
    CPackedFile entry = e->second;  // the table may change while opening
    return OpenEntry(entry, key);
  };

  const std::string& root = GetRootArchivePath();
  if (!mounter.Mount(root.c_str()) && !tryEntry(root, key)) return false;

  const std::vector<std::string> parts = SplitComponents(key);
  const std::string& extension = GetArchiveExtension();
  // Archives mounted already come first, then those mounted on demand.
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < parts.size(); ++i) {
      std::string prefix = Join(parts, 0, i + 1);
      std::string withExtension = prefix + extension;
      const std::string* candidate = nullptr;
      if (pass == 0) {
        if (archives.count(prefix)) {
          candidate = &prefix;
        } else if (archives.count(withExtension)) {
          candidate = &withExtension;
        }
      } else {
        if (!mounter.Mount(prefix.c_str())) {
          candidate = &prefix;
        } else if (!mounter.Mount(withExtension.c_str())) {
          candidate = &withExtension;
        }
      }
      if (candidate && !tryEntry(*candidate, Join(parts, i + 1, parts.size()))) return false;
    }
  }
  return true;
}

int CPackFile::Tell() {
  int p = CFile::Tell();
  if (p < 0 || p < offset_ || p - offset_ > size_) return -1;
  return p - offset_;
}

int CPackFile::Seek(int offset, int origin) {
  if (!IsOpen()) return -1;
  long long target;
  if (origin == 0) {
    target = static_cast<long long>(offset_) + offset;
  } else if (origin == 2) {
    target = static_cast<long long>(offset_) + size_ + offset;
  } else {
    int c = CFile::Tell();
    if (c < 0) return 0;
    target = static_cast<long long>(c) + offset;
    if (target < offset_ || target > static_cast<long long>(offset_) + size_) return 0;
  }
  if (target < 0 || target > 0x7FFFFFFF) return -1;
  return CFile::Seek(static_cast<int>(target), 0);
}

int CPackFile::Read(void* buffer, unsigned count) {
  int position = Tell();
  if (position < 0) return 0;
  unsigned remaining = static_cast<unsigned>(size_ - position);
  return CFile::Read(buffer, count < remaining ? count : remaining);
}

int CPackFile::GetSize() { return IsOpen() ? size_ : -1; }

int CPackFile::Close() {
  if (!IsOpen()) return -1;
  offset_ = 0;
  size_ = 0;
  return CFile::Close();
}

bool CPackFile::ListEntries(const char* archive, std::list<std::string>& out) {
  if (Mount(archive)) return true;
  const CEntryTable* table = FindArchive(archive ? archive : "");
  out.clear();
  if (table) {
    for (const auto& entry : *table) out.push_back(entry.first);
  }
  return false;
}

bool CPackFile::MountArchive(const char* archive, bool isVolume) {
  const std::string name = archive ? archive : "";
  auto& archives = Archives();
  if (archives.count(name)) return false;
  if (CFile::Open(name.c_str())) return true;
  offset_ = 0;
  size_ = CFile::GetSize();
  // Registered before anything is checked: a damaged archive is read once.
  // (Table nodes keep their address while others are added.)
  CEntryTable& table = archives[name];
  const int fileSize = size_;
  CDamageNote damage;
  struct SRecordDamage {
    const std::string& name;
    CDamageNote& note;
    ~SRecordDamage() {
      if (!note.Empty()) Damage()[name] = note.Text();
    }
  } recordDamage{name, damage};

  auto readAt = [&](long long position, void* out, unsigned count) {
    if (position < 0 || position > fileSize || CFile::Seek(static_cast<int>(position), 0) != 0) return true;
    return CFile::Read(out, count) != static_cast<int>(count);
  };

  unsigned char magic[4] = {};
  if (readAt(0, magic, 3)) return true;
  uint32_t base = 0;
  if (magic[0] == 'M' && magic[1] == 'Z') {
    // Appended to an executable: the start is the word at 28, or when that is
    // zero (or the file too short to hold it) the file's last four bytes.
    unsigned char word[4] = {};
    base = readAt(28, word, 4) ? 0 : LoadU32(word);
    if (base == 0) {
      if (readAt(static_cast<long long>(fileSize) - 4, word, 4)) return true;
      base = LoadU32(word);
    }
    std::memset(magic, 0, sizeof magic);
    if (base > kMaxPosition || readAt(base, magic, 3)) return true;
  }
  if (std::memcmp(magic, "pf", 2) != 0 || magic[2] < '0' || magic[2] > '2') return true;
  const char kind = static_cast<char>(magic[2]);

  unsigned char word[4];
  if (CFile::Read(word, 4) != 4) return true;
  const uint32_t count = LoadU32(word);

  if (kind == '0') {
    if (count == 0) return true;
    unsigned char record[kPf0Record];
    // The loop ends at the end of the file whatever the count says.
    for (uint32_t i = 0; i < count; ++i) {
      if (CFile::Read(record, kPf0Record) != static_cast<int>(kPf0Record)) {
        damage.Add("directory ends at entry " + std::to_string(i + 1) + " of " + std::to_string(count));
        return true;
      }
      // A name that fills its field without a terminator ends at the field.
      size_t length = strnlen(reinterpret_cast<const char*>(record), kPf0NameField);
      CPackedFile entry;
      entry.archivePath = name;
      uint64_t offset = static_cast<uint64_t>(LoadU32(record + kPf0NameField)) + base;
      entry.size = LoadU32(record + kPf0NameField + 4);
      // An offset that the base pushes out of range could never be read.
      if (offset > kMaxPosition) continue;
      entry.offset = static_cast<uint32_t>(offset);
      table.insert_or_assign(std::string(reinterpret_cast<const char*>(record), length), std::move(entry));
    }
  } else {
    // count is the index size; the index is never larger than the file.
    int position = CFile::Tell();
    if (position < 0) return true;
    size_t indexSize = count;
    size_t available = static_cast<size_t>(fileSize - position);
    if (indexSize > available) {
      damage.Add("directory of " + std::to_string(count) + " bytes cut at byte " + std::to_string(fileSize));
      indexSize = available;
    }
    std::vector<unsigned char> index(indexSize);
    if (indexSize > 0 && CFile::Read(index.data(), static_cast<unsigned>(indexSize)) != static_cast<int>(indexSize))
      return true;
    CSerializer stream;
    stream.LoadView(index.data(), index.size());
    uint32_t entries = 0;
    if (stream.Read(0, entries)) damage.Add("directory has no entry count");
    if (kind == '2') table.clear();
    const auto where = [&] { return " at byte " + std::to_string(position + stream.GetPosition()); };
    // Where the index runs short, the fields not read keep their empty
    // values (an empty name, a zero offset or size) and the entry is
    // registered as far as it was read; nothing is read after that, so the
    // entries still counted are all one entry with an empty name.
    for (uint32_t i = 0; i < entries; ++i) {
      const std::string at = where();
      std::string entryName;
      CPackedFile entry;
      bool cut = stream.Read(0, entryName);
      if (kind == '1') {
        entry.archivePath = name;
        cut = cut || stream.Read(0, entry.offset);
        cut = cut || stream.Read(0, entry.size);
      } else {
        cut = cut || stream.Read(0, entry);
        // Each pf2 entry carries its own length: one cut short keeps what
        // it holds, and the entries after it are read on.
        if (!cut && entry.IsTruncated()) damage.Add("entry " + std::to_string(i + 1) + " cut short" + at);
      }
      if (cut)
        damage.Add("directory ends" + at + " after " + std::to_string(i) + " of " + std::to_string(entries) +
                   " entries");
      if (kind == '2' && !entry.archivePath.empty()) {
        // The bytes of a pf2 entry may lie in another file, but only in one
        // of the game folder: never an arbitrary file of the system.
        std::string inside;
        if (!CollapseGameFolderPath(entry.archivePath, inside)) {
          damage.Add("entry " + std::to_string(i + 1) + " points outside the game folder" + at);
          continue;
        }
        entry.archivePath = std::move(inside);
      }
      // A pf2 entry without a file has nothing to serve.
      if (kind == '1' || !entry.archivePath.empty()) table.insert_or_assign(std::move(entryName), entry);
      if (cut) {
        if (kind == '1' && i + 1 < entries) {
          CPackedFile empty;
          empty.archivePath = name;
          table.insert_or_assign(std::string(), std::move(empty));
        }
        break;
      }
    }
  }

  if (!isVolume) {
    // Every number is tried: a missing volume does not end the series.
    for (int k = 0; k < kVolumeCount; ++k) {
      char suffix[8];
      std::snprintf(suffix, sizeof suffix, ".%03d", k);
      std::string volume = name + suffix;
      CPackFile volumeFile;
      if (volumeFile.MountArchive(volume.c_str(), true)) continue;
      const CEntryTable* entries = FindArchive(volume);
      if (!entries) continue;
      const std::string& volumeDamage = GetArchiveDamage(volume);
      if (!volumeDamage.empty()) damage.Add(volume + ": " + volumeDamage);
      for (const auto& [entryName, entry] : *entries) table.insert_or_assign(entryName, entry);
    }
  }
  return false;
}

CFile* CPackFileFactory::Create() { return new CPackFile(); }

bool CPackFile::ReadAll(std::string& out, size_t limit) {
  const int size = GetSize();
  const int at = Tell();
  if (size < 0 || at < 0 || at > size || static_cast<size_t>(size - at) > limit) return true;
  std::string text(static_cast<size_t>(size - at), '\0');
  const int got = text.empty() ? 0 : Read(text.data(), static_cast<unsigned>(text.size()));
  if (got < 0) return true;
  text.resize(static_cast<size_t>(got));
  out = std::move(text);
  return false;
}
