// Scripted input for authors and CI: a driver file of timed actions (keys,
// pointer, wheel, screenshots, variable dumps, quit) and a frame limit.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/GameApplication.h"
#include "platform/Platform.h"

class CInputDriver : public CGameApplication::IFrameHooks {
 public:
  struct Action {
    int frame = 0;
    std::string verb;  // down, up, move, wheel, shot, dumpvars, dumpsound, quit
    int key = 0;
    int x = 0, y = 0;
    bool up = false;
    std::string path;
  };

  // Parses a driver file's text. Lines that cannot be understood are left out
  // and described in errors ("line N: ...").
  static std::vector<Action> Parse(const std::string& text, std::vector<std::string>& errors);
  // A key name (RETURN, A, F5, ...) or a decimal code; -1 when unknown.
  static int KeyFromName(const std::string& name);

  CInputDriver(platform::WindowHandle window, std::vector<Action> actions, int frameLimit);

  // Paths of shots and dumps resolve against this folder (the folder the
  // engine was started from).
  void SetBaseDirectory(const std::string& nativeDir) { baseDir_ = nativeDir; }
  void SetDumpVariables(std::function<std::string()> dump) { dump_ = std::move(dump); }
  // The players' state for dumpsound (one line per player).
  void SetDumpSound(std::function<std::string()> dump) { dumpSound_ = std::move(dump); }

  bool BeforeFrame(int frame) override;
  void AfterFrame(int frame) override;

 private:
  std::string Resolve(const std::string& path) const;
  void Close();

  platform::WindowHandle window_;
  std::vector<Action> actions_;
  int frameLimit_;
  bool closed_ = false;
  std::string baseDir_;
  std::function<std::string()> dump_;
  std::function<std::string()> dumpSound_;
};

// Writes a BGRA frame as an RGB PNG; true on failure.
bool WriteScreenshotPng(const std::string& nativePath, const std::vector<uint8_t>& bgra, int width, int height);
