// What the Lua bridge needs from the interpreter that owns it. The
// interpreter side implements it; the bridge never sees the interpreter's
// classes, so that it stays below them.
#pragma once

#include <cstdint>
#include <string>

#include "core/ScriptBlock.h"

class ILuaHost {
 public:
  virtual ~ILuaHost() = default;

  // The debug method: the text goes where the error mode sends it.
  virtual void LuaDebug(const std::string& text) = 0;
  // A method argument was refused; text is the message (CP932).
  virtual void LuaRejected(const std::string& text) = 0;
  // Milliseconds of the interpreter's clock (the same as its waits).
  virtual uint32_t LuaNow() = 0;
  // Next number of the interpreter's random generator, 0 to 65535.
  virtual int LuaRandom() = 0;
  // Runs a tag record at once, as a script record would run (not replaying).
  virtual void LuaTag(const CScriptBlock& record) = 0;
  // An expression over the script variables; empty when it fails.
  virtual std::string LuaEvaluate(const std::string& expression) = 0;
  virtual int LuaGetState() = 0;
  // Sets the wait state directly, keeping the old one as the previous state.
  virtual void LuaSetState(int state) = 0;
  // Names the per-frame handler.
  virtual void LuaSetFrameHandler(const std::string& name) = 0;
  // Input: kind 0 push, 1 down, 2 press edge, 3 release edge.
  virtual bool LuaKey(int kind, int key) = 0;
  virtual void LuaPointer(int& x, int& y) = 0;
};
