#include "files/PackFile.h"

namespace {
bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
}  // namespace

std::string NormalizeSeparators(const std::string& name) {
  std::string key = name;
  for (size_t i = 0; i < key.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(key[i]);
    if (IsLead(c)) {
      ++i;
      continue;
    }
    if (c == '/') key[i] = '\\';
  }
  return key;
}

CPackFile::~CPackFile() { CPackFile::Close(); }

bool CPackFile::Open(const char* name) {
  std::string key = NormalizeSeparators(name ? name : "");
  if (!CFile::Open(key.c_str())) {
    offset_ = 0;
    size_ = CFile::GetSize();
    return false;
  }
  return OpenFromArchives(key);
}

bool CPackFile::OpenFromArchives(const std::string&) {
  // Archives are not mounted yet.
  return true;
}

int CPackFile::Tell() {
  int p = CFile::Tell();
  if (p < 0 || p < offset_ || p - offset_ > size_) return -1;
  return p - offset_;
}

int CPackFile::Seek(int offset, int origin) {
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

bool CPackFile::ListEntries(const char*, std::list<std::string>&) { return true; }

bool CPackFile::MountArchive(const char*, bool) { return true; }

CFile* CPackFileFactory::Create() { return new CPackFile(); }
