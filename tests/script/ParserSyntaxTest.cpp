// The script syntax: what records each construct gives, with their lines.
#include <gtest/gtest.h>

#include "ParserTestSupport.h"

using namespace parser_test;
using V = std::vector<std::string>;

TEST(ParserSyntax, LinesOfEachForm) {
  const char* src =
      "[&linetag allow=0]\n"
      "*start\n"
      "// a comment [not a tag]\n"
      "\n"
      "Hello[r]world\n"
      "/* block\n"
      "   comment */\n"
      "@\n"
      "[lydel id=3][cm]\n"
      "*label with blanks \n"
      "last";
  EXPECT_EQ(Parse(src), (V{"label@2:start", "text@5:Hello", "tag@5:r{}", "text@5:world", "tag@8:@{}",
                           "tag@9:lydel{id=3}", "tag@9:cm{}", "label@10:label with blanks ", "text@11:last"}));
}

TEST(ParserSyntax, Attributes) {
  // Quoted values keep blanks, blanks may surround '=', a bare name right
  // before ']' has an empty value, a tag may continue over lines.
  EXPECT_EQ(ParseText("[a x=1 y=\"two words\"]"), (V{"tag@1:a{x=1,y=two words}"}));
  EXPECT_EQ(ParseText("[var name = t.x data = 1]"), (V{"tag@1:var{data=1,name=t.x}"}));
  EXPECT_EQ(ParseText("[skip allow]"), (V{"tag@1:skip{allow=}"}));
  EXPECT_EQ(ParseText("[a x=1\n    y=2\n]"), (V{"tag@3:a{x=1,y=2}"}));
  EXPECT_EQ(ParseText("[a x=1    y=2]"), (V{"tag@1:a{x=1,y=2}"}));
  EXPECT_EQ(ParseText("[ a x= 1]"), (V{"tag@1:a{x=1}"}));
  EXPECT_EQ(ParseText("[a x=ab\"c d\"e]"), (V{"tag@1:a{x=abc de}"}));
  // A line feed inside quotes is dropped but still counts.
  EXPECT_EQ(ParseText("[a x=\"p\nq\"]"), (V{"tag@2:a{x=pq}"}));
  // A repeated attribute keeps its last value.
  EXPECT_EQ(ParseText("[a x=1 x=2]"), (V{"tag@1:a{x=2}"}));
}

TEST(ParserSyntax, EscapesInTagsAndText) {
  EXPECT_EQ(ParseText("[a v=a\\]b]"), (V{"tag@1:a{v=a]b}"}));
  EXPECT_EQ(ParseText("[a v=\"a]b\"]"), (V{"tag@1:a{v=a}", "text@1:b\"]"}));
  EXPECT_EQ(ParseText("[a\\ b]"), (V{"tag@1:a b{}"}));
  EXPECT_EQ(ParseText("[a x\\=y=1]"), (V{"tag@1:a{x=y=1}"}));
  EXPECT_EQ(ParseText("x\\[r]\\@\\\\y"), (V{"text@1:x[r]@\\y"}));
  // A backslash at line start makes a text line of what would be a label,
  // but '[' and '@' right after it still act.
  EXPECT_EQ(Parse("[&linetag allow=0]\n\\*notalabel\n\\[r]\n"), (V{"text@2:*notalabel", "tag@3:r{}"}));
}

TEST(ParserSyntax, BareAttributeFollowedByBlankWaitsForEquals) {
  // "[a flag ]": the ']' is reported and skipped; the tag goes on and the
  // next '=' gives the bare name its value.
  EXPECT_EQ(ParseText("[a flag ] x=1]"),
            (V{TagErrorAt(1, script_messages::StrayNarrowChar(), "a"),
               TagErrorAt(1, script_messages::StrayNarrowChar(), "a"), "tag@1:a{flag=1}"}));
  EXPECT_EQ(ParseText("[a flag あ=2]"), (V{TagErrorAt(1, script_messages::StrayWideChar(), "a"), "tag@1:a{flag=2}"}));
  // Never closed: the end of the text reports the broken tag.
  EXPECT_EQ(ParseText("[a flag ]"), (V{TagErrorAt(1, script_messages::StrayNarrowChar(), "a"),
                                       TagErrorAt(1, script_messages::BadTagEnd(), "a")}));
  // Line feeds while waiting still count.
  EXPECT_EQ(ParseText("[a flag\n\n=3]"), (V{"tag@3:a{flag=3}"}));
}

TEST(ParserSyntax, BrokenTagsAreReportedAndParsingGoesOn) {
  EXPECT_EQ(ParseText("[a x=][b y=2]"), (V{TagErrorAt(1, script_messages::BadTagEnd(), "a"), "tag@1:b{y=2}"}));
  EXPECT_EQ(ParseText("[a =1]"), (V{TagErrorAt(1, script_messages::StrayEquals(), "a"), "tag@1:a{1=}"}));
  EXPECT_EQ(ParseText("[a x=\"\"]"), (V{TagErrorAt(1, script_messages::BadTagEnd(), "a")}));
  // Every unfinished tag state at the end of the text.
  for (const char* src : {"[a", "[a ", "[a x", "[a x=", "[a x=1", "[a x=\"1 "}) {
    EXPECT_EQ(ParseText(src), (V{TagErrorAt(1, script_messages::BadTagEnd(), "a")})) << src;
  }
  EXPECT_EQ(ParseText("text\n[a\nx=1"), (V{"text@1:text", TagErrorAt(3, script_messages::BadTagEnd(), "a")}));
  EXPECT_EQ(ParseText("[]"), (V{"tag@1:{}"}));
}

