// Archives and game folders made by a careless or hostile author: damaged
// directories, entries pointing out of the game, saves and symlink loops in
// the folder being packed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <list>
#include <string>
#include <vector>

#include "ArchiveTestSupport.h"
#include "files/GameFiles.h"
#include "files/PackTool.h"
#include "platform/TextCodec.h"

using namespace archive_test;
namespace fs = std::filesystem;

namespace {

// A pf2 entry whose own block holds only its path: offset and size are cut.
class CCutEntry : public ISerializable {
 public:
  void Serialize(CSerializer& stream) const override { stream.Write(0, std::string("game.pfs")); }
  void Deserialize(CSerializer&) override {}
};

// pf2 index from (name, stored path, offset, size); a stored path of "<cut>"
// writes the entry cut short.
struct SRawEntry {
  std::string name;
  std::string path;
  uint32_t offset = 0;
  uint32_t size = 0;
};

Bytes MakePf2(const std::vector<SRawEntry>& entries, const Bytes& data) {
  auto index = [&](uint32_t dataStart) {
    CSerializer s;
    s.Write(0, static_cast<uint32_t>(entries.size()));
    for (const SRawEntry& e : entries) {
      s.Write(0, e.name);
      if (e.path == "<cut>") {
        s.Write(0, CCutEntry());
        continue;
      }
      CPackFile::CPackedFile f;
      f.archivePath = e.path;
      f.offset = dataStart + e.offset;
      f.size = e.size;
      s.Write(0, f);
    }
    return s.Finish();
  };
  const size_t indexSize = index(0).size();
  std::vector<uint8_t> bytes = index(static_cast<uint32_t>(7 + indexSize));
  Bytes out = "pf2";
  PutU32(out, static_cast<uint32_t>(bytes.size()));
  out.append(bytes.begin(), bytes.end());
  return out + data;
}

std::list<std::string> Entries(const std::string& archive) {
  const CPackFile::CEntryTable* table = CPackFile::FindArchive(archive);
  std::list<std::string> out;
  if (table) {
    for (const auto& [name, entry] : *table) out.push_back(name);
  }
  out.sort();
  return out;
}

class HostileArchive : public GameFolderTest {};

}  // namespace

TEST_F(HostileArchive, OneCutPf2EntryHidesNothingAfterIt) {
  // The cut entry keeps the fields it holds (its file) and has a zero
  // offset and size: it reads as empty.
  Write("game.pfs", MakePf2({{"a", "game.pfs", 0, 4}, {"b", "<cut>"}, {"c", "game.pfs", 4, 4}}, "AAAACCCC"));
  EXPECT_EQ(ReadAll("a"), "AAAA");
  EXPECT_EQ(ReadAll("b"), "");
  EXPECT_EQ(ReadAll("c"), "CCCC");
  EXPECT_NE(CPackFile::GetArchiveDamage("game.pfs").find("entry 2 cut short"), std::string::npos)
      << CPackFile::GetArchiveDamage("game.pfs");

  // The tools list the intact entries and say what was damaged.
  std::vector<packtool::SListedEntry> listed;
  std::string error, damage;
  ASSERT_FALSE(packtool::ListArchive("game.pfs", listed, error, &damage)) << error;
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].name, "a");
  EXPECT_EQ(listed[1].name, "b");
  EXPECT_EQ(listed[1].size, 0u);
  EXPECT_EQ(listed[2].name, "c");
  EXPECT_NE(damage.find("cut short"), std::string::npos) << damage;
}

