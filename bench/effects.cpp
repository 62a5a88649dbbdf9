// Text effects.
//
// - BM_BareTweens: the tweens the default appear list makes for a page of
//   400 characters (two per glyph, 400 ms each, started 20 ms apart), as
//   bare TTweens with no-op setters, registered and updated at 60 frames a
//   second until the last one ends. The work no effect system can avoid.
// - BM_StartEffects: StartEffects of the default appear list on such a page
//   plus the registry updates until EffectsFinished. Report it as a ratio
//   against BM_BareTweens (target: at most 1.5).
// - BM_EffectsFinished/1 and /10000: the per-frame question on a page with
//   running effects, after one page and after 10,000 pages written, shown
//   and cleared in the same window. The two should match.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "graphics/Surface.h"
#include "platform/FontBackend.h"
#include "platform/TextCodec.h"
#include "scene/Easing.h"
#include "scene/Layer.h"
#include "scene/Tween.h"
#include "text/TextRenderer.h"

namespace {

constexpr int kCharacters = 400;

CTextRenderer::CTweenList DefaultAppear() {
  CTextRenderer::CTweenInfo slide, fade;
  slide.param = 1, slide.ease = kEaseOutSine, slide.diff = -16, slide.msec = 400, slide.delay = 20;
  fade.param = 2, fade.ease = kEaseNone, fade.diff = -255, fade.msec = 400, fade.delay = 20;
  return {slide, fade};
}

struct Page {
  CLayerFactory layers;
  CSurfaceFactory surfaces;
  std::unique_ptr<CTextRenderer> window;
  bool ready = false;

  Page() {
    if (platform::InitFontBackend()) return;
    window = std::make_unique<CTextRenderer>(&layers, &surfaces);
    CFontValues font;
    font.width = 2000;
    font.height = 2000;
    window->SetFont(font);
    const std::string kana = platform::ConvertUtf8ToCp932("あいうえおかきくけこ");
    for (int i = 0; i < kCharacters / 10; ++i) window->AddText(kana);
    ready = window->GetCharCount() == kCharacters;
  }
};

Page& Shared() {
  static Page page;
  return page;
}

void BM_BareTweens(benchmark::State& state) {
  CTweenRegistry& registry = CTweenRegistry::Instance();
  registry.DeleteAll();
  for (auto _ : state) {
    for (int i = 0; i < kCharacters; ++i)
      for (int kind : {int(kEaseOutSine), int(kEaseNone)}) {
        auto tween = std::make_unique<CIntTween>([](int32_t) {}, -16, 0, 400, i * 20);
        tween->SetEase(kind);
        registry.Register(std::move(tween));
      }
    uint32_t now = 0;
    while (registry.GetCount() > 0) registry.UpdateAll(now += 16);
  }
}
BENCHMARK(BM_BareTweens)->Unit(benchmark::kMillisecond);

void BM_StartEffects(benchmark::State& state) {
  Page& page = Shared();
  if (!page.ready) return state.SkipWithError("no font");
  CTweenRegistry& registry = CTweenRegistry::Instance();
  registry.DeleteAll();
  const CTextRenderer::CTweenList appear = DefaultAppear();
  for (auto _ : state) {
    page.window->StartEffects(appear, false);
    uint32_t now = 0;
    do registry.UpdateAll(now += 16);
    while (!page.window->EffectsFinished());
  }
}
BENCHMARK(BM_StartEffects)->Unit(benchmark::kMillisecond);

void BM_EffectsFinished(benchmark::State& state) {
  if (platform::InitFontBackend()) return state.SkipWithError("no font");
  CTweenRegistry& registry = CTweenRegistry::Instance();
  registry.DeleteAll();
  CLayerFactory layers;
  CSurfaceFactory surfaces;
  CTextRenderer window(&layers, &surfaces);
  const CTextRenderer::CTweenList appear = DefaultAppear();
  const std::string text = platform::ConvertUtf8ToCp932("あいう");
  uint32_t now = 0;
  for (int64_t page = 0; page < state.range(0); ++page) {
    window.AddText(text);
    window.StartEffects(appear, true);
    registry.UpdateAll(now += 16);
    window.FinishEffects();
    window.Clear();
  }
  window.AddText(text);
  window.StartEffects(appear, true);
  registry.UpdateAll(now += 16);
  for (auto _ : state) benchmark::DoNotOptimize(window.EffectsFinished());
  window.Clear();
}
BENCHMARK(BM_EffectsFinished)->Arg(1)->Arg(10000);

}  // namespace
