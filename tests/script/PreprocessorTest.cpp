// Directives, insertion texts, line tags and the required-attribute check.
#include <gtest/gtest.h>

#include "ParserTestSupport.h"

using namespace parser_test;
using V = std::vector<std::string>;

TEST(Preprocessor, LineTagSwitchLastsForOneFile) {
  const char* tagIni = "[hello]\n0=who\n";
  EXPECT_EQ(Parse("[&linetag allow=0]\nhello world\n", {tagIni}), (V{"text@2:hello world"}));
  // A new parser starts with line tags on again.
  EXPECT_EQ(Parse("hello world\n", {tagIni}), (V{"tag@1:hello{who=world}"}));
  // Switched off and on again within a file.
  EXPECT_EQ(Parse("[&linetag allow=0]\nhi\n[&linetag allow=1]\nhi\n"), (V{"text@2:hi", "tag@4:hi{}"}));
}

TEST(Preprocessor, LineTagPrefix) {
  const char* tagIni = "[wait]\n0=time\n";
  const char* src =
      "[&linetag allow=1 prefix=#]\n"
      "#wait 500\n"
      "wait 500\n"
      "  #wait\n"
      "a#wait\n";
  EXPECT_EQ(Parse(src, {tagIni}), (V{"tag@2:wait{time=500}", "text@3:wait 500", "tag@4:wait{}", "text@5:a#wait"}));
  // Only the first byte of the prefix counts; an empty prefix means none.
  EXPECT_EQ(Parse("[&linetag allow=1 prefix=%%]\n%wait\nwait\n"), (V{"tag@2:wait{}", "text@3:wait"}));
  EXPECT_EQ(Parse("[&linetag allow=0]\n[&linetag allow=1 prefix]\nwait\n"), (V{"tag@3:wait{}"}));
  // With a prefix set, '@', comments and labels still win only when they
  // are not the prefix.
  EXPECT_EQ(Parse("[&linetag allow=1 prefix=@]\n@x\n"), (V{"tag@2:x{}"}));
}

TEST(Preprocessor, LineTagArguments) {
  const char* tagIni = "[wait]\n0=time\n[pair]\n0=a\n1=b\n";
  EXPECT_EQ(Parse("wait 500\n", {tagIni}), (V{"tag@1:wait{time=500}"}));
  // Arguments keep their blanks; an empty argument before a comma counts.
  EXPECT_EQ(Parse("pair a, b\n", {tagIni}), (V{"tag@1:pair{a=a,b= b}"}));
  EXPECT_EQ(Parse("pair ,x\n", {tagIni}), (V{"tag@1:pair{a=,b=x}"}));
  // A trailing comma adds nothing more.
  EXPECT_EQ(Parse("wait 1,\n", {tagIni}), (V{"tag@1:wait{time=1}"}));
  // Escapes work in names and arguments.
  EXPECT_EQ(Parse("pair x\\,y,z\\\\\n", {tagIni}), (V{"tag@1:pair{a=x,y,b=z\\}"}));
}

TEST(Preprocessor, LineTagFailures) {
  // Arguments but no tag.ini; an argument without a key; a tag without a
  // section: the whole line is dropped.
  EXPECT_EQ(Parse("wait 500\n[b]"), (V{ErrorAt(1, script_messages::LineTagWithoutTagIni()), "tag@2:b{}"}));
  EXPECT_EQ(Parse("wait 1,2\n", {"[wait]\n0=time\n"}), (V{ErrorAt(1, script_messages::LineTagNotConfigured())}));
  EXPECT_EQ(Parse("other 1\n", {"[wait]\n0=time\n"}), (V{ErrorAt(1, script_messages::LineTagNotConfigured())}));
  EXPECT_EQ(Parse("wait 1\n", {"[wait]\n0=\n"}), (V{ErrorAt(1, script_messages::LineTagNotConfigured())}));
  // Without arguments no tag.ini is needed.
  EXPECT_EQ(Parse("cm\n"), (V{"tag@1:cm{}"}));
  // The mapped tag goes through the required-attribute check.
  EXPECT_EQ(Parse("lyc 3\n", {"[lyc]\n0=id\n"}), (V{ErrorAt(1, script_messages::MissingAttribute("lyc", "file"))}));
}