TEST(ParserSyntax, EndOfTextInOtherStates) {
  EXPECT_EQ(Parse("*"), V{});
  EXPECT_EQ(Parse("*\n"), (V{"label@1:"}));
  EXPECT_EQ(Parse("*end"), (V{"label@1:end"}));
  EXPECT_EQ(Parse("// c"), V{});
  EXPECT_EQ(Parse("/* c"), V{});
  EXPECT_EQ(Parse("wait"), (V{"tag@1:wait{}"}));
  EXPECT_EQ(Parse("wait 5", {"[wait]\n0=time\n"}), (V{"tag@1:wait{time=5}"}));
  EXPECT_EQ(ParseText("[lua]never closed"), V{});
  EXPECT_EQ(Parse(""), V{});
}

TEST(ParserSyntax, DoubleByteCharactersNeverActAsAscii) {
  // ー ends in '[', ‐ in ']', ソ and 表 in a backslash.
  ASSERT_EQ(Sjis("ー"), "\x81[");
  ASSERT_EQ(Sjis("‐"), "\x81]");
  ASSERT_EQ(Sjis("ソ"), "\x83\\");
  EXPECT_EQ(ParseText("ソー‐表@"), (V{"text@1:ソー‐表", "tag@1:@{}"}));
  EXPECT_EQ(ParseText("[aー‐ソ bソ=‐ー c=\"‐ソ\"]"), (V{"tag@1:aー‐ソ{bソ=‐ー,c=‐ソ}"}));
  EXPECT_EQ(Parse("*ラベルー‐ソ\n"), (V{"label@1:ラベルー‐ソ"}));
  EXPECT_EQ(Parse("// ソ\n/* ‐ソ */[a]"), (V{"tag@2:a{}"}));
  EXPECT_EQ(Parse("tag ソ,ー", {"[tag]\n0=a\n1=b\n"}), (V{"tag@1:tag{a=ソ,b=ー}"}));
  // An escaped double-byte character is read as that character.
  EXPECT_EQ(ParseText("\\ソ[a v=\\ソ]"), (V{"text@1:ソ", "tag@1:a{v=ソ}"}));
  // Bytes 0x80 and 0xFD-0xFF also take their follower.
  EXPECT_EQ(ParseCp932("[&linetag allow=0]\x80[\xFF]\xFD\\"),
            (V{"text@1:" + Visible(std::string("\x80[\xFF]\xFD\\"))}));
}

TEST(ParserSyntax, RawBlocks) {
  EXPECT_EQ(ParseText("[lua]\na = 1\n[/lu][/lua]"), (V{"tag@3:lua{script=\\na = 1\\n[/lu]}"}));
  // Nothing inside is interpreted; CR is kept; lines still count.
  EXPECT_EQ(ParseText("[lua]x[r]\\@\r\n// y\n[/lua]\n[b]"), (V{"tag@3:lua{script=x[r]\\@\\r\\n// y\\n}", "tag@4:b{}"}));
  EXPECT_EQ(ParseText("[lua mode=1 script=p]q[/lua]"), (V{"tag@1:lua{mode=1,script=pq}"}));
  EXPECT_EQ(ParseText("[lua][/lua]"), (V{"tag@1:lua{}"}));
  // A double-byte character before "[/" keeps the bracket as its second byte.
  EXPECT_EQ(ParseText("[lua]ー/lua]ソ[/lua]"), (V{"tag@1:lua{script=ー/lua]ソ}"}));
  EXPECT_EQ(ParseText("[lua][/luax][/LUA][/lua"), V{});
}

TEST(ParserSyntax, LineNumbers) {
  // Lines count every line feed: in comments, tags, raw blocks, quoted
  // values and escaped line feeds alike.
  const char* src =
      "[&linetag allow=0]/* 1\n2 */\n"
      "[a\nx=1]\n"
      "\"\\\n"
      "\"tail\n"
      "ソ\\\nx\n"
      "*end\n";
  EXPECT_EQ(Parse(src), (V{"tag@4:a{x=1}", "text@6:\"\\n\"tail", "text@8:ソ\\nx", "label@9:end"}));
}

TEST(ParserSyntax, TextAfterATagIsNotALineTag) {
  // Only the first item of a line may start a line tag, also when the line
  // begins with a double-byte character or an escape.
  EXPECT_EQ(Parse("あ[r]abc\n\\[r]def\n"), (V{"text@1:あ", "tag@1:r{}", "text@1:abc", "tag@2:r{}", "text@2:def"}));
  EXPECT_EQ(Parse("[r]abc\n"), (V{"tag@1:r{}", "text@1:abc"}));
}

TEST(ParserSyntax, ParserCanBeReusedAfterAParse) {
  CQelParser parser(GetTagRegistry());
  parser.SetTagIni(nullptr);
  EXPECT_EQ(Describe(ParseBytes(parser, "[a]\n[b")),
            (V{"tag@1:a{}", TagErrorAt(2, script_messages::BadTagEnd(), "b")}));
  EXPECT_EQ(parser.GetLine(), 0);
  EXPECT_EQ(Describe(ParseBytes(parser, "[c]")), (V{"tag@1:c{}"}));
}
