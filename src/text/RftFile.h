// Prerendered font files (".rft"): a magic ("rft0", "rft1" or "rft2"), a
// dense index of (offset, size) pairs, one per code of five fixed code
// ranges, and one image file per character. CRftFile is a read-only view of
// one character's image inside such a file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/File.h"

class CRftFile : public CFile {
 public:
  static constexpr int kMagicSize = 4;
  static constexpr int kEntrySize = 8;

  CRftFile() = default;
  ~CRftFile() override;

  // A view is only made through OpenGlyph.
  bool Open(const char* name) override { return true; }
  // At most the bytes left in the entry.
  int Read(void* buffer, unsigned count) override;
  // Positions outside the entry are refused (-1) and change nothing.
  int Seek(int offset, int origin) override;
  // Position within the entry; -1 when closed.
  int Tell() override;
  int GetSize() override;
  int Close() override;

  // Opens the entry of code (a single byte, or lead * 256 + trail) in the file
  // name, or name + ".rft". True on failure: no such file, another magic, a
  // code outside the ranges, or an index entry that is cut short or points
  // outside the file.
  [[nodiscard]] virtual bool OpenGlyph(const char* name, uint16_t code);
  // "rft2" files hold images meant for the renderer's own surfaces.
  virtual bool IsDirectImage() const { return m_rft2; }

  // The byte position of code's index entry in a file of the given magic
  // version ('0', '1' or '2'); -1 when the code is outside the ranges.
  static int64_t IndexEntryPosition(char version, uint16_t code);
  // Number of index entries of a version.
  static int IndexEntryCount(char version);
  // Calls visit(code) for every code of the index, in index order.
  template <typename F>
  static void ForEachIndexCode(char version, F visit) {
    for (int range = 0; range < kRangeCount; ++range) {
      const SRange r = GetRange(version, range);
      for (uint32_t code = r.start; code <= r.end; ++code) visit(uint16_t(code));
    }
  }

  // One index entry of a whole file read into memory.
  struct SIndexEntry {
    uint16_t code;
    uint32_t offset;
    uint32_t size;
    bool outside;  // the bytes named do not lie inside the file
  };
  // Reads the index of a file held in memory (for tools): every entry present,
  // in index order. True when the magic is not one of the three; shortIndex
  // tells whether the file ends inside the index.
  static bool ReadIndex(const std::vector<uint8_t>& bytes, char& version, std::vector<SIndexEntry>& entries,
                        bool& shortIndex);

  // The file factory views open their file with: the one the published
  // image loaders use, else a process-wide archive-aware factory.
  static CFileFactory* GetFileFactory();

 private:
  struct SRange {
    uint16_t start;
    uint16_t end;
  };
  static constexpr int kRangeCount = 5;
  static SRange GetRange(char version, int range);

  std::unique_ptr<CFile> m_file;
  int64_t m_offset = 0;
  int64_t m_size = 0;
  int64_t m_position = 0;
  bool m_rft2 = false;
};