TEST(Preprocessor, RequiredAttributes) {
  // The first missing attribute in table order is reported; the tag is dropped.
  EXPECT_EQ(ParseText("[lytween id=1 to=3][lyc id=1 file=a]"),
            (V{ErrorAt(1, script_messages::MissingAttribute("lytween", "from")), "tag@1:lyc{file=a,id=1}"}));
  EXPECT_EQ(ParseText("[slider x=1 y=2]"),
            (V{ErrorAt(1, script_messages::MissingAttribute("slider", "background_path"))}));
  // A present but empty attribute is enough.
  EXPECT_EQ(ParseText("[skip allow]"), (V{"tag@1:skip{allow=}"}));
  EXPECT_EQ(ParseText("[if]"), (V{ErrorAt(1, script_messages::MissingAttribute("if", "estimate"))}));
  // Directives are checked too, before they run.
  EXPECT_EQ(Parse("[&linetag prefix=#]\nwait\n"),
            (V{ErrorAt(1, script_messages::MissingAttribute("&linetag", "allow")), "tag@2:wait{}"}));
  EXPECT_EQ(Sjis(std::string("[ERROR] タグ lyc の必須パラメータ file が見つかりません。このタグは無視されます。")),
            script_messages::MissingAttribute("lyc", "file"));
  EXPECT_EQ(CQelParser(GetTagRegistry()).GetRequiredAttributes().size(), 47u);
}

TEST(Preprocessor, ScpSupportListsByFinalCharacter) {
  const char* src =
      "[&linetag allow=0][&scpsupport mode=add command=[r\\]]"
      "[&scpsupport mode=add char=」]\n"
      "plain\n"
      "「quoted」\n"
      "[cm]\n"
      "tagged[p]\n"
      "@\n"
      "last";
  EXPECT_EQ(Parse(src), (V{"text@2:plain", "tag@2:r{}", "text@3:「quoted」", "tag@4:cm{}", "text@5:tagged", "tag@5:p{}",
                           "tag@6:@{}", "text@7:last"}));
}

TEST(Preprocessor, ScpSupportModes) {
  // addsp is add; init and no attributes both empty the lists.
  EXPECT_EQ(ParseText("[&scpsupport mode=addsp command=[a\\]][&scpsupport mode=add char=x command=[b\\]]\n"
                      "ax\ny\n[&scpsupport]\nz\n[&scpsupport mode=add command=[c\\]][&scpsupport mode=init]\nw\n"),
            (V{"text@2:ax", "tag@2:b{}", "text@3:y", "tag@3:a{}", "text@5:z", "text@7:w"}));
  EXPECT_EQ(ParseText("[&scpsupport char=x][&scpsupport mode=bad]"),
            (V{ErrorAt(1, script_messages::BadScpSupportMode()), ErrorAt(1, script_messages::BadScpSupportMode())}));
  // Lists run in order; a double-byte final character selects its own list.
  EXPECT_EQ(ParseText("[&scpsupport mode=add char=。 command=[a\\]][&scpsupport mode=add char=。 command=[b\\]]\n"
                      "end。\nend.\n"),
            (V{"text@2:end。", "tag@2:a{}", "tag@2:b{}", "text@3:end."}));
  // The final character is the last whole character: 0x42 alone is not the
  // second byte of 。 (0x81 0x42).
  EXPECT_EQ(ParseText("[&scpsupport mode=add char=B command=[b\\]]\n。\nB\n"),
            (V{"text@2:。", "text@3:B", "tag@3:b{}"}));
}

