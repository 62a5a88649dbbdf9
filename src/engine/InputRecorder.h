// Recording a play: every input the game sees, written as a driver file that
// `-headless -input FILE` replays frame for frame. While it records, the engine
// runs on the virtual clock (one pacer period per frame) and the recorder
// waits for real time itself, so the play feels as usual.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "engine/GameApplication.h"
#include "platform/Platform.h"

// The engine's version, as recordings and reports name it.
constexpr const char* kVelmiraVersion = "0.9";

class CInputRecorder : public CGameApplication::IFrameHooks {
 public:
  using KeyStates = std::array<bool, 256>;

  // A name CInputDriver::KeyFromName reads back as the same code: the
  // driver's own names where there is one, else the code in three digits.
  static std::string KeyName(int code);
  // FNV-1a (64 bits, hex) over the relative name and bytes of every .iet file
  // under the game folder, in name order; "" when there is none.
  static std::string ScriptChecksum(const std::string& nativeGameFolder);

  // inner (may be null) is the driver whose hooks run first in every frame.
  CInputRecorder(platform::WindowHandle window, CFrameTimer& timer, CGameApplication::IFrameHooks* inner);
  ~CInputRecorder() override;

  // Starts the file with the header comment; true on failure.
  [[nodiscard]] bool Open(const std::string& nativePath, const std::string& gameFolder);
  // Writes what is left and closes the file; true when writing failed.
  bool Close();

  bool BeforeFrame(int frame) override;
  void BeforeUpdate(int frame) override;
  void OnMessage(int frame, const platform::Message& message) override;
  void AfterFrame(int frame) override;

  // The lines for what changed in frame n: key downs and ups, then the
  // pointer when it moved. Kept apart from the device for tests.
  void Record(int frame, const KeyStates& keys, platform::Point pointer);
  // Everything recorded so far that has not gone to the file.
  const std::string& Pending() const { return pending_; }
  // Where the scene's client area starts on the screen ((0, 0) in a window):
  // pointer positions are written as the driver reads them, screen pixels
  // in full screen.
  void SetPointerOffset(std::function<platform::Point()> offset) { offset_ = std::move(offset); }

 private:
  void Flush();

  platform::WindowHandle window_;
  CFrameTimer& timer_;
  CGameApplication::IFrameHooks* inner_;
  FILE* file_ = nullptr;
  bool failed_ = false;
  std::string pending_;
  KeyStates keys_{};
  platform::Point pointer_{-1000000, -1000000};
  std::function<platform::Point()> offset_;
  bool quitWritten_ = false;
  int64_t nextFrameUs_ = 0;
};
