// The log window as a real SDL window (on SDL's dummy video driver): events
// are routed by window, so it cannot be closed and never ends the game.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "debug/LogWindow.h"
#include "platform/Platform.h"
#include "platform/TextView.h"
#include "support/Xvfb.h"

namespace {

class SdlLogWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    if (platform::Init(platform::Backend::Sdl) || platform::RegisterWindowClass("game")) {
      GTEST_SKIP() << "no SDL video";
    }
    platform::CreateWindowArgs args;
    args.className = "game";
    args.width = 640;
    args.height = 360;
    game_ = platform::CreateWindow(args);
    ASSERT_NE(game_, 0u);
    platform::ShowWindow(game_, platform::SW_SHOW);
    Drain();
  }
  void TearDown() override {
    DestroyLogWindow();
    platform::Shutdown();
  }

  // Messages that reached the game's queue.
  std::vector<platform::Message> Drain() {
    std::vector<platform::Message> out;
    platform::Message m;
    while (platform::PeekMessage(m)) {
      platform::GetMessage(m);
      out.push_back(m);
    }
    return out;
  }

  static SDL_Window* LogSdlWindow() {
    for (Uint32 id = 1; id < 64; ++id) {
      SDL_Window* w = SDL_GetWindowFromID(id);
      int width = 0, height = 0;
      if (w) SDL_GetWindowSize(w, &width, &height);
      if (w && width == 320) return w;
    }
    return nullptr;
  }

  static void PushWindowEvent(SDL_Window* w, Uint8 event, int data1 = 0, int data2 = 0) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = SDL_GetWindowID(w);
    e.window.event = event;
    e.window.data1 = data1;
    e.window.data2 = data2;
    SDL_PushEvent(&e);
  }

  static void PushKey(SDL_Window* w, SDL_Keycode key, SDL_Scancode code, Uint16 mod) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.windowID = SDL_GetWindowID(w);
    e.key.keysym.sym = key;
    e.key.keysym.scancode = code;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
    e.type = SDL_KEYUP;
    SDL_PushEvent(&e);
  }

  static void PushButton(SDL_Window* w, Uint32 type, int x, int y) {
    SDL_Event e{};
    e.type = type;
    e.button.windowID = SDL_GetWindowID(w);
    e.button.button = SDL_BUTTON_LEFT;
    e.button.x = x;
    e.button.y = y;
    SDL_PushEvent(&e);
  }

  static void PushMotion(SDL_Window* w, int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = SDL_GetWindowID(w);
    e.motion.x = x;
    e.motion.y = y;
    SDL_PushEvent(&e);
  }

  static Uint8 RedAt(SDL_Window* w, int x, int y) {
    SDL_Surface* surface = SDL_GetWindowSurface(w);
    if (!surface || x >= surface->w || y >= surface->h) return 0;
    Uint32 p = 0;
    SDL_LockSurface(surface);
    SDL_memcpy(&p, static_cast<Uint8*>(surface->pixels) + y * surface->pitch + x * surface->format->BytesPerPixel,
               surface->format->BytesPerPixel);
    SDL_UnlockSurface(surface);
    Uint8 r, g, b;
    SDL_GetRGB(p, surface->format, &r, &g, &b);
    return r;
  }

  platform::WindowHandle game_ = 0;
};

TEST_F(SdlLogWindowTest, CloseBoxAndAltF4LeaveItOpenWhileClosingTheGameStillEndsTheGame) {
  const bool gameHadFocus = platform::IsForegroundWindow(game_);
  LogPrint("%s", "first line");
  Drain();
  // The game keeps the focus, so its input stays active.
  if (gameHadFocus) {
    EXPECT_TRUE(platform::IsForegroundWindow(game_));
  }
  ASSERT_TRUE(FindLogWindow()->View().HasPixels());
  SDL_Window* log = LogSdlWindow();
  ASSERT_NE(log, nullptr);

  PushWindowEvent(log, SDL_WINDOWEVENT_CLOSE);
  PushKey(log, SDLK_F4, SDL_SCANCODE_F4, KMOD_LALT);
  SDL_Event wheel{};
  wheel.type = SDL_MOUSEWHEEL;
  wheel.wheel.windowID = SDL_GetWindowID(log);
  wheel.wheel.y = 1;
  SDL_PushEvent(&wheel);
  EXPECT_TRUE(Drain().empty());
  EXPECT_NE(LogSdlWindow(), nullptr);

  PushWindowEvent(static_cast<SDL_Window*>(SDL_GetWindowFromID(SDL_GetWindowID(log) - 1)), SDL_WINDOWEVENT_CLOSE);
  std::vector<platform::Message> messages = Drain();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].window, game_);
  EXPECT_EQ(messages[0].message, platform::WM_CLOSE);
}

