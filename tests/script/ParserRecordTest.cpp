// Records in save streams and as JSON, and the parser on arbitrary bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <tuple>

#include "ParserTestSupport.h"
#include "core/Serializer.h"
#include "script/ScriptBlockJson.h"

using namespace parser_test;

TEST(ParserRecord, NewRecordIsAnEmptyTag) {
  CScriptBlock block;
  EXPECT_EQ(block.GetType(), CScriptBlock::kTag);
  EXPECT_EQ(block.GetLine(), 0);
  EXPECT_TRUE(block.GetText().empty());
  EXPECT_EQ(block.GetAttribute("missing"), "");
}

TEST(ParserRecord, SerializesUnderItsFieldTags) {
  const CScriptBlock block(CScriptBlock::kTag, 12, "lyc", {{"file", Sjis("背景.png")}, {"id", "bg"}});
  CSerializer writer;
  block.Serialize(writer);
  const std::vector<uint8_t> bytes = writer.Finish();

  // Each field under its own tag, so that saves stay readable.
  CSerializer reader;
  ASSERT_FALSE(reader.Load(bytes.data(), bytes.size()));
  int32_t type = -1, line = -1;
  std::string text;
  std::map<std::string, std::string> attributes;
  EXPECT_FALSE(reader.Read(1, type));
  EXPECT_FALSE(reader.Read(2, line));
  EXPECT_FALSE(reader.Read(3, text));
  EXPECT_FALSE(reader.Read(4, attributes));
  EXPECT_EQ(type, 2);
  EXPECT_EQ(line, 12);
  EXPECT_EQ(text, "lyc");
  EXPECT_EQ(attributes, block.GetAttributes());

  // Round trip, also nested in a list as the save data keeps them.
  CScriptBlock back(CScriptBlock::kText, 0, "");
  CSerializer again;
  ASSERT_FALSE(again.Load(bytes.data(), bytes.size()));
  back.Deserialize(again);
  EXPECT_EQ(back, block);

  std::vector<CScriptBlock> list = {block, CScriptBlock(CScriptBlock::kError, 3, "oops")};
  CSerializer listWriter;
  listWriter.Write(7, list);
  const std::vector<uint8_t> listBytes = listWriter.Finish();
  CSerializer listReader;
  ASSERT_FALSE(listReader.Load(listBytes.data(), listBytes.size()));
  std::vector<CScriptBlock> listBack;
  EXPECT_FALSE(listReader.Read(7, listBack));
  EXPECT_EQ(listBack, list);
}

TEST(ParserRecord, MissingFieldsKeepTheirValues) {
  CSerializer writer;
  writer.Write(3, std::string("only text"));
  const std::vector<uint8_t> bytes = writer.Finish();
  CSerializer reader;
  ASSERT_FALSE(reader.Load(bytes.data(), bytes.size()));
  CScriptBlock block(CScriptBlock::kLabel, 9, "old", {{"a", "1"}});
  block.Deserialize(reader);
  EXPECT_EQ(block, CScriptBlock(CScriptBlock::kLabel, 9, "only text", {{"a", "1"}}));
}

TEST(ParserRecord, Json) {
  const CScriptBlock block(CScriptBlock::kTag, 4, "a\"b\\", {{"k", Sjis("値") + "\n\t\x01"}, {"z", "\x81"}});
  EXPECT_EQ(
      ScriptBlockToJson(block, false),
      "{\"type\":2,\"line\":4,\"text\":\"a\\\"b\\\\\",\"attr\":{\"k\":\"値\\n\\t\\u0001\",\"z\":\"\xEF\xBF\xBD\"}}");
  EXPECT_EQ(ScriptBlockToJson(block, true),
            "{\"type\":2,\"line\":4,\"text\":\"a\\\"b\\\\\",\"attr\":{\"k\":\"\\u0092l\\n\\t\\u0001\",\"z\":"
            "\"\\u0081\"}}");
  EXPECT_EQ(ScriptBlockToJson(CScriptBlock(CScriptBlock::kText, 1, "hi"), false),
            "{\"type\":0,\"line\":1,\"text\":\"hi\",\"attr\":{}}");
}

