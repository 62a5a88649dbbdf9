// The var tag's queries, and the comma lists and numbers the tags read.
#include "InterpHarness.h"

#include <cstdio>

#include "platform/TextCodec.h"
#include "script/tags/TagUtil.h"

namespace {

class InterpVar : public InterpHarness {
 protected:
  // Runs one script to its end with reports collected.
  void Run(const std::string& body) {
    WriteFile("game.iet", "[debug mode=2]\n" + body);
    ASSERT_FALSE(Start());
    Frame();
    reports_ = script_->TakeReportBuffer();
  }
  std::string reports_;
};

TEST_F(InterpVar, StringQueries) {
  Run("[var name=f.find data=x][var name=f.find system=find source=abcabc string=ca]\n"
      "[var name=f.none system=find source=abcabc string=x]\n"
      "[var name=f.len system=length source=abc]\n"
      "[var name=f.sub system=substr source=abcdef position=2 length=3]\n"
      "[var name=f.rest system=substr source=abcdef position=2 length=-1]\n"
      "[var name=f.empty data=old][var name=f.empty system=substr source=abcdef position=6 length=0]\n"
      "[var name=f.over data=old][var name=f.over system=substr source=abcdef position=4 length=3]\n"
      "[var name=f.wrap data=old][var name=f.wrap system=substr source=abcdef position=-1 length=1]\n"
      "[var name=f.os system=os]\n"
      "[var name=f.arr system=array]\n"
      "[var name=f.nothing system=unknown]\n");
  EXPECT_EQ(script_->GetVariables().GetInt("f.find"), 2);
  EXPECT_EQ(script_->GetVariables().GetInt("f.none"), -1);
  EXPECT_EQ(Var("f.len"), "3");
  EXPECT_EQ(Var("f.sub"), "cde");
  EXPECT_EQ(Var("f.rest"), "cdef");
  EXPECT_EQ(Var("f.empty"), "");
  EXPECT_EQ(Var("f.over"), "old");
  // A start before the text that only passes the length check by wrapping
  // around stores nothing, and the check itself does not complain.
  EXPECT_EQ(Var("f.wrap"), "old");
  EXPECT_EQ(Var("f.os"), "windows");
  EXPECT_EQ(Var("f.arr.size"), "0");
  EXPECT_FALSE(Has("f.nothing"));
  std::string message =
      Utf8ToCp932("positionパラメータとlengthパラメータの合計が、sourceパラメータの長さを超えています。");
  EXPECT_NE(reports_.find("game.iet(8): " + message), std::string::npos) << reports_;
  EXPECT_EQ(reports_.find("game.iet(9): " + message), std::string::npos) << reports_;
  EXPECT_EQ(reports_.find("game.iet(8): " + message, reports_.find("game.iet(8): " + message) + 1), std::string::npos);
}

TEST_F(InterpVar, RandomAndExistence) {
  WriteFile("macro.iet", "*probe\n[var name=f.local system=var_exist target=arg]\n[return]\n");
  Run("[var name=f.r system=random]\n"
      "[var name=f.known data=1]\n"
      "[var name=f.yes system=var_exist target=f.known]\n"
      "[var name=f.no system=var_exist target=f.unknown]\n"
      "[probe arg=1]\n");
  int r = script_->GetVariables().GetInt("f.r");
  EXPECT_GE(r, 0);
  EXPECT_LE(r, 65535);
  for (int i = 0; i < 200; ++i) {
    int n = script_->NextRandom();
    ASSERT_GE(n, 0);
    ASSERT_LE(n, 65535);
  }
  EXPECT_EQ(Var("f.yes"), "1");
  EXPECT_EQ(Var("f.no"), "0");
  EXPECT_FALSE(Has("f.unknown"));
  EXPECT_EQ(Var("f.local"), "1");  // macro attributes are variables too
}

TEST_F(InterpVar, HeadlessRunsDrawTheSameNumbers) {
  WriteFile("game.iet", "[]\n");
  ASSERT_FALSE(Start());
  std::vector<int> first;
  for (int i = 0; i < 5; ++i) first.push_back(script_->NextRandom());
  ASSERT_FALSE(Start());
  std::vector<int> second;
  for (int i = 0; i < 5; ++i) second.push_back(script_->NextRandom());
  EXPECT_EQ(first, second);
}

TEST_F(InterpVar, ScreenSizeComesFromTheGameSettings) {
  WriteFile("system.ini", "[WINDOW]\nWIDTH=800\nHEIGHT=600\n[SYSTEM]\nBOOT=game\n");
  Run("[var name=f.w system=screen_width][var name=f.h system=screen_height]\n");
  EXPECT_EQ(Var("f.w"), "800");
  EXPECT_EQ(Var("f.h"), "600");
}

TEST_F(InterpVar, FileQueries) {
  WriteFile("data.txt", "x");
  platform::FileTime t;
  ASSERT_FALSE(platform::GetFileWriteTime("data.txt", t));
  Run("[var name=f.there system=file_exist file=data.txt]\n"
      "[var name=f.missing system=file_exist file=nothing.txt]\n"
      "[var name=f.short system=file_update_time file=data.txt format=yy-M-d]\n"
      "[var name=f.long system=file_update_time file=data.txt]\n"
      "[var name=f.gone system=file_update_time file=nothing.txt noexist=none]\n"
      // A long token found only inside a double-byte character (0x83 0x4D,
      // then M) is the one chosen, and left there: the short one is not
      // tried. Found at a character's start, it is replaced.
      "[var name=f.inside system=file_update_time file=data.txt format=\x83MM]\n"
      "[var name=f.hour system=file_update_time file=data.txt format=\x83hh\x8E\x9E]\n"
      "[var name=f.after system=file_update_time file=data.txt format=\x83MMM]\n");
  EXPECT_EQ(Var("f.there"), "1");
  EXPECT_EQ(Var("f.missing"), "0");
  char expected[64];
  std::snprintf(expected, sizeof expected, "%02d-%d-%d", t.year % 100, t.month, t.day);
  EXPECT_EQ(Var("f.short"), expected);
  std::snprintf(expected, sizeof expected, "%d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  EXPECT_EQ(Var("f.long"), expected);
  EXPECT_EQ(Var("f.gone"), "none");
  EXPECT_EQ(Var("f.inside"), "\x83MM");
  EXPECT_EQ(Var("f.hour"), "\x83hh\x8E\x9E");
  std::snprintf(expected, sizeof expected, "\x83M%02d", t.month);
  EXPECT_EQ(Var("f.after"), expected);
}

TEST(InterpTagUtil, FileTimeTokensSkipDoubleByteCharacters) {
  // 0x95 0x62 is one character whose second byte is 'b'; 0x93 0x64 ends in 'd'.
  std::string format = "\x93\x64 d";
  EXPECT_EQ(tagutil::ReplaceToken(format, "d", "5"), "\x93\x64 5");
  EXPECT_EQ(tagutil::ReplaceToken("\x93\x64", "d", "5"), "\x93\x64");
}

TEST(InterpTagUtil, CommaListsAndNumbers) {
  using V = std::vector<std::string>;
  EXPECT_EQ(tagutil::SplitCommaList("a,,b"), (V{"a", "", "b"}));
  EXPECT_EQ(tagutil::SplitCommaList("a,"), (V{"a"}));
  EXPECT_EQ(tagutil::SplitCommaList(" a , b"), (V{" a ", " b"}));
  EXPECT_EQ(tagutil::SplitCommaList(""), V{});
  EXPECT_EQ(tagutil::SplitCommaList(",x"), (V{"", "x"}));

  EXPECT_EQ(tagutil::Atoi("42"), 42);
  EXPECT_EQ(tagutil::Atoi("  -7px"), -7);
  EXPECT_EQ(tagutil::Atoi("0x10"), 0);
  EXPECT_EQ(tagutil::Atoi(""), 0);
  EXPECT_EQ(tagutil::Atoi("abc"), 0);
  EXPECT_EQ(tagutil::Atoi("99999999999"), 2147483647);
  EXPECT_EQ(tagutil::Atoi("-99999999999"), -2147483647 - 1);
}

}  // namespace
