#include "lua/Lua.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "platform/Log.h"
#include "platform/TextCodec.h"

namespace {

// Instructions between two looks at the budget.
constexpr int kHookStep = 1000;
// 2000-01-01 00:00:00 UTC: the date a deterministic run's clock counts from.
constexpr double kFixedDate = 946684800.0;

CLua* Owner(lua_State* L) {
  void* ud = nullptr;
  lua_getallocf(L, &ud);
  return static_cast<CLua*>(ud);
}

// ---- Replacements of print and of the clock functions ----------------------

void LogLine(const char* text, size_t size) noexcept {
  try {
    LogWrite(std::string_view(text, size));
  } catch (...) {}
}

// print, but into the engine's log: scripts have no console.
int Print(lua_State* L) {
  int n = lua_gettop(L);
  luaL_Buffer buffer;
  lua_getglobal(L, "tostring");
  int tostring = lua_gettop(L);
  luaL_buffinit(L, &buffer);
  for (int i = 1; i <= n; ++i) {
    lua_pushvalue(L, tostring);
    lua_pushvalue(L, i);
    lua_call(L, 1, 1);
    if (!lua_isstring(L, -1)) return luaL_error(L, "'tostring' must return a string to 'print'");
    if (i > 1) luaL_addchar(&buffer, '\t');
    luaL_addvalue(&buffer);
  }
  luaL_pushresult(&buffer);
  size_t size = 0;
  const char* text = lua_tolstring(L, -1, &size);
  LogLine(text, size);
  return 0;
}

double VirtualSeconds(lua_State* L) { return kFixedDate + std::floor(Owner(L)->ClockMs() / 1000.0); }

int DeterministicTime(lua_State* L) {
  if (!lua_isnoneornil(L, 1)) {
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);
    return 1;
  }
  lua_pushnumber(L, VirtualSeconds(L));
  return 1;
}

int DeterministicClock(lua_State* L) {
  lua_pushnumber(L, Owner(L)->ClockMs() / 1000.0);
  return 1;
}

int DeterministicDate(lua_State* L) {
  if (lua_isnoneornil(L, 2)) {
    if (lua_isnone(L, 1)) lua_pushnil(L);
    lua_settop(L, 1);
    lua_pushnumber(L, VirtualSeconds(L));
  }
  lua_settop(L, 2);
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, 2, 1);
  return 1;
}

// os.exit: ending the process here would skip the engine's saves; the call
// unwinds instead and the engine closes as if its window was closed.
int Exit(lua_State* L) {
  Owner(L)->RequestExit(L);
  return luaL_error(L, "os.exit");
}

void Replace(lua_State* L, const char* name, lua_CFunction function) {
  lua_getfield(L, -1, name);
  lua_pushcclosure(L, function, 1);
  lua_setfield(L, -2, name);
}

// Sets the error text from the error value on top of the stack. Strings and
// numbers give their text, other values their __tostring, else their type.
void TakeErrorValue(lua_State* L, CLua* self) {
  int type = lua_type(L, -1);
  size_t size = 0;
  if (type == LUA_TSTRING || type == LUA_TNUMBER) {
    const char* text = lua_tolstring(L, -1, &size);
    self->SetErrorText(text, size);
    return;
  }
  if (luaL_getmetafield(L, -1, "__tostring")) {
    lua_pushvalue(L, -2);
    if (lua_pcall(L, 1, 1, 0) == 0 && lua_type(L, -1) == LUA_TSTRING) {
      const char* text = lua_tolstring(L, -1, &size);
      self->SetErrorText(text, size);
      return;
    }
    lua_pop(L, 1);
  }
  lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, -1));
  const char* text = lua_tolstring(L, -1, &size);
  self->SetErrorText(text, size);
}

}  // namespace

// What a protected call needs: text is a chunk or a global's name.
struct CLua::CallContext {
  CLua* self;
  const char* text;
  size_t size;
  bool chunk;
  bool failed;
};

// ---- The state -------------------------------------------------------------

CLua::CLua() : CLua(Options()) {}

CLua::CLua(const Options& options) : m_options(options) { Start(); }

CLua::~CLua() { Close(); }

void CLua::Close() {
  if (m_state) lua_close(m_state);
  m_state = nullptr;
  DrainPool();
}

