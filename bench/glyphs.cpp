// Glyph generation for 2,000 kanji at text size 24.
//
// - BM_FreeTypeBaseline: bare FreeType, FT_Load_Char and FT_Render_Glyph of
//   the same characters from the same font file at 48 pixels, with the load
//   flags the engine uses (unhinted outlines). This is the work no glyph
//   generator can avoid.
// - BM_GetGlyphUncached: CGlyphGenerator::GetGlyph of every character with
//   the caches emptied first: CP932 to Unicode, drawing, the 2 x 2 shrink and
//   the coloured image. Report it as a ratio against the baseline.
// - BM_GetGlyphCached: the same calls answered from the caches. Report the
//   uncached figure as a ratio against it.
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <vector>

#include "graphics/Surface.h"
#include "platform/FontBackend.h"
#include "platform/TextCodec.h"
#include "text/GlyphGenerator.h"

namespace {

constexpr int kCharacters = 2000;

struct Data {
  std::vector<uint16_t> codes;       // the renderer's form: lead | trail << 8
  std::vector<uint32_t> codePoints;  // the same characters in Unicode
  std::string gothic;
  std::string fontFile;
  bool ready = false;

  Data() {
    if (platform::InitFontBackend()) return;
    gothic = platform::ConvertUtf8ToCp932("ＭＳ ゴシック");
    platform::FontFaceInfo info;
    if (platform::GetFontBackend()->DescribeFace(gothic, info)) return;
    fontFile = info.filePath;
    // Level-1 kanji from 0x889F on.
    for (uint32_t code = 0x889F; code <= 0x9FFC && int(codes.size()) < kCharacters; ++code) {
      uint32_t cp = 0;
      if ((code & 0xFF) < 0x40 || platform::ConvertCp932CharToUnicode(uint16_t(code), cp) || cp < 0x4E00) continue;
      codes.push_back(CGlyphGenerator::ToBigEndian(uint16_t(code)));
      codePoints.push_back(cp);
    }
    ready = int(codes.size()) == kCharacters;
  }
};

Data& Shared() {
  static Data data;
  return data;
}

void BM_FreeTypeBaseline(benchmark::State& state) {
  Data& data = Shared();
  if (!data.ready) return state.SkipWithError("no font");
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  if (FT_Init_FreeType(&library) || FT_New_Face(library, data.fontFile.c_str(), 0, &face))
    return state.SkipWithError("FreeType cannot open the font");
  FT_Set_Pixel_Sizes(face, 0, 48);
  for (auto _ : state) {
    for (uint32_t cp : data.codePoints) {
      if (FT_Load_Char(face, cp, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) ||
          FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL))
        return state.SkipWithError("FreeType failed");
      benchmark::DoNotOptimize(face->glyph->bitmap.buffer);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kCharacters);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
}
BENCHMARK(BM_FreeTypeBaseline)->Unit(benchmark::kMillisecond);

void BM_GetGlyphUncached(benchmark::State& state) {
  Data& data = Shared();
  if (!data.ready) return state.SkipWithError("no font");
  CGlyphGenerator generator;
  if (generator.SelectFont(false, data.gothic, 24, false, false, false, false))
    return state.SkipWithError("no font selected");
  CSurfaceFactory factory;
  for (auto _ : state) {
    state.PauseTiming();
    generator.ClearCaches();
    state.ResumeTiming();
    for (uint16_t code : data.codes) benchmark::DoNotOptimize(generator.GetGlyph(code, &factory, 0xFFFFFF));
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kCharacters);
}
BENCHMARK(BM_GetGlyphUncached)->Unit(benchmark::kMillisecond);

void BM_GetGlyphCached(benchmark::State& state) {
  Data& data = Shared();
  if (!data.ready) return state.SkipWithError("no font");
  CGlyphGenerator generator;
  if (generator.SelectFont(false, data.gothic, 24, false, false, false, false))
    return state.SkipWithError("no font selected");
  CSurfaceFactory factory;
  for (uint16_t code : data.codes) generator.GetGlyph(code, &factory, 0xFFFFFF);
  for (auto _ : state)
    for (uint16_t code : data.codes) benchmark::DoNotOptimize(generator.GetGlyph(code, &factory, 0xFFFFFF));
  state.SetItemsProcessed(int64_t(state.iterations()) * kCharacters);
}
BENCHMARK(BM_GetGlyphCached)->Unit(benchmark::kMillisecond);

}  // namespace
