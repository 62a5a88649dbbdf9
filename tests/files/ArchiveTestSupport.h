// Helpers for archive tests: a scratch game folder and archive builders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "files/Config.h"
#include "files/PackFile.h"
#include "core/Serializer.h"
#include "support/TempDir.h"

namespace archive_test {

using Bytes = std::string;
using Entry = std::pair<std::string, std::string>;  // name, content

inline void PutU32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// pf0: data follows the directory; offsets relative to the archive start.
inline Bytes MakePf0(const std::vector<Entry>& entries) {
  Bytes out = "pf0";
  PutU32(out, static_cast<uint32_t>(entries.size()));
  uint32_t offset = static_cast<uint32_t>(7 + 268 * entries.size());
  Bytes data;
  for (const Entry& e : entries) {
    Bytes name(260, '\0');
    name.replace(0, e.first.size(), e.first);
    out += name;
    PutU32(out, offset);
    PutU32(out, static_cast<uint32_t>(e.second.size()));
    offset += static_cast<uint32_t>(e.second.size());
    data += e.second;
  }
  return out + data;
}

// pf1 (or pf2 when archivePath is set); `base` is added to every offset.
inline Bytes MakeSerialized(const std::vector<Entry>& entries, const std::string& archivePath = "", uint32_t base = 0) {
  const bool pf2 = !archivePath.empty();
  // Index size does not depend on offsets, so lay it out once to learn it.
  auto index = [&](uint32_t dataStart) {
    CSerializer s;
    s.Write(0, static_cast<uint32_t>(entries.size()));
    uint32_t offset = dataStart;
    for (const Entry& e : entries) {
      s.Write(0, e.first);
      if (pf2) {
        CPackFile::CPackedFile f;
        f.archivePath = archivePath;
        f.offset = offset;
        f.size = static_cast<uint32_t>(e.second.size());
        s.Write(0, f);
      } else {
        s.Write(0, offset);
        s.Write(0, static_cast<uint32_t>(e.second.size()));
      }
      offset += static_cast<uint32_t>(e.second.size());
    }
    return s.Finish();
  };
  size_t indexSize = index(0).size();
  std::vector<uint8_t> bytes = index(static_cast<uint32_t>(base + 7 + indexSize));
  Bytes out = pf2 ? "pf2" : "pf1";
  PutU32(out, static_cast<uint32_t>(bytes.size()));
  out.append(bytes.begin(), bytes.end());
  for (const Entry& e : entries) out += e.second;
  return out;
}

// A scratch game folder that is the current directory during a test, with
// the archive table emptied before and after.
class GameFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CPackFile::UnmountAll();
    ASSERT_FALSE(temp_.Path().empty());
    dir_ = temp_.Path();
    cd_ = std::make_unique<ScopedCurrentDir>(temp_.Path());
    SetRootArchivePath("game.pfs");
  }
  void TearDown() override {
    cd_.reset();
    CPackFile::UnmountAll();
    SetRootArchivePath("root.pfs");
  }

  void Write(const std::string& relative, const Bytes& bytes) { temp_.Write(relative, bytes); }

  // Opens a name and reads the whole entry; "<missing>" when Open fails.
  static std::string ReadAll(const std::string& name) {
    CPackFile f;
    if (f.Open(name.c_str())) return "<missing>";
    std::string out(static_cast<size_t>(f.GetSize()), '\0');
    int n = out.empty() ? 0 : f.Read(out.data(), static_cast<unsigned>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
  }

  TempDir temp_;
  std::filesystem::path dir_;
  std::unique_ptr<ScopedCurrentDir> cd_;
};

}  // namespace archive_test
