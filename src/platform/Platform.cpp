#include "platform/Platform.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <set>

#include "platform/Backend.h"
#include "platform/TextCodec.h"

namespace platform {
namespace {

struct State {
  std::unique_ptr<detail::IBackend> backend;
  Backend kind = Backend::Headless;
  std::set<std::string> classes;
  std::map<WindowHandle, detail::WindowInfo> windows;
  WindowHandle nextHandle = 1;
  WindowHandle mainWindow = 0;
  std::deque<Message> queue;
  bool injectedKeys[256] = {};
  bool cursorInjected = false;
  Point injectedCursor;
  std::vector<uint8_t> lastFrame;
  int lastWidth = 0, lastHeight = 0;
  uint64_t virtualTicks = kVirtualClockStartMs << 10;
  bool virtualClock = false;
  FrameReader frameReader;
  int screenWidth = 0, screenHeight = 0;
};

State& S() {
  static State state;
  return state;
}

detail::IBackend* B() {
  State& s = S();
  if (!s.backend) s.backend.reset(detail::CreateHeadlessBackend());
  return s.backend.get();
}

detail::WindowInfo* Find(WindowHandle window) {
  auto it = S().windows.find(window);
  return it == S().windows.end() ? nullptr : &it->second;
}

}  // namespace

namespace detail {

void QueueMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  S().queue.push_back({window, message, wParam, lParam});
}

WindowHandle MainWindow() { return S().mainWindow; }

void ForgetInjectedCursor() { S().cursorInjected = false; }

}  // namespace detail

bool Init(Backend backend) {
  State& s = S();
  if (s.backend) s.backend->Stop();
  s.kind = backend;
  s.backend.reset(backend == Backend::Sdl ? detail::CreateSdlBackend() : detail::CreateHeadlessBackend());
  s.virtualTicks = kVirtualClockStartMs << 10;
  s.virtualClock = backend == Backend::Headless;
  return s.backend->Start();
}

void Shutdown() {
  State& s = S();
  for (auto& [handle, info] : s.windows) {
    if (info.native && s.backend) s.backend->DestroyNativeWindow(info);
  }
  s.windows.clear();
  s.classes.clear();
  s.queue.clear();
  s.mainWindow = 0;
  if (s.backend) s.backend->Stop();
  s.backend.reset();
  std::memset(s.injectedKeys, 0, sizeof(s.injectedKeys));
  s.cursorInjected = false;
  s.lastFrame.clear();
  s.lastWidth = s.lastHeight = 0;
  s.virtualClock = false;
  s.frameReader = nullptr;
  s.screenWidth = s.screenHeight = 0;
}

Backend GetBackend() { return S().kind; }
bool IsHeadless() { return S().kind == Backend::Headless; }

uint32_t GetTimeMs() {
  if (S().virtualClock) return static_cast<uint32_t>(S().virtualTicks >> 10);
  return B()->TimeMs();
}
void SleepMs(uint32_t ms) {
  if (!S().virtualClock) B()->Sleep(ms);
}
bool UsesVirtualClock() { return S().virtualClock || S().kind == Backend::Headless; }
void SetVirtualClock(bool on) { S().virtualClock = on || S().kind == Backend::Headless; }
uint64_t GetVirtualTicks() { return S().virtualTicks; }
void SetVirtualTicks(uint64_t ticks) { S().virtualTicks = ticks; }

void ShowErrorBox(const std::string& captionCp932, const std::string& textCp932) {
  std::string caption = ConvertCp932ToUtf8(captionCp932);
  std::string text = ConvertCp932ToUtf8(textCp932);
  if (B()->ShowErrorBox(caption, text)) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
  }
}

bool RegisterWindowClass(const std::string& className) {
  if (!B()->CanCreateWindows()) return true;
  return !S().classes.insert(className).second;
}

void UnregisterWindowClass(const std::string& className) { S().classes.erase(className); }