TEST(Preprocessor, AutoInsertTexts) {
  const char* src =
      "[&linetag allow=0]"
      "[&autoinsert target=linehead command=[h\\]]"
      "[&autoinsert target=lineend command=@]"
      "[&autoinsert target=blankline command=[blank\\]]"
      "[&scpsupport mode=add command=[r\\]]\n"
      "one\n"
      "\n"
      "[x]two\n"
      "three[y]\n"
      "four";
  EXPECT_EQ(Parse(src),
            (V{"tag@2:h{}", "text@2:one", "tag@2:r{}", "tag@2:@{}", "tag@3:blank{}", "tag@4:x{}", "text@4:two",
               "tag@4:r{}", "tag@4:@{}", "tag@5:h{}", "text@5:three", "tag@5:y{}", "tag@6:h{}", "text@6:four"}));
  EXPECT_EQ(Parse("[&linetag allow=0][&autoinsert target=lineend command=[e\\]]\nHello[r]world\n"),
            (V{"text@2:Hello", "tag@2:r{}", "text@2:world", "tag@2:e{}"}));
  // A line ending in '@' is still a text line: the line-end text runs
  // without per-character insertions.
  EXPECT_EQ(Parse("[&linetag allow=0][&autoinsert target=lineend command=[e\\]][&scpsupport mode=add command=[r\\]]\n"
                  "a@\n"),
            (V{"text@2:a", "tag@2:@{}", "tag@2:e{}"}));
  // Unknown targets do nothing; an absent command empties the text.
  EXPECT_EQ(Parse("[&linetag allow=0][&autoinsert target=lineend command=[e\\]][&autoinsert target=x command=[q\\]]\n"
                  "a\n[&autoinsert target=lineend]\nb\n"),
            (V{"text@2:a", "tag@2:e{}", "text@4:b"}));
}

TEST(Preprocessor, UnknownDirective) {
  EXPECT_EQ(ParseText("[&foo x=1][bar]"), (V{ErrorAt(1, script_messages::UnknownDirective()), "tag@1:bar{}"}));
}

TEST(Preprocessor, InsertionsCarryTheirLineAndKeepTheCount) {
  // An insertion holding an escaped line feed and text: its records carry
  // the line it was inserted for, and the lines after it stay true.
  const char* src =
      "[&linetag allow=0][&autoinsert target=lineend command=[e\\]x\\\ny]\n"
      "a\n"
      "b\n"
      "[t]\n";
  EXPECT_EQ(Parse(src), (V{"text@3:a", "tag@3:e{}", "text@3:x", "text@3:y", "text@4:b", "tag@4:e{}", "text@4:x",
                           "text@4:y", "tag@5:t{}"}));
}

TEST(Preprocessor, InsertionsDoNotInsertThemselves) {
  // A line-head text that is itself text would start a text line again and
  // again; it is inserted once.
  EXPECT_EQ(Parse("[&linetag allow=0][&autoinsert target=linehead command=　]\nabc\n"), (V{"text@2:　", "text@2:abc"}));
  EXPECT_EQ(Parse("[&linetag allow=0][&autoinsert target=blankline command=\\\n]\n\n[a]\n"), (V{"tag@4:a{}"}));
  EXPECT_EQ(Parse("[&linetag allow=0][&scpsupport mode=add command=z\\\n]\nabc\n"), (V{"text@3:abc", "text@3:z"}));
  // Insertions of another kind still take effect inside one: the inserted
  // text starts a line and gets the line-head text.
  EXPECT_EQ(Parse("[&linetag allow=0][&autoinsert target=linehead command=[h\\]][&scpsupport mode=add command=x]\n"
                  "abc\n"),
            (V{"tag@2:h{}", "text@2:abc", "tag@2:h{}", "text@2:x"}));
}

TEST(Preprocessor, DirectivesInsideInsertionsTakeEffectSafely) {
  // An insertion that replaces itself, or edits the list being run.
  EXPECT_EQ(Parse("[&linetag allow=0][&autoinsert target=lineend command=\"[&autoinsert target=lineend "
                  "command=[z\\\\\\]\\]\"]\n"
                  "a\nb\n"),
            (V{"text@2:a", "text@3:b", "tag@3:z{}"}));
  EXPECT_EQ(Parse("[&linetag allow=0][&scpsupport mode=add command=\"[&scpsupport mode=init\\][r\\]\"]"
                  "[&scpsupport mode=add command=[s\\]]\na\nb\n"),
            (V{"text@2:a", "tag@2:r{}", "tag@2:s{}", "text@3:b"}));
  // Switching line tags off from a line-end insertion applies to the next line.
  EXPECT_EQ(Parse("[&autoinsert target=lineend command=\"[&linetag allow=0\\]\"]\n[x]a\nb\n"),
            (V{"tag@2:x{}", "text@2:a", "text@3:b"}));
}
