#include "engine/Window.h"

CWindow::~CWindow() { CWindow::Destroy(); }

bool CWindow::Create(int x, int y, int width, int height, const std::string& className, const std::string& title,
                     uint32_t style, int showCommand, platform::WindowHandle parent) {
  Destroy();
  width_ = width;
  height_ = height;
  style_ = style;
  showCommand_ = showCommand;
  platform::Rect outer = platform::AdjustWindowRect(platform::Rect{0, 0, width, height}, style);
  int outerWidth = outer.right - outer.left;
  int outerHeight = outer.bottom - outer.top;
  int screenWidth = 0, screenHeight = 0;
  platform::GetScreenSize(screenWidth, screenHeight);
  if (x == kCentreWindow) x = (screenWidth - outerWidth) / 2;
  if (y == kCentreWindow) y = (screenHeight - outerHeight) / 2;
  x_ = x;
  y_ = y;
  if (platform::RegisterWindowClass(className)) return true;
  className_ = className;
  platform::CreateWindowArgs args;
  args.className = className;
  args.titleCp932 = title;
  args.style = style;
  args.x = x;
  args.y = y;
  args.width = outerWidth;
  args.height = outerHeight;
  args.parent = parent;
  args.showCommand = showCommand;
  handle_ = platform::CreateWindow(args);
  if (!handle_) return false;  // creation itself failing goes unreported
  platform::SetWindowProc(handle_, [this](platform::WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp,
                                          intptr_t& result) { return OnMessage(w, m, wp, lp, result); });
  platform::ShowWindow(handle_, showCommand);
  return false;
}

void CWindow::Destroy() {
  if (!handle_) return;
  platform::ClearWindowProc(handle_);
  platform::DestroyWindow(handle_);
  handle_ = 0;
}

bool CWindow::OnMessage(platform::WindowHandle, uint32_t, uintptr_t, intptr_t, intptr_t&) { return true; }