TEST(ParserRecord, ArbitraryBytesStayInsideTheText) {
  // Random scripts built from the bytes that drive the state machine, each
  // in a buffer of exactly its size: the sanitizers catch any read past the
  // terminator. Every record must carry a line of the text.
  const char alphabet[] = {'[', ']', '\\', '@', '*', '/',    '"',    '=',    ' ',    '\t',   '\r',   '\n',   ',',
                           '&', 'a', 'l',  'u', '#', '\x81', '\x82', '\x9F', '\xE0', '\xFC', '\xFF', '\x80', '\x5B'};
  CIni tagIni;
  tagIni.Parse("[a]\n0=x\n1=y\n[l]\n0=q\n");
  std::mt19937 random(12345);
  const char* prefixes[] = {"", "[&linetag allow=0]", "[&autoinsert target=linehead command=a]",
                            "[&scpsupport mode=add command=\"a\\\n[b\\]\"]", "[lua]"};
  for (int round = 0; round < 3000; ++round) {
    std::string text = prefixes[round % 5];
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) text.push_back(alphabet[random() % sizeof alphabet]);
    int lines = 1;
    for (char c : text) lines += c == '\n';

    CQelParser parser(GetTagRegistry());
    parser.SetTagIni(round % 2 ? &tagIni : nullptr);
    for (const CScriptBlock& block : ParseBytes(parser, text)) {
      ASSERT_GE(block.GetLine(), 1) << text;
      ASSERT_LE(block.GetLine(), lines) << text;
      ASSERT_GE(block.GetType(), 0);
      ASSERT_LE(block.GetType(), 3);
    }
    ASSERT_EQ(parser.GetLine(), 0);
  }
}

TEST(ParserRecord, TextEndsAtTheFirstNul) {
  const std::string text("[a]\0[b]", 7);
  CQelParser parser(GetTagRegistry());
  parser.SetTagIni(nullptr);
  EXPECT_EQ(Describe(ParseBytes(parser, text)), (std::vector<std::string>{"tag@1:a{}"}));
  // A lead byte or a backslash right before the terminator.
  EXPECT_EQ(ParseCp932("[&linetag allow=0]x\x81"), (std::vector<std::string>{"text@1:" + Visible("x\x81")}));
  EXPECT_EQ(ParseCp932("[&linetag allow=0]x\\"), (std::vector<std::string>{"text@1:x"}));
  EXPECT_EQ(ParseCp932("[a v=\\"), (std::vector<std::string>{TagErrorAt(1, script_messages::BadTagEnd(), "a")}));
  EXPECT_EQ(ParseCp932("[lua][\x81"), (std::vector<std::string>{}));
  EXPECT_EQ(ParseCp932("[lua][/"), (std::vector<std::string>{}));
  EXPECT_EQ(ParseCp932("[lua][/lua"), (std::vector<std::string>{}));
  EXPECT_EQ(ParseCp932("/"), (std::vector<std::string>{"tag@1:/{}"}));
}

TEST(ParserRecord, PairWithLineFeedTrailStaysOneCharacter) {
  // A lead byte takes even a line feed with it: the pair stays in the label,
  // text, comment or value it began in, and the line feed still counts.
  struct Case {
    std::string source;
    std::vector<std::tuple<int, int, std::string>> records;  // type, line, text
  };
  const std::vector<Case> cases = {
      {"*ab\x81\nc\n\\x", {{CScriptBlock::kLabel, 2, "ab\x81\nc"}, {CScriptBlock::kText, 3, "x"}}},
      {"[&linetag allow=0]q\x81\nr\n[b]", {{CScriptBlock::kText, 2, "q\x81\nr"}, {CScriptBlock::kTag, 3, "b"}}},
      {"// c\x81\n[a]\n[b]", {{CScriptBlock::kTag, 3, "b"}}},
      {"[a x=p\x81\nq]", {{CScriptBlock::kTag, 2, "a"}}},
      {"[lua]\x81\n[/lua][b]", {{CScriptBlock::kTag, 2, "lua"}, {CScriptBlock::kTag, 2, "b"}}},
  };
  for (const Case& c : cases) {
    CQelParser parser(GetTagRegistry());
    parser.SetTagIni(nullptr);
    const std::vector<CScriptBlock> blocks = ParseBytes(parser, c.source);
    ASSERT_EQ(blocks.size(), c.records.size()) << Visible(c.source);
    for (size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ(blocks[i].GetType(), std::get<0>(c.records[i])) << Visible(c.source);
      EXPECT_EQ(blocks[i].GetLine(), std::get<1>(c.records[i])) << Visible(c.source);
      EXPECT_EQ(blocks[i].GetText(), std::get<2>(c.records[i])) << Visible(c.source);
    }
  }
  CQelParser parser(GetTagRegistry());
  parser.SetTagIni(nullptr);
  const std::vector<CScriptBlock> blocks = ParseBytes(parser, "[a x=p\x81\nq][lua]\x81\n[/lua]");
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].GetAttributes().at("x"), "p\x81\nq");
  EXPECT_EQ(blocks[1].GetAttributes().at("script"), "\x81\n");
}
