#include "engine/GameWindow.h"

#include <cmath>

FullscreenLayout ComputeFullscreenLayout(int sw, int sh, int width, int height) {
  FullscreenLayout layout;
  float a = static_cast<float>(width) / static_cast<float>(height);
  float s = static_cast<float>(sw) / static_cast<float>(sh);
  if (s > a) {
    int w = static_cast<int>(std::floor(static_cast<float>(sh) * a + 0.5f));
    int b = (sw - w) / 2;
    layout.bar1 = platform::Rect{0, 0, b, sh};
    layout.bar2 = platform::Rect{b + w, 0, b + w + b, sh};
    layout.main = platform::Rect{b, 0, b + w, sh};
    layout.scale = static_cast<float>(sh) / static_cast<float>(height);
  } else {
    int h = static_cast<int>(std::floor(static_cast<float>(sw) / a + 0.5f));
    int b = (sh - h) / 2;
    layout.bar1 = platform::Rect{0, 0, sw, b};
    layout.bar2 = platform::Rect{0, b + h, sw, b + h + b};
    layout.main = platform::Rect{0, b, sw, b + h};
    layout.scale = static_cast<float>(sw) / static_cast<float>(width);
  }
  return layout;
}

CGameWindow::~CGameWindow() { DestroyBars(); }

void CGameWindow::DestroyBars() {
  delete bar1_;
  delete bar2_;
  bar1_ = bar2_ = nullptr;
}

bool CGameWindow::Open(int x, int y, int width, int height, const std::string& className, const std::string& title,
                       uint32_t style, int showCommand, platform::WindowHandle parent) {
  if (Create(x, y, width, height, className, title, style, showCommand, parent)) return true;
  sceneWidth_ = width;
  sceneHeight_ = height;
  windowedStyle_ = style;
  DestroyBars();
  bar1_ = new CWindow();
  bar2_ = new CWindow();
  if (bar1_->Create(0, 0, 1, 1, className + "#childLeft", std::string(), platform::WS_POPUP, platform::SW_HIDE,
                    handle_))
    return true;
  if (bar2_->Create(0, 0, 1, 1, className + "#childRight", std::string(), platform::WS_POPUP, platform::SW_HIDE,
                    handle_))
    return true;
  return false;
}

void CGameWindow::ToggleFullscreen() {
  using namespace platform;
  if (!bar1_ || !bar2_) return;
  if (!fullscreen_) {
    SetWindowStyle(handle_, WS_POPUP);
    int sw = 0, sh = 0;
    GetScreenSize(sw, sh);
    FullscreenLayout l = ComputeFullscreenLayout(sw, sh, sceneWidth_, sceneHeight_);
    auto place = [](WindowHandle w, const Rect& r, uint32_t flags) {
      SetWindowPos(w, HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top, flags);
    };
    place(bar1_->GetHandle(), l.bar1, SWP_SHOWWINDOW | SWP_NOCOPYBITS);
    place(bar2_->GetHandle(), l.bar2, SWP_SHOWWINDOW | SWP_NOCOPYBITS);
    place(handle_, l.main, SWP_SHOWWINDOW | SWP_NOCOPYBITS | SWP_FRAMECHANGED);
    scale_ = l.scale;
    offset_ = platform::Point{l.main.left, l.main.top};
    fullscreen_ = true;
  } else {
    ShowWindow(bar1_->GetHandle(), SW_HIDE);
    ShowWindow(handle_, SW_HIDE);
    ShowWindow(bar2_->GetHandle(), SW_HIDE);
    SetWindowStyle(handle_, windowedStyle_);
    Rect outer = AdjustWindowRect(Rect{0, 0, sceneWidth_, sceneHeight_}, windowedStyle_);
    SetWindowPos(handle_, HWND_NOTOPMOST, x_, y_, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_SHOWWINDOW | SWP_NOCOPYBITS | SWP_FRAMECHANGED);
    scale_ = 1.0f;
    fullscreen_ = false;
  }
}
