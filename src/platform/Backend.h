// What each platform backend supplies to the common window and message code.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace platform::detail {

struct WindowInfo {
  WindowHandle handle = 0;
  std::string className;
  std::string titleCp932;
  uint32_t style = 0;
  int x = 0, y = 0, width = 0, height = 0;  // outer geometry
  WindowHandle parent = 0;
  bool visible = false;
  bool topmost = false;  // kept above other windows (HWND_TOPMOST)
  // A pop-up owned by the main window: a plain black window (the bars beside
  // the scene in full screen). The main window is never plain.
  bool plain = false;
  WindowProc proc;
  void* native = nullptr;  // the backend's window, when it made one
};

class IBackend {
 public:
  virtual ~IBackend() = default;
  virtual bool Start() = 0;  // true on failure
  virtual void Stop() = 0;
  virtual bool CanCreateWindows() = 0;
  virtual uint32_t TimeMs() = 0;
  virtual void Sleep(uint32_t ms) = 0;
  // False when the box was shown; true when the caller should print instead.
  virtual bool ShowErrorBox(const std::string& captionUtf8, const std::string& textUtf8) = 0;
  virtual bool CreateNativeWindow(WindowInfo& window) = 0;  // true on failure
  virtual void DestroyNativeWindow(WindowInfo& window) = 0;
  virtual void UpdateNativeWindow(WindowInfo& window) = 0;  // title, geometry, style, visibility
  virtual void PumpEvents() = 0;                            // device events become messages and state
  virtual void WaitForEvents(uint32_t timeoutMs) = 0;
  virtual bool IsKeyDown(int virtualKey) = 0;
  [[nodiscard]] virtual bool GetCursorClientPos(const WindowInfo& window, Point& out) = 0;  // true when unknown
  virtual bool IsForeground(const WindowInfo& window) = 0;
  virtual bool AreMouseButtonsSwapped() = 0;
  virtual void Present(WindowInfo& window, const uint8_t* pixels, int width, int height, int pitch) = 0;
  virtual void GetScreenSize(int& width, int& height) = 0;

  // OpenGL ES 2.0 on a window, for a GPU renderer. Backends without GL keep
  // these defaults, and the renderer falls back to software.
  // Makes a context current on the window; null on failure. While it lives
  // the window shows what GL draws, not Present's frames.
  virtual void* CreateGlContext(WindowInfo& window) { return nullptr; }
  virtual void DestroyGlContext(WindowInfo& window, void* context) {}
  // Shows the frame GL drew; true on failure (the context is lost).
  virtual bool SwapGlBuffers(WindowInfo& window) { return true; }
  virtual void* GetGlProcAddress(const char* name) { return nullptr; }
  // Whether the context can no longer draw (a driver reset, or made current
  // elsewhere).
  virtual bool IsGlContextLost(WindowInfo& window, void* context) { return false; }
  // Test aid: the window's context is lost as after a driver reset.
  virtual void LoseGlContext(WindowInfo& window) {}
  // Why the last CreateGlContext failed.
  virtual std::string GetGlError() { return "no OpenGL ES context on this backend"; }
};

IBackend* CreateSdlBackend();
IBackend* CreateHeadlessBackend();

// For backends: queue a message as if the system had posted it.
void QueueMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// For backends: the top-level window the engine made first, or 0.
WindowHandle MainWindow();
// For the SDL backend: a real pointer motion ends a scripted pointer position.
void ForgetInjectedCursor();

}  // namespace platform::detail