TEST_F(SdlLogWindowTest, SnapsToWholeLinesCopiesAllAndDrawsText) {
  LogPrint("%s", "copy me");
  LogPrint("%s", "and me");
  SDL_Window* log = LogSdlWindow();
  ASSERT_NE(log, nullptr);
  PushWindowEvent(log, SDL_WINDOWEVENT_SIZE_CHANGED, 320, 250);
  PushKey(log, SDLK_c, SDL_SCANCODE_C, KMOD_LCTRL);
  Drain();
  EXPECT_EQ(FindLogWindow()->View().ClientHeight(), 240);
  int w = 0, h = 0;
  SDL_GetWindowSize(log, &w, &h);
  EXPECT_EQ(h, 240);
  char* clip = SDL_GetClipboardText();
  EXPECT_STREQ(clip, "copy me\nand me\n");
  SDL_free(clip);

  // Dark pixels on the first line: the glyphs were drawn.
  SDL_Surface* surface = SDL_GetWindowSurface(log);
  ASSERT_NE(surface, nullptr);
  int dark = 0;
  SDL_LockSurface(surface);
  for (int y = 0; y < 12 && y < surface->h; ++y) {
    for (int x = 0; x < 60 && x < surface->w; ++x) {
      Uint32 p = 0;
      SDL_memcpy(&p, static_cast<Uint8*>(surface->pixels) + y * surface->pitch + x * surface->format->BytesPerPixel,
                 surface->format->BytesPerPixel);
      Uint8 r, g, b;
      SDL_GetRGB(p, surface->format, &r, &g, &b);
      dark += r < 128;
    }
  }
  SDL_UnlockSurface(surface);
  EXPECT_GT(dark, 10);
}

// Every new line comes into view, even after the reader scrolled back.
TEST_F(SdlLogWindowTest, ANewLineIsScrolledIntoViewAfterTheReaderScrolledBack) {
  for (int i = 0; i < 100; ++i) LogPrint("line %d", i);
  SDL_Window* log = LogSdlWindow();
  ASSERT_NE(log, nullptr);
  Drain();
  const size_t bottom = FindLogWindow()->View().TopLine();
  ASSERT_GT(bottom, 0u);
  SDL_Event wheel{};
  wheel.type = SDL_MOUSEWHEEL;
  wheel.wheel.windowID = SDL_GetWindowID(log);
  wheel.wheel.y = 5;
  SDL_PushEvent(&wheel);
  Drain();
  ASSERT_LT(FindLogWindow()->View().TopLine(), bottom);
  LogPrint("%s", "one more");
  Drain();
  EXPECT_EQ(FindLogWindow()->View().TopLine(), bottom + 1);
}

// The scroll bars of a 320 x 480 view: 39 lines of text between them.
TEST_F(SdlLogWindowTest, ScrollBarsPageOnTheirTracksAndFollowADraggedThumb) {
  for (int i = 0; i < 100; ++i) LogPrint("line %d", i);
  LogPrint("%s", std::string(100, 'w').c_str());
  SDL_Window* log = LogSdlWindow();
  ASSERT_NE(log, nullptr);
  Drain();
  const platform::TextView& view = FindLogWindow()->View();
  ASSERT_EQ(view.TopLine(), 101u - 39u);
  const int barX = 320 - 6, barBottom = 480 - platform::kTextViewScrollBarSize;

  // A press on the track above the thumb goes back a page; the thumb was at
  // the bottom of the track, and is drawn there.
  EXPECT_LT(RedAt(log, barX, barBottom - 4), 200);
  EXPECT_GT(RedAt(log, barX, 4), 200);
  PushButton(log, SDL_MOUSEBUTTONDOWN, barX, 4);
  PushButton(log, SDL_MOUSEBUTTONUP, barX, 4);
  Drain();
  EXPECT_EQ(view.TopLine(), 101u - 39u - 39u);

  // Taken and dragged well above the track, the thumb brings the first line
  // into view; dragged back past the end, the last.
  const platform::ScrollThumb thumb = platform::ScrollThumbOf(barBottom, 101, 39, view.TopLine());
  const int grabY = thumb.start + thumb.length / 2;
  PushButton(log, SDL_MOUSEBUTTONDOWN, barX, grabY);
  PushMotion(log, barX, grabY - 1000);
  Drain();
  EXPECT_EQ(view.TopLine(), 0u);
  PushMotion(log, barX, grabY + 1000);
  PushButton(log, SDL_MOUSEBUTTONUP, barX, grabY + 1000);
  Drain();
  EXPECT_EQ(view.TopLine(), 101u - 39u);
  // Once let go, moving the pointer scrolls nothing.
  PushMotion(log, barX, 0);
  Drain();
  EXPECT_EQ(view.TopLine(), 101u - 39u);

  // The long line scrolls sideways by a page of cells from the bottom bar.
  auto darkAtLeft = [&] {
    int dark = 0;
    for (int x = 0; x < 40; ++x) dark += RedAt(log, x, 6) < 128;
    return dark;
  };
  EXPECT_GT(darkAtLeft(), 0);
  PushButton(log, SDL_MOUSEBUTTONDOWN, 320 - platform::kTextViewScrollBarSize - 2, barBottom + 6);
  PushButton(log, SDL_MOUSEBUTTONUP, 320 - platform::kTextViewScrollBarSize - 2, barBottom + 6);
  Drain();
  // The first line shown ("line 62") has gone off to the left.
  EXPECT_EQ(darkAtLeft(), 0);
}