void CLua::SetErrorText(const char* text, size_t size) noexcept {
  try {
    m_errorText.assign(text, size);
  } catch (...) {
    m_errorText.clear();
  }
}

// Small blocks come from per-size free lists: the garbage collector frees
// short-lived tables and strings in bursts and the next calls make them
// again, which malloc serves much more slowly. The cap counts the sizes Lua
// asks for, as without the pool; blocks resting on the lists are not the
// state's.
void* CLua::TakeBlock(size_t size) {
  if (size > kPoolMax) return std::malloc(size);
  const size_t index = (size - 1) / kPoolStep;
  if (FreeBlock* block = m_pool[index]) {
    m_pool[index] = block->next;
    m_pooledBytes -= (index + 1) * kPoolStep;
    return block;
  }
  return std::malloc((index + 1) * kPoolStep);
}

void CLua::ReleaseBlock(void* ptr, size_t size) {
  if (size > kPoolMax || size == 0) {
    std::free(ptr);
    return;
  }
  const size_t index = (size - 1) / kPoolStep;
  const size_t bytes = (index + 1) * kPoolStep;
  if (m_pooledBytes + bytes > kPoolBytesMax) {
    std::free(ptr);
    return;
  }
  auto* block = static_cast<FreeBlock*>(ptr);
  block->next = m_pool[index];
  m_pool[index] = block;
  m_pooledBytes += bytes;
}

void CLua::DrainPool() {
  for (FreeBlock*& head : m_pool) {
    while (head) {
      FreeBlock* next = head->next;
      std::free(head);
      head = next;
    }
  }
  m_pooledBytes = 0;
}

// Lua passes the exact size of every block it frees or resizes, so the size
// tells which list a block belongs to.
void* CLua::Allocate(void* ud, void* ptr, size_t oldSize, size_t newSize) {
  CLua* self = static_cast<CLua*>(ud);
  if (newSize == 0) {
    if (ptr) self->ReleaseBlock(ptr, oldSize);
    self->m_memory -= oldSize;
    return nullptr;
  }
  if (self->m_options.memoryLimit && newSize > oldSize &&
      self->m_memory - oldSize + newSize > self->m_options.memoryLimit)
    return nullptr;
  void* block = nullptr;
  if (!ptr) {
    block = self->TakeBlock(newSize);
  } else if (oldSize > kPoolMax && newSize > kPoolMax) {
    block = std::realloc(ptr, newSize);
  } else if (oldSize <= kPoolMax && newSize <= kPoolMax && (oldSize - 1) / kPoolStep == (newSize - 1) / kPoolStep) {
    block = ptr;
  } else {
    block = self->TakeBlock(newSize);
    if (block) {
      std::memcpy(block, ptr, oldSize < newSize ? oldSize : newSize);
      self->ReleaseBlock(ptr, oldSize);
    }
  }
  if (block) self->m_memory = self->m_memory - oldSize + newSize;
  return block;
}

void CLua::RequestExit(lua_State* L) {
  m_exitRequested = true;
  lua_sethook(L, &CountHook, LUA_MASKCOUNT, 1);
  if (m_active && m_active != L) lua_sethook(m_active, &CountHook, LUA_MASKCOUNT, 1);
  if (m_state != L) lua_sethook(m_state, &CountHook, LUA_MASKCOUNT, 1);
}

void CLua::CountHook(lua_State* L, lua_Debug*) {
  CLua* self = Owner(L);
  if (self->m_exitRequested) luaL_error(L, "os.exit");
  self->m_instructions += kHookStep;
  if (self->m_options.instructionLimit && self->m_instructions > self->m_options.instructionLimit) {
    self->m_limitReached = true;
    // From now on every instruction raises, so that code catching the error
    // with pcall cannot go on looping.
    lua_sethook(L, &CountHook, LUA_MASKCOUNT, 1);
    luaL_error(L, "instruction limit reached");
  }
}

// coroutine.create and coroutine.wrap under an instruction limit. A new
// coroutine counts its instructions from zero, and one that ends before its
// first count is never counted: each is charged a count's worth when it is
// made, so that endlessly many short ones still reach the limit. Once the
// limit is reached none is made.
int CLua::CountedThread(lua_State* L) {
  CLua* self = Owner(L);
  self->m_instructions += kHookStep;
  if (self->m_instructions > self->m_options.instructionLimit) self->m_limitReached = true;
  if (self->m_limitReached) return luaL_error(L, "instruction limit reached");
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
  return lua_gettop(L);
}

