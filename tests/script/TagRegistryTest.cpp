// The tag registry against the language: every tag of the table is handled
// by exactly one family row, the parser asks for exactly the attributes the
// rows name, and the replay rules send each recorded tag to its save list.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "script/QelParser.h"
#include "script/tags/TagFamilies.h"

namespace {

// The tag table in its comparison order.
const std::vector<std::string> kTagTable = {"@",
                                            "",
                                            "stop",
                                            "jump",
                                            "call",
                                            "return",
                                            "lua",
                                            "calllua",
                                            "debug",
                                            "caption",
                                            "direction",
                                            "setondirchg",
                                            "delondirchg",
                                            "openbrowser",
                                            "autosave",
                                            "rclick",
                                            "save",
                                            "load",
                                            "reset",
                                            "slider",
                                            "uidel",
                                            "wait",
                                            "rt",
                                            "rp",
                                            "scein",
                                            "sceout",
                                            "fontinit",
                                            "font",
                                            "/font",
                                            "scetween",
                                            "ruby",
                                            "/ruby",
                                            "link",
                                            "/link",
                                            "linkreset",
                                            "linkenable",
                                            "linkdisable",
                                            "chgmsg",
                                            "/chgmsg",
                                            "glyph",
                                            "automode",
                                            "skip",
                                            "hide",
                                            "backlog",
                                            "exec",
                                            "lyc",
                                            "lydel",
                                            "lyprop",
                                            "lytween",
                                            "lytweendel",
                                            "tweenset",
                                            "/tweenset",
                                            "anime",
                                            "animedel",
                                            "setonclick",
                                            "delonclick",
                                            "setonrollover",
                                            "delonrollover",
                                            "setonrollout",
                                            "delonrollout",
                                            "flip",
                                            "trans",
                                            "splay",
                                            "sfadein",
                                            "sfadeout",
                                            "sstop",
                                            "sxfade",
                                            "seplay",
                                            "sefadein",
                                            "sefadeout",
                                            "sestop",
                                            "voice",
                                            "/voice",
                                            "video",
                                            "var",
                                            "if",
                                            "/if",
                                            "loop",
                                            "/loop",
                                            "macroadd"};

}  // namespace

TEST(TagRegistry, EveryTagOfTheTableIsRegisteredOnce) {
  const CTagRegistry& tags = GetTagRegistry();
  EXPECT_EQ(kTagTable.size(), 80u);
  std::map<std::string, int> seen;
  for (const CTagRow& row : tags.GetRows()) ++seen[row.name];
  for (const std::string& name : kTagTable) {
    EXPECT_EQ(seen[name], 1) << "tag \"" << name << "\"";
    const CTagRow* row = tags.Find(name);
    ASSERT_NE(row, nullptr) << name;
    EXPECT_EQ(row->name, name);
    EXPECT_NE(row->handler, nullptr) << name;
    EXPECT_FALSE(row->summary.empty()) << name;
    EXPECT_LT(row->family, tags.GetFamilyNames().size());
  }
  EXPECT_EQ(tags.GetRows().size(), kTagTable.size()) << "a registered tag is missing from the table";
  // Names compare exactly: anything else is a macro.
  EXPECT_EQ(tags.Find("Jump"), nullptr);
  EXPECT_EQ(tags.Find("jump "), nullptr);
  EXPECT_NE(tags.GetTextHandler(), nullptr);
}

