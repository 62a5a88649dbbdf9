// Keys and pointer, sampled once per frame: press and release edges, held
// keys with a repeat delay, and the wheel as two pseudo keys.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

class CInputState {
 public:
  enum KeyState { kUp = 0, kPressed = 1, kHeld = 2, kRepeating = 3, kReleased = 4 };
  static constexpr int kWheelUp = 136;
  static constexpr int kWheelDown = 137;

  // The process-wide state, created on first use for the main window.
  static CInputState* Instance(platform::WindowHandle window = 0);
  static void Destroy();

  explicit CInputState(platform::WindowHandle window);

  void Update(uint32_t now);
  bool IsDown(int key);
  bool IsDownEdge(int key);
  bool IsUpEdge(int key);
  bool IsPush(int key);
  void PressWheel(bool up);
  bool IsActive() const;
  bool IsPointerInClient() const;
  // The rectangle is in scene pixels; the pointer is in client pixels.
  bool IsPointInRect(int left, int top, int right, int bottom) const;
  platform::Point GetPointer() const { return pointer_; }
  void SetScale(float scale) { scale_ = scale; }
  float GetScale() const { return scale_; }

  // The raw state of a key (for tests and the debugger).
  int GetState(int key) const { return key >= 0 && key < 256 ? states_[key] : 0; }

 private:
  // Applies the foreground gate and the button swap; -1 when the answer is no.
  int MapKey(int key) const;

  int repeatDelay_ = 500;
  int states_[256] = {};
  uint32_t pressTimes_[256] = {};
  platform::Point pointer_;
  float scale_ = 1.0f;
  platform::WindowHandle window_;
};
