#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "ArchiveTestSupport.h"
#include "platform/TextCodec.h"
#include "files/PackTool.h"

using namespace archive_test;
namespace fs = std::filesystem;

namespace {

class PackTool : public GameFolderTest {
 protected:
  // A small folder: nested folders, an empty file, binary bytes, a Japanese
  // name (UTF-8 on disk, CP932 in the archive).
  std::map<std::string, Bytes> MakeSource() {
    std::map<std::string, Bytes> files;
    files["system.ini"] = "[SYSTEM]\nBOOT=start\n";
    files["bg/bg01.png"] = Bytes("\x89PNG\r\n\x1a\n\0\0\xff", 11);
    files["bg/deep/empty.dat"] = "";
    files["\xe3\x82\xb7\xe3\x83\x8a\xe3\x83\xaa\xe3\x82\xaa/start.iet"] = "[wait time=1]\n";  // シナリオ
    Bytes big;
    for (int i = 0; i < 5000; ++i) big += static_cast<char>(i * 7);
    files["se/big.bin"] = big;
    for (const auto& [name, bytes] : files) Write("src/" + name, bytes);
    return files;
  }

  static std::string EntryName(const std::string& utf8Path) {
    std::string name = Utf8ToCp932(utf8Path);
    for (char& c : name) {
      if (c == '/') c = '\\';
    }
    return name;
  }

  static fs::path PathFromUtf8(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

  static Bytes ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
};

}  // namespace

TEST_F(PackTool, EveryFormatIsServedByTheEngine) {
  auto files = MakeSource();
  for (auto format : {packtool::EFormat::Pf0, packtool::EFormat::Pf1, packtool::EFormat::Pf2}) {
    CPackFile::UnmountAll();
    packtool::SPackOptions options;
    options.format = format;
    std::string error;
    ASSERT_FALSE(packtool::PackDirectory("src", "game.pfs", options, error)) << error;
    EXPECT_EQ(ReadFile(dir_ / "game.pfs").substr(0, 3), format == packtool::EFormat::Pf0   ? "pf0"
                                                        : format == packtool::EFormat::Pf1 ? "pf1"
                                                                                           : "pf2");
    for (const auto& [path, bytes] : files) EXPECT_EQ(ReadAll(EntryName(path)), bytes) << path;
  }
}

TEST_F(PackTool, ListAndExtractRoundTripByteForByte) {
  auto files = MakeSource();
  // Also from a folder whose name CP932 cannot spell (é, €).
  for (const std::string folder : {"out", "caf\xc3\xa9\xe2\x82\xac"}) {
    for (auto format : {packtool::EFormat::Pf0, packtool::EFormat::Pf1, packtool::EFormat::Pf2}) {
      const std::string archive = folder + "/pack.pfs";
      packtool::SPackOptions options;
      options.format = format;
      options.volumeSize = 2000;  // forces volumes
      std::string error;
      ASSERT_FALSE(packtool::PackDirectory("src", archive, options, error)) << error;
      EXPECT_TRUE(fs::exists(PathFromUtf8(archive + ".000")));

      std::vector<packtool::SListedEntry> listed;
      ASSERT_FALSE(packtool::ListArchive(archive, listed, error)) << folder << ": " << error;
      std::map<std::string, uint32_t> expected;
      std::map<std::string, uint32_t> got;
      for (const auto& [path, bytes] : files) expected[EntryName(path)] = static_cast<uint32_t>(bytes.size());
      for (const auto& e : listed) got[e.name] = e.size;
      EXPECT_EQ(got, expected);

      fs::remove_all(dir_ / "copy");
      ASSERT_FALSE(packtool::ExtractArchive(archive, "copy", error)) << folder << ": " << error;
      size_t count = 0;
      for (auto it = fs::recursive_directory_iterator(dir_ / "copy"); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_regular_file()) ++count;
      }
      EXPECT_EQ(count, files.size());
      for (const auto& [path, bytes] : files) {
        EXPECT_EQ(ReadFile(dir_ / "copy" / PathFromUtf8(path)), bytes) << path;
      }
    }
  }
}

