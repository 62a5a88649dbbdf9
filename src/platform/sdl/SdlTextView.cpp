// Text views as SDL windows: drawn in software into the window's own surface
// (independent of whatever draws the game window), glyphs from a fixed-pitch
// face through FreeType.
#include "platform/sdl/SdlTextView.h"

#include <SDL2/SDL.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform::detail {
namespace {

// The file of an installed face of this family, or "" when there is none
// (fontconfig would otherwise offer any face it has).
std::string FindFontFile(const std::string& family) {
  std::string path;
  if (!FcInit()) return path;
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family.c_str()));
  if (!pattern) return path;
  FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
    // A face may carry its family name in several languages.
    bool named = false;
    FcChar8* found = nullptr;
    for (int i = 0; !named && FcPatternGetString(match, FC_FAMILY, i, &found) == FcResultMatch; ++i)
      named = found && FcStrCmpIgnoreCase(found, reinterpret_cast<const FcChar8*>(family.c_str())) == 0;
    FcChar8* file = nullptr;
    if (named && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
      path = reinterpret_cast<const char*>(file);
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return path;
}

// Grey glyph images of one face at the line height, made once each.
class GlyphCache {
 public:
  struct Glyph {
    int width = 0, height = 0, left = 0, top = 0, advance = 0;
    std::vector<uint8_t> coverage;
  };

  ~GlyphCache() {
    if (face_) FT_Done_Face(face_);
    if (library_) FT_Done_FreeType(library_);
  }

  bool Load(const std::string& family, int pixelHeight) {
    std::string file = FindFontFile(family);
    if (file.empty()) file = FindFontFile(kTextViewStandInFamily);
    if (file.empty() || FT_Init_FreeType(&library_) != 0) return true;
    if (FT_New_Face(library_, file.c_str(), 0, &face_) != 0) {
      face_ = nullptr;
      return true;
    }
    FT_Set_Pixel_Sizes(face_, 0, static_cast<FT_UInt>(pixelHeight));
    ascent_ = static_cast<int>(face_->size->metrics.ascender >> 6);
    cellWidth_ = pixelHeight / 2;
    return false;
  }

  int Ascent() const { return ascent_; }

  const Glyph& Get(uint32_t cp) {
    auto it = glyphs_.find(cp);
    if (it != glyphs_.end()) return it->second;
    Glyph& g = glyphs_[cp];
    // A fixed-pitch face: narrow characters take one cell, wide ones two.
    g.advance = cellWidth_ * CharacterCells(cp);
    if (face_ && FT_Load_Char(face_, cp, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) == 0) {
      FT_GlyphSlot slot = face_->glyph;
      const FT_Bitmap& bm = slot->bitmap;
      if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
        g.width = static_cast<int>(bm.width);
        g.height = static_cast<int>(bm.rows);
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.coverage.resize(static_cast<size_t>(g.width) * g.height);
        for (int y = 0; y < g.height; ++y) {
          const unsigned char* row = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
          std::copy(row, row + g.width, g.coverage.begin() + static_cast<ptrdiff_t>(y) * g.width);
        }
      }
    }
    return g;
  }

 private:
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  int ascent_ = 10;
  int cellWidth_ = 6;
  std::unordered_map<uint32_t, Glyph> glyphs_;
};

class SdlTextView;
std::vector<SdlTextView*>& Views() {
  static std::vector<SdlTextView*> views;
  return views;
}

class SdlTextView : public TextView {
 public:
  explicit SdlTextView(const TextViewArgs& args) : TextView(args) {}

  ~SdlTextView() override {
    Detach();
    auto& views = Views();
    views.erase(std::remove(views.begin(), views.end(), this), views.end());
  }

