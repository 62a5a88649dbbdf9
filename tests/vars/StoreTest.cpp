#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "files/Config.h"
#include "core/Serializer.h"
#include "vars/DumpVariables.h"
#include "vars/QelVariables.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes SaveSlot(const CQelVariables& vars) {
  CSerializer s;
  vars.Serialize(s);
  return s.Finish();
}

void LoadSlot(CQelVariables& vars, const Bytes& bytes) {
  CSerializer s;
  ASSERT_FALSE(s.Load(bytes.data(), bytes.size()));
  vars.Deserialize(s);
}

Bytes WriteFile(const CQelVariables& vars, std::string_view prefix, uint32_t tag) {
  CSerializer s;
  vars.WritePrefixed(s, prefix, tag);
  return s.Finish();
}

bool Contains(const Bytes& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

TEST(Store, GameVariablesAreWrittenInNameOrder) {
  // Names alike in their first eight bytes, shorter than eight, and with
  // bytes above 0x7F (CP932 lead bytes), set in no particular order.
  const std::vector<std::string> names = {"long_name_b", "x",        "long_name_a", "\x93\xfa\x96\x7b", "a",
                                          "long_name_",  "long_nam", "b2",          "\x82\xa0",         "B"};
  CQelVariables vars;
  for (size_t i = 0; i < names.size(); ++i) vars.SetString(names[i], "v" + std::to_string(i));
  std::map<std::string, std::string> expected;
  for (size_t i = 0; i < names.size(); ++i) expected[names[i]] = "v" + std::to_string(i);
  CSerializer s;
  s.Write(2, expected);
  const Bytes map = s.Finish();
  // The game variables' field holds exactly the map's bytes.
  const Bytes slot = SaveSlot(vars);
  const Bytes body(map.begin() + 12, map.end());
  EXPECT_TRUE(std::search(slot.begin(), slot.end(), body.begin(), body.end()) != slot.end());
  CQelVariables back;
  LoadSlot(back, slot);
  for (const auto& [name, value] : expected) EXPECT_EQ(back.GetString(name), value) << name;
}

TEST(Store, WritesFollowValuesAndNamesChangingBetweenThem) {
  // One store written again and again while values change and names come
  // and go must write what a fresh store with the same variables writes.
  std::map<std::string, std::string> now;
  CQelVariables vars;
  auto set = [&](const std::string& name, const std::string& value) {
    vars.SetString(name, value);
    now[name] = value;
  };
  auto check = [&](const char* step) {
    CQelVariables fresh;
    for (const auto& [name, value] : now) fresh.SetString(name, value);
    EXPECT_EQ(SaveSlot(vars), SaveSlot(fresh)) << step;
    EXPECT_EQ(WriteFile(vars, "g.", 2), WriteFile(fresh, "g.", 2)) << step;
    EXPECT_EQ(WriteFile(vars, "s.", 1), WriteFile(fresh, "s.", 1)) << step;
    // The global file holds the map of the g. variables.
    std::map<std::string, std::string> global;
    for (const auto& [name, value] : now)
      if (name.rfind("g.", 0) == 0) global[name] = value;
    CSerializer map;
    map.Write(2, global);
    EXPECT_EQ(WriteFile(vars, "g.", 2), map.Finish()) << step;
  };
  set("m", "1");
  set("g.b", "2");
  check("first");
  set("m", "changed");
  set("g.b", "3");
  check("values changed");
  set("a", "new");
  set("g.a", "new");
  set("s.z", "9");
  check("names added");
  // Loading a slot replaces the game variables.
  CQelVariables other;
  other.SetString("only", "x");
  LoadSlot(vars, SaveSlot(other));
  now = {{"only", "x"}};
  check("loaded");
  set("zz", "after");
  check("added after loading");
}

TEST(Store, AbsentNamesReadAsZeroAndEmpty) {
  CQelVariables vars;
  EXPECT_EQ(vars.Find("x"), nullptr);
  EXPECT_EQ(vars.GetInt("x"), 0);
  EXPECT_EQ(vars.GetString("x"), "");
  EXPECT_EQ(vars.Find("x"), nullptr);
  vars.SetString("X", "upper");
  EXPECT_EQ(vars.Find("x"), nullptr);
  EXPECT_EQ(vars.GetString("X"), "upper");
}

TEST(Store, UnchangedWritesKeepValueTypeAndFlags) {
  CQelVariables vars;
  vars.SetString("g.name", "abc");
  EXPECT_TRUE(vars.TakeGlobalChanged());
  EXPECT_FALSE(vars.TakeGlobalChanged());
  // Its integer reading is already 0: nothing changes, it stays a text.
  vars.SetInt("g.name", 0);
  EXPECT_TRUE(vars.Find("g.name")->IsString());
  EXPECT_EQ(vars.GetString("g.name"), "abc");
  EXPECT_FALSE(vars.TakeGlobalChanged());
  vars.SetString("g.name", "abc");
  EXPECT_FALSE(vars.TakeGlobalChanged());
  vars.SetInt("g.name", 1);
  EXPECT_TRUE(vars.TakeGlobalChanged());
  EXPECT_FALSE(vars.Find("g.name")->IsString());
  // The number 1 prints as "1": assigning that text changes nothing.
  vars.SetString("g.name", "1");
  EXPECT_FALSE(vars.TakeGlobalChanged());
  EXPECT_FALSE(vars.Find("g.name")->IsString());
}

TEST(Store, FlagsFollowTheNamespace) {
  CQelVariables vars;
  vars.SetInt("g.a", 1);
  EXPECT_FALSE(vars.TakeSystemChanged());
  EXPECT_TRUE(vars.TakeGlobalChanged());
  vars.SetInt("s.a", 1);
  EXPECT_FALSE(vars.TakeGlobalChanged());
  EXPECT_TRUE(vars.TakeSystemChanged());
  for (const char* name : {"t.a", "f.a", "g", "s", "ga", "g_a", "G.a", "sg.a"}) vars.SetInt(name, 1);
  EXPECT_FALSE(vars.TakeGlobalChanged());
  EXPECT_FALSE(vars.TakeSystemChanged());
  // A first write of 0 creates the variable and counts as a change.
  vars.SetInt("g.zero", 0);
  EXPECT_TRUE(vars.TakeGlobalChanged());
  EXPECT_NE(vars.Find("g.zero"), nullptr);
}

TEST(Store, ScopesShadowReadsButNeverTakeWrites) {
  CQelVariables vars;
  vars.SetString("file", "outer");
  vars.SetString("deep", "main");
  CQelVariables* first = vars.PushScope();
  first->SetString("deep", "first");
  CQelVariables* macro = vars.PushScope();
  EXPECT_EQ(vars.TopScope(), macro);
  macro->SetString("file", "a");
  EXPECT_EQ(vars.GetString("file"), "a");
  // Only the top scope is consulted, never a deeper one.
  EXPECT_EQ(vars.GetString("deep"), "main");
  // The macro body assigns the attribute name: the write goes to the main store and
  // the attribute keeps answering reads.
  vars.SetString("file", "b");
  EXPECT_EQ(vars.GetString("file"), "a");
  EXPECT_EQ(vars.GetInt("file"), 0);
  EXPECT_EQ(macro->GetString("file"), "a");
  vars.PopScope();
  EXPECT_EQ(vars.TopScope(), first);
  EXPECT_EQ(vars.GetString("file"), "b");
  EXPECT_EQ(vars.GetString("deep"), "first");
  vars.PopScope();
  EXPECT_EQ(vars.TopScope(), nullptr);
  EXPECT_EQ(vars.GetString("deep"), "main");
  vars.PopScope();  // popping an empty stack does nothing
  EXPECT_EQ(vars.ScopeCount(), 0u);
  // Scopes left on the stack die with the store (checked by the leak sanitizer).
  vars.PushScope()->SetString("x", "leak?");
}

TEST(Store, InitialVariables) {
  CQelVariables vars;
  SetInitialVariables(vars, false);
  EXPECT_EQ(vars.GetInt("s.opengles2capable"), 0);
  EXPECT_EQ(vars.GetInt("s.engineversion"), 1260);
  EXPECT_EQ(vars.GetInt("s.savedataversion"), 1000);
  for (const char* name : {"s.bgmvol", "s.sevol", "s.voicevol", "s.automodewait"})
    EXPECT_EQ(vars.GetInt(name), 1000) << name;
  EXPECT_EQ(vars.QuoteChars(), std::set<unsigned char>{'\''});
  EXPECT_TRUE(vars.TakeSystemChanged());
  EXPECT_EQ(vars.Evaluate("'a'+s.engineversion"), "a1260");

  CQelVariables capable;
  capable.AddQuoteChar('"');
  SetInitialVariables(capable, true);
  EXPECT_EQ(capable.GetInt("s.opengles2capable"), 1);
  EXPECT_EQ(capable.QuoteChars(), std::set<unsigned char>{'\''});

  // Taken from the process-wide registry.
  CQelVariables fromRegistry;
  SetInitialVariables(fromRegistry);
  EXPECT_EQ(fromRegistry.GetInt("s.opengles2capable"), 0);
  CDynamicVariables::Instance()->Set("OpenGLES2Capable", true);
  SetInitialVariables(fromRegistry);
  EXPECT_EQ(fromRegistry.GetInt("s.opengles2capable"), 1);
  CDynamicVariables::Destroy();
}

// Builds a store with every namespace and two scopes.
void Populate(CQelVariables& vars) {
  vars.ClearQuoteChars();
  vars.AddQuoteChar('\'');
  vars.AddQuoteChar('\x81');
  vars.SetInt("f.number", 5);
  vars.SetString("f.text", std::string("a\0b\tc", 5));
  vars.SetString("\x95\xCF\x90\x94", "\x82\xA0");
  vars.SetInt("g.global", 7);
  vars.SetString("s.system", "on");
  vars.SetInt("t.temporary", 9);
  CQelVariables* first = vars.PushScope();
  first->SetString("file", "first.iet");
  first->SetInt("g.inscope", 3);
  CQelVariables* second = vars.PushScope();
  second->SetString("label", "*start");
  second->AddQuoteChar('@');
  vars.TakeGlobalChanged();
  vars.TakeSystemChanged();
}

TEST(Store, SaveSlotRoundTrip) {
  CQelVariables saved;
  Populate(saved);
  const Bytes slot = SaveSlot(saved);

  CQelVariables loaded;
  loaded.SetString("f.stale", "gone");
  loaded.SetInt("g.global", 100);
  loaded.SetInt("t.temporary", 1);
  loaded.PushScope()->SetString("stale", "scope");
  loaded.TakeGlobalChanged();
  LoadSlot(loaded, slot);

  EXPECT_EQ(loaded.QuoteChars(), (std::set<unsigned char>{'\'', 0x81}));
  // Game variables come back as texts.
  ASSERT_NE(loaded.Find("f.number"), nullptr);
  EXPECT_TRUE(loaded.Find("f.number")->IsString());
  EXPECT_EQ(loaded.GetString("f.number"), "5");
  EXPECT_EQ(loaded.GetInt("f.number"), 5);
  EXPECT_EQ(loaded.GetString("f.text"), std::string("a\0b\tc", 5));
  EXPECT_EQ(loaded.GetString("\x95\xCF\x90\x94"), "\x82\xA0");
  // The whole main store was replaced: global, system and temporary variables are gone
  // (the loader reads the global and system files again).
  EXPECT_EQ(loaded.Find("f.stale"), nullptr);
  EXPECT_EQ(loaded.Find("g.global"), nullptr);
  EXPECT_EQ(loaded.Find("s.system"), nullptr);
  EXPECT_EQ(loaded.Find("t.temporary"), nullptr);
  EXPECT_EQ(loaded.Variables().size(), 3u);
  EXPECT_FALSE(loaded.TakeGlobalChanged());
  EXPECT_FALSE(loaded.TakeSystemChanged());

  // Scopes come back in order with their own variables (a scope keeps every namespace).
  ASSERT_EQ(loaded.ScopeCount(), 2u);
  EXPECT_EQ(loaded.Scope(0)->GetString("file"), "first.iet");
  // A scope is saved like the main store: only its game variables.
  EXPECT_EQ(loaded.Scope(0)->Find("g.inscope"), nullptr);
  EXPECT_EQ(loaded.Scope(1)->GetString("label"), "*start");
  EXPECT_EQ(loaded.Scope(1)->QuoteChars(), std::set<unsigned char>{'@'});
  EXPECT_EQ(loaded.GetString("label"), "*start");
  EXPECT_EQ(loaded.GetString("stale"), "");

  // Saving the loaded store again gives the same bytes.
  EXPECT_EQ(SaveSlot(loaded), slot);

  loaded.PopScope();
  EXPECT_EQ(loaded.GetString("file"), "first.iet");
}

TEST(Store, EachNamespaceReachesOnlyItsFile) {
  CQelVariables vars;
  Populate(vars);
  const Bytes slot = SaveSlot(vars);
  const Bytes global = WriteFile(vars, "g.", 2);
  const Bytes system = WriteFile(vars, "s.", 1);

  EXPECT_TRUE(Contains(slot, "f.number"));
  EXPECT_FALSE(Contains(slot, "g.global"));
  EXPECT_FALSE(Contains(slot, "s.system"));
  EXPECT_FALSE(Contains(global, "f.number"));
  EXPECT_TRUE(Contains(global, "g.global"));
  EXPECT_FALSE(Contains(global, "s.system"));
  EXPECT_FALSE(Contains(system, "g.global"));
  EXPECT_TRUE(Contains(system, "s.system"));
  for (const Bytes* file : {&slot, &global, &system}) EXPECT_FALSE(Contains(*file, "t.temporary"));

  // Reading the global and system files back adds to the store without raising flags
  // and without disturbing other variables.
  CQelVariables loaded;
  loaded.SetString("f.keep", "yes");
  loaded.SetInt("g.global", 1);
  loaded.TakeGlobalChanged();
  CSerializer g;
  ASSERT_FALSE(g.Load(global.data(), global.size()));
  EXPECT_FALSE(loaded.ReadPrefixed(g, 2));
  CSerializer s;
  ASSERT_FALSE(s.Load(system.data(), system.size()));
  EXPECT_TRUE(loaded.ReadPrefixed(s, 2));  // wrong tag: nothing read
  EXPECT_FALSE(loaded.ReadPrefixed(s, 1));
  EXPECT_EQ(loaded.GetString("g.global"), "7");
  EXPECT_TRUE(loaded.Find("g.global")->IsString());
  EXPECT_EQ(loaded.GetString("s.system"), "on");
  EXPECT_EQ(loaded.GetString("f.keep"), "yes");
  EXPECT_FALSE(loaded.TakeGlobalChanged());
  EXPECT_FALSE(loaded.TakeSystemChanged());
}

TEST(Store, DamagedSlotsLoadWhatTheyCan) {
  CQelVariables saved;
  Populate(saved);
  const Bytes slot = SaveSlot(saved);
  // Every truncation loads without crashing.
  for (size_t n = 0; n < slot.size(); ++n) {
    CQelVariables loaded;
    CSerializer s;
    if (s.Load(slot.data(), n)) continue;
    loaded.Deserialize(s);
    EXPECT_LE(loaded.ScopeCount(), 2u);
  }
  // Flipped bytes too.
  for (size_t i = 0; i < slot.size(); ++i) {
    Bytes damaged = slot;
    damaged[i] ^= 0xA5;
    CQelVariables loaded;
    CSerializer s;
    if (s.Load(damaged.data(), damaged.size())) continue;
    loaded.Deserialize(s);
  }
}

// A stream of scopes nested inside scopes far deeper than the engine ever writes.
Bytes NestedScopes(int depth) {
  CQelVariables innermost;
  innermost.SetString("bottom", "1");
  Bytes bytes = SaveSlot(innermost);
  for (int i = 0; i < depth; ++i) {
    // Wrap the previous stream as the only scope of a new one: tag table with tag 3,
    // then a sequence of one nested block.
    Bytes outer = {1, 0, 0, 0, 3, 0, 0, 0, 12, 0, 0, 0, 1, 0, 0, 0};
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    for (int b = 0; b < 4; ++b) outer.push_back(static_cast<uint8_t>(size >> (8 * b)));
    outer.insert(outer.end(), bytes.begin(), bytes.end());
    bytes.swap(outer);
  }
  return bytes;
}

TEST(Store, DeeplyNestedScopesInAStreamAreCut) {
  CQelVariables loaded;
  LoadSlot(loaded, NestedScopes(3));
  ASSERT_EQ(loaded.ScopeCount(), 1u);
  ASSERT_EQ(loaded.Scope(0)->ScopeCount(), 1u);
  ASSERT_EQ(loaded.Scope(0)->Scope(0)->ScopeCount(), 1u);
  EXPECT_EQ(loaded.Scope(0)->Scope(0)->Scope(0)->GetString("bottom"), "1");

  CQelVariables deep;
  LoadSlot(deep, NestedScopes(2000));
  int levels = 0;
  for (const CQelVariables* v = &deep; v->ScopeCount() != 0; v = v->Scope(0)) ++levels;
  EXPECT_EQ(levels, CQelVariables::kMaxScopeNesting);
}

TEST(Store, DumpFormat) {
  CQelVariables vars;
  vars.SetString("b", "line1\nline2\r\tend\\");
  vars.SetInt("a", -3);
  vars.SetString("\x95\xCF\x90\x94", "\x82\xA0");  // 変数 = あ
  vars.SetString("B", "");
  vars.SetInt("a.\x82\xA0", 1);
  vars.PushScope()->SetString("scoped", "not listed");
  EXPECT_EQ(DumpVariables(vars),
            "B\ts\t\n"
            "a\ti\t-3\n"
            "a.\xE3\x81\x82\ti\t1\n"
            "b\ts\tline1\\nline2\\r\\tend\\\\\n"
            "\xE5\xA4\x89\xE6\x95\xB0\ts\t\xE3\x81\x82\n");
  EXPECT_EQ(DumpVariables(CQelVariables()), "");
}

}  // namespace
