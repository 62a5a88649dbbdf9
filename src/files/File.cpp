#include "files/File.h"

#include "platform/FileSystem.h"

CFile::~CFile() { CFile::Close(); }

bool CFile::Open(const char* name) {
  if (stream_) Close();
  FILE* f = platform::OpenForRead(name ? name : "");
  if (!f) return true;
  stream_ = f;
  name_ = name;
  return false;
}

int CFile::Read(void* buffer, unsigned count) {
  if (!stream_ || count == 0) return 0;
  return static_cast<int>(std::fread(buffer, 1, count, stream_));
}

int CFile::Seek(int offset, int origin) {
  if (!stream_) return -1;
  int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
  return std::fseek(stream_, offset, whence);
}

int CFile::Tell() {
  if (!stream_) return -1;
  return static_cast<int>(std::ftell(stream_));
}

int CFile::GetSize() {
  int position = Tell();
  if (position < 0) return -1;
  std::fseek(stream_, 0, SEEK_END);
  int size = static_cast<int>(std::ftell(stream_));
  std::fseek(stream_, position, SEEK_SET);
  return size;
}

int CFile::Close() {
  if (!stream_) return -1;
  int result = std::fclose(stream_);
  stream_ = nullptr;
  name_.clear();
  return result;
}

CFile* CFileFactory::Create() { return new CFile(); }
