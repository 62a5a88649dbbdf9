// A game file found loose in the game folder or inside an archive. Positions
// are relative to the entry.
#pragma once

#include <list>
#include <string>

#include "files/File.h"

class CPackFile : public CFile {
 public:
  ~CPackFile() override;

  bool Open(const char* name) override;
  int Read(void* buffer, unsigned count) override;
  int Seek(int offset, int origin) override;
  int Tell() override;
  int GetSize() override;
  int Close() override;

  // Names of every entry of an archive (mounting it first); true on failure.
  virtual bool ListEntries(const char* archive, std::list<std::string>& out);
  // Mounts an archive into the process-wide table; true on failure.
  virtual bool MountArchive(const char* archive, bool isVolume);
  bool Mount(const char* archive) { return MountArchive(archive, false); }

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

// Turns '/' into '\' (CP932 aware: a trail byte is never touched).
std::string NormalizeSeparators(const std::string& name);
