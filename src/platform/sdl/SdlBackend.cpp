// The SDL backend: one real window for the engine's main window, device
// events turned into the engine's window messages, frames shown through a
// streaming texture.
#include <SDL2/SDL.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "platform/Backend.h"
#include "platform/TextCodec.h"
#include "platform/sdl/SdlTextView.h"

namespace platform::detail {
namespace {

// Virtual-key code for an SDL scancode, 0 when the engine has no use for it.
int ScancodeToVirtualKey(SDL_Scancode sc) {
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'A' + (sc - SDL_SCANCODE_A);
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
  if (sc == SDL_SCANCODE_0) return '0';
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return VK_F1 + (sc - SDL_SCANCODE_F1);
  if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) return VK_NUMPAD0 + 1 + (sc - SDL_SCANCODE_KP_1);
  switch (sc) {
    case SDL_SCANCODE_KP_0: return VK_NUMPAD0;
    case SDL_SCANCODE_RETURN: return VK_RETURN;
    case SDL_SCANCODE_KP_ENTER: return VK_RETURN;
    case SDL_SCANCODE_ESCAPE: return VK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE: return VK_BACK;
    case SDL_SCANCODE_TAB: return VK_TAB;
    case SDL_SCANCODE_SPACE: return VK_SPACE;
    case SDL_SCANCODE_PAUSE: return VK_PAUSE;
    case SDL_SCANCODE_CAPSLOCK: return VK_CAPITAL;
    case SDL_SCANCODE_PAGEUP: return VK_PRIOR;
    case SDL_SCANCODE_PAGEDOWN: return VK_NEXT;
    case SDL_SCANCODE_END: return VK_END;
    case SDL_SCANCODE_HOME: return VK_HOME;
    case SDL_SCANCODE_LEFT: return VK_LEFT;
    case SDL_SCANCODE_UP: return VK_UP;
    case SDL_SCANCODE_RIGHT: return VK_RIGHT;
    case SDL_SCANCODE_DOWN: return VK_DOWN;
    case SDL_SCANCODE_INSERT: return VK_INSERT;
    case SDL_SCANCODE_DELETE: return VK_DELETE;
    case SDL_SCANCODE_LSHIFT: return VK_LSHIFT;
    case SDL_SCANCODE_RSHIFT: return VK_RSHIFT;
    case SDL_SCANCODE_LCTRL: return VK_LCONTROL;
    case SDL_SCANCODE_RCTRL: return VK_RCONTROL;
    case SDL_SCANCODE_LALT: return VK_LMENU;
    case SDL_SCANCODE_RALT: return VK_RMENU;
    case SDL_SCANCODE_KP_MULTIPLY: return 0x6A;
    case SDL_SCANCODE_KP_PLUS: return 0x6B;
    case SDL_SCANCODE_KP_MINUS: return 0x6D;
    case SDL_SCANCODE_KP_PERIOD: return 0x6E;
    case SDL_SCANCODE_KP_DIVIDE: return 0x6F;
    case SDL_SCANCODE_PRINTSCREEN: return 0x2C;
    case SDL_SCANCODE_LGUI: return 0x5B;
    case SDL_SCANCODE_RGUI: return 0x5C;
    case SDL_SCANCODE_APPLICATION: return 0x5D;
    case SDL_SCANCODE_NUMLOCKCLEAR: return 0x90;
    case SDL_SCANCODE_SCROLLLOCK: return 0x91;
    case SDL_SCANCODE_SEMICOLON: return 0xBA;
    case SDL_SCANCODE_EQUALS: return 0xBB;
    case SDL_SCANCODE_COMMA: return 0xBC;
    case SDL_SCANCODE_MINUS: return 0xBD;
    case SDL_SCANCODE_PERIOD: return 0xBE;
    case SDL_SCANCODE_SLASH: return 0xBF;
    case SDL_SCANCODE_GRAVE: return 0xC0;
    case SDL_SCANCODE_LEFTBRACKET: return 0xDB;
    case SDL_SCANCODE_BACKSLASH: return 0xDC;
    case SDL_SCANCODE_RIGHTBRACKET: return 0xDD;
    case SDL_SCANCODE_APOSTROPHE: return 0xDE;
    case SDL_SCANCODE_NONUSBACKSLASH: return 0xE2;
    default:
      if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F24) return 0x7C + (sc - SDL_SCANCODE_F13);
      return 0;
  }
}

