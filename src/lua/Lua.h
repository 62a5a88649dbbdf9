// The Lua bridge: one Lua 5.1 state (CLua) and the engine object that Lua
// code calls into (CQelLua).
//
// Lua raises errors with longjmp. Every call into Lua made here runs inside
// lua_cpcall, and the C functions that Lua calls keep no C++ object with a
// destructor alive while they call anything that can raise; C++ exceptions
// are caught before they could reach Lua. So a Lua error never skips a
// destructor and never escapes as a crash, whatever the Lua code does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ScriptBlock.h"
#include "lua/LuaHost.h"

struct lua_State;

class CLua {
 public:
  struct Options {
    // Instructions one top-level call may run before it is stopped with a
    // Lua error (0: no limit).
    uint64_t instructionLimit = 0;
    // Bytes the state may hold (0: no limit).
    size_t memoryLimit = 0;
    // os.time, os.clock and os.date without a time read ClockMs() from a
    // fixed date instead of the wall clock, so that runs repeat.
    bool deterministicClock = false;
    // Refuse precompiled chunks in RunChunk.
    bool refuseBinary = false;
  };

  // Nested calls into Lua (a tag that calls Lua that runs a tag ...) deeper
  // than this fail with an error instead of exhausting the C stack.
  static constexpr int kMaxDepth = 60;

  CLua();
  explicit CLua(const Options& options);
  virtual ~CLua();
  CLua(const CLua&) = delete;
  CLua& operator=(const CLua&) = delete;

  // False when the state could not be created or its libraries opened.
  bool IsOpen() const { return m_state != nullptr; }
  lua_State* GetState() const { return m_state; }
  const std::string& GetErrorText() const { return m_errorText; }
  void SetErrorText(const char* text, size_t size) noexcept;
  void SetErrorText(const std::string& text) noexcept { SetErrorText(text.data(), text.size()); }

  // Compiles the text (named by its own text) and runs it with no arguments;
  // true on failure, with the error text set.
  [[nodiscard]] bool RunChunk(const std::string& text);
  // Calls the global function name with the engine object as its only
  // argument (none in a plain CLua); true on failure, with the error text set.
  [[nodiscard]] bool CallFunction(const std::string& name);
  // Compiles without running; true on failure with the message in error.
  static bool CheckSyntax(const std::string& text, std::string& error);

  // The clock of the deterministic os functions, in milliseconds.
  virtual uint32_t ClockMs() { return 0; }
  // A method argument was refused (the error text holds the message).
  virtual void OnRejected() {}

  // The state whose C function runs now: nested calls made while a method
  // runs use its stack. Returns the previous one.
  lua_State* SetActive(lua_State* L) {
    lua_State* previous = m_active;
    m_active = L;
    return previous;
  }

  // os.exit ran: the call that ran it was unwound, and every later call
  // fails at once. The owner closes the game through its usual path.
  bool IsExitRequested() const { return m_exitRequested; }
  // Marks the exit and makes every further instruction of L raise, so that
  // a pcall in Lua code cannot swallow it.
  void RequestExit(lua_State* L);

  // Converts a Lua number to int32: truncates toward zero, saturates, NaN 0.
  static int32_t ToInt32(double value);

  // ---- Internals used by the C functions of the bridge -------------------
  struct CallContext;
  static int RunProtected(lua_State* L);
  static int TakeError(lua_State* L);
  static int Open(lua_State* L);
  static void CountHook(lua_State* L, struct lua_Debug* ar);
  static int CountedThread(lua_State* L);
  static void* Allocate(void* ud, void* ptr, size_t oldSize, size_t newSize);

 protected:
  // Adds what the derived class registers (called inside the protected open).
  virtual void Register(lua_State* L) {}
  // Pushes the argument the engine passes to called functions (nothing: 0).
  // Runs outside any protected call: it must not raise (raw reads only).
  virtual int PushSelf(lua_State* L) { return 0; }
  void Close();

 private:
  // Checks and counts a call about to start on L (the active state); false
  // when it must not run (the error text says why).
  bool Enter(lua_State*& L);
  bool Call(const char* text, size_t size, bool chunk);
  void Start();
  void* TakeBlock(size_t size);
  void ReleaseBlock(void* ptr, size_t size);
  void DrainPool();

  // The small-block pool of the allocator: free lists of blocks up to
  // kPoolMax bytes in steps of kPoolStep, holding at most kPoolBytesMax.
  static constexpr size_t kPoolStep = 16;
  static constexpr size_t kPoolMax = 256;
  static constexpr size_t kPoolBytesMax = 512 * 1024;
  struct FreeBlock {
    FreeBlock* next;
  };
  FreeBlock* m_pool[kPoolMax / kPoolStep] = {};
  size_t m_pooledBytes = 0;

  Options m_options;
  lua_State* m_state = nullptr;
  std::string m_errorText;
  size_t m_memory = 0;
  uint64_t m_instructions = 0;
  // The instruction limit was reached in the call running now: nothing new
  // starts (no nested call, no coroutine) until it has returned.
  bool m_limitReached = false;
  int m_depth = 0;
  bool m_exitRequested = false;
  // Registry references: the protected runner, the reader of error values,
  // and the last global name looked up (a Lua string once one was).
  int m_runner = 0;
  int m_errorTaker = 0;
  int m_lastName = 0;
  // The state whose C function is running now (nested calls use its stack).
  lua_State* m_active = nullptr;
};

// The engine object: Lua code reaches the interpreter through its methods.
class CQelLua : public CLua {
 public:
  CQelLua(ILuaHost* host, const Options& options);
  ~CQelLua() override;

  ILuaHost* GetHost() const { return m_host; }
  uint32_t ClockMs() override;
  void OnRejected() override;

  // Scratch space of the methods: results and records live here rather than
  // in the C functions, where a Lua error could skip their destructors.
  std::string m_scratchText;
  // The records the tag method builds, one per nesting level (a tag may run
  // Lua that calls the tag method again), kept between calls with spare map
  // nodes so that building a record reuses their memory.
  std::vector<std::unique_ptr<CScriptBlock>> m_records;
  std::vector<CScriptBlock::AttributeMap::node_type> m_spareNodes;
  // The attributes the tag method set in the record it is building, and the
  // name being looked up (kept to spare an allocation per attribute).
  std::vector<CScriptBlock::AttributeMap::iterator> m_setAttributes;
  std::string m_attributeName;
  int m_tagDepth = 0;
  // The engine object's userdata block (what lua_touserdata gives for it).
  const void* m_objectBlock = nullptr;

 protected:
  void Register(lua_State* L) override;
  int PushSelf(lua_State* L) override;

 private:
  ILuaHost* m_host;
};