int CLua::Open(lua_State* L) {
  CLua* self = static_cast<CLua*>(lua_touserdata(L, 1));
  luaL_openlibs(L);
  lua_pushcfunction(L, &Print);
  lua_setglobal(L, "print");
  lua_getglobal(L, "os");
  if (lua_istable(L, -1)) {
    lua_pushcfunction(L, &Exit);
    lua_setfield(L, -2, "exit");
  }
  lua_pop(L, 1);
  if (self->m_options.deterministicClock) {
    lua_getglobal(L, "os");
    if (lua_istable(L, -1)) {
      Replace(L, "time", &DeterministicTime);
      Replace(L, "clock", &DeterministicClock);
      Replace(L, "date", &DeterministicDate);
    }
    lua_pop(L, 1);
  }
  lua_pushcfunction(L, &RunProtected);
  self->m_runner = luaL_ref(L, LUA_REGISTRYINDEX);
  lua_pushcfunction(L, &TakeError);
  self->m_errorTaker = luaL_ref(L, LUA_REGISTRYINDEX);
  // The slot of the last looked-up global name (false until the first).
  lua_pushboolean(L, 0);
  self->m_lastName = luaL_ref(L, LUA_REGISTRYINDEX);
  self->Register(L);
  // A game's Lua heap is small and its scripts make short-lived tables at
  // every tag call: letting the heap grow to four times what survived the
  // last collection (rather than twice) halves the collector's marking for
  // the price of a few hundred kilobytes at most.
  lua_gc(L, LUA_GCSETPAUSE, 400);
  if (self->m_options.instructionLimit) {
    lua_getglobal(L, "coroutine");
    if (lua_istable(L, -1)) {
      Replace(L, "create", &CountedThread);
      Replace(L, "wrap", &CountedThread);
    }
    lua_pop(L, 1);
    lua_sethook(L, &CountHook, LUA_MASKCOUNT, kHookStep);
  }
  return 0;
}

void CLua::Start() {
  m_state = lua_newstate(&Allocate, this);
  if (!m_state) {
    DrainPool();
    SetErrorText(std::string("cannot create a Lua state"));
    return;
  }
  lua_atpanic(m_state, [](lua_State*) -> int { std::abort(); });
  if (lua_cpcall(m_state, &Open, this) != 0) {
    TakeErrorValue(m_state, this);
    lua_close(m_state);
    m_state = nullptr;
  }
}

int32_t CLua::ToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// ---- Calls -----------------------------------------------------------------

namespace {

// Looks the global up and calls it; in its own protected call, so that a
// _G whose __index raises is reported like any other error.
int CallGlobal(lua_State* L) {
  auto* context = static_cast<CLua::CallContext*>(lua_touserdata(L, 1));
  lua_getfield(L, LUA_GLOBALSINDEX, context->text);
  return 1;
}

}  // namespace

int CLua::RunProtected(lua_State* L) {
  auto* context = static_cast<CallContext*>(lua_touserdata(L, 1));
  CLua* self = context->self;
  lua_settop(L, 0);
  int status = 0;
  if (context->chunk) {
    if (self->m_options.refuseBinary && context->size && context->text[0] == LUA_SIGNATURE[0]) {
      lua_pushliteral(L, "precompiled chunks are not accepted");
      status = LUA_ERRSYNTAX;
    } else {
      status = luaL_loadbuffer(L, context->text, context->size, context->text);
      if (status == 0) status = lua_pcall(L, 0, 0, 0);
    }
  } else {
    bool guarded = lua_getmetatable(L, LUA_GLOBALSINDEX) != 0;
    if (guarded) lua_pop(L, 1);
    if (!guarded) {
      // Plain globals: a raw lookup cannot raise but for memory. The name
      // is kept for the next call (see CallFunction).
      lua_pushstring(L, context->text);
      lua_pushvalue(L, -1);
      lua_rawseti(L, LUA_REGISTRYINDEX, self->m_lastName);
      lua_rawget(L, LUA_GLOBALSINDEX);
    } else {
      // _G has a metatable whose __index may raise (strict-globals modules):
      // look up in a protected call of its own.
      lua_pushcfunction(L, &CallGlobal);
      lua_pushlightuserdata(L, context);
      status = lua_pcall(L, 1, 1, 0);
    }
    if (status == 0) {
      int arguments = self->PushSelf(L);
      status = lua_pcall(L, arguments, 0, 0);
    }
  }
  if (status != 0) {
    context->failed = true;
    TakeErrorValue(L, self);
  }
  return 0;
}