// Virtual-key code of a key as the keyboard layout names it: letter keys go
// by the letter they type (the A key of an AZERTY keyboard is 'A', where its
// position would say 'Q'); digits and everything else go by position, as the
// system's own codes do.
int KeyToVirtualKey(const SDL_Keysym& key) {
  if (key.sym >= SDLK_a && key.sym <= SDLK_z) return 'A' + (key.sym - SDLK_a);
  switch (key.sym) {
    case SDLK_SEMICOLON: return 0xBA;
    case SDLK_COMMA: return 0xBC;
    case SDLK_PERIOD: return 0xBE;
    case SDLK_SLASH: return 0xBF;
    default: break;
  }
  return ScancodeToVirtualKey(key.scancode);
}

class SdlBackend : public IBackend {
 public:
  bool Start() override {
    if (SDL_Init(SDL_INIT_EVENTS | SDL_INIT_TIMER) != 0) return true;
    videoOk_ = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    std::memset(keys_, 0, sizeof(keys_));
    return false;
  }

  void Stop() override {
    SdlTextViewsDetachAll();
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    texture_ = nullptr;
    renderer_ = nullptr;
    SDL_Quit();
  }

  bool CanCreateWindows() override { return videoOk_; }

  uint32_t TimeMs() override {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
  }

  void Sleep(uint32_t ms) override {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {}
  }