TEST(ScrollThumb, SpansTheTrackInProportionAndMapsBackToTheSameLines) {
  using platform::ScrollFirstAt;
  using platform::ScrollThumbOf;
  // Nothing to scroll: no thumb, and any drag shows the first line.
  EXPECT_EQ(ScrollThumbOf(468, 20, 39, 0).length, 0);
  EXPECT_EQ(ScrollFirstAt(468, 20, 39, 100), 0u);
  EXPECT_EQ(ScrollThumbOf(0, 100, 39, 0).length, 0);
  // 39 of 101 lines on a 468-pixel track: a thumb of 180 pixels, which
  // moves over the 288 pixels left for the 62 first lines.
  platform::ScrollThumb top = ScrollThumbOf(468, 101, 39, 0);
  platform::ScrollThumb bottom = ScrollThumbOf(468, 101, 39, 62);
  EXPECT_EQ(top.start, 0);
  EXPECT_EQ(top.length, 180);
  EXPECT_EQ(bottom.start, 288);
  EXPECT_EQ(bottom.start + bottom.length, 468);
  // A first line past the range draws the thumb at the end.
  EXPECT_EQ(ScrollThumbOf(468, 101, 39, 1000).start, 288);
  for (size_t first = 0; first <= 62; ++first) {
    EXPECT_EQ(ScrollFirstAt(468, 101, 39, ScrollThumbOf(468, 101, 39, first).start), first) << first;
  }
  EXPECT_EQ(ScrollFirstAt(468, 101, 39, -5), 0u);
  EXPECT_EQ(ScrollFirstAt(468, 101, 39, 5000), 62u);
  // Ten thousand lines still get a thumb that can be taken hold of.
  platform::ScrollThumb small = ScrollThumbOf(468, 10000, 39, 9961);
  EXPECT_EQ(small.length, platform::kTextViewMinThumb);
  EXPECT_EQ(small.start + small.length, 468);
  EXPECT_EQ(ScrollFirstAt(468, 10000, 39, 468 - platform::kTextViewMinThumb), 9961u);
}

TEST(LineCells, CountsWideCharactersTwiceAndStopsTabsAtEveryFourth) {
  EXPECT_EQ(platform::LineCells(""), 0u);
  EXPECT_EQ(platform::LineCells("abc"), 3u);
  // Two kana and a half-width katakana.
  EXPECT_EQ(platform::LineCells("\xE3\x81\x82\xE3\x81\x84\xEF\xBD\xB1"), 5u);
  EXPECT_EQ(platform::LineCells("a\tb"), 5u);
  EXPECT_EQ(platform::LineCells("abcd\t"), 8u);
  // A cut character shows a (wide) replacement character per byte.
  EXPECT_EQ(platform::LineCells("\xE3\x81"), 4u);
}

// On a real X server without a window manager every window shown takes the
// focus. The log window gives it back, and keeps it with the game when it
// draws (making its surface may build the window anew). Run in a child on
// Xvfb by the test after this one.
TEST_F(SdlLogWindowTest, TheFirstLineLeavesTheKeyboardWithTheGame) {
  if (!std::getenv("VELMIRA_XVFB_LOGWINDOW")) GTEST_SKIP() << "run under Xvfb by the next test";
  auto focusedWidth = [] {
    int width = 0, height = 0;
    if (SDL_Window* focused = SDL_GetKeyboardFocus()) SDL_GetWindowSize(focused, &width, &height);
    return width;
  };
  for (int i = 0; i < 100 && focusedWidth() != 640; ++i) {
    Drain();
    SDL_Delay(10);
  }
  ASSERT_EQ(focusedWidth(), 640) << "the game window never had the focus";
  LogPrint("%s", "first line");
  for (int i = 0; i < 50; ++i) {
    Drain();
    SDL_Delay(10);
  }
  ASSERT_NE(LogSdlWindow(), nullptr);
  EXPECT_EQ(focusedWidth(), 640);
}

TEST(SdlLogWindowOnX, TheFirstLineLeavesTheKeyboardWithTheGame) {
  XvfbDisplay display;
  std::string why;
  if (!display.Start(why)) GTEST_SKIP() << why;
  display.RunChildTest("SdlLogWindowTest.TheFirstLineLeavesTheKeyboardWithTheGame", "VELMIRA_XVFB_LOGWINDOW");
}

}  // namespace
