#include "text/RftFile.h"

#include <algorithm>
#include <cstring>

#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"

CRftFile::~CRftFile() { CRftFile::Close(); }

CRftFile::SRange CRftFile::GetRange(char version, int range) {
  switch (range) {
    case 0: return {0x21, 0x7E};
    case 1: return {0xA1, 0xDF};
    case 2: return {uint16_t(version == '0' ? 0x8141 : 0x8140), 0x9FFC};
    case 3: return {0xE040, 0xEAA4};
    default: return {0xF040, 0xF9FC};
  }
}

int64_t CRftFile::IndexEntryPosition(char version, uint16_t code) {
  int64_t before = 0;
  for (int range = 0; range < kRangeCount; ++range) {
    const SRange r = GetRange(version, range);
    if (code >= r.start && code <= r.end) return kMagicSize + kEntrySize * (before + (code - r.start));
    before += r.end - r.start + 1;
  }
  return -1;
}

int CRftFile::IndexEntryCount(char version) {
  int count = 0;
  for (int range = 0; range < kRangeCount; ++range) {
    const SRange r = GetRange(version, range);
    count += r.end - r.start + 1;
  }
  return count;
}

bool CRftFile::ReadIndex(const std::vector<uint8_t>& bytes, char& version, std::vector<SIndexEntry>& entries,
                         bool& shortIndex) {
  entries.clear();
  shortIndex = false;
  if (bytes.size() < kMagicSize || std::memcmp(bytes.data(), "rft", 3) != 0) return true;
  version = char(bytes[3]);
  if (version != '0' && version != '1' && version != '2') return true;
  const auto le32 = [&](size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
  };
  size_t at = kMagicSize;
  ForEachIndexCode(version, [&](uint16_t code) {
    if (at + kEntrySize > bytes.size()) {
      shortIndex = true;
      return;
    }
    const uint32_t offset = le32(at), size = le32(at + 4);
    entries.push_back({code, offset, size, uint64_t(offset) + size > bytes.size()});
    at += kEntrySize;
  });
  return false;
}

CFileFactory* CRftFile::GetFileFactory() {
  if (CGraphicLoaders* loaders = CGraphicLoaders::GetGlobal())
    if (CFileFactory* factory = loaders->GetFileFactory()) return factory;
  static CPackFileFactory fallback;
  return &fallback;
}

bool CRftFile::OpenGlyph(const char* name, uint16_t code) {
  Close();
  if (!name) return true;
  m_file.reset(GetFileFactory()->Create());
  if (!m_file) return true;
  std::string opened = name;
  if (m_file->Open(opened.c_str())) {
    opened += ".rft";
    if (m_file->Open(opened.c_str())) {
      Close();
      return true;
    }
  }

  char magic[kMagicSize];
  if (m_file->Read(magic, kMagicSize) != kMagicSize || std::memcmp(magic, "rft", 3) != 0 ||
      (magic[3] != '0' && magic[3] != '1' && magic[3] != '2')) {
    Close();
    return true;
  }
  const int64_t entry = IndexEntryPosition(magic[3], code);
  const int64_t fileSize = m_file->GetSize();
  // The index is not trusted: the entry itself and the bytes it names must
  // lie inside the file, summed in 64 bits so that no offset wraps.
  uint8_t raw[kEntrySize];
  if (entry < 0 || fileSize < 0 || entry + kEntrySize > fileSize || m_file->Seek(int(entry), 0) != 0 ||
      m_file->Read(raw, kEntrySize) != kEntrySize) {
    Close();
    return true;
  }
  const int64_t offset = int64_t(raw[0]) | int64_t(raw[1]) << 8 | int64_t(raw[2]) << 16 | int64_t(raw[3]) << 24;
  const int64_t size = int64_t(raw[4]) | int64_t(raw[5]) << 8 | int64_t(raw[6]) << 16 | int64_t(raw[7]) << 24;
  if (offset + size > fileSize || m_file->Seek(int(offset), 0) != 0) {
    Close();
    return true;
  }
  m_offset = offset;
  m_size = size;
  m_position = 0;
  m_rft2 = magic[3] == '2';
  name_ = opened;
  return false;
}

int CRftFile::Read(void* buffer, unsigned count) {
  if (!m_file || !buffer || m_position >= m_size) return 0;
  const int64_t n = std::min<int64_t>(count, m_size - m_position);
  const int got = m_file->Read(buffer, unsigned(n));
  if (got > 0) m_position += got;
  return std::max(got, 0);
}

int CRftFile::Seek(int offset, int origin) {
  if (!m_file) return -1;
  const int64_t base = origin == 1 ? m_position : origin == 2 ? m_size : 0;
  const int64_t target = base + offset;
  // A relative seek out of the entry is refused as an archive entry refuses
  // it: the position stays and the answer is 0. Absolute seeks outside the
  // entry fail, so that no read can start beyond it.
  if (origin == 1 && (target < 0 || target > m_size)) return 0;
  if (target < 0 || target > m_size) return -1;
  if (m_file->Seek(int(m_offset + target), 0) != 0) return -1;
  m_position = target;
  return 0;
}

int CRftFile::Tell() { return m_file ? int(m_position) : -1; }

int CRftFile::GetSize() { return int(m_size); }

int CRftFile::Close() {
  m_file.reset();
  m_offset = 0;
  m_size = 0;
  m_position = 0;
  m_rft2 = false;
  name_.clear();
  return 0;
}
