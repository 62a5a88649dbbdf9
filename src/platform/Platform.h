// The engine's only door to the operating system: windows and their messages,
// key and pointer state, the clock, message boxes and presenting frames.
// Two backends stand behind it: SDL (a real window) and headless (no window,
// a virtual clock and scripted input). Nothing outside src/platform includes
// SDL or OS headers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "platform/VirtualKeys.h"

namespace platform {

enum class Backend { Sdl, Headless };

// Starts the chosen backend. Returns true on failure.
bool Init(Backend backend);
void Shutdown();
Backend GetBackend();
bool IsHeadless();

// ---- Time ---------------------------------------------------------------
// Milliseconds of a monotonic clock, wrapping like a 32-bit counter. In a
// headless run this is the virtual clock.
uint32_t GetTimeMs();
// Sleeps about ms milliseconds; does nothing in a headless run.
void SleepMs(uint32_t ms);
// Headless virtual clock, in 1/1024 ms ticks. It starts at 1,000,000 ms.
uint64_t GetVirtualTicks();
void SetVirtualTicks(uint64_t ticks);
constexpr uint64_t kVirtualClockStartMs = 1000000;
// True when the engine runs on the virtual clock: always in a headless run,
// and with a window while a play is recorded (so that a headless replay of it
// sees the same times). GetTimeMs then reads the virtual clock and SleepMs
// does nothing; whoever asked for it paces the frames in real time.
bool UsesVirtualClock();
void SetVirtualClock(bool on);

// ---- Message boxes ------------------------------------------------------
// Shows caption and text (CP932) with an error icon and returns when it is
// dismissed. Without a display the text goes to stderr as UTF-8.
void ShowErrorBox(const std::string& captionCp932, const std::string& textCp932);

// ---- Windows ------------------------------------------------------------
using WindowHandle = uint32_t;  // 0 is no window

// Window procedure: returns false when it handled the message (result then
// holds the answer), true to let the default handling run.
using WindowProc =
    std::function<bool(WindowHandle, uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result)>;

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
};
struct Point {
  int x = 0, y = 0;
};

// Window classes: registering a name twice fails (true), as the engine expects.
bool RegisterWindowClass(const std::string& className);
void UnregisterWindowClass(const std::string& className);

struct CreateWindowArgs {
  std::string className;
  std::string titleCp932;
  uint32_t style = 0;
  int x = 0, y = 0;           // outer position
  int width = 0, height = 0;  // outer size
  WindowHandle parent = 0;
  int showCommand = SW_SHOWNORMAL;
};
// Returns 0 on failure (unknown class, no display).
WindowHandle CreateWindow(const CreateWindowArgs& args);
void DestroyWindow(WindowHandle window);
void SetWindowProc(WindowHandle window, WindowProc proc);  // the "core" property
void ClearWindowProc(WindowHandle window);
void ShowWindow(WindowHandle window, int showCommand);
void SetWindowStyle(WindowHandle window, uint32_t style);
void SetWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int width, int height, uint32_t flags);
void SetWindowTitle(WindowHandle window, const std::string& titleCp932);
std::string GetWindowTitle(WindowHandle window);
// Outer size of a window whose client area is clientWidth x clientHeight.
Rect AdjustWindowRect(const Rect& client, uint32_t style);
Rect GetClientRect(WindowHandle window);
void GetScreenSize(int& width, int& height);
// The screen size GetScreenSize reports from now on (-screen WxH); 0 x 0
// goes back to the device's.
void SetScreenSizeOverride(int width, int height);

// ---- Messages -----------------------------------------------------------
struct Message {
  WindowHandle window = 0;
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};
// True when a message waits; it stays in the queue.
bool PeekMessage(Message& out);
// Takes the next message (waiting for one); false when it is WM_QUIT.
bool GetMessage(Message& out);
// Hands a message to its window's procedure, or to the default handling.
intptr_t DispatchMessage(const Message& message);
void PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
void PostQuitMessage(int exitCode);

// ---- Key and pointer state ---------------------------------------------
// True while the key or button (Windows virtual-key code 0-255) is down.
bool IsKeyDown(int virtualKey);
// Pointer in client coordinates of the window.
Point GetCursorClientPos(WindowHandle window);
bool IsForegroundWindow(WindowHandle window);
bool AreMouseButtonsSwapped();

// Scripted input (the -input driver): it holds keys down and places the
// pointer on top of what the devices report.
void InjectKey(int virtualKey, bool down);
void InjectCursor(WindowHandle window, int x, int y);

// ---- Presenting ---------------------------------------------------------
// Shows a 32-bit top-down frame (bytes B, G, R, A) in the window's client area.
void PresentFrame(WindowHandle window, const uint8_t* pixels, int width, int height, int pitch);
// The last frame presented (tightly packed BGRA); true when none yet.
[[nodiscard]] bool GetLastFrame(std::vector<uint8_t>& pixels, int& width, int& height);

// ---- OpenGL ES 2 -------------------------------------------------------
// An OpenGL ES 2.0 context current on the window, for a GPU renderer; null
// when the backend or the machine has none. While it lives the window shows
// what GL draws and PresentFrame does nothing for it.
using GlContext = void*;
GlContext CreateGlContext(WindowHandle window);
void DestroyGlContext(WindowHandle window, GlContext context);
// Shows the frame GL drew (vertical sync); true on failure (context lost).
[[nodiscard]] bool SwapGlBuffers(WindowHandle window);
void* GetGlProcAddress(const char* name);
// True when the context can no longer draw (a driver reset or a lost
// current binding): everything it held is gone.
bool IsGlContextLost(WindowHandle window, GlContext context);
// Test aid: the window's context is lost as after a driver reset.
void LoseGlContext(WindowHandle window);
// Why the last CreateGlContext failed ("call: NAME - description").
std::string GetGlContextError();
// A GPU renderer keeps its frame on the GPU: it reads it back only when
// GetLastFrame asks. Fills pixels (tightly packed BGRA); true when none.
using FrameReader = std::function<bool(std::vector<uint8_t>& pixels, int& width, int& height)>;
void SetFrameReader(FrameReader reader);

}  // namespace platform
