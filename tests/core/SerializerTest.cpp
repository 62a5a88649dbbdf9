#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/Serializer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Le(std::initializer_list<uint32_t> words) {
  Bytes out;
  for (uint32_t w : words) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  return out;
}

struct CPoint2 : ISerializable {
  int32_t x = 0;
  int32_t y = 0;
  void Serialize(CSerializer& s) const override {
    s.Write(1, x);
    s.Write(2, y);
  }
  void Deserialize(CSerializer& s) override {
    s.Read(1, x);
    s.Read(2, y);
  }
  bool operator==(const CPoint2& o) const { return x == o.x && y == o.y; }
};

// A record with a nested object, a container of nested objects and a map of
// lists of them, the shapes the save data uses.
struct CRecord : ISerializable {
  std::string name;
  CPoint2 origin;
  std::vector<CPoint2> path;
  std::map<std::string, std::list<CPoint2>> groups;
  void Serialize(CSerializer& s) const override {
    s.Write(1, name);
    s.Write(2, origin);
    s.Write(3, path);
    s.Write(4, groups);
  }
  void Deserialize(CSerializer& s) override {
    s.Read(1, name);
    s.Read(2, origin);
    s.Read(3, path);
    s.Read(4, groups);
  }
};

// A type the stream does not know; it travels through an extension.
struct Effect {
  bool vanish = false;
  int32_t msec = 0;
};

struct Unknown {
  int32_t v = 0;
};

class EffectExtension : public ISerializerExtension {
 public:
  bool Serialize(CSerializer& c, const std::any& v) override {
    auto p = std::any_cast<const Effect*>(&v);
    if (!p) return false;
    c.Write(1, (*p)->vanish);
    c.Write(7, (*p)->msec);
    return true;
  }
  bool Deserialize(CSerializer& c, const std::any& v) override {
    auto p = std::any_cast<Effect*>(&v);
    if (!p) return false;
    c.Read(1, (*p)->vanish);
    c.Read(7, (*p)->msec);
    return true;
  }
};

class ExtensionScope {
 public:
  ExtensionScope() : m_ext(std::make_shared<EffectExtension>()) { CSerializer::RegisterExtension(m_ext); }
  ~ExtensionScope() { CSerializer::UnregisterExtension(m_ext); }

 private:
  std::shared_ptr<ISerializerExtension> m_ext;
};

enum class Mode : int32_t { A = 1, B = -7 };

}  // namespace

TEST(SerializerFormat, DocumentedExamplesByteForByte) {
  {
    CSerializer s;
    s.Write(0, int32_t{5});
    EXPECT_EQ(s.Finish(), Le({0, 5}));
  }
  {
    CSerializer s;
    s.Write(3, int32_t{7});
    EXPECT_EQ(s.Finish(), Le({1, 3, 12, 7}));
  }
  {
    CSerializer s;
    s.Write(0, std::string());
    EXPECT_EQ(s.Finish(), Le({0, 0}));
  }
  {
    // Two tags, a byte and a string: table sorted by tag, positions counted
    // from the start of the stream.
    CSerializer s;
    s.Write(9, true);
    s.Write(2, std::string("ab"));
    Bytes expected = Le({2, 2, 21, 9, 20});
    expected.push_back(1);
    Bytes str = Le({2});
    expected.insert(expected.end(), str.begin(), str.end());
    expected.push_back('a');
    expected.push_back('b');
    EXPECT_EQ(s.Finish(), expected);
  }
}

TEST(SerializerFormat, NestedObjectIsCompleteStreamWithOwnPositions) {
  CPoint2 p;
  p.x = 3;
  p.y = 4;
  CSerializer s;
  s.Write(0, int32_t{1});
  s.Write(5, p);
  Bytes child = Le({2, 1, 20, 2, 24, 3, 4});
  Bytes expected = Le({1, 5, 16, 1, static_cast<uint32_t>(child.size())});
  expected.insert(expected.end(), child.begin(), child.end());
  EXPECT_EQ(s.Finish(), expected);
}

TEST(SerializerFormat, TagWrittenTwiceKeepsLaterPosition) {
  CSerializer w;
  w.Write(1, int32_t{10});
  w.Write(1, int32_t{20});
  Bytes bytes = w.Finish();
  EXPECT_EQ(bytes, Le({1, 1, 16, 10, 20}));
  CSerializer r;
  ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
  int32_t v = 0;
  EXPECT_FALSE(r.Read(1, v));
  EXPECT_EQ(v, 20);
}

