// Feeds arbitrary bytes to the stream reader: tagged and untagged fields,
// containers, nested objects and open-type values must never read out of
// bounds, allocate from a hostile count or loop on one.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/Serializer.h"

namespace {

struct Inner : ISerializable {
  int32_t a = 0;
  std::string s;
  std::vector<uint8_t> bytes;
  void Serialize(CSerializer& w) const override {
    w.Write(1, a);
    w.Write(2, s);
    w.Write(3, bytes);
  }
  void Deserialize(CSerializer& r) override {
    r.Read(1, a);
    r.Read(2, s);
    r.Read(3, bytes);
  }
};

struct Outer : ISerializable {
  Inner inner;
  std::list<Inner> list;
  std::map<std::string, std::deque<Inner>> map;
  std::set<std::string> set;
  std::pair<int32_t, float> pair;
  void Serialize(CSerializer& w) const override {
    w.Write(1, inner);
    w.Write(2, list);
    w.Write(3, map);
    w.Write(4, set);
    w.Write(5, pair);
  }
  void Deserialize(CSerializer& r) override {
    r.Read(1, inner);
    r.Read(2, list);
    r.Read(3, map);
    r.Read(4, set);
    r.Read(5, pair);
  }
};

struct Open {
  int32_t v = 0;
  std::vector<std::string> names;
};

class OpenExtension : public ISerializerExtension {
 public:
  bool Serialize(CSerializer& c, const std::any& value) override {
    auto p = std::any_cast<const Open*>(&value);
    if (!p) return false;
    c.Write(1, (*p)->v);
    c.Write(2, (*p)->names);
    return true;
  }
  bool Deserialize(CSerializer& c, const std::any& value) override {
    auto p = std::any_cast<Open*>(&value);
    if (!p) return false;
    c.Read(1, (*p)->v);
    c.Read(2, (*p)->names);
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool registered = [] {
    CSerializer::RegisterExtension(std::make_shared<OpenExtension>());
    return true;
  }();
  (void)registered;

  {
    CSerializer r;
    r.LoadView(data, size);
    Outer outer;
    outer.Deserialize(r);
    std::map<std::string, std::list<Open>> opens;
    r.Read(6, opens);
    std::vector<std::pair<std::string, Inner>> pairs;
    r.Read(0, pairs);
    // What was read must write back and read again identically sized.
    CSerializer w;
    w.Write(1, outer);
    w.Write(2, opens);
    std::vector<uint8_t> again = w.Finish();
    CSerializer r2;
    if (r2.Load(again.data(), again.size())) __builtin_trap();
    Outer copy;
    if (r2.Read(1, copy) || copy.list.size() != outer.list.size() || copy.map.size() != outer.map.size())
      __builtin_trap();
  }
  {
    // The same bytes as an untagged stream of plain fields.
    CSerializer r(false);
    r.LoadView(data, size);
    std::vector<std::string> strings;
    std::map<int32_t, std::set<int32_t>> nested;
    bool b = false;
    r.Read(0, b);
    r.Read(0, strings);
    r.Read(0, nested);
  }
  return 0;
}