TEST(TagRegistry, ParserRequiresWhatTheRowsName) {
  // The attributes each tag must carry, in the order they are checked.
  using V = std::vector<std::string>;
  const std::map<std::string, V> expected = {
      {"&linetag", {"allow"}},
      {"&autoinsert", {"target"}},
      {"calllua", {"function"}},
      {"debug", {"mode"}},
      {"caption", {"data"}},
      {"direction", {"dir"}},
      {"openbrowser", {"url"}},
      {"autosave", {"allow"}},
      {"rclick", {"allow"}},
      {"automode", {"allow"}},
      {"skip", {"allow"}},
      {"hide", {"allow"}},
      {"backlog", {"allow"}},
      {"save", {"file"}},
      {"load", {"file"}},
      {"splay", {"file"}},
      {"video", {"file"}},
      {"macroadd", {"file"}},
      {"slider", {"x", "y", "background_path", "controller_path", "var_min", "var_max", "var_name", "id"}},
      {"uidel", {"id"}},
      {"lydel", {"id"}},
      {"lyprop", {"id"}},
      {"lytweendel", {"id"}},
      {"animedel", {"id"}},
      {"setonclick", {"id"}},
      {"delonclick", {"id"}},
      {"setonrollover", {"id"}},
      {"delonrollover", {"id"}},
      {"setonrollout", {"id"}},
      {"delonrollout", {"id"}},
      {"sestop", {"id"}},
      {"scetween", {"mode", "type"}},
      {"ruby", {"text"}},
      {"exec", {"command"}},
      {"lyc", {"id", "file"}},
      {"lytween", {"id", "from", "to", "msec", "param"}},
      {"anime", {"id", "mode"}},
      {"trans", {"type"}},
      {"sfadein", {"file", "time"}},
      {"sxfade", {"file", "time"}},
      {"sfadeout", {"time"}},
      {"seplay", {"id", "file"}},
      {"sefadein", {"id", "file", "time"}},
      {"sefadeout", {"id", "time"}},
      {"var", {"name"}},
      {"if", {"estimate"}},
      {"loop", {"estimate"}},
  };
  EXPECT_EQ(expected.size(), 47u);
  const CQelParser::RequiredTable actual = CQelParser(GetTagRegistry()).GetRequiredAttributes();
  EXPECT_EQ(actual.size(), expected.size());
  for (const auto& [name, attributes] : expected) {
    auto it = actual.find(name);
    ASSERT_NE(it, actual.end()) << name;
    EXPECT_EQ(it->second, attributes) << name;
  }
}

TEST(TagRegistry, ReplayRulesSendEachRecordedTagToItsList) {
  const std::map<std::string, TagReplay> recorded = {
      {"lyc", TagReplay::kLayer},        {"lyprop", TagReplay::kLayer},    {"lytween", TagReplay::kLayer},
      {"lytweendel", TagReplay::kLayer}, {"anime", TagReplay::kAnimation}, {"splay", TagReplay::kMusic},
      {"sfadein", TagReplay::kMusic},    {"sxfade", TagReplay::kMusic},    {"rt", TagReplay::kMessage},
      {"font", TagReplay::kMessage},     {"/font", TagReplay::kMessage},   {"ruby", TagReplay::kMessage},
      {"/ruby", TagReplay::kMessage},    {"link", TagReplay::kMessage},    {"/link", TagReplay::kMessage},
      {"scein", TagReplay::kMessage},    {"sceout", TagReplay::kMessage},  {"voice", TagReplay::kMessage},
      {"/voice", TagReplay::kMessage},
  };
  for (const CTagRow& row : GetTagRegistry().GetRows()) {
    auto it = recorded.find(row.name);
    const TagReplay want = it == recorded.end() ? TagReplay::kNone : it->second;
    EXPECT_EQ(static_cast<int>(row.replay), static_cast<int>(want)) << row.name;
  }
}

namespace {
bool Noop(CStatelessFamily&, CMainScript&, const CScriptBlock&, bool) { return false; }
}  // namespace

TEST(TagRegistry, RefusesANameTwice) {
  CTagRegistry tags;
  ASSERT_FALSE(tags.AddFamily(
      "a", &CreateFamilyState<CStatelessFamily>,
      {TagRow<&Noop>("x", {}, TagReplay::kNone, "x"), TagRow<&Noop>("y", {"id"}, TagReplay::kNone, "y")}));
  // Another family naming x, or one family naming z twice, adds nothing.
  EXPECT_TRUE(
      tags.AddFamily("b", &CreateFamilyState<CStatelessFamily>,
                     {TagRow<&Noop>("z", {}, TagReplay::kNone, "z"), TagRow<&Noop>("x", {}, TagReplay::kNone, "x")}));
  EXPECT_TRUE(
      tags.AddFamily("c", &CreateFamilyState<CStatelessFamily>,
                     {TagRow<&Noop>("z", {}, TagReplay::kNone, "z"), TagRow<&Noop>("z", {}, TagReplay::kNone, "z")}));
  EXPECT_EQ(tags.GetRows().size(), 2u);
  EXPECT_EQ(tags.GetFamilyNames().size(), 1u);
  EXPECT_EQ(tags.Find("z"), nullptr);
  ASSERT_NE(tags.Find("y"), nullptr);
  EXPECT_EQ(tags.Find("y")->required, std::vector<std::string>{"id"});
  EXPECT_EQ(tags.CreateStates().size(), 1u);
}
