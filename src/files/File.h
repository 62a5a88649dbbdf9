// Read-only file on a C runtime stream.
#pragma once

#include <cstdio>
#include <string>

class CFile {
 public:
  CFile() = default;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  virtual ~CFile();

  // Opens name for reading; true on failure (the object stays closed).
  virtual bool Open(const char* name);
  // Bytes read; 0 when closed.
  virtual int Read(void* buffer, unsigned count);
  // origin 0 from the start, 1 from the current position, 2 from the end.
  virtual int Seek(int offset, int origin);
  virtual int Tell();
  virtual int GetSize();
  virtual int Close();
  virtual const std::string& GetName() const { return name_; }

  bool IsOpen() const { return stream_ != nullptr; }

 protected:
  FILE* stream_ = nullptr;
  std::string name_;
};

class CFileFactory {
 public:
  virtual ~CFileFactory() = default;
  // A new, closed file object owned by the caller.
  virtual CFile* Create();
};