int CLua::TakeError(lua_State* L) {
  TakeErrorValue(L, Owner(L));
  return 0;
}

bool CLua::Enter(lua_State*& L) {
  if (!m_state) return false;
  if (m_exitRequested) {
    SetErrorText("os.exit", 7);
    return false;
  }
  if (m_depth >= kMaxDepth) {
    static const char kDeep[] = "Lua calls nested too deeply";
    SetErrorText(kDeep, sizeof kDeep - 1);
    return false;
  }
  if (m_depth > 0 && m_limitReached) {
    static const char kLimit[] = "instruction limit reached";
    SetErrorText(kLimit, sizeof kLimit - 1);
    return false;
  }
  L = m_active ? m_active : m_state;
  if (m_depth == 0) {
    m_instructions = 0;
    m_limitReached = false;
    if (m_options.instructionLimit) lua_sethook(L, &CountHook, LUA_MASKCOUNT, kHookStep);
  }
  ++m_depth;
  return true;
}

bool CLua::Call(const char* text, size_t size, bool chunk) {
  lua_State* L = nullptr;
  if (!Enter(L)) return true;
  CallContext context{this, text, size, chunk, false};
  lua_State* saved = m_active;
  // The runner is kept in the registry: lua_cpcall would make a new closure
  // on every call. Pushing it and the context cannot raise.
  lua_rawgeti(L, LUA_REGISTRYINDEX, m_runner);
  lua_pushlightuserdata(L, &context);
  int status = lua_pcall(L, 1, 0, 0);
  --m_depth;
  m_active = saved;
  if (status != 0) {
    // Only running out of memory gets here; the message is a plain string.
    size_t length = 0;
    const char* message = lua_tolstring(L, -1, &length);
    if (message) SetErrorText(message, length);
    lua_pop(L, 1);
    return true;
  }
  return context.failed;
}

bool CLua::RunChunk(const std::string& text) { return Call(text.c_str(), text.size(), true); }

bool CLua::CallFunction(const std::string& name) {
  lua_State* L = nullptr;
  if (!Enter(L)) return true;
  // The usual case, a handler called again and again: the name is the one
  // the last lookup kept in the registry and _G is a plain table. Then the
  // lookup and the engine object are raw reads that cannot raise, and one
  // protected call runs the function.
  const int top = lua_gettop(L);
  lua_rawgeti(L, LUA_REGISTRYINDEX, m_lastName);
  size_t size = 0;
  const char* last = lua_type(L, -1) == LUA_TSTRING ? lua_tolstring(L, -1, &size) : nullptr;
  if (!last || size != name.size() || std::memcmp(last, name.data(), size) != 0 ||
      lua_getmetatable(L, LUA_GLOBALSINDEX)) {
    lua_settop(L, top);
    --m_depth;
    return Call(name.c_str(), name.size(), false);
  }
  lua_rawget(L, LUA_GLOBALSINDEX);
  lua_State* saved = m_active;
  int status = lua_pcall(L, PushSelf(L), 0, 0);
  if (status != 0) {
    // The error value may be of any type and its __tostring may raise or
    // run out of memory: it is read in a protected call too.
    lua_rawgeti(L, LUA_REGISTRYINDEX, m_errorTaker);
    lua_insert(L, -2);
    if (lua_pcall(L, 1, 0, 0) != 0) {
      size_t length = 0;
      const char* message = lua_tolstring(L, -1, &length);
      if (message) SetErrorText(message, length);
    }
  }
  --m_depth;
  m_active = saved;
  lua_settop(L, top);
  return status != 0;
}

bool CLua::CheckSyntax(const std::string& text, std::string& error) {
  lua_State* L = luaL_newstate();
  if (!L) {
    error = "cannot create a Lua state";
    return true;
  }
  bool failed = luaL_loadbuffer(L, text.c_str(), text.size(), text.c_str()) != 0;
  if (failed) {
    const char* message = lua_tostring(L, -1);
    error = message ? message : "out of memory";
  }
  lua_close(L);
  return failed;
}
