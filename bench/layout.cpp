// Text layout and drawing of message windows, with the system's Japanese
// gothic face at size 24, each against a yardstick measured in the same run.
//
//   BM_AddTextLayout / BM_GreedyAdvances: a 10,000-character page (kanji,
//     kana, punctuation and brackets) handed to a window and laid out, the
//     glyph caches warm, against a loop that sums the same characters'
//     advances with greedy line breaks and nothing else. The loop looks
//     each advance up in the warm glyph cache per character, as the window
//     does; it used to sum a table made beforehand, which measured little
//     more than an add per character. Target: at most 3x.
//   BM_DrawPage / BM_BlitGlyphs: drawing a laid-out window that fills a
//     1280x720 screen against blitting the same glyph images at the same
//     places with the normal blend kernel. Target: at most 1.5x.
//
// Report every figure as a ratio against its yardstick from the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/Cp932.h"
#include "graphics/Blend.h"
#include "graphics/Surface.h"
#include "platform/FontBackend.h"
#include "platform/TextCodec.h"
#include "scene/Layer.h"
#include "text/GlyphGenerator.h"
#include "text/TextRenderer.h"

namespace {

constexpr int kW = 1280;
constexpr int kH = 720;
constexpr int kPageCharacters = 10000;

struct Data {
  std::string face;
  std::string page;  // CP932
  std::vector<std::string> characters;
  bool ready = false;