WindowHandle CreateWindow(const CreateWindowArgs& args) {
  State& s = S();
  if (!s.classes.count(args.className)) return 0;
  detail::WindowInfo info;
  info.handle = s.nextHandle++;
  info.className = args.className;
  info.titleCp932 = args.titleCp932;
  info.style = args.style;
  info.x = args.x;
  info.y = args.y;
  info.width = args.width;
  info.height = args.height;
  info.parent = args.parent;
  info.visible = false;
  if (args.parent == 0 && s.mainWindow == 0) {
    if (B()->CreateNativeWindow(info)) return 0;
    s.mainWindow = info.handle;
  } else if (args.parent != 0 && args.parent == s.mainWindow && (args.style & WS_POPUP)) {
    // Shown as a black window where the backend can make one; a window it
    // cannot make stays a record here, as every other window does.
    info.plain = true;
    (void)B()->CreateNativeWindow(info);
  }
  WindowHandle handle = info.handle;
  s.windows.emplace(handle, std::move(info));
  return handle;
}

void DestroyWindow(WindowHandle window) {
  State& s = S();
  detail::WindowInfo* info = Find(window);
  if (!info) return;
  if (info->native) B()->DestroyNativeWindow(*info);
  if (s.mainWindow == window) s.mainWindow = 0;
  s.windows.erase(window);
}

void SetWindowProc(WindowHandle window, WindowProc proc) {
  if (detail::WindowInfo* info = Find(window)) info->proc = std::move(proc);
}

void ClearWindowProc(WindowHandle window) {
  if (detail::WindowInfo* info = Find(window)) info->proc = nullptr;
}

void ShowWindow(WindowHandle window, int showCommand) {
  if (detail::WindowInfo* info = Find(window)) {
    info->visible = showCommand != SW_HIDE;
    if (info->native) B()->UpdateNativeWindow(*info);
  }
}

void SetWindowStyle(WindowHandle window, uint32_t style) {
  if (detail::WindowInfo* info = Find(window)) {
    info->style = style;
    if (info->native) B()->UpdateNativeWindow(*info);
  }
}

void SetWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int width, int height, uint32_t flags) {
  if (detail::WindowInfo* info = Find(window)) {
    if (insertAfter == HWND_TOPMOST) info->topmost = true;
    if (insertAfter == HWND_NOTOPMOST) info->topmost = false;
    info->x = x;
    info->y = y;
    info->width = width;
    info->height = height;
    if (flags & SWP_SHOWWINDOW) info->visible = true;
    if (info->native) B()->UpdateNativeWindow(*info);
  }
}

void SetWindowTitle(WindowHandle window, const std::string& titleCp932) {
  if (detail::WindowInfo* info = Find(window)) {
    info->titleCp932 = titleCp932;
    if (info->native) B()->UpdateNativeWindow(*info);
  }
}

std::string GetWindowTitle(WindowHandle window) {
  detail::WindowInfo* info = Find(window);
  return info ? info->titleCp932 : std::string();
}

Rect AdjustWindowRect(const Rect& client, uint32_t) {
  // The desktop draws decorations outside the size we ask for.
  return client;
}

Rect GetClientRect(WindowHandle window) {
  detail::WindowInfo* info = Find(window);
  if (!info) return Rect();
  return Rect{0, 0, info->width, info->height};
}

void GetScreenSize(int& width, int& height) {
  if (S().screenWidth > 0 && S().screenHeight > 0) {
    width = S().screenWidth;
    height = S().screenHeight;
    return;
  }
  B()->GetScreenSize(width, height);
}

void SetScreenSizeOverride(int width, int height) {
  S().screenWidth = width;
  S().screenHeight = height;
}

bool PeekMessage(Message& out) {
  State& s = S();
  if (s.queue.empty()) B()->PumpEvents();
  if (s.queue.empty()) return false;
  out = s.queue.front();
  return true;
}

bool GetMessage(Message& out) {
  State& s = S();
  B()->PumpEvents();
  for (int tries = 0; s.queue.empty() && tries < 1000 && !IsHeadless(); ++tries) {
    B()->WaitForEvents(10);
    B()->PumpEvents();
  }
  if (s.queue.empty()) {
    out = Message{};
    return true;
  }
  out = s.queue.front();
  s.queue.pop_front();
  return out.message != WM_QUIT;
}