  bool Open(const TextViewArgs& args) {
    // The game keeps the focus: the log window only watches. The hint is
    // for this window alone; the game's own window activates as before.
    const char* hint = SDL_GetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN);
    std::string previous = hint ? hint : "0";
    SDL_SetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN, "1");
    SDL_Window* focused = SDL_GetKeyboardFocus();
    // On the taskbar like any window: minimised, it must have a way back.
    window_ = SDL_CreateWindow(title_.c_str(), args.x, args.y, clientWidth_, clientHeight_,
                               SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALWAYS_ON_TOP);
    if (!window_) {
      SDL_SetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN, previous.c_str());
      return true;
    }
    id_ = SDL_GetWindowID(window_);
    // Room for one line of text between the scroll bars.
    SDL_SetWindowMinimumSize(window_, 48, kTextViewLineHeight + kTextViewScrollBarSize);
    glyphs_.Load(args.fontFamily, kTextViewLineHeight);
    Views().push_back(this);
    // The surface is made while the window is hidden: making it may build
    // the window anew, and a window built anew after it is shown is shown
    // again, without the hint, taking the focus.
    (void)SDL_GetWindowSurface(window_);
    SDL_ShowWindow(window_);
    SDL_SetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN, previous.c_str());
    // Without a window manager SDL hands the focus to every window it shows;
    // give it back (the focus change arrives as events, so do not wait to see).
    if (focused && focused != window_) SDL_SetWindowInputFocus(focused);
    dirty_ = true;
    return false;
  }

  void Detach() {
    EndDrag();
    if (window_) SDL_DestroyWindow(window_);
    window_ = nullptr;
    id_ = 0;
  }

  Uint32 Id() const { return id_; }
  bool HasPixels() const override { return window_ != nullptr; }
  size_t TopLine() const override { return top_; }

  void SetTitle(const std::string& utf8) override {
    TextView::SetTitle(utf8);
    if (window_) SDL_SetWindowTitle(window_, utf8.c_str());
  }

  void HandleEvent(const SDL_Event& e) {
    switch (e.type) {
      case SDL_WINDOWEVENT:
        switch (e.window.event) {
          case SDL_WINDOWEVENT_SIZE_CHANGED: {
            // Show whole lines only: shrink by the part of a line that is over.
            clientWidth_ = e.window.data1;
            int snapped = SnapToWholeLines(e.window.data2);
            clientHeight_ = snapped;
            if (snapped != e.window.data2) SDL_SetWindowSize(window_, clientWidth_, snapped);
            Follow();
            column_ = std::min(column_, static_cast<int>(LastColumn()));
            dirty_ = true;
            break;
          }
          // The close box leaves the window open: it lives as long as the game.
          case SDL_WINDOWEVENT_CLOSE: break;
          default: dirty_ = true; break;
        }
        break;
      case SDL_MOUSEBUTTONDOWN:
        if (e.button.button == SDL_BUTTON_LEFT) PressScrollBar(e.button.x, e.button.y);
        break;
      case SDL_MOUSEMOTION:
        if (drag_ != Drag::kNone) DragThumb(e.motion.x, e.motion.y);
        break;
      case SDL_MOUSEBUTTONUP:
        if (e.button.button == SDL_BUTTON_LEFT) EndDrag();
        break;
      case SDL_MOUSEWHEEL: {
        int y = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
        int x = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.x : e.wheel.x;
        if (SDL_GetModState() & KMOD_SHIFT) std::swap(x, y);
        ScrollBy(-3 * y, 3 * x);
        break;
      }
      case SDL_KEYDOWN: {
        SDL_Keycode key = e.key.keysym.sym;
        bool ctrl = (e.key.keysym.mod & KMOD_CTRL) != 0;
        if (ctrl && (key == SDLK_c || key == SDLK_INSERT)) {
          SDL_SetClipboardText(AllText().c_str());
        } else if (key == SDLK_PAGEUP) {
          ScrollBy(-VisibleLines(), 0);
        } else if (key == SDLK_PAGEDOWN) {
          ScrollBy(VisibleLines(), 0);
        } else if (key == SDLK_UP) {
          ScrollBy(-1, 0);
        } else if (key == SDLK_DOWN) {
          ScrollBy(1, 0);
        } else if (key == SDLK_LEFT) {
          ScrollBy(0, -4);
        } else if (key == SDLK_RIGHT) {
          ScrollBy(0, 4);
        } else if (key == SDLK_HOME && ctrl) {
          ScrollBy(-static_cast<int>(lines_.size()), 0);
        } else if (key == SDLK_END && ctrl) {
          ScrollBy(static_cast<int>(lines_.size()), 0);
        }
        break;
      }
      default: break;
    }
  }

  void Draw() {
    if (!window_ || !dirty_) return;
    dirty_ = false;
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    if (!surface) return;
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 255, 255, 255));
    if (SDL_LockSurface(surface) != 0) return;
    const int visible = VisibleLines();
    for (int row = 0; row < visible; ++row) {
      size_t index = top_ + static_cast<size_t>(row);
      if (index >= lines_.size()) break;
      DrawLine(surface, lines_[index], row * kTextViewLineHeight);
    }
    SDL_UnlockSurface(surface);
    DrawScrollBars(surface);
    SDL_UpdateWindowSurface(window_);
  }

  void MarkDirty() { dirty_ = true; }

 protected:
  // A new line is always brought into view at its start, wherever the
  // reader had scrolled to.
  void OnLinesChanged(size_t) override {
    // The widest line ever kept: lines let go at the front may leave it a
    // little wide, which only lets the reader scroll into blank space.
    widestCells_ = std::max(widestCells_, LineCells(lines_.back()));
    Follow();
    column_ = 0;
    dirty_ = true;
  }

 private:
  // The text area: the client area less the scroll bars.
  int TextWidth() const { return std::max(0, clientWidth_ - kTextViewScrollBarSize); }
  int TextHeight() const { return std::max(0, clientHeight_ - kTextViewScrollBarSize); }
  int VisibleLines() const { return std::max(1, TextHeight() / kTextViewLineHeight); }
  size_t VisibleCells() const {
    return static_cast<size_t>(std::max(1, (TextWidth() - 2) / (kTextViewLineHeight / 2)));
  }
  size_t LastColumn() const { return widestCells_ > VisibleCells() ? widestCells_ - VisibleCells() : 0; }

  ScrollThumb VerticalThumb() const {
    return ScrollThumbOf(TextHeight(), lines_.size(), static_cast<size_t>(VisibleLines()), top_);
  }
  ScrollThumb HorizontalThumb() const {
    return ScrollThumbOf(TextWidth(), widestCells_, VisibleCells(), static_cast<size_t>(column_));
  }

  // A press on a bar: on the thumb it starts a drag, before or after it it
  // pages, as a click on a scroll bar's track does.
  void PressScrollBar(int x, int y) {
    const int w = TextWidth(), h = TextHeight();
    if (x >= w && y < h) {
      const ScrollThumb thumb = VerticalThumb();
      if (thumb.length == 0) return;
      if (y < thumb.start) {
        ScrollBy(-VisibleLines(), 0);
      } else if (y >= thumb.start + thumb.length) {
        ScrollBy(VisibleLines(), 0);
      } else {
        StartDrag(Drag::kVertical, y - thumb.start);
      }
    } else if (y >= h && x < w) {
      const ScrollThumb thumb = HorizontalThumb();
      if (thumb.length == 0) return;
      const int page = static_cast<int>(VisibleCells());
      if (x < thumb.start) {
        ScrollBy(0, -page);
      } else if (x >= thumb.start + thumb.length) {
        ScrollBy(0, page);
      } else {
        StartDrag(Drag::kHorizontal, x - thumb.start);
      }
    }
  }

  enum class Drag { kNone, kVertical, kHorizontal };

  void StartDrag(Drag drag, int grab) {
    drag_ = drag;
    grab_ = grab;
    // The thumb follows the pointer even when it leaves the window.
    SDL_CaptureMouse(SDL_TRUE);
  }

  void EndDrag() {
    if (drag_ == Drag::kNone) return;
    drag_ = Drag::kNone;
    SDL_CaptureMouse(SDL_FALSE);
  }

  void DragThumb(int x, int y) {
    if (drag_ == Drag::kVertical) {
      top_ = ScrollFirstAt(TextHeight(), lines_.size(), static_cast<size_t>(VisibleLines()), y - grab_);
    } else {
      column_ = static_cast<int>(ScrollFirstAt(TextWidth(), widestCells_, VisibleCells(), x - grab_));
    }
    dirty_ = true;
  }

  // Light tracks, a darker thumb where there is something to scroll.
  void DrawScrollBars(SDL_Surface* surface) {
    const int w = TextWidth(), h = TextHeight(), bar = kTextViewScrollBarSize;
    const Uint32 track = SDL_MapRGB(surface->format, 232, 232, 232);
    const Uint32 thumbColour = SDL_MapRGB(surface->format, 160, 160, 160);
    SDL_Rect vertical{w, 0, bar, clientHeight_};
    SDL_Rect horizontal{0, h, w, bar};
    SDL_FillRect(surface, &vertical, track);
    SDL_FillRect(surface, &horizontal, track);
    const ScrollThumb v = VerticalThumb();
    if (v.length > 0) {
      SDL_Rect r{w + 2, v.start + 1, bar - 4, std::max(1, v.length - 2)};
      SDL_FillRect(surface, &r, thumbColour);
    }
    const ScrollThumb hz = HorizontalThumb();
    if (hz.length > 0) {
      SDL_Rect r{hz.start + 1, h + 2, std::max(1, hz.length - 2), bar - 4};
      SDL_FillRect(surface, &r, thumbColour);
    }
  }

  size_t BottomTop() const {
    size_t visible = static_cast<size_t>(VisibleLines());
    return lines_.size() > visible ? lines_.size() - visible : 0;
  }

  void Follow() { top_ = BottomTop(); }

  void ScrollBy(int lines, int cells) {
    long next = static_cast<long>(top_) + lines;
    next = std::clamp(next, 0L, static_cast<long>(BottomTop()));
    top_ = static_cast<size_t>(next);
    column_ = std::clamp(column_ + cells, 0, static_cast<int>(LastColumn()));
    dirty_ = true;
  }

  void DrawLine(SDL_Surface* surface, const std::string& line, int y0) {
    const int cell = kTextViewLineHeight / 2;
    // Tabs stop at every fourth cell of the line, wherever it is scrolled to.
    int cells = 0;
    int x = 2 - column_ * cell;
    size_t i = 0;
    auto* pixels = static_cast<uint8_t*>(surface->pixels);
    const int bpp = surface->format->BytesPerPixel;
    const int right = TextWidth();
    while (i < line.size() && x < right) {
      uint32_t cp = NextCodePoint(line, i);
      if (cp == '\t') {
        cells = (cells / 4 + 1) * 4;
        x = 2 + (cells - column_) * cell;
        continue;
      }
      cells += CharacterCells(cp);
      const GlyphCache::Glyph& g = glyphs_.Get(cp);
      int gx = x + g.left;
      int gy = y0 + glyphs_.Ascent() - g.top;
      for (int yy = 0; yy < g.height; ++yy) {
        int py = gy + yy;
        if (py < 0 || py >= surface->h || py < y0 || py >= y0 + kTextViewLineHeight) continue;
        for (int xx = 0; xx < g.width; ++xx) {
          int px = gx + xx;
          if (px < 0 || px >= right || px >= surface->w) continue;
          uint8_t a = g.coverage[static_cast<size_t>(yy) * g.width + xx];
          if (!a) continue;
          uint8_t v = static_cast<uint8_t>(255 - a);  // black text on white
          Uint32 colour = SDL_MapRGB(surface->format, v, v, v);
          uint8_t* p = pixels + static_cast<ptrdiff_t>(py) * surface->pitch + static_cast<ptrdiff_t>(px) * bpp;
          if (bpp == 4) {
            *reinterpret_cast<Uint32*>(p) = colour;
          } else if (bpp == 2) {
            *reinterpret_cast<Uint16*>(p) = static_cast<Uint16>(colour);
          } else if (bpp == 3) {
            SDL_memcpy(p, &colour, 3);
          }
        }
      }
      x += g.advance;
    }
  }

  SDL_Window* window_ = nullptr;
  Uint32 id_ = 0;
  GlyphCache glyphs_;
  size_t top_ = 0;
  int column_ = 0;
  size_t widestCells_ = 0;
  Drag drag_ = Drag::kNone;
  int grab_ = 0;  // where on the thumb the pointer took it
  bool dirty_ = true;
};

Uint32 EventWindowId(const SDL_Event& e) {
  switch (e.type) {
    case SDL_WINDOWEVENT: return e.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return e.key.windowID;
    case SDL_TEXTINPUT: return e.text.windowID;
    case SDL_MOUSEMOTION: return e.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return e.button.windowID;
    case SDL_MOUSEWHEEL: return e.wheel.windowID;
    default: return 0;
  }
}

}  // namespace

std::unique_ptr<TextView> CreateSdlTextView(const TextViewArgs& args) {
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return nullptr;
  auto view = std::make_unique<SdlTextView>(args);
  if (view->Open(args)) return nullptr;
  return view;
}

bool SdlTextViewHandleEvent(const SDL_Event& event) {
  Uint32 id = EventWindowId(event);
  if (id == 0) return false;
  for (SdlTextView* view : Views()) {
    if (view->Id() == id) {
      view->HandleEvent(event);
      return true;
    }
  }
  return false;
}

void SdlTextViewsUpdate() {
  for (SdlTextView* view : Views()) view->Draw();
}

void SdlTextViewsDetachAll() {
  for (SdlTextView* view : Views()) view->Detach();
}

}  // namespace platform::detail
