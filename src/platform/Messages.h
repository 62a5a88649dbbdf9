// Window message numbers, window styles and flags as the engine knows them.
#pragma once

#include <cstdint>

namespace platform {

constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uint32_t WM_SYSKEYDOWN = 0x0104;
constexpr uint32_t WM_SYSKEYUP = 0x0105;
constexpr uint32_t WM_MOUSEWHEEL = 0x020A;

constexpr uint32_t WS_POPUP = 0x80000000u;
constexpr uint32_t WS_CAPTION = 0x00C00000u;
constexpr uint32_t WS_SYSMENU = 0x00080000u;
constexpr uint32_t WS_MINIMIZEBOX = 0x00020000u;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

constexpr uint32_t SWP_SHOWWINDOW = 0x0040;
constexpr uint32_t SWP_NOCOPYBITS = 0x0100;
constexpr uint32_t SWP_FRAMECHANGED = 0x0020;

// Special insert-after values for SetWindowPos.
constexpr uint32_t HWND_TOPMOST = 0xFFFFFFFFu;
constexpr uint32_t HWND_NOTOPMOST = 0xFFFFFFFEu;

// High word of a WM_MOUSEWHEEL wParam holds the delta; one notch is 120.
constexpr int WHEEL_DELTA = 120;

}  // namespace platform
