#include <gtest/gtest.h>

#include <utility>

#include "platform/FileSystem.h"
#include "platform/TextCodec.h"

using platform::ConvertCp932ToUtf8;
using platform::ConvertUtf8ToCp932;

TEST(TextCodec, RoundTripsJapaneseText) {
  std::string utf8 = "起動エラー ｱｲｳ abc";
  std::string cp932 = ConvertUtf8ToCp932(utf8);
  EXPECT_EQ(cp932.substr(0, 4), "\x8B\x4E\x93\xAE");
  EXPECT_EQ(ConvertCp932ToUtf8(cp932), utf8);
}

TEST(TextCodec, BytesIconvRejectsStillConvert) {
  // 0x80, 0xA0 and 0xFD-0xFF are single bytes in CP932.
  std::string odd = "\x80\xA0\xFD\xFE\xFF";
  std::string utf8 = ConvertCp932ToUtf8(odd);
  EXPECT_EQ(utf8.find("\xEF\xBF\xBD"), std::string::npos);
  EXPECT_EQ(ConvertUtf8ToCp932(utf8), odd);
}

TEST(TextCodec, BrokenInputBecomesReplacementCharacters) {
  // A lead byte at the end, and a lead byte with an invalid trail byte.
  EXPECT_EQ(ConvertCp932ToUtf8("a\x82"), "a\xEF\xBF\xBD");
  EXPECT_EQ(ConvertCp932ToUtf8("\x81\x20x"), "\xEF\xBF\xBD x");
  // Invalid UTF-8 and characters CP932 lacks become '?'.
  EXPECT_EQ(ConvertUtf8ToCp932("\xC3"), "?");
  EXPECT_EQ(ConvertUtf8ToCp932("😀"), "?");
}

TEST(FileSystem, NativePathsKeepDoubleByteCharacters) {
  EXPECT_EQ(platform::ToNativePath("a\\b/c"), "a/b/c");
  EXPECT_EQ(platform::ToNativePath("\x95\x5C\\x"), "表/x");
}

// Names as Windows reads them: dots and doubled separators go by the text,
// and the last component loses trailing dots and spaces.
TEST(FileSystem, NativePathsReadLikeWindowsNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"missing\\..\\a.png", "a.png"},
      {".\\bg\\.\\a.png", "bg/a.png"},
      {"a\\b\\..\\..\\c", "c"},
      {"..\\x", "../x"},
      {"..\\..\\x", "../../x"},
      {"a\\..\\..\\x", "../x"},
      {"/..\\x", "/x"},
      {"a\\\\b", "a/b"},
      {"bg01.png.", "bg01.png"},
      {"bg01.png . .", "bg01.png"},
      {"dir. \\x", "dir. /x"},
      {"dir \\", "dir /"},
      {"a\\b\\", "a/b/"},
      {"a\\.", "a"},
      {"s.iet\\.", "s.iet"},
      {"d\\t.iet\\x\\..", "d/t.iet"},
      {"a\\.\\", "a/"},
      {".hidden", ".hidden"},
  };
  for (const auto& [name, native] : cases) EXPECT_EQ(platform::ToNativePath(name), native) << name;
}

TEST(TextCodec, SingleCharactersToCodePoints) {
  struct Case {
    uint16_t code;
    uint32_t codePoint;
  } cases[] = {
      {0x41, 0x41},     {0x20, 0x20},     {0xB1, 0xFF71},   {0x8140, 0x3000}, {0x82A0, 0x3042},
      {0x889F, 0x4E9C}, {0x8160, 0xFF5E}, {0x815F, 0xFF3C}, {0x8794, 0x2211}, {0xFA40, 0x2170},
  };
  for (const Case& c : cases) {
    uint32_t out = 0;
    EXPECT_FALSE(platform::ConvertCp932CharToUnicode(c.code, out)) << std::hex << c.code;
    EXPECT_EQ(out, c.codePoint) << std::hex << c.code;
  }
  // Lone lead bytes and pairs the code page does not define.
  for (uint16_t code : {0x81, 0x9F, 0xE0, 0xFC, 0x8120, 0x41A0, 0x85A0, 0xFFFF}) {
    uint32_t out = 0;
    EXPECT_TRUE(platform::ConvertCp932CharToUnicode(code, out)) << std::hex << code;
  }
}
