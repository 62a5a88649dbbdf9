// A game file found loose in the game folder or inside an archive. Positions
// are relative to the entry.
//
// Opening a name looks, in order, for: the loose file; the entry in the root
// archive (named after the executable); the entry in an archive already
// mounted under a leading part of the name ("voice\ch1\a.ogg" is looked for as
// "ch1\a.ogg" in "voice" or "voice.pfs", then as "a.ogg" in "voice\ch1" or
// "voice\ch1.pfs"); and last the same archives mounted on demand.
//
// Archives (".pfs") begin with "pf0" (fixed 268-byte directory records), "pf1"
// or "pf2" (a serialized directory); an archive can be appended to an MZ
// executable and continued by volumes NAME.000 ... NAME.999, which override
// the main file and each other in number order.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

#include "files/File.h"
#include "core/Serializer.h"

class CPackFile : public CFile {
 public:
  // Where one archive entry's bytes are.
  class CPackedFile : public ISerializable {
   public:
    std::string archivePath;  // the file to open to read the entry
    uint32_t offset = 0;      // position of the first byte in that file
    uint32_t size = 0;

    // Path, offset and size, untagged.
    void Serialize(CSerializer& stream) const override;
    void Deserialize(CSerializer& stream) override;
    // True when the last Deserialize ran out of bytes before the size.
    bool IsTruncated() const { return truncated_; }

   private:
    bool truncated_ = false;
  };
  // Entry name (exact bytes) -> entry.
  using CEntryTable = std::unordered_map<std::string, CPackedFile>;

  ~CPackFile() override;

  bool Open(const char* name) override;
  int Read(void* buffer, unsigned count) override;
  int Seek(int offset, int origin) override;
  int Tell() override;
  int GetSize() override;
  // Reads what is left of the open file into out; true (out untouched) when
  // it cannot be read or is larger than limit bytes.
  [[nodiscard]] bool ReadAll(std::string& out, size_t limit);
  int Close() override;

  // Names of every entry of an archive (mounting it first); true on failure.
  virtual bool ListEntries(const char* archive, std::list<std::string>& out);
  // Mounts an archive into the process-wide table; true on failure. A name
  // that was ever opened stays registered (possibly with no entries) and is
  // not read again.
  virtual bool MountArchive(const char* archive, bool isVolume);
  bool Mount(const char* archive) { return MountArchive(archive, false); }

  // Opens one entry directly, reporting `name`; true on failure (also when the
  // entry's bytes do not lie inside its file).
  bool OpenEntry(const CPackedFile& entry, const std::string& name);

  // The entries of a mounted archive; nullptr when the name was never mounted.
  static const CEntryTable* FindArchive(const std::string& archive);
  // What was wrong with a mounted archive's directory ("" when nothing was):
  // entries cut short, a directory that ends before its count, entries that
  // point outside the game folder. Damaged entries are left out, the intact
  // ones are served.
  static const std::string& GetArchiveDamage(const std::string& archive);
  // Forgets every mounted archive.
  static void UnmountAll();

 protected:
  // Looks the name up in the archives; false when an entry was opened.
  bool OpenFromArchives(const std::string& key);

  int offset_ = 0;
  int size_ = 0;
};

class CPackFileFactory : public CFileFactory {
 public:
  CFile* Create() override;
};

// True when a pf2 entry's file name names a file inside the game folder:
// relative, without a drive, and never climbing above the folder with ".."
// (CP932 aware). inside gets the name with "." and "x\.." taken out.
bool CollapseGameFolderPath(const std::string& cp932Path, std::string& inside);
bool IsGameFolderPath(const std::string& cp932Path);

// Turns '/' into '\' (CP932 aware: a trail byte is never touched).
std::string NormalizeSeparators(const std::string& name);
