// The engine object's methods. Each C function below reads its arguments,
// hands the work to a noexcept helper (where the C++ objects live and die),
// and only then pushes results: a Lua error raised while pushing can skip no
// destructor, and no C++ exception reaches Lua.
#include <cmath>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "lua/Lua.h"
#include "platform/TextCodec.h"

namespace {

char kSelfKey;

enum Method { kDebug, kTag, kVar, kSetScriptStatus, kSetEventHandler, kIsPush, kIsDown, kIsDownEdge, kIsUpEdge };

// The refusal messages, converted to CP932 once.
const std::string& Message(Method method) {
  static const std::string messages[] = {
      Utf8ToCp932("LUA: debugメソャhの引数が不正です。"),
      Utf8ToCp932("LUA: tagメソャhの引数が不正です。"),
      Utf8ToCp932("LUA: varメソャhの引数が不正です。"),
      Utf8ToCp932("LUA: setScriptStatusメソャhの引数が不正です。"),
      Utf8ToCp932("LUA: setEventHandlerメソャhの引数が不正です。"),
      Utf8ToCp932("LUA: isPushメソャhの引数が不正です。"),
      Utf8ToCp932("LUA: isDownメソャhの引数が不正です。"),
      Utf8ToCp932("LUA: isDownEdgeメソャhの引数が不正です。"),
      Utf8ToCp932("LUA: isUpEdgeメソャhの引数が不正です。"),
  };
  return messages[method];
}

// The engine object behind a method call; anything else raises, and so
// does every call made while the bridge closes (finalizers of Lua objects).
// Each method keeps its bridge as a light userdata upvalue; the first
// argument must be that bridge's own object, whose block never moves.
CQelLua* Self(lua_State* L) {
  CQelLua* self = static_cast<CQelLua*>(lua_touserdata(L, lua_upvalueindex(1)));
  if (lua_touserdata(L, 1) != self->m_objectBlock) luaL_typerror(L, 1, "CQelLua");
  if (!self->GetHost()) luaL_error(L, "the engine object is closed");
  return self;
}

int Reject(CQelLua* self, Method method) noexcept {
  try {
    self->SetErrorText(Message(method));
    self->OnRejected();
  } catch (...) {}
  return 0;
}

// A refused argument of a method that has a result: the result is nil.
int RejectWithNil(lua_State* L, CQelLua* self, Method method) noexcept {
  Reject(self, method);
  lua_pushnil(L);
  return 1;
}

// ---- Host calls, each catching what C++ may throw ---------------------------

void HostDebug(CQelLua* self, const char* text, size_t size) noexcept {
  try {
    self->GetHost()->LuaDebug(std::string(text, size));
  } catch (...) {}
}

// Runs a record built by the tag method. The next nesting level builds in a
// record of its own: a tag may run Lua that calls the tag method again while
// the host still reads this one. Nested Lua calls made by the tag use the
// stack of the state that called us.
void HostTag(CQelLua* self, lua_State* L, const CScriptBlock& record) noexcept {
  lua_State* saved = self->SetActive(L);
  ++self->m_tagDepth;
  try {
    self->GetHost()->LuaTag(record);
  } catch (...) {}
  --self->m_tagDepth;
  self->SetActive(saved);
}

// Spare attribute nodes kept at most, and the longest text a kept string may
// hold (a huge value once passed is not kept for ever).
constexpr size_t kMaxSpareNodes = 64;
constexpr size_t kMaxKeptText = 256;

// The tag record of this nesting level, ready to be filled: it keeps the
// attributes of its last call, which AddAttribute overwrites in place (a
// script calling the same tag again sets the same names), and FinishRecord
// drops those not set again. Null when memory ran out.
CScriptBlock* StartRecord(CQelLua* self) noexcept {
  try {
    auto& records = self->m_records;
    const size_t level = static_cast<size_t>(self->m_tagDepth);
    while (records.size() <= level) records.push_back(std::make_unique<CScriptBlock>());
    CScriptBlock& record = *records[level];
    self->m_setAttributes.clear();
    record.m_type = CScriptBlock::kTag;
    record.m_line = 0;
    if (record.m_text.capacity() > kMaxKeptText) record.m_text = std::string();
    record.m_text.clear();
    return &record;
  } catch (...) {
    return nullptr;
  }
}

// Drops the attributes of the record's last call that this call did not set.
void FinishRecord(CQelLua* self, CScriptBlock& record) noexcept {
  auto& attributes = record.m_attributes;
  const auto& set = self->m_setAttributes;
  if (set.size() == attributes.size()) return;
  auto& spare = self->m_spareNodes;
  for (auto it = attributes.begin(); it != attributes.end();) {
    bool kept = false;
    for (const auto& s : set) kept = kept || s == it;
    if (kept) {
      ++it;
      continue;
    }
    auto next = std::next(it);
    auto node = attributes.extract(it);
    try {
      if (spare.size() < kMaxSpareNodes && node.key().capacity() <= kMaxKeptText &&
          node.mapped().capacity() <= kMaxKeptText)
        spare.push_back(std::move(node));
    } catch (...) {}
    it = next;
  }
}

bool SetRecordName(CScriptBlock& record, const char* text, size_t size) noexcept {
  try {
    record.m_text.assign(text, size);
    return false;
  } catch (...) {
    return true;
  }
}

// Attributes looked up by a walk rather than a search.
constexpr size_t kScannedAttributes = 8;

bool SameText(const std::string& a, const char* b, size_t size) {
  if (a.size() != size) return false;
  for (size_t i = 0; i < size; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

bool AddAttribute(CQelLua* self, CScriptBlock& record, const char* name, size_t nameSize, const char* value,
                  size_t valueSize) noexcept {
  try {
    auto& attributes = record.m_attributes;
    auto it = attributes.end();
    if (attributes.size() <= kScannedAttributes) {
      // A tag has a few attributes with short names: a walk comparing them
      // in place beats a tree search with a library compare per step.
      for (auto at = attributes.begin(); at != attributes.end(); ++at) {
        if (SameText(at->first, name, nameSize)) {
          it = at;
          break;
        }
      }
    } else {
      self->m_attributeName.assign(name, nameSize);
      if (self->m_attributeName.capacity() > kMaxKeptText) self->m_attributeName.shrink_to_fit();
      it = attributes.find(self->m_attributeName);
    }
    if (it != attributes.end()) {
      // A huge text once passed is not kept for ever.
      if (it->second.capacity() > kMaxKeptText && valueSize <= kMaxKeptText) it->second = std::string();
      it->second.assign(value, valueSize);
    } else if (auto& spare = self->m_spareNodes; !spare.empty()) {
      auto node = std::move(spare.back());
      spare.pop_back();
      node.key().assign(name, nameSize);
      node.mapped().assign(value, valueSize);
      it = attributes.insert(std::move(node)).position;
    } else {
      it = attributes.emplace(std::string(name, nameSize), std::string(value, valueSize)).first;
    }
    // A Lua table has each key once: every entry is a different attribute.
    self->m_setAttributes.push_back(it);
    return false;
  } catch (...) {
    return true;
  }
}

// The decimal text of value; returns its length (at most 11).
size_t FormatInt32(int32_t value, char* out) {
  char digits[10];
  size_t count = 0;
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  size_t size = 0;
  if (value < 0) out[size++] = '-';
  while (count) out[size++] = digits[--count];
  return size;
}

bool HostEvaluate(CQelLua* self, const char* text, size_t size) noexcept {
  try {
    self->m_scratchText = self->GetHost()->LuaEvaluate(std::string(text, size));
    return false;
  } catch (...) {
    return true;
  }
}

void HostSetFrameHandler(CQelLua* self, const char* text, size_t size) noexcept {
  try {
    self->GetHost()->LuaSetFrameHandler(std::string(text, size));
  } catch (...) {}
}

template <class F>
auto Guarded(F&& f, decltype(f()) fallback) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (...) {
    return fallback;
  }
}

// ---- Methods ---------------------------------------------------------------

int Debug(lua_State* L) {
  CQelLua* self = Self(L);
  if (lua_type(L, 2) != LUA_TSTRING) return Reject(self, kDebug);
  size_t size = 0;
  const char* text = lua_tolstring(L, 2, &size);
  HostDebug(self, text, size);
  return 0;
}

int Now(lua_State* L) {
  CQelLua* self = Self(L);
  lua_pushnumber(L, Guarded([&] { return self->GetHost()->LuaNow(); }, 0u));
  return 1;
}

int Random(lua_State* L) {
  CQelLua* self = Self(L);
  lua_pushnumber(L, Guarded([&] { return self->GetHost()->LuaRandom(); }, 0));
  return 1;
}

int Tag(lua_State* L) {
  CQelLua* self = Self(L);
  int type = lua_type(L, 2);
  if (type != LUA_TSTRING && type != LUA_TTABLE) return Reject(self, kTag);
  CScriptBlock* record = StartRecord(self);
  if (!record) return luaL_error(L, "not enough memory");
  size_t size = 0;
  if (type == LUA_TSTRING) {
    const char* name = lua_tolstring(L, 2, &size);
    if (SetRecordName(*record, name, size)) return luaL_error(L, "not enough memory");
  } else {
    // The table stays at index 2 whatever follows it: the walk needs no
    // trimmed stack (a C function always has room for the key and value).
    lua_pushnil(L);
    while (lua_next(L, 2)) {
      int keyType = lua_type(L, -2);
      int valueType = lua_type(L, -1);
      bool failed = false;
      if (keyType == LUA_TNUMBER && lua_tonumber(L, -2) == 1.0 && valueType == LUA_TSTRING) {
        const char* name = lua_tolstring(L, -1, &size);
        failed = SetRecordName(*record, name, size);
      } else if (keyType == LUA_TSTRING && (valueType == LUA_TSTRING || valueType == LUA_TNUMBER)) {
        size_t keySize = 0;
        const char* key = lua_tolstring(L, -2, &keySize);
        char number[16];
        const char* value = number;
        if (valueType == LUA_TSTRING) {
          value = lua_tolstring(L, -1, &size);
        } else {
          size = FormatInt32(CLua::ToInt32(lua_tonumber(L, -1)), number);
        }
        failed = AddAttribute(self, *record, key, keySize, value, size);
      }
      lua_pop(L, 1);
      if (failed) return luaL_error(L, "not enough memory");
    }
  }
  FinishRecord(self, *record);
  HostTag(self, L, *record);
  return 0;
}

int Var(lua_State* L) {
  CQelLua* self = Self(L);
  if (lua_type(L, 2) != LUA_TSTRING) return RejectWithNil(L, self, kVar);
  size_t size = 0;
  const char* text = lua_tolstring(L, 2, &size);
  if (HostEvaluate(self, text, size)) return luaL_error(L, "not enough memory");
  lua_pushlstring(L, self->m_scratchText.data(), self->m_scratchText.size());
  return 1;
}

int GetScriptStatus(lua_State* L) {
  CQelLua* self = Self(L);
  lua_pushnumber(L, Guarded([&] { return self->GetHost()->LuaGetState(); }, 0));
  return 1;
}

int SetScriptStatus(lua_State* L) {
  CQelLua* self = Self(L);
  if (lua_type(L, 2) != LUA_TNUMBER || std::isnan(lua_tonumber(L, 2))) return Reject(self, kSetScriptStatus);
  // Any number goes, the interpreter's own states or one of the game's:
  // a frame ends at once in a state it does not know, and the per-frame
  // handler, which runs whatever the state, can set it back.
  int32_t state = CLua::ToInt32(lua_tonumber(L, 2));
  Guarded(
      [&] {
        self->GetHost()->LuaSetState(state);
        return 0;
      },
      0);
  return 0;
}

int SetEventHandler(lua_State* L) {
  CQelLua* self = Self(L);
  if (lua_type(L, 2) != LUA_TTABLE) return Reject(self, kSetEventHandler);
  lua_settop(L, 2);
  lua_pushnil(L);
  while (lua_next(L, 2)) {
    if (lua_type(L, -2) == LUA_TSTRING && lua_type(L, -1) == LUA_TSTRING) {
      size_t keySize = 0, size = 0;
      const char* key = lua_tolstring(L, -2, &keySize);
      if (keySize == 12 && std::char_traits<char>::compare(key, "onEnterFrame", 12) == 0) {
        const char* name = lua_tolstring(L, -1, &size);
        HostSetFrameHandler(self, name, size);
      }
    }
    lua_pop(L, 1);
  }
  return 0;
}

int Key(lua_State* L, int kind, Method method) {
  CQelLua* self = Self(L);
  if (lua_type(L, 2) != LUA_TNUMBER) return RejectWithNil(L, self, method);
  int key = CLua::ToInt32(lua_tonumber(L, 2));
  lua_pushboolean(L, Guarded([&] { return self->GetHost()->LuaKey(kind, key); }, false));
  return 1;
}

int IsPush(lua_State* L) { return Key(L, 0, kIsPush); }
int IsDown(lua_State* L) { return Key(L, 1, kIsDown); }
int IsDownEdge(lua_State* L) { return Key(L, 2, kIsDownEdge); }
int IsUpEdge(lua_State* L) { return Key(L, 3, kIsUpEdge); }

int GetMousePoint(lua_State* L) {
  CQelLua* self = Self(L);
  int x = 0, y = 0;
  Guarded(
      [&] {
        self->GetHost()->LuaPointer(x, y);
        return 0;
      },
      0);
  lua_createtable(L, 0, 2);
  lua_pushnumber(L, x);
  lua_setfield(L, -2, "x");
  lua_pushnumber(L, y);
  lua_setfield(L, -2, "y");
  return 1;
}

const luaL_Reg kMethods[] = {
    {"debug", &Debug},
    {"now", &Now},
    {"random", &Random},
    {"tag", &Tag},
    {"var", &Var},
    {"getScriptStatus", &GetScriptStatus},
    {"setScriptStatus", &SetScriptStatus},
    {"setEventHandler", &SetEventHandler},
    {"isPush", &IsPush},
    {"isDown", &IsDown},
    {"isDownEdge", &IsDownEdge},
    {"isUpEdge", &IsUpEdge},
    {"getMousePoint", &GetMousePoint},
};

int RegisterProtected(lua_State* L) {
  auto* self = static_cast<CQelLua*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  // The engine object: a full userdata holding the pointer.
  auto** box = static_cast<CQelLua**>(lua_newuserdata(L, sizeof(CQelLua*)));
  *box = self;
  self->m_objectBlock = box;
  // The method table; every method keeps the bridge as its upvalue, which
  // is how it knows it was called on the engine object.
  lua_newtable(L);
  for (const luaL_Reg& method : kMethods) {
    lua_pushlightuserdata(L, self);
    lua_pushcclosure(L, method.func, 1);
    lua_setfield(L, 2, method.name);
  }
  luaL_newmetatable(L, "CQelLua");
  lua_pushvalue(L, 2);
  lua_setfield(L, -2, "__index");
  lua_pushliteral(L, "CQelLua");
  lua_setfield(L, -2, "__metatable");
  lua_setmetatable(L, 1);
  lua_pushvalue(L, 2);
  lua_setglobal(L, "CQelLua");
  lua_pushlightuserdata(L, &kSelfKey);
  lua_pushvalue(L, 1);
  lua_rawset(L, LUA_REGISTRYINDEX);
  return 0;
}

}  // namespace

CQelLua::CQelLua(ILuaHost* host, const Options& options) : CLua(options), m_host(host) {
  if (IsOpen() && lua_cpcall(GetState(), &RegisterProtected, this) != 0) {
    const char* message = lua_tostring(GetState(), -1);
    SetErrorText(std::string(message ? message : "cannot register the engine object"));
    Close();
  }
}

CQelLua::~CQelLua() {
  // Closing runs the finalizers Lua code may have set (newproxy). The state
  // closes while this object is whole, and the methods they call reach no
  // host: it may be going away itself.
  m_host = nullptr;
  Close();
}

uint32_t CQelLua::ClockMs() { return m_host ? m_host->LuaNow() : 0; }

void CQelLua::OnRejected() {
  if (m_host) m_host->LuaRejected(GetErrorText());
}

void CQelLua::Register(lua_State*) {}

int CQelLua::PushSelf(lua_State* L) {
  lua_pushlightuserdata(L, &kSelfKey);
  lua_rawget(L, LUA_REGISTRYINDEX);
  return 1;
}
