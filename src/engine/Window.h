// A thin wrapper of one platform window and its messages.
#pragma once

#include <climits>
#include <cstdint>
#include <string>

#include "platform/Platform.h"

class CWindow {
 public:
  CWindow() = default;
  CWindow(const CWindow&) = delete;
  CWindow& operator=(const CWindow&) = delete;
  virtual ~CWindow();

  // x or y equal to INT_MAX centres the window on the screen in that axis.
  // Returns true on failure.
  virtual bool Create(int x, int y, int width, int height, const std::string& className, const std::string& title,
                      uint32_t style, int showCommand, platform::WindowHandle parent);
  virtual void Destroy();
  virtual int GetX() const { return x_; }
  virtual int GetY() const { return y_; }
  virtual int GetWidth() const { return width_; }
  virtual int GetHeight() const { return height_; }
  virtual int GetShowCommand() const { return showCommand_; }
  virtual platform::WindowHandle GetHandle() const { return handle_; }
  // False when the message was handled (result holds the answer), true for
  // the default handling.
  virtual bool OnMessage(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                         intptr_t& result);

 protected:
  platform::WindowHandle handle_ = 0;
  int showCommand_ = 0;
  int x_ = 0, y_ = 0;
  int width_ = 0, height_ = 0;
  uint32_t style_ = 0;
  std::string className_;
};

constexpr int kCentreWindow = INT_MAX;
