#include <gtest/gtest.h>

#include <list>
#include <string>

#include "ArchiveTestSupport.h"

using namespace archive_test;

namespace {

class ArchiveLookup : public GameFolderTest {};
class ArchiveMount : public GameFolderTest {};
class DamagedArchive : public GameFolderTest {};

Bytes Exe(uint32_t word28, size_t size = 64) {
  Bytes exe(size, '\x90');
  exe[0] = 'M';
  exe[1] = 'Z';
  for (int i = 0; i < 4; ++i) exe[28 + i] = static_cast<char>((word28 >> (8 * i)) & 0xFF);
  return exe;
}

std::list<std::string> Entries(const std::string& archive) {
  std::list<std::string> out;
  CPackFile f;
  EXPECT_FALSE(f.ListEntries(archive.c_str(), out));
  out.sort();
  return out;
}

}  // namespace

TEST_F(ArchiveLookup, EachFormatServesEntriesFromTheRootArchive) {
  const std::vector<Entry> entries{{"bg\\bg01.png", "first"}, {"script.iet", ""}, {"se\\x.ogg", "third entry"}};
  const Bytes formats[] = {MakePf0(entries), MakeSerialized(entries), MakeSerialized(entries, "game.pfs")};
  for (const Bytes& archive : formats) {
    CPackFile::UnmountAll();
    Write("game.pfs", archive);
    EXPECT_EQ(ReadAll("bg\\bg01.png"), "first") << archive.substr(0, 3);
    EXPECT_EQ(ReadAll("script.iet"), "");
    EXPECT_EQ(ReadAll("se/x.ogg"), "third entry");
    EXPECT_EQ(ReadAll("se\\missing.ogg"), "<missing>");
  }
}

TEST_F(ArchiveLookup, EntryPositionsAreRelativeToTheEntry) {
  Write("game.pfs", MakePf0({{"pad", "0123456789"}, {"bgm\\title.ogg", "abcdef"}}));
  CPackFile f;
  ASSERT_FALSE(f.Open("bgm/title.ogg"));
  EXPECT_EQ(f.GetName(), "bgm\\title.ogg");
  EXPECT_EQ(f.Tell(), 0);
  EXPECT_EQ(f.GetSize(), 6);
  EXPECT_EQ(f.Seek(-1, 1), 0);  // before the entry: refused, position kept
  EXPECT_EQ(f.Tell(), 0);
  char buf[32] = {};
  EXPECT_EQ(f.Read(buf, sizeof buf), 6);
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  EXPECT_EQ(f.Read(buf, sizeof buf), 0);
  EXPECT_EQ(f.Seek(-2, 2), 0);
  EXPECT_EQ(f.Read(buf, 1), 1);
  EXPECT_EQ(buf[0], 'e');
  EXPECT_EQ(f.Seek(10, 1), 0);  // past the end: refused
  EXPECT_EQ(f.Tell(), 5);
  EXPECT_EQ(f.Close(), 0);
  EXPECT_EQ(f.Tell(), -1);
  EXPECT_EQ(f.Read(buf, 1), 0);
}

TEST_F(ArchiveLookup, LooseFilesWinAndNamesMatchExactly) {
  Write("game.pfs", MakePf0({{"bg\\a.png", "archived"}, {"bg\\b.png", "only archived"}}));
  Write("bg/a.png", "loose");
  EXPECT_EQ(ReadAll("bg\\a.png"), "loose");
  EXPECT_EQ(ReadAll("bg\\b.png"), "only archived");
  EXPECT_EQ(ReadAll("BG\\b.png"), "<missing>");
  EXPECT_EQ(ReadAll("bg\\B.png"), "<missing>");
}

TEST_F(ArchiveLookup, DirectoryArchivesShortestPrefixFirst) {
  // voice.pfs holds ch1\a.ogg, voice/ch1.pfs holds a.ogg.
  Write("voice.pfs", MakePf0({{"ch1\\a.ogg", "from voice.pfs"}}));
  Write("voice/ch1.pfs", MakeSerialized({{"a.ogg", "from ch1.pfs"}, {"b.ogg", "from ch1.pfs"}}));
  EXPECT_EQ(ReadAll("voice\\ch1\\a.ogg"), "from voice.pfs");
  EXPECT_EQ(ReadAll("voice\\ch1\\b.ogg"), "from ch1.pfs");
}