TEST(SerializerFormat, TablesOutOfOrderAreReadByTagAndTheLaterEntryWins) {
  // Table: tag 7 at 36, tag 3 at 40, tag 7 again at 44, tag 5 at 48 (a
  // table another writer may have put down in any order).
  Bytes bytes = Le({4, 7, 36, 3, 40, 7, 44, 5, 48, 70, 30, 71, 50});
  CSerializer r;
  ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
  int32_t v = 0;
  EXPECT_FALSE(r.Read(3, v));
  EXPECT_EQ(v, 30);
  EXPECT_FALSE(r.Read(7, v));
  EXPECT_EQ(v, 71);
  EXPECT_FALSE(r.Read(5, v));
  EXPECT_EQ(v, 50);
  EXPECT_TRUE(r.HasTag(5));
  EXPECT_FALSE(r.HasTag(4));
  EXPECT_FALSE(r.HasTag(8));
}

TEST(SerializerRoundTrip, EveryFieldKind) {
  ExtensionScope ext;
  const std::string binary("a\0b\xff", 4);
  CSerializer w;
  w.Write(1, true);
  w.Write(2, 'x');
  w.Write(3, static_cast<unsigned char>(0xFE));
  w.Write(4, int32_t{-123456});
  w.Write(5, uint32_t{0xDEADBEEF});
  w.Write(6, 1.5f);
  w.Write(7, Mode::B);
  w.Write(8, binary);
  w.Write(9, std::make_pair(std::string("k"), int32_t{-1}));
  w.Write(10, std::vector<int32_t>{1, 2, 3});
  w.Write(11, std::deque<std::string>{"a", "", "c"});
  w.Write(12, std::list<bool>{true, false});
  w.Write(13, std::map<std::string, std::string>{{"x", "1"}, {"y", "2"}});
  w.Write(14, std::set<std::string>{"p", "q"});
  w.Write(15, std::unordered_map<int32_t, std::vector<std::string>>{{4, {"four"}}, {5, {}}});
  w.Write(16, Effect{true, 250});
  w.Write(17, std::map<std::string, std::list<Effect>>{{"win", {Effect{false, 1}, Effect{true, 2}}}});
  w.Write(0, int32_t{77});
  Bytes bytes = w.Finish();

  CSerializer r;
  ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
  bool b = false;
  char c = 0;
  unsigned char uc = 0;
  int32_t i = 0;
  uint32_t u = 0;
  float f = 0;
  Mode m = Mode::A;
  std::string s;
  std::pair<std::string, int32_t> pr;
  std::vector<int32_t> vec;
  std::deque<std::string> dq;
  std::list<bool> ls;
  std::map<std::string, std::string> mp;
  std::set<std::string> st;
  std::unordered_map<int32_t, std::vector<std::string>> um;
  Effect e;
  std::map<std::string, std::list<Effect>> em;
  // Read out of order: tagged fields seek to their own positions.
  EXPECT_FALSE(r.Read(8, s));
  EXPECT_FALSE(r.Read(1, b));
  EXPECT_FALSE(r.Read(2, c));
  EXPECT_FALSE(r.Read(3, uc));
  EXPECT_FALSE(r.Read(4, i));
  EXPECT_FALSE(r.Read(5, u));
  EXPECT_FALSE(r.Read(6, f));
  EXPECT_FALSE(r.Read(7, m));
  EXPECT_FALSE(r.Read(9, pr));
  EXPECT_FALSE(r.Read(10, vec));
  EXPECT_FALSE(r.Read(11, dq));
  EXPECT_FALSE(r.Read(12, ls));
  EXPECT_FALSE(r.Read(13, mp));
  EXPECT_FALSE(r.Read(14, st));
  EXPECT_FALSE(r.Read(15, um));
  EXPECT_FALSE(r.Read(16, e));
  EXPECT_FALSE(r.Read(17, em));
  int32_t tail = 0;
  EXPECT_FALSE(r.Read(0, tail));  // untagged: continues after field 17

  EXPECT_TRUE(b);
  EXPECT_EQ(c, 'x');
  EXPECT_EQ(uc, 0xFE);
  EXPECT_EQ(i, -123456);
  EXPECT_EQ(u, 0xDEADBEEFu);
  EXPECT_EQ(f, 1.5f);
  EXPECT_EQ(m, Mode::B);
  EXPECT_EQ(s, binary);
  EXPECT_EQ(pr, std::make_pair(std::string("k"), int32_t{-1}));
  EXPECT_EQ(vec, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(dq, (std::deque<std::string>{"a", "", "c"}));
  EXPECT_EQ(ls, (std::list<bool>{true, false}));
  EXPECT_EQ(mp.at("y"), "2");
  EXPECT_EQ(st, (std::set<std::string>{"p", "q"}));
  ASSERT_EQ(um.size(), 2u);
  EXPECT_EQ(um.at(4), std::vector<std::string>{"four"});
  EXPECT_TRUE(e.vanish);
  EXPECT_EQ(e.msec, 250);
  ASSERT_EQ(em.at("win").size(), 2u);
  EXPECT_EQ(em.at("win").back().msec, 2);
  EXPECT_TRUE(em.at("win").back().vanish);
  EXPECT_EQ(tail, 77);
}

TEST(SerializerRoundTrip, NestedObjectsAndContainersOfThem) {
  CRecord in;
  in.name = "layer";
  in.origin.x = -5;
  in.origin.y = 9;
  for (int k = 0; k < 300; ++k) {  // spans many write chunks
    CPoint2 p;
    p.x = k;
    p.y = -k;
    in.path.push_back(p);
  }
  in.groups["a"].push_back(in.origin);
  in.groups["b"];
  CSerializer w;
  w.Write(1, in);
  w.Write(2, std::vector<CRecord>(2, in));
  Bytes bytes = w.Finish();

  CSerializer r;
  ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
  CRecord out;
  std::vector<CRecord> many;
  EXPECT_FALSE(r.Read(1, out));
  EXPECT_FALSE(r.Read(2, many));
  EXPECT_EQ(out.name, "layer");
  EXPECT_EQ(out.origin, in.origin);
  EXPECT_EQ(out.path, in.path);
  ASSERT_EQ(out.groups.size(), 2u);
  EXPECT_EQ(out.groups["a"].front(), in.origin);
  EXPECT_TRUE(out.groups["b"].empty());
  ASSERT_EQ(many.size(), 2u);
  EXPECT_EQ(many[1].path, in.path);
}

TEST(SerializerRoundTrip, AReusedStreamWritesTheSameBytesAgain) {
  CRecord big;
  big.name = std::string(100000, 'x');
  for (int k = 0; k < 500; ++k) big.path.push_back(CPoint2());
  CRecord small;
  small.name = "s";
  CSerializer w;
  w.Write(1, small);
  const Bytes first = w.Finish();
  // A big stream in between leaves chunks behind for the next one.
  w.Write(1, big);
  w.Write(2, std::vector<CRecord>(3, big));
  const Bytes large = w.Finish();
  w.Write(1, small);
  EXPECT_EQ(w.Finish(), first);
  w.Write(1, big);
  w.Write(2, std::vector<CRecord>(3, big));
  EXPECT_EQ(w.Finish(), large);
}

TEST(SerializerRoundTrip, MapsFromSortedPairsAndInAnyOrder) {
  // Sorted pairs of views are written as the map of strings they show.
  std::map<std::string, std::string> map{{"a", "1"}, {"b", "2"}, {"c", "3"}};
  std::vector<std::pair<std::string_view, std::string>> pairs{{"a", "1"}, {"b", "2"}, {"c", "3"}};
  CSerializer w;
  w.Write(1, map);
  const Bytes fromMap = w.Finish();
  w.Write(1, pairs);
  EXPECT_EQ(w.Finish(), fromMap);
  // A stream whose keys are out of order or repeated still reads every key,
  // the last value of a repeated one winning.
  std::vector<std::pair<std::string, std::string>> unordered{{"c", "3"}, {"a", "1"}, {"b", "2"}, {"a", "9"}};
  w.Write(1, unordered);
  const Bytes bytes = w.Finish();
  CSerializer r;
  ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
  std::map<std::string, std::string> out;
  ASSERT_FALSE(r.Read(1, out));
  EXPECT_EQ(out, (std::map<std::string, std::string>{{"a", "9"}, {"b", "2"}, {"c", "3"}}));
  // Read as views, the pairs show the caller's bytes, in stream order.
  std::vector<std::pair<std::string_view, std::string_view>> views;
  ASSERT_FALSE(r.LoadView(bytes.data(), bytes.size()));
  ASSERT_FALSE(r.Read(1, views));
  ASSERT_EQ(views.size(), 4u);
  EXPECT_EQ(views[0].first, "c");
  EXPECT_EQ(views[3].second, "9");
  EXPECT_GE(reinterpret_cast<const uint8_t*>(views[3].second.data()), bytes.data());
  EXPECT_LT(reinterpret_cast<const uint8_t*>(views[3].second.data()), bytes.data() + bytes.size());
}

TEST(SerializerCompatibility, MissingTagsLeaveFieldsUntouched) {
  // An older build wrote only the name; everything else keeps its value.
  CSerializer w;
  w.Write(1, std::string("old"));
  Bytes bytes = w.Finish();

  CRecord rec;
  rec.origin.x = 42;
  rec.path.resize(3);
  rec.groups["keep"];
  CSerializer r;
  ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
  rec.Deserialize(r);
  EXPECT_EQ(rec.name, "old");
  EXPECT_EQ(rec.origin.x, 42);
  EXPECT_EQ(rec.path.size(), 3u);
  EXPECT_EQ(rec.groups.count("keep"), 1u);
  std::vector<int32_t> list{1, 2};
  EXPECT_TRUE(r.Read(99, list));
  EXPECT_EQ(list.size(), 2u);
  EXPECT_FALSE(r.HasTag(99));
  EXPECT_TRUE(r.HasTag(1));
}

TEST(SerializerCompatibility, NestedObjectKeepsFieldsItsStreamLacks) {
  // A nested block written by an older build holds only x.
  struct COld : ISerializable {
    void Serialize(CSerializer& s) const override { s.Write(1, int32_t{8}); }
    void Deserialize(CSerializer&) override {}
  };
  CSerializer w;
  w.Write(4, COld());
  Bytes bytes = w.Finish();
  CPoint2 p;
  p.y = 31;
  CSerializer r;
  ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
  EXPECT_FALSE(r.Read(4, p));
  EXPECT_EQ(p.x, 8);
  EXPECT_EQ(p.y, 31);
}

TEST(SerializerOpenType, ValueNoExtensionTakesKeepsStreamReadable) {
  ExtensionScope ext;
  CSerializer w;
  w.Write(0, Unknown{5});
  w.Write(0, Effect{true, 9});
  w.Write(0, int32_t{3});
  Bytes bytes = w.Finish();
  CSerializer r;
  ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
  Unknown u{1};
  Effect e;
  int32_t tail = 0;
  EXPECT_FALSE(r.Read(0, u));
  EXPECT_FALSE(r.Read(0, e));
  EXPECT_FALSE(r.Read(0, tail));
  EXPECT_EQ(u.v, 1);
  EXPECT_EQ(e.msec, 9);
  EXPECT_EQ(tail, 3);
}

TEST(SerializerHostileInput, HugeCountsAndLengthsLeaveDestinationUnchanged) {
  std::vector<std::string> list{"keep"};
  std::string str = "keep";
  std::string_view view = "keep";
  std::map<int32_t, int32_t> map{{1, 1}};
  CPoint2 point;
  point.x = 6;
  for (uint32_t count : {0xFFFFFFFFu, 0x80000000u, 3u}) {
    // Count, then two bytes: room for no element at all.
    Bytes bytes = Le({0, count});
    bytes.push_back(0);
    bytes.push_back(0);
    CSerializer r;
    ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
    EXPECT_TRUE(r.Read(0, list));
    ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
    EXPECT_TRUE(r.Read(0, str));
    ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
    EXPECT_TRUE(r.Read(0, view));
    ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
    EXPECT_TRUE(r.Read(0, map));
    ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
    EXPECT_TRUE(r.Read(0, point));
  }
  EXPECT_EQ(list, std::vector<std::string>{"keep"});
  EXPECT_EQ(str, "keep");
  EXPECT_EQ(view, "keep");
  EXPECT_EQ(map.size(), 1u);
  EXPECT_EQ(point.x, 6);
}

TEST(SerializerHostileInput, BadTagTablesAndPositions) {
  int32_t v = 11;
  {
    // Table claims more pairs than the stream holds.
    Bytes bytes = Le({0x10000000, 1, 4});
    CSerializer r;
    EXPECT_TRUE(r.Load(bytes.data(), bytes.size()));
    EXPECT_TRUE(r.Read(0, v));
    EXPECT_TRUE(r.Read(1, v));
  }
  {
    // Positions leaving less than a field, and past the end.
    Bytes bytes = Le({2, 1, 21, 2, 0xFFFFFFF0, 5});
    CSerializer r;
    ASSERT_FALSE(r.Load(bytes.data(), bytes.size()));
    EXPECT_TRUE(r.Read(1, v));
    EXPECT_TRUE(r.Read(2, v));
  }
  {
    // Shorter than a count.
    Bytes bytes{1, 0};
    CSerializer r;
    EXPECT_TRUE(r.Load(bytes.data(), bytes.size()));
    CSerializer empty;
    EXPECT_TRUE(empty.Load(nullptr, 0));
  }
  EXPECT_EQ(v, 11);
}

TEST(SerializerHostileInput, EveryTruncationReadsWhatIsThere) {
  CRecord in;
  in.name = "truncate me";
  in.origin.x = 1;
  in.path.resize(4);
  in.groups["g"].resize(2);
  CSerializer w;
  w.Write(1, in);
  w.Write(2, std::string("after"));
  Bytes full = w.Finish();
  for (size_t n = 0; n < full.size(); ++n) {
    Bytes part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    CSerializer r;
    r.Load(part.data(), part.size());
    CRecord out;
    out.name = "default";
    std::string after = "none";
    bool missing = r.Read(1, out);
    r.Read(2, after);
    // A nested block is read whole or not at all.
    if (missing) {
      EXPECT_EQ(out.name, "default") << n;
    } else {
      EXPECT_EQ(out.name, in.name) << n;
      EXPECT_EQ(out.path.size(), 4u) << n;
    }
    EXPECT_EQ(after, "none") << n;
  }
}