TEST_F(HostileArchive, DamagedDirectoriesAreReportedNotListedEmpty) {
  // A pf1 directory whose count promises more entries than it holds: the
  // entries past its end have an empty name and zero offset and size, one
  // entry in the table. A pf1 directory cut inside an entry's size keeps
  // the entry, with a size of zero. A pf2 directory cut inside its first
  // entry.
  Bytes pf1 = MakeSerialized({{"a", "AAAA"}, {"b", "BBBB"}});
  Bytes count = pf1;
  count[11] = 5;  // the count follows the (empty) tag table
  Write("count.pfs", count);
  CPackFile f;
  EXPECT_FALSE(f.Mount("count.pfs"));
  EXPECT_EQ(Entries("count.pfs"), (std::list<std::string>{"", "a", "b"}));
  EXPECT_EQ(CPackFile::FindArchive("count.pfs")->at("").size, 0u);
  EXPECT_NE(CPackFile::GetArchiveDamage("count.pfs").find("after 2 of 5 entries"), std::string::npos)
      << CPackFile::GetArchiveDamage("count.pfs");
  Bytes shortSize = pf1;
  shortSize[3] -= 4;  // the index size (after "pf1"): it ends before b's size
  Write("short.pfs", shortSize);
  EXPECT_FALSE(f.Mount("short.pfs"));
  EXPECT_EQ(Entries("short.pfs"), (std::list<std::string>{"a", "b"}));
  EXPECT_EQ(CPackFile::FindArchive("short.pfs")->at("b").size, 0u);
  EXPECT_NE(CPackFile::FindArchive("short.pfs")->at("b").offset, 0u);
  EXPECT_NE(CPackFile::GetArchiveDamage("short.pfs").find("after 1 of 2 entries"), std::string::npos)
      << CPackFile::GetArchiveDamage("short.pfs");

  Bytes pf2 = MakePf2({{"a", "cut.pfs", 0, 4}}, "AAAA");
  Write("cut.pfs", pf2.substr(0, 20));
  std::vector<packtool::SListedEntry> listed;
  std::string error, damage;
  EXPECT_FALSE(packtool::ListArchive("cut.pfs", listed, error, &damage)) << error;
  EXPECT_TRUE(listed.empty());
  EXPECT_NE(damage.find("cut at byte 20"), std::string::npos) << damage;

  // An intact archive has nothing to report.
  Write("fine.pfs", pf1);
  EXPECT_FALSE(packtool::ListArchive("fine.pfs", listed, error, &damage)) << error;
  EXPECT_EQ(damage, "");
  EXPECT_EQ(listed.size(), 2u);
}

TEST_F(HostileArchive, Pf2EntriesReadOnlyFilesOfTheGameFolder) {
  Write("data.bin", "inside");
  Write("sub/more.bin", "below");
  Write("game.pfs", MakePf2({{"abs", "/etc/passwd", 0, 4},
                             {"back", "..\\secret", 0, 4},
                             {"deep", "sub\\..\\..\\secret", 0, 4},
                             {"drive", "C:\\secret", 0, 4},
                             {"slash", "../secret", 0, 4},
                             {"ok", "data.bin", 0, 0},
                             {"inner", "sub\\..\\data.bin", 0, 0},
                             {"sub", "sub\\more.bin", 0, 0}},
                            ""));
  CPackFile f;
  ASSERT_FALSE(f.Mount("game.pfs"));
  EXPECT_EQ(Entries("game.pfs"), (std::list<std::string>{"inner", "ok", "sub"}));
  EXPECT_NE(CPackFile::GetArchiveDamage("game.pfs").find("outside the game folder"), std::string::npos);

  EXPECT_FALSE(IsGameFolderPath(""));
  EXPECT_FALSE(IsGameFolderPath("\\\\server\\share"));
  EXPECT_FALSE(IsGameFolderPath("a\\.."));
  EXPECT_FALSE(IsGameFolderPath("a\\..\\..\\b"));
  EXPECT_FALSE(IsGameFolderPath("."));
  EXPECT_TRUE(IsGameFolderPath("sub\\..\\data.bin"));  // goes down and back, stays inside
  EXPECT_TRUE(IsGameFolderPath(".\\a/./b"));
  std::string inside;
  ASSERT_TRUE(CollapseGameFolderPath("sub\\..\\x/./y", inside));
  EXPECT_EQ(inside, "x\\y");
  EXPECT_TRUE(IsGameFolderPath("a\\b.pfs"));
  EXPECT_TRUE(IsGameFolderPath("..a\\b..\\c"));
  // A trail byte 0x5C is not a separator: "\x95\x5C.." is one name.
  EXPECT_TRUE(IsGameFolderPath("\x95\x5C..\\x"));

  // Extracting never copies a file from outside the game folder.
  Write("evil.pfs", MakePf2({{"passwd", "/etc/passwd", 0, 16}}, ""));
  std::string error;
  EXPECT_TRUE(packtool::ExtractArchive(dir_.string() + "/evil.pfs", dir_.string() + "/out", error));
  EXPECT_FALSE(fs::exists(dir_ / "out" / "passwd"));
}