TEST_F(ArchiveLookup, PrefixWithoutExtensionComesBeforeThePfsName) {
  Write("sound", MakePf0({{"a.ogg", "from sound"}}));
  Write("sound.pfs", MakePf0({{"a.ogg", "from sound.pfs"}}));
  EXPECT_EQ(ReadAll("sound\\a.ogg"), "from sound");
}

TEST_F(ArchiveLookup, DoubleByteTrailBackslashDoesNotSplitAPrefix) {
  // \x95\x5C is one CP932 character whose trail byte is a backslash.
  const std::string folder = "\x95\x5C";
  Write("\xe8\xa1\xa8.pfs", MakePf0({{"a.ogg", "hyou"}}));  // 表.pfs on disk
  EXPECT_EQ(ReadAll(folder + "\\a.ogg"), "hyou");
  EXPECT_EQ(ReadAll(folder + "/a.ogg"), "hyou");
}

TEST_F(ArchiveLookup, MountedArchivesAreSearchedBeforeMountingNewOnes) {
  Write("voice.pfs", MakePf0({{"ch1\\a.ogg", "from voice.pfs"}}));
  Write("voice/ch1.pfs", MakePf0({{"a.ogg", "from ch1.pfs"}}));
  CPackFile f;
  ASSERT_FALSE(f.Mount("voice\\ch1.pfs"));
  EXPECT_EQ(ReadAll("voice\\ch1\\a.ogg"), "from ch1.pfs");
}

TEST_F(ArchiveLookup, PackedFileNamesItsOwnDataFile) {
  // A pf2 directory may point entries at another file.
  Bytes data = "xxxxHELLOyyyy";
  Write("data.bin", data);
  CSerializer s;
  s.Write(0, uint32_t{1});
  s.Write(0, std::string("greeting"));
  CPackFile::CPackedFile e;
  e.archivePath = "data.bin";
  e.offset = 4;
  e.size = 5;
  s.Write(0, e);
  std::vector<uint8_t> index = s.Finish();
  Bytes archive = "pf2";
  PutU32(archive, static_cast<uint32_t>(index.size()));
  archive.append(index.begin(), index.end());
  Write("game.pfs", archive);
  EXPECT_EQ(ReadAll("greeting"), "HELLO");
}

TEST_F(ArchiveLookup, FailedOpenLeavesTheObjectClosed) {
  Write("game.pfs", MakePf0({{"a", "1"}}));
  CPackFile f;
  ASSERT_FALSE(f.Open("a"));
  EXPECT_TRUE(f.Open("b"));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.GetSize(), -1);
  // Every seek of a closed object fails, from the current position too.
  for (int origin = 0; origin < 3; ++origin) EXPECT_EQ(f.Seek(0, origin), -1) << origin;
}

TEST_F(ArchiveMount, SecondMountDoesNotReadTheFileAgain) {
  Write("x.pfs", MakePf0({{"one", "1"}}));
  CPackFile f;
  ASSERT_FALSE(f.Mount("x.pfs"));
  Write("x.pfs", MakePf0({{"two", "2"}}));
  ASSERT_FALSE(f.Mount("x.pfs"));
  EXPECT_EQ(Entries("x.pfs"), (std::list<std::string>{"one"}));
  EXPECT_TRUE(f.Mount("absent.pfs"));
  EXPECT_EQ(CPackFile::FindArchive("absent.pfs"), nullptr);
}

TEST_F(ArchiveMount, DuplicateNamesServeTheLaterEntry) {
  Write("game.pfs", MakePf0({{"a", "old"}, {"a", "new"}}));
  EXPECT_EQ(ReadAll("a"), "new");
  CPackFile::UnmountAll();
  Write("game.pfs", MakeSerialized({{"a", "old"}, {"a", "newer"}}));
  EXPECT_EQ(ReadAll("a"), "newer");
}

