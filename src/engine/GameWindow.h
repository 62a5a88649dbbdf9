// The game's window: a fixed-size client area for the scene, and the switch
// between windowed and full-screen display with black bars.
#pragma once

#include "engine/Window.h"

// Where the main window and the two bars go in full-screen mode.
struct FullscreenLayout {
  platform::Rect main;  // left, top, right (= left + width), bottom
  platform::Rect bar1;
  platform::Rect bar2;
  float scale = 1.0f;
};
FullscreenLayout ComputeFullscreenLayout(int screenWidth, int screenHeight, int sceneWidth, int sceneHeight);

class CGameWindow : public CWindow {
 public:
  ~CGameWindow() override;

  int GetX() const override { return fullscreen_ ? 0 : x_; }
  int GetY() const override { return fullscreen_ ? 0 : y_; }

  virtual bool Open(int x, int y, int width, int height, const std::string& className, const std::string& title,
                    uint32_t style, int showCommand, platform::WindowHandle parent);
  virtual void ToggleFullscreen();
  virtual bool IsFullscreen() const { return fullscreen_; }
  virtual float GetScale() const { return scale_; }
  // Where the scene's area starts on the screen in full screen, (0, 0) in a
  // window: a pointer at screen position P is at P minus this in the client.
  platform::Point GetFullscreenOffset() const { return fullscreen_ ? offset_ : platform::Point{}; }

  int GetSceneWidth() const { return sceneWidth_; }
  int GetSceneHeight() const { return sceneHeight_; }

 protected:
  void DestroyBars();

  CWindow* bar1_ = nullptr;
  CWindow* bar2_ = nullptr;
  bool fullscreen_ = false;
  float scale_ = 1.0f;
  platform::Point offset_;
  int sceneWidth_ = 0, sceneHeight_ = 0;
  uint32_t windowedStyle_ = 0;
};