  Data() {
    if (platform::InitFontBackend()) return;
    face = platform::ConvertUtf8ToCp932("ＭＳ ゴシック");
    // A prose-like mix: kanji and kana with commas, full stops and quotes,
    // so the line-breaking rules have work to do.
    const std::string pieces = platform::ConvertUtf8ToCp932(
        "夕暮れの空は茜色に染まり、雲がゆっくりと流れて行く。「さあ、帰ろう」と友が言った。"
        "振り返ると街の灯りがひとつ、またひとつ灯りはじめる。私たちは坂道を下りながら、"
        "明日の約束を確かめ合った（忘れないように）。");
    std::vector<std::string> cycle;
    for (size_t i = 0; i < pieces.size();) {
      const size_t n = (uint8_t(pieces[i]) >= 0x81 && uint8_t(pieces[i]) <= 0x9F) ||
                               (uint8_t(pieces[i]) >= 0xE0 && uint8_t(pieces[i]) <= 0xFC)
                           ? 2
                           : 1;
      cycle.push_back(pieces.substr(i, n));
      i += n;
    }
    for (int i = 0; i < kPageCharacters; ++i) characters.push_back(cycle[size_t(i) % cycle.size()]);
    for (const std::string& c : characters) page += c;
    ready = true;
  }
};

Data& Shared() {
  static Data data;
  return data;
}

CFontValues PageFont(int height) {
  CFontValues font;
  font.face = Shared().face;
  font.size = 24;
  font.width = kW;
  font.height = height;
  font.anchorcenter = false;
  return font;
}

void BM_AddTextLayout(benchmark::State& state) {
  Data& data = Shared();
  if (!data.ready) return state.SkipWithError("no font backend");
  CLayerFactory layers;
  CSurfaceFactory surfaces;
  CTextRenderer window(&layers, &surfaces);
  window.SetFont(PageFont(1 << 20));
  window.AddText(data.page);  // warms the glyph caches
  window.Layout();
  for (auto _ : state) {
    window.Clear();
    window.AddText(data.page);
    window.Layout();
    benchmark::DoNotOptimize(window.GetLines().size());
  }
  state.counters["lines"] = double(window.GetLines().size());
  state.SetItemsProcessed(int64_t(state.iterations()) * kPageCharacters);
}
BENCHMARK(BM_AddTextLayout)->Unit(benchmark::kMicrosecond);

void BM_GreedyAdvances(benchmark::State& state) {
  Data& data = Shared();
  if (!data.ready) return state.SkipWithError("no font backend");
  // The advances come the way the window gets them: per character, from the
  // warm glyph cache through the generator, as the image's width plus the
  // style's offset. Summing a table prepared outside the loop instead would
  // leave out work the window cannot avoid and make the yardstick meaningless.
  const CFontValues font = PageFont(1 << 20);
  CLayerFactory layers;
  CSurfaceFactory surfaces;
  {
    CTextRenderer window(&layers, &surfaces);
    window.SetFont(font);
    window.AddText(data.page);  // warms the glyph caches
    window.Layout();
  }
  CGlyphGenerator* generator = CGlyphGenerator::GetInstance();
  const int32_t style = font.style;
  const bool bold = style & kStyleBold, italic = style & kStyleItalic;
  const bool underline = style & kStyleUnderline, strikeout = style & kStyleStrikeout;
  const std::string& page = data.page;
  int lines = 0;
  for (auto _ : state) {
    if (!generator->IsSelected(font.rendered, font.face, font.ClampedSize(), bold, italic, underline, strikeout))
      (void)generator->SelectFont(font.rendered, font.face, font.ClampedSize(), bold, italic, underline, strikeout);
    generator->SetOutline(false);
    int32_t x = 0;
    lines = 1;
    for (size_t i = 0; i < page.size();) {
      const auto lead = uint8_t(page[i]);
      uint16_t code = lead;
      size_t n = 1;
      if (cp932::IsLeadByte(lead) && i + 1 < page.size()) {
        code = uint16_t(lead | uint8_t(page[i + 1]) << 8);
        n = 2;
      }
      i += n;
      const ISurface* image = generator->GetGlyph(code, &surfaces, font.color);
      const int32_t advance = image ? image->GetWidth() + font.StyleExtra() : 0;
      if (x + advance > kW) {
        ++lines;
        x = 0;
      }
      x += advance;
    }
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(lines);
  }
  state.counters["lines"] = lines;
  state.SetItemsProcessed(int64_t(state.iterations()) * kPageCharacters);
}
BENCHMARK(BM_GreedyAdvances)->Unit(benchmark::kMicrosecond);

// A window the size of the screen filled with as much of the page as fits.
struct Page {
  CLayerFactory layers;
  CSurfaceFactory surfaces;
  CTextRenderer window{&layers, &surfaces};
  CSurface target;
  Page() {
    window.SetFont(PageFont(kH));
    const int perScreen = (kW / 24) * (kH / PageFont(kH).CellHeight());
    std::string text;
    for (int i = 0; i < perScreen && i < kPageCharacters; ++i) text += Shared().characters[size_t(i)];
    window.AddText(text);
    window.Layout();
    target.Create(kW, kH, 1);
    window.Draw(&target);  // images made, layers placed
  }
};

void BM_DrawPage(benchmark::State& state) {
  if (!Shared().ready) return state.SkipWithError("no font backend");
  Page page;
  for (auto _ : state) {
    page.window.Draw(&page.target);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DrawPage)->Unit(benchmark::kMicrosecond);

void BM_BlitGlyphs(benchmark::State& state) {
  if (!Shared().ready) return state.SkipWithError("no font backend");
  Page page;
  struct Blit {
    ISurface* image;
    CBlitRect rect;
  };
  std::vector<Blit> blits;
  int32_t y = 0;
  for (const auto& line : page.window.GetLines()) {
    for (const auto& cell : line->cells) {
      for (const auto& glyph : cell->base) {
        ISurface* image = glyph.mainImage;
        if (!image) continue;
        const CRect source(cell->x + glyph.x, y + cell->y + glyph.y, image->GetWidth(), image->GetHeight());
        const CRect screen(0, 0, kW, kH);
        CBlitRect rect = ClipBlit(source, screen);
        if (rect.nonEmpty) blits.push_back({image, rect});
      }
    }
    y += line->height;
  }
  for (auto _ : state) {
    for (const Blit& blit : blits) (void)BlendBlit(&page.target, blit.image, blit.rect, 0, 2, 255);
    benchmark::ClobberMemory();
  }
  state.counters["glyphs"] = double(blits.size());
}
BENCHMARK(BM_BlitGlyphs)->Unit(benchmark::kMicrosecond);

}  // namespace