TEST_F(ArchiveMount, VolumesWithGapsOverrideInOrder) {
  Write("game.pfs", MakePf0({{"all", "main"}, {"main only", "m"}}));
  Write("game.pfs.000", MakeSerialized({{"all", "v0"}, {"zero", "z"}}));
  Write("game.pfs.002", MakePf0({{"all", "v2"}}));
  EXPECT_EQ(ReadAll("all"), "v2");
  EXPECT_EQ(ReadAll("zero"), "z");
  EXPECT_EQ(ReadAll("main only"), "m");
  // Volumes stay registered under their own names too.
  ASSERT_NE(CPackFile::FindArchive("game.pfs.002"), nullptr);
  EXPECT_EQ(CPackFile::FindArchive("game.pfs.001"), nullptr);
}

TEST_F(ArchiveMount, ExecutableAppendedArchives) {
  // Word at 28 is zero: the start comes from the last four bytes, and pf0
  // offsets count from that start.
  Bytes exe = Exe(0, 100);
  Bytes withTrailer = exe + MakePf0({{"a.txt", "appended"}});
  PutU32(withTrailer, static_cast<uint32_t>(exe.size()));
  Write("play.exe", withTrailer);
  CPackFile f;
  ASSERT_FALSE(f.Mount("play.exe"));
  EXPECT_EQ(CPackFile::FindArchive("play.exe")->at("a.txt").offset, 100u + 7 + 268);

  // Word at 28 gives the start; pf1 offsets are positions in the file.
  Bytes exe2 = Exe(80, 80);
  Write("play2.exe", exe2 + MakeSerialized({{"b.txt", "pf1 appended"}}, "", 80));
  SetRootArchivePath("play2.exe");
  EXPECT_EQ(ReadAll("b.txt"), "pf1 appended");
  SetRootArchivePath("play.exe");
  EXPECT_EQ(ReadAll("a.txt"), "appended");

  // A file too short to hold the word at 28 reads as if it were zero: the
  // last four bytes give the start (here an empty pf1 directory at 2), and
  // the volumes are merged.
  Bytes tiny = "MZpf1";
  PutU32(tiny, 8);  // index size: an empty tag table and no entries
  PutU32(tiny, 0);
  PutU32(tiny, 0);
  PutU32(tiny, 2);
  ASSERT_LT(tiny.size(), 32u);
  Write("tiny.pfs", tiny);
  Write("tiny.pfs.000", MakeSerialized({{"v.txt", "in the volume"}}));
  ASSERT_FALSE(f.Mount("tiny.pfs"));
  SetRootArchivePath("tiny.pfs");
  EXPECT_EQ(ReadAll("v.txt"), "in the volume");
}

TEST_F(ArchiveMount, BadMagicIsRegisteredEmpty) {
  Write("bad.pfs", "pfX and more bytes");
  CPackFile f;
  EXPECT_TRUE(f.Mount("bad.pfs"));
  EXPECT_FALSE(f.Mount("bad.pfs"));
  EXPECT_TRUE(Entries("bad.pfs").empty());
}

TEST_F(DamagedArchive, Pf0KeepsWhatWasReadBeforeTheDamage) {
  Bytes good = MakePf0({{"a", "AAAA"}, {"b", "BBBB"}});
  // Cut inside the second record.
  Write("cut.pfs", good.substr(0, 7 + 268 + 100));
  CPackFile f;
  EXPECT_TRUE(f.Mount("cut.pfs"));
  EXPECT_EQ(Entries("cut.pfs"), (std::list<std::string>{"a"}));
  // Its bytes are gone with the cut: the entry is not served.
  SetRootArchivePath("cut.pfs");
  EXPECT_EQ(ReadAll("a"), "<missing>");

  // A zero count is no archive.
  Bytes zero = "pf0";
  PutU32(zero, 0);
  Write("zero.pfs", zero);
  EXPECT_TRUE(f.Mount("zero.pfs"));

  // A name filling its whole field without a terminator ends at the field.
  Bytes full = MakePf0({{std::string(259, 'n'), "data"}});
  full[7 + 259] = 'n';
  Write("full.pfs", full);
  EXPECT_FALSE(f.Mount("full.pfs"));
  EXPECT_EQ(Entries("full.pfs"), (std::list<std::string>{std::string(260, 'n')}));
}