  bool ShowErrorBox(const std::string& caption, const std::string& text) override {
    if (!videoOk_) return true;
    SDL_Window* parent = nullptr;
    return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), parent) != 0;
  }

  bool CreateNativeWindow(WindowInfo& info) override {
    if (!videoOk_) return true;
    if (info.plain) {
      SDL_Window* plain =
          SDL_CreateWindow("", info.x, info.y, info.width > 0 ? info.width : 1, info.height > 0 ? info.height : 1,
                           SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS | SDL_WINDOW_SKIP_TASKBAR);
      if (!plain) return true;
      info.native = plain;
      plainWindows_.push_back(plain);
      UpdateNativeWindow(info);
      return false;
    }
    SDL_Window* w = SDL_CreateWindow("", info.x, info.y, info.width > 0 ? info.width : 1,
                                     info.height > 0 ? info.height : 1, SDL_WINDOW_HIDDEN);
    if (!w) return true;
    info.native = w;
    window_ = w;
    CreateRenderer();
    UpdateNativeWindow(info);
    return false;
  }

  void DestroyNativeWindow(WindowInfo& info) override {
    if (!info.native) return;
    if (info.native == window_) {
      DropRenderer();
      window_ = nullptr;
    }
    SDL_Window* w = static_cast<SDL_Window*>(info.native);
    placed_.erase(w);
    plainWindows_.erase(std::remove(plainWindows_.begin(), plainWindows_.end(), w), plainWindows_.end());
    SDL_DestroyWindow(w);
    info.native = nullptr;
  }

  void UpdateNativeWindow(WindowInfo& info) override {
    SDL_Window* w = static_cast<SDL_Window*>(info.native);
    if (!w) return;
    std::string title = info.titleCp932.empty() ? std::string() : ConvertCp932ToUtf8(info.titleCp932);
    SDL_SetWindowTitle(w, title.c_str());
    SDL_SetWindowBordered(w, (info.style & WS_POPUP) ? SDL_FALSE : SDL_TRUE);
    // Geometry only when the engine changed it: a new caption must not pull
    // a window the player dragged back to where it opened.
    const SDL_Rect wanted{info.x, info.y, info.width > 0 ? info.width : 1, info.height > 0 ? info.height : 1};
    auto placed = placed_.find(w);
    if (placed == placed_.end() || !SDL_RectEquals(&wanted, &placed->second)) {
      SDL_SetWindowSize(w, wanted.w, wanted.h);
      SDL_SetWindowPosition(w, wanted.x, wanted.y);
      placed_[w] = wanted;
    }
    SDL_SetWindowAlwaysOnTop(w, info.topmost ? SDL_TRUE : SDL_FALSE);
    if (info.visible) {
      SDL_ShowWindow(w);
      if (info.plain) PaintBlack(w);
    } else {
      SDL_HideWindow(w);
    }
  }

  static void PaintBlack(SDL_Window* w) {
    if (SDL_Surface* surface = SDL_GetWindowSurface(w)) {
      SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
      SDL_UpdateWindowSurface(w);
    }
  }

  void PumpEvents() override {
    SDL_Event e;
    while (SDL_PollEvent(&e)) Translate(e);
    SdlTextViewsUpdate();
  }

  void WaitForEvents(uint32_t timeoutMs) override {
    SDL_Event e;
    if (SDL_WaitEventTimeout(&e, static_cast<int>(timeoutMs))) Translate(e);
  }

  bool IsKeyDown(int vk) override {
    switch (vk) {
      case VK_SHIFT: return keys_[VK_LSHIFT] || keys_[VK_RSHIFT];
      case VK_CONTROL: return keys_[VK_LCONTROL] || keys_[VK_RCONTROL];
      case VK_MENU: return keys_[VK_LMENU] || keys_[VK_RMENU];
      default: break;
    }
    if (vk >= VK_LBUTTON && vk <= VK_XBUTTON2 && vk != 3) {
      // Buttons are asked of the device directly, like an asynchronous state.
      Uint32 buttons = SDL_GetGlobalMouseState(nullptr, nullptr);
      switch (vk) {
        case VK_LBUTTON: return buttons & SDL_BUTTON_LMASK;
        case VK_RBUTTON: return buttons & SDL_BUTTON_RMASK;
        case VK_MBUTTON: return buttons & SDL_BUTTON_MMASK;
        case VK_XBUTTON1: return buttons & SDL_BUTTON_X1MASK;
        case VK_XBUTTON2: return buttons & SDL_BUTTON_X2MASK;
      }
    }
    return vk >= 0 && vk < 256 && keys_[vk];
  }

  bool GetCursorClientPos(const WindowInfo& info, Point& out) override {
    SDL_Window* w = static_cast<SDL_Window*>(info.native);
    if (!w) return true;
    int gx, gy, wx, wy;
    SDL_GetGlobalMouseState(&gx, &gy);
    SDL_GetWindowPosition(w, &wx, &wy);
    out = Point{gx - wx, gy - wy};
    return false;
  }

  bool IsForeground(const WindowInfo& info) override {
    SDL_Window* w = static_cast<SDL_Window*>(info.native);
    if (!w) return false;
    if (SDL_GetKeyboardFocus() == w || SDL_GetMouseFocus() == w) return true;
    // The game's main window counts as foreground while one of its bars has
    // the focus or the pointer.
    return w == window_ && (IsGameWindow(SDL_GetKeyboardFocus()) || IsGameWindow(SDL_GetMouseFocus()));
  }

  bool AreMouseButtonsSwapped() override { return false; }

  void Present(WindowInfo& info, const uint8_t* pixels, int width, int height, int pitch) override {
    if (glContext_ || info.native != window_) return;
    if (!renderer_) CreateRenderer();
    if (!renderer_) return;
    if (!texture_ || texWidth_ != width || texHeight_ != height) {
      if (texture_) SDL_DestroyTexture(texture_);
      // ARGB8888 is stored B, G, R, A on little-endian machines: our order.
      texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
      texWidth_ = width;
      texHeight_ = height;
      if (!texture_) return;
    }
    SDL_UpdateTexture(texture_, nullptr, pixels, pitch);
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
  }

  void* CreateGlContext(WindowInfo& info) override {
    SDL_Window* w = static_cast<SDL_Window*>(info.native);
    if (!w || w != window_) return nullptr;
    // The streaming-texture path and a GL context cannot share the window.
    DropRenderer();
    if (!(SDL_GetWindowFlags(w) & SDL_WINDOW_OPENGL)) {
      // SDL gives GL only to windows made for it: make the window again.
      SDL_Window* gl = SDL_CreateWindow("", info.x, info.y, info.width > 0 ? info.width : 1,
                                        info.height > 0 ? info.height : 1, SDL_WINDOW_HIDDEN | SDL_WINDOW_OPENGL);
      if (!gl) return nullptr;
      placed_.erase(w);
      SDL_DestroyWindow(w);
      info.native = window_ = w = gl;
      UpdateNativeWindow(info);
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GLContext context = SDL_GL_CreateContext(w);
    if (!context) return nullptr;
    if (SDL_GL_MakeCurrent(w, context) != 0) {
      SDL_GL_DeleteContext(context);
      return nullptr;
    }
    SDL_GL_SetSwapInterval(1);
    glContext_ = context;
    return context;
  }

  void DestroyGlContext(WindowInfo&, void* context) override {
    if (context == glContext_) glContext_ = nullptr;
    SDL_GL_DeleteContext(static_cast<SDL_GLContext>(context));
  }

  bool SwapGlBuffers(WindowInfo& info) override {
    SDL_Window* w = static_cast<SDL_Window*>(info.native);
    if (!w || !glContext_) return true;
    SDL_GL_SwapWindow(w);
    return false;
  }

  void* GetGlProcAddress(const char* name) override { return SDL_GL_GetProcAddress(name); }

  bool IsGlContextLost(WindowInfo& info, void* context) override {
    // Another binding or a recreated window leaves the context unusable.
    return !glContext_ || context != glContext_ || SDL_GL_GetCurrentContext() != context ||
           SDL_GL_GetCurrentWindow() != static_cast<SDL_Window*>(info.native);
  }

  void LoseGlContext(WindowInfo&) override {
    if (!glContext_) return;
    SDL_GL_MakeCurrent(window_, nullptr);
  }

  std::string GetGlError() override {
    const char* text = SDL_GetError();
    return std::string("SDL_GL_CreateContext: SDL_ERROR - ") + (text && *text ? text : "no OpenGL ES 2.0 context");
  }

  void GetScreenSize(int& width, int& height) override {
    SDL_DisplayMode mode;
    if (videoOk_ && SDL_GetDesktopDisplayMode(0, &mode) == 0) {
      width = mode.w;
      height = mode.h;
    } else {
      width = 1920;
      height = 1080;
    }
  }

 private:
  void CreateRenderer() {
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED);
    if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
  }

  void DropRenderer() {
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    texture_ = nullptr;
    renderer_ = nullptr;
  }

  // Events of another window (the log window) are not the game's; events
  // without a window (id 0) are.
  // The bars beside the scene in full screen belong to the game: a click
  // on one that gives it the focus must not take the keys from the game.
  bool ForGame(Uint32 windowId) const {
    if (windowId == 0 || !window_ || windowId == SDL_GetWindowID(window_)) return true;
    for (SDL_Window* plain : plainWindows_)
      if (windowId == SDL_GetWindowID(plain)) return true;
    return false;
  }
  bool IsGameWindow(SDL_Window* w) const {
    return w && (w == window_ || std::find(plainWindows_.begin(), plainWindows_.end(), w) != plainWindows_.end());
  }

  void Translate(const SDL_Event& e) {
    WindowHandle main = MainWindow();
    int keyCode = 0;
    if (e.type == SDL_KEYDOWN || e.type == SDL_KEYUP) {
      // The key state is the device's, whichever window has the focus. A key
      // goes up under the code it went down with, even if the layout changed
      // meanwhile.
      const int scancode = e.key.keysym.scancode;
      const bool known = scancode >= 0 && scancode < SDL_NUM_SCANCODES;
      keyCode = KeyToVirtualKey(e.key.keysym);
      if (known && e.type == SDL_KEYDOWN) {
        downCodes_[scancode] = static_cast<uint8_t>(keyCode);
      } else if (known && e.type == SDL_KEYUP && downCodes_[scancode] != 0) {
        keyCode = downCodes_[scancode];
        downCodes_[scancode] = 0;
      }
      if (keyCode != 0) keys_[keyCode] = e.type == SDL_KEYDOWN;
    }
    if (SdlTextViewHandleEvent(e)) return;
    switch (e.type) {
      case SDL_QUIT:
        if (main) QueueMessage(main, WM_CLOSE, 0, 0);
        break;
      case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
          for (SDL_Window* plain : plainWindows_)
            if (SDL_GetWindowID(plain) == e.window.windowID) PaintBlack(plain);
        }
        if (e.window.event == SDL_WINDOWEVENT_CLOSE && main && ForGame(e.window.windowID)) {
          QueueMessage(main, WM_CLOSE, 0, 0);
        }
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        const int vk = keyCode;
        if (vk == 0) break;
        bool down = e.type == SDL_KEYDOWN;
        if (!main || !ForGame(e.key.windowID)) break;
        bool alt = (e.key.keysym.mod & KMOD_ALT) != 0 || vk == VK_F1 + 9;
        if (down) {
          QueueMessage(main, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, static_cast<uintptr_t>(vk), 0);
        } else {
          QueueMessage(main, alt ? WM_SYSKEYUP : WM_KEYUP, static_cast<uintptr_t>(vk), 0);
        }
        break;
      }
      case SDL_MOUSEMOTION: ForgetInjectedCursor(); break;
      case SDL_MOUSEWHEEL: {
        if (!main || e.wheel.y == 0 || !ForGame(e.wheel.windowID)) break;
        int y = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
        uint16_t delta = static_cast<uint16_t>(static_cast<int16_t>(y * WHEEL_DELTA));
        QueueMessage(main, WM_MOUSEWHEEL, static_cast<uintptr_t>(delta) << 16, 0);
        break;
      }
      default: break;
    }
  }

  bool videoOk_ = false;
  bool keys_[256];
  SDL_Window* window_ = nullptr;
  // The geometry last set on each window.
  std::map<SDL_Window*, SDL_Rect> placed_;
  // Plain black windows (the bars beside the scene in full screen).
  std::vector<SDL_Window*> plainWindows_;
  // The code each held key went down with.
  uint8_t downCodes_[SDL_NUM_SCANCODES] = {};
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  SDL_GLContext glContext_ = nullptr;
  int texWidth_ = 0, texHeight_ = 0;
};

}  // namespace
}  // namespace platform::detail

namespace platform::detail {

IBackend* CreateSdlBackend() { return new SdlBackend(); }

}  // namespace platform::detail