intptr_t DispatchMessage(const Message& message) {
  detail::WindowInfo* info = Find(message.window);
  if (!info || !info->proc) return 0;
  WindowProc proc = info->proc;  // the procedure may destroy the window
  intptr_t result = 0;
  if (!proc(message.window, message.message, message.wParam, message.lParam, result)) return result;
  return 0;
}

void PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  detail::QueueMessage(window, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) { detail::QueueMessage(0, WM_QUIT, static_cast<uintptr_t>(exitCode), 0); }

bool IsKeyDown(int virtualKey) {
  if (virtualKey < 0 || virtualKey > 255) return false;
  if (S().injectedKeys[virtualKey]) return true;
  // Either shift, control or alt key also counts as the generic one.
  if (virtualKey == VK_SHIFT && (S().injectedKeys[VK_LSHIFT] || S().injectedKeys[VK_RSHIFT])) return true;
  if (virtualKey == VK_CONTROL && (S().injectedKeys[VK_LCONTROL] || S().injectedKeys[VK_RCONTROL])) return true;
  if (virtualKey == VK_MENU && (S().injectedKeys[VK_LMENU] || S().injectedKeys[VK_RMENU])) return true;
  return B()->IsKeyDown(virtualKey);
}

Point GetCursorClientPos(WindowHandle window) {
  State& s = S();
  if (s.cursorInjected) return s.injectedCursor;
  detail::WindowInfo* info = Find(window);
  Point p;
  if (info && !B()->GetCursorClientPos(*info, p)) return p;
  return Point{-1, -1};
}

bool IsForegroundWindow(WindowHandle window) {
  detail::WindowInfo* info = Find(window);
  if (!info) return false;
  return B()->IsForeground(*info);
}

bool AreMouseButtonsSwapped() { return B()->AreMouseButtonsSwapped(); }

void InjectKey(int virtualKey, bool down) {
  if (virtualKey >= 0 && virtualKey <= 255) S().injectedKeys[virtualKey] = down;
}

void InjectCursor(WindowHandle, int x, int y) {
  S().cursorInjected = true;
  S().injectedCursor = Point{x, y};
}

// Headless windows have no native window: their contexts draw off screen.
GlContext CreateGlContext(WindowHandle window) {
  detail::WindowInfo* info = Find(window);
  return info && (info->native || IsHeadless()) ? B()->CreateGlContext(*info) : nullptr;
}

void DestroyGlContext(WindowHandle window, GlContext context) {
  detail::WindowInfo* info = Find(window);
  if (info && context) B()->DestroyGlContext(*info, context);
}

bool SwapGlBuffers(WindowHandle window) {
  detail::WindowInfo* info = Find(window);
  return !info || !(info->native || IsHeadless()) || B()->SwapGlBuffers(*info);
}

void* GetGlProcAddress(const char* name) { return B()->GetGlProcAddress(name); }

bool IsGlContextLost(WindowHandle window, GlContext context) {
  detail::WindowInfo* info = Find(window);
  return !info || !context || B()->IsGlContextLost(*info, context);
}

void LoseGlContext(WindowHandle window) {
  if (detail::WindowInfo* info = Find(window)) B()->LoseGlContext(*info);
}

std::string GetGlContextError() { return B()->GetGlError(); }

void SetFrameReader(FrameReader reader) { S().frameReader = std::move(reader); }

void PresentFrame(WindowHandle window, const uint8_t* pixels, int width, int height, int pitch) {
  State& s = S();
  if (width <= 0 || height <= 0 || !pixels) return;
  s.lastFrame.resize(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    std::memcpy(&s.lastFrame[static_cast<size_t>(y) * width * 4], pixels + static_cast<ptrdiff_t>(y) * pitch,
                static_cast<size_t>(width) * 4);
  }
  s.lastWidth = width;
  s.lastHeight = height;
  if (detail::WindowInfo* info = Find(window)) {
    if (info->native) B()->Present(*info, pixels, width, height, pitch);
  }
}

bool GetLastFrame(std::vector<uint8_t>& pixels, int& width, int& height) {
  State& s = S();
  if (s.frameReader) return s.frameReader(pixels, width, height);
  if (s.lastFrame.empty()) return true;
  pixels = s.lastFrame;
  width = s.lastWidth;
  height = s.lastHeight;
  return false;
}

}  // namespace platform