TEST_F(DamagedArchive, EntriesPastTheEndAreNotServed) {
  Bytes archive = "pf1";
  CSerializer s;
  s.Write(0, uint32_t{3});
  s.Write(0, std::string("inside"));
  s.Write(0, uint32_t{0});
  s.Write(0, uint32_t{3});
  s.Write(0, std::string("beyond"));
  s.Write(0, uint32_t{0xFFFFFFF0});
  s.Write(0, uint32_t{0x20});
  s.Write(0, std::string("overlong"));
  s.Write(0, uint32_t{0});
  s.Write(0, uint32_t{0x7FFFFFFF});
  std::vector<uint8_t> index = s.Finish();
  PutU32(archive, static_cast<uint32_t>(index.size()));
  archive.append(index.begin(), index.end());
  Write("game.pfs", archive);
  EXPECT_EQ(ReadAll("inside"), "pf1");
  EXPECT_EQ(ReadAll("beyond"), "<missing>");
  EXPECT_EQ(ReadAll("overlong"), "<missing>");
}

TEST_F(DamagedArchive, HostileCountsAndSizesEndTheDirectory) {
  CPackFile f;
  // pf0 count of four billion with one record present.
  Bytes pf0 = MakePf0({{"a", "x"}});
  pf0[3] = pf0[4] = pf0[5] = pf0[6] = '\xFF';
  Write("pf0.pfs", pf0);
  EXPECT_TRUE(f.Mount("pf0.pfs"));
  EXPECT_EQ(Entries("pf0.pfs"), (std::list<std::string>{"a"}));

  // pf1 whose index size is far past the end of the file, and whose entry
  // count and tag table are huge.
  Bytes pf1 = "pf1";
  PutU32(pf1, 0xFFFFFFFF);
  PutU32(pf1, 0);           // tag table
  PutU32(pf1, 0xFFFFFFFF);  // entries
  PutU32(pf1, 1);
  pf1 += "k";
  PutU32(pf1, 0);
  PutU32(pf1, 1);
  Write("pf1.pfs", pf1);
  EXPECT_FALSE(f.Mount("pf1.pfs"));
  // The entries counted past the index are one empty entry.
  EXPECT_EQ(Entries("pf1.pfs"), (std::list<std::string>{"", "k"}));

  Bytes table = "pf2";
  PutU32(table, 8);
  PutU32(table, 0x40000000);
  PutU32(table, 0);
  Write("pf2.pfs", table);
  EXPECT_FALSE(f.Mount("pf2.pfs"));
  EXPECT_TRUE(Entries("pf2.pfs").empty());

  // An executable header pointing past the end.
  Write("exe.pfs", Exe(0x7FFFFFF0));
  EXPECT_TRUE(f.Mount("exe.pfs"));
}

TEST_F(DamagedArchive, EveryTruncationMountsWithoutHarm) {
  const std::vector<Entry> entries{{"dir\\one", "1111"}, {"two", "22"}};
  const Bytes formats[] = {MakePf0(entries), MakeSerialized(entries), MakeSerialized(entries, "t.pfs")};
  int k = 0;
  for (const Bytes& full : formats) {
    for (size_t n = 0; n <= full.size(); ++n) {
      std::string name = "t" + std::to_string(k++) + ".pfs";
      Write(name, full.substr(0, n));
      CPackFile f;
      f.MountArchive(name.c_str(), true);  // no volume probes: the directory only
      const CPackFile::CEntryTable* table = CPackFile::FindArchive(name);
      ASSERT_NE(table, nullptr);
      for (const auto& [entryName, entry] : *table) {
        // Anything registered is a record of the directory, as far as it
        // could be read: fields past the cut are empty.
        EXPECT_TRUE(entryName.empty() || entryName == "dir\\one" || entryName == "two") << n;
        if (entryName.empty()) EXPECT_EQ(entry.offset, 0u) << n;
        EXPECT_TRUE(entry.size == 0 || entry.size == (entryName == "two" ? 2u : 4u)) << n;
      }
    }
  }
}
