#include <gtest/gtest.h>

#include "platform/TextCodec.h"
#include "files/FileName.h"
#include "files/PackFile.h"
#include "support/TempDir.h"

TEST(LooseFiles, SeparatorsAndCaseFallback) {
  TempDir dir;
  ScopedCurrentDir cd(dir.Path());
  dir.Write("bgm/Title.OGG", "music");
  CPackFile f;
  // Windows names: backslash or slash, any case.
  EXPECT_FALSE(f.Open("bgm\\Title.OGG"));
  EXPECT_EQ(f.GetName(), "bgm\\Title.OGG");
  EXPECT_FALSE(f.Open("bgm/title.ogg"));
  EXPECT_EQ(f.GetName(), "bgm\\title.ogg");
  EXPECT_FALSE(f.Open("BGM\\TITLE.ogg"));
  EXPECT_EQ(f.GetSize(), 5);
  EXPECT_TRUE(f.Open("bgm\\missing.ogg"));
  EXPECT_FALSE(f.IsOpen());
  // As Windows reads a name: through a folder that is not there, and with
  // a trailing dot and space.
  EXPECT_FALSE(f.Open("nothere\\..\\bgm\\title.ogg. "));
  EXPECT_EQ(f.GetSize(), 5);
  // A last "." or ".." names what is before it, a file here.
  EXPECT_FALSE(f.Open("bgm\\title.ogg\\."));
  EXPECT_FALSE(f.Open("bgm\\title.ogg\\x\\.."));
  EXPECT_EQ(f.GetSize(), 5);
  // Folders are not files.
  EXPECT_TRUE(f.Open("bgm"));
  EXPECT_TRUE(f.Open("bgm\\x\\.."));
}

TEST(LooseFiles, Cp932Names) {
  TempDir dir;
  ScopedCurrentDir cd(dir.Path());
  // 表 is 0x95 0x5C in CP932: its trail byte is a backslash and must not split the name.
  dir.Write("画像/表.txt", "hyou");
  std::string name = Utf8ToCp932("画像\\表.txt");
  ASSERT_EQ(name.substr(name.size() - 6, 2), "\x95\x5C");
  CPackFile f;
  ASSERT_FALSE(f.Open(name.c_str()));
  char buffer[8] = {};
  EXPECT_EQ(f.Read(buffer, sizeof(buffer)), 4);
  EXPECT_STREQ(buffer, "hyou");
  EXPECT_EQ(NormalizeSeparators("a/\x95/b"), "a\\\x95/b");
}

TEST(LooseFiles, ReadSeekTellStayInsideTheFile) {
  TempDir dir;
  ScopedCurrentDir cd(dir.Path());
  dir.Write("data.bin", "0123456789");
  CPackFile f;
  EXPECT_EQ(f.Read(nullptr, 4), 0);
  EXPECT_EQ(f.Tell(), -1);
  EXPECT_EQ(f.Seek(0, 0), -1);
  EXPECT_EQ(f.Close(), -1);
  ASSERT_FALSE(f.Open("data.bin"));
  EXPECT_EQ(f.Tell(), 0);
  EXPECT_EQ(f.Seek(-1, 1), 0);  // out of the file: stays put
  EXPECT_EQ(f.Tell(), 0);
  char buffer[32];
  EXPECT_EQ(f.Read(buffer, 32), 10);
  EXPECT_EQ(f.Read(buffer, 32), 0);
  EXPECT_EQ(f.Seek(-3, 2), 0);
  EXPECT_EQ(f.Read(buffer, 32), 3);
  EXPECT_EQ(std::string(buffer, 3), "789");
  EXPECT_EQ(f.Close(), 0);
  EXPECT_FALSE(f.IsOpen());
}

TEST(FileName, Normalisation) {
  CFileName a("a\\.\\b\\..\\c.png");
  EXPECT_EQ(a.GetPath(), "a\\c.png");
  EXPECT_EQ(a.GetExtension(), "png");
  EXPECT_EQ(a.GetBaseName(), "c");
  EXPECT_EQ(a.GetDirectory(), "a");
  EXPECT_EQ(a.GetPathWithoutExtension(), "a\\c");
  EXPECT_EQ(CFileName("a\\b\\").GetPath(), "a\\b\\");
  EXPECT_EQ(CFileName("..\\x").GetPath(), "x");
  EXPECT_EQ(CFileName("a\\\\b").GetPath(), "a\\\\b");
  CFileName noDir("file.tar.gz");
  EXPECT_EQ(noDir.GetDirectory(), "");
  EXPECT_EQ(noDir.GetDirectoryWithSeparator(), "");
  EXPECT_EQ(noDir.GetBaseName(), "file.tar");
  EXPECT_EQ(noDir.GetExtension(), "gz");
  EXPECT_EQ(CFileName("dir.d\\name").GetExtension(), "");
  // A double-byte character whose trail byte is '\' is not a separator.
  CFileName sjis("\x95\x5C\\x.iet");
  EXPECT_EQ(sjis.GetDirectory(), "\x95\x5C");
  EXPECT_EQ(sjis.GetBaseName(), "x");
}

TEST(LooseFiles, CaseFallbackSeesFilesAddedLater) {
  // Folder listings behind the case-insensitive lookup must not go stale.
  TempDir dir;
  ScopedCurrentDir cd(dir.Path());
  dir.Write("Data/One.txt", "1");
  CPackFile f;
  EXPECT_FALSE(f.Open("data\\one.txt"));
  EXPECT_TRUE(f.Open("data\\two.txt"));
  dir.Write("Data/Two.txt", "2");
  EXPECT_FALSE(f.Open("data\\two.txt"));
  std::filesystem::remove(dir / "Data/One.txt");
  EXPECT_TRUE(f.Open("data\\one.txt"));
}
