// Scripted input for authors and CI: a driver file of timed actions (keys,
// pointer, wheel, screenshots, variable dumps, quit) and a frame limit.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/GameApplication.h"
#include "platform/Platform.h"

class CInputDriver : public CGameApplication::IFrameHooks {
 public:
  struct Action {
    int frame = 0;
    std::string verb;  // down, up, move, wheel, sleep, quit, or a writer's verb (shot, dumpvars, ...)
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
  // Writers behind the actions that take a file name, other than shot and
  // dumpvars: the text a subsystem wants written at the end of that frame
  // (logwindow, layers, ...). The verbs are the ones FileVerbs() lists.
  using TextWriter = std::function<std::string()>;
  void SetWriter(const std::string& verb, TextWriter writer) { writers_[verb] = std::move(writer); }
  static const std::vector<std::string>& FileVerbs();
  // move and click positions are where the player's pointer would be: in the
  // window's client area, or on the screen in full screen. This tells where
  // the client area starts on the screen then ((0, 0) in a window).
  void SetPointerOffset(std::function<platform::Point()> offset) { offset_ = std::move(offset); }

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
  std::function<platform::Point()> offset_;
  std::map<std::string, TextWriter> writers_;
};

// Writes a BGRA frame as an RGB PNG; true on failure.
bool WriteScreenshotPng(const std::string& nativePath, const std::vector<uint8_t>& bgra, int width, int height);
// Writes text to a file as it stands; true on failure.
bool WriteTextFile(const std::string& nativePath, const std::string& text);
