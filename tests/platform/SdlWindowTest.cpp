// The game window as a real SDL window (on SDL's dummy video driver).
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

#include "platform/Platform.h"

namespace {

SDL_Window* OnlySdlWindow() {
  for (Uint32 id = 1; id < 64; ++id)
    if (SDL_Window* w = SDL_GetWindowFromID(id)) return w;
  return nullptr;
}

// The game's window at 100,80, 640 x 360, made as the engine makes it.
class SdlWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    if (platform::Init(platform::Backend::Sdl) || platform::RegisterWindowClass("game")) GTEST_SKIP() << "no SDL video";
    platform::CreateWindowArgs args;
    args.className = "game";
    args.x = 100;
    args.y = 80;
    args.width = 640;
    args.height = 360;
    game = platform::CreateWindow(args);
    ASSERT_NE(game, 0u);
    main = OnlySdlWindow();
    ASSERT_NE(main, nullptr);
  }
  void TearDown() override {
    if (game) platform::DestroyWindow(game);
    platform::Shutdown();
  }
  platform::WindowHandle game = 0;
  SDL_Window* main = nullptr;
};

TEST_F(SdlWindow, ACaptionLeavesAWindowThePlayerMovedWhereItIs) {
  platform::ShowWindow(game, platform::SW_SHOW);
  SDL_Window* w = main;
  int x = 0, y = 0;
  SDL_GetWindowPosition(w, &x, &y);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 80);

  SDL_SetWindowPosition(w, 300, 200);  // dragged by the player
  platform::SetWindowTitle(game, "chapter 2");
  platform::ShowWindow(game, platform::SW_SHOW);
  SDL_GetWindowPosition(w, &x, &y);
  EXPECT_EQ(x, 300);
  EXPECT_EQ(y, 200);
  EXPECT_STREQ(SDL_GetWindowTitle(w), "chapter 2");

  // The engine placing it (full screen and back) still moves it.
  platform::SetWindowPos(game, 0, 10, 20, 640, 360, 0);
  SDL_GetWindowPosition(w, &x, &y);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 20);
}

TEST_F(SdlWindow, FullScreenBarsAreBlackWindowsOfTheirOwn) {
  ASSERT_FALSE(platform::RegisterWindowClass("game#childLeft"));
  platform::CreateWindowArgs args;
  args.className = "game#childLeft";
  args.style = platform::WS_POPUP;
  args.parent = game;
  args.width = args.height = 1;
  const platform::WindowHandle bar = platform::CreateWindow(args);
  ASSERT_NE(bar, 0u);
  SDL_Window* barWindow = nullptr;
  for (Uint32 id = 1; id < 64; ++id)
    if (SDL_Window* w = SDL_GetWindowFromID(id); w && w != main) barWindow = w;
  ASSERT_NE(barWindow, nullptr);
  EXPECT_TRUE(SDL_GetWindowFlags(barWindow) & SDL_WINDOW_HIDDEN);

  platform::SetWindowPos(bar, platform::HWND_TOPMOST, 0, 0, 240, 1080, platform::SWP_SHOWWINDOW);
  EXPECT_FALSE(SDL_GetWindowFlags(barWindow) & SDL_WINDOW_HIDDEN);
  EXPECT_TRUE(SDL_GetWindowFlags(barWindow) & SDL_WINDOW_BORDERLESS);
  int w = 0, h = 0;
  SDL_GetWindowSize(barWindow, &w, &h);
  EXPECT_EQ(w, 240);
  EXPECT_EQ(h, 1080);
  SDL_Surface* surface = SDL_GetWindowSurface(barWindow);
  ASSERT_NE(surface, nullptr);
  // Whatever covered it, an exposed bar is painted black again.
  SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 255, 255, 255));
  SDL_Event expose{};
  expose.type = SDL_WINDOWEVENT;
  expose.window.event = SDL_WINDOWEVENT_EXPOSED;
  expose.window.windowID = SDL_GetWindowID(barWindow);
  SDL_PushEvent(&expose);
  platform::Message m;
  while (platform::PeekMessage(m)) platform::GetMessage(m);
  surface = SDL_GetWindowSurface(barWindow);
  Uint32 pixel = 0xFFFFFFFF;
  SDL_LockSurface(surface);
  std::memcpy(&pixel, static_cast<uint8_t*>(surface->pixels) + surface->pitch * 500 + 100 * 4, 4);
  SDL_UnlockSurface(surface);
  Uint8 r = 1, g = 1, b = 1;
  SDL_GetRGB(pixel, surface->format, &r, &g, &b);
  EXPECT_EQ(r + g + b, 0);
  platform::ShowWindow(bar, platform::SW_HIDE);
  EXPECT_TRUE(SDL_GetWindowFlags(barWindow) & SDL_WINDOW_HIDDEN);

  platform::DestroyWindow(bar);
}

void PushKey(SDL_Scancode scancode, SDL_Keycode sym, bool down) {
  SDL_Event e{};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.key.keysym.scancode = scancode;
  e.key.keysym.sym = sym;
  SDL_PushEvent(&e);
  platform::Message m;
  while (platform::PeekMessage(m)) platform::GetMessage(m);
}

TEST_F(SdlWindow, LetterKeysAreNamedByTheLayoutAndOtherKeysByPosition) {
  // The key left of Z on a QWERTY board types 'q' on an AZERTY one.
  PushKey(SDL_SCANCODE_A, SDLK_q, true);
  EXPECT_TRUE(platform::IsKeyDown('Q'));
  EXPECT_FALSE(platform::IsKeyDown('A'));
  PushKey(SDL_SCANCODE_A, SDLK_q, false);
  EXPECT_FALSE(platform::IsKeyDown('Q'));
  // The layout switched while the key was held: it still goes up.
  PushKey(SDL_SCANCODE_A, SDLK_q, true);
  PushKey(SDL_SCANCODE_A, SDLK_a, false);
  EXPECT_FALSE(platform::IsKeyDown('Q'));
  EXPECT_FALSE(platform::IsKeyDown('A'));
  // A digit of the top row is its digit, whatever it types unshifted.
  PushKey(SDL_SCANCODE_1, SDLK_AMPERSAND, true);
  EXPECT_TRUE(platform::IsKeyDown('1'));
  PushKey(SDL_SCANCODE_1, SDLK_AMPERSAND, false);
  // Punctuation, keypad operators and F13-F24 have codes too.
  for (auto [scancode, sym, vk] :
       {std::tuple{SDL_SCANCODE_COMMA, SDLK_COMMA, 0xBC}, std::tuple{SDL_SCANCODE_KP_PLUS, SDLK_KP_PLUS, 0x6B},
        std::tuple{SDL_SCANCODE_F13, SDLK_F13, 0x7C}}) {
    PushKey(scancode, sym, true);
    EXPECT_TRUE(platform::IsKeyDown(vk)) << vk;
    PushKey(scancode, sym, false);
    EXPECT_FALSE(platform::IsKeyDown(vk)) << vk;
  }
}

}  // namespace