TEST_F(PackTool, VolumesAreSizedAndStaleOnesRemoved) {
  auto files = MakeSource();
  packtool::SPackOptions options;
  options.volumeSize = 600;
  std::string error;
  Write("game.pfs.007", MakePf0({{"system.ini", "stale"}}));
  ASSERT_FALSE(packtool::PackDirectory("src", "game.pfs", options, error)) << error;
  EXPECT_FALSE(fs::exists(dir_ / "game.pfs.007"));
  // Every file stays within the size unless it holds a single larger entry.
  EXPECT_LE(fs::file_size(dir_ / "game.pfs"), 600u);
  for (const auto& [path, bytes] : files) EXPECT_EQ(ReadAll(EntryName(path)), bytes) << path;

  // Packing again without volumes leaves no volume behind.
  CPackFile::UnmountAll();
  options.volumeSize = 0;
  ASSERT_FALSE(packtool::PackDirectory("src", "game.pfs", options, error)) << error;
  EXPECT_FALSE(fs::exists(dir_ / "game.pfs.000"));
  for (const auto& [path, bytes] : files) EXPECT_EQ(ReadAll(EntryName(path)), bytes) << path;
}

TEST_F(PackTool, AppendedToAnExecutable) {
  auto files = MakeSource();
  Bytes exe(300, '\0');
  exe[0] = 'M';
  exe[1] = 'Z';
  Write("stub.exe", exe);
  for (auto format : {packtool::EFormat::Pf0, packtool::EFormat::Pf1, packtool::EFormat::Pf2}) {
    CPackFile::UnmountAll();
    packtool::SPackOptions options;
    options.format = format;
    options.appendTo = "stub.exe";
    std::string error;
    ASSERT_FALSE(packtool::PackDirectory("src", "play.exe", options, error)) << error;
    Bytes out = ReadFile(dir_ / "play.exe");
    EXPECT_EQ(out.substr(0, 300), exe);
    SetRootArchivePath("play.exe");
    for (const auto& [path, bytes] : files) EXPECT_EQ(ReadAll(EntryName(path)), bytes) << path;
  }
}

TEST_F(PackTool, BadInputGetsAClearError) {
  std::string error;
  packtool::SPackOptions options;
  EXPECT_TRUE(packtool::PackDirectory("nope", "x.pfs", options, error));
  EXPECT_NE(error.find("not a folder"), std::string::npos);

  fs::create_directories(dir_ / "empty");
  EXPECT_TRUE(packtool::PackDirectory("empty", "x.pfs", options, error));
  EXPECT_NE(error.find("nothing"), std::string::npos);

  Write("src/a.txt", "a");
  Write("elf",
        "\x7f"
        "ELF and more bytes than thirty-two in total....");
  options.appendTo = "elf";
  EXPECT_TRUE(packtool::PackDirectory("src", "x.pfs", options, error));
  EXPECT_NE(error.find("MZ"), std::string::npos);

  options = {};
  options.format = packtool::EFormat::Pf0;
  Write("src/" + std::string(150, 'l') + "/" + std::string(150, 'l'), "long");
  EXPECT_TRUE(packtool::PackDirectory("src", "x.pfs", options, error));
  EXPECT_NE(error.find("259"), std::string::npos);

  std::vector<packtool::SListedEntry> listed;
  Write("junk.pfs", "junk");
  EXPECT_TRUE(packtool::ListArchive("junk.pfs", listed, error));
  EXPECT_TRUE(packtool::ListArchive("missing.pfs", listed, error));
  EXPECT_TRUE(packtool::ExtractArchive("missing.pfs", "out", error));
}

TEST_F(PackTool, ExtractRefusesNamesLeavingTheFolder) {
  Write("evil.pfs", MakePf0({{"..\\escape.txt", "x"}, {"\\abs.txt", "y"}, {"ok\\fine.txt", "z"}}));
  std::string error;
  EXPECT_TRUE(packtool::ExtractArchive("evil.pfs", "out", error));
  EXPECT_NE(error.find("unsafe"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "escape.txt"));
  EXPECT_EQ(ReadFile(dir_ / "out/ok/fine.txt"), "z");
}