TEST_F(HostileArchive, PackLeavesOutSavesAndTemporariesUnlessAsked) {
  Write("src/start.iet", "*start\n");
  Write("src/saveg.dat", "BOWG....");
  Write("src/SYSTEM.DAT", "x");
  Write("src/autosave.dat", "");
  Write("src/saveq.dat", "");
  Write("src/save/slot07.dat", Bytes("BOWS\xe8\x03\0\0", 8));
  Write("src/data/table.dat", "not a save");
  Write("src/saveg.dat.tmp4242", "half");
  Write("src/bg.png.tmp", "kept: no process number");
  packtool::SPackOptions options;
  std::string error;
  ASSERT_FALSE(packtool::PackDirectory(dir_.string() + "/src", dir_.string() + "/a.pfs", options, error)) << error;
  std::vector<packtool::SListedEntry> listed;
  ASSERT_FALSE(packtool::ListArchive(dir_.string() + "/a.pfs", listed, error)) << error;
  std::vector<std::string> names;
  for (const auto& e : listed) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"bg.png.tmp", "data\\table.dat", "start.iet"}));

  options.includeSaves = true;
  ASSERT_FALSE(packtool::PackDirectory(dir_.string() + "/src", dir_.string() + "/b.pfs", options, error)) << error;
  ASSERT_FALSE(packtool::ListArchive(dir_.string() + "/b.pfs", listed, error)) << error;
  EXPECT_EQ(listed.size(), 9u);
}

TEST_F(HostileArchive, PackFollowsSymlinkedFoldersAndRefusesLoops) {
  Write("shared/voice/a.ogg", "OggS");
  Write("src/start.iet", "*start\n");
  fs::create_directory_symlink(dir_ / "shared" / "voice", dir_ / "src" / "voice");
  packtool::SPackOptions options;
  std::string error;
  ASSERT_FALSE(packtool::PackDirectory(dir_.string() + "/src", dir_.string() + "/a.pfs", options, error)) << error;
  SetRootArchivePath("a.pfs");
  EXPECT_EQ(ReadAll("voice\\a.ogg"), "OggS");

  fs::create_directory_symlink(dir_ / "src", dir_ / "src" / "again");
  EXPECT_TRUE(packtool::PackDirectory(dir_.string() + "/src", dir_.string() + "/b.pfs", options, error));
  EXPECT_NE(error.find("again"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir_ / "b.pfs"));
}

TEST_F(HostileArchive, GameFilesStartFindsTheRootArchiveOfTheGameFolder) {
  Write("velmira.pfs", MakeSerialized({{"tag.ini", "[wait]\n0=time\n"}}));
  SetRootArchivePath("");
  EXPECT_EQ(ReadAll("tag.ini"), "<missing>");
  StartGameFiles(dir_.string(), "/opt/bin/velmira");
  EXPECT_EQ(ReadAll("tag.ini"), "[wait]\n0=time\n");
  // Named inside the game folder, the current directory, so that a folder
  // name CP932 cannot spell never passes through it.
  EXPECT_EQ(GetRootArchivePath(), "velmira.pfs");
}
