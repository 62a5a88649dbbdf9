// Runs arbitrary text as a Lua block the way a script's loading does, then
// calls its function f with the engine object the way calllua does. The
// harness alone takes away what could touch the machine (processes, files,
// C modules, exiting) and caps instructions and memory; everything the
// bridge offers stays.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "lua/Lua.h"

namespace {

class FuzzHost : public ILuaHost {
 public:
  void LuaDebug(const std::string& text) override { sink += text.size(); }
  void LuaRejected(const std::string& text) override { sink += text.size(); }
  uint32_t LuaNow() override { return 1000000 + static_cast<uint32_t>(sink); }
  int LuaRandom() override { return static_cast<int>(sink & 0xFFFF); }
  void LuaTag(const CScriptBlock& record) override {
    sink += record.m_attributes.size();
    // calllua from Lua comes back in, as in the engine.
    if (record.m_text == "calllua" && lua) (void)lua->CallFunction(record.GetAttribute("function"));
  }
  std::string LuaEvaluate(const std::string& expression) override { return expression.substr(0, 8); }
  int LuaGetState() override { return state; }
  void LuaSetState(int value) override { state = value; }
  void LuaSetFrameHandler(const std::string& name) override { handler = name; }
  bool LuaKey(int kind, int key) override { return (key & 1) != 0; }
  void LuaPointer(int& x, int& y) override { x = y = 7; }

  size_t sink = 0;
  int state = 0;
  std::string handler;
  CQelLua* lua = nullptr;
};

const char kSandbox[] =
    "os.execute, io.popen, io.open, io.lines, io.input, io.output, os.remove, os.rename, os.exit, os.tmpname = nil\n"
    "dofile, loadfile, require, module = nil\n"
    "package.loadlib, package.cpath, package.loaders = nil, '', {}\n"
    "string.dump = nil\n"
    // Each conversion of a date format reads the time zone file: a long
    // format, or many calls, would hold one input for minutes.
    "local date0, dates = os.date, 0\n"
    "os.date = function(f, ...) dates = dates + 1\n"
    "  if dates > 1000 or (type(f) == 'string' and #f > 256) then error('date limit') end\n"
    "  return date0(f, ...) end\n"
    "local load0, loadstring0 = load, loadstring\n"
    "local function text(s) if type(s) == 'string' and s:byte(1) == 27 then error('binary chunk') end return s end\n"
    "loadstring = function(s, ...) return loadstring0(text(s), ...) end\n"
    "load = function(f, ...) if type(f) ~= 'function' then return nil end\n"
    "  local first = true\n"
    "  return load0(function() local s = f() if first then first = false text(s) end return s end, ...) end\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CLua::Options options;
  options.instructionLimit = 200000;
  options.memoryLimit = 16 << 20;
  options.deterministicClock = true;
  options.refuseBinary = true;
  FuzzHost host;
  CQelLua lua(&host, options);
  if (!lua.IsOpen()) return 0;
  host.lua = &lua;
  if (lua.RunChunk(kSandbox)) std::abort();
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)lua.RunChunk(text);
  (void)lua.CallFunction("f");
  if (!host.handler.empty()) (void)lua.CallFunction(host.handler);
  return 0;
}
