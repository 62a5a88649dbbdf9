// Transitions and frame animations at 1280x720, each against a yardstick
// measured in the same run.
//
//   BM_RuleStep / BM_PixmanOverA8Mask: one frame of a rule wipe in flight
//     (the mask worked out from the rule at the frame's threshold, then the
//     canvas drawn through it; the back set is not drawn again) against
//     pixman OVER of a full-screen picture through an a8 mask. Target: at
//     most 2x.
//   BM_CrossFadeStep / BM_PixmanOverHalfMask: one frame of a cross-fade in
//     flight (the canvas drawn at its opacity) against pixman OVER through a
//     constant 50 % mask. Target: at most 1.5x.
//   BM_AnimationAfterHour / BM_AnimationAtStart: drawing a looping frame
//     animation an hour after it started against drawing it at its start.
//     Target: at most 1.1x.
//
// Report every figure as a ratio against its yardstick from the same run.

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "graphics/PngWriter.h"
#include "graphics/Surface.h"
#include "scene/AnimationLayer.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "scene/Tween.h"
#include "BenchPictures.h"

namespace {

constexpr int kW = 1280;
constexpr int kH = 720;

using bench::Next;

void Picture(ISurface& s, int w, int h, int format) { bench::Picture(s, w, h, format, 11); }

// A soft diagonal rule with grain, written once as a grey PNG.
std::string RuleFile() {
  static const std::string path = [] {
    std::vector<uint8_t> grey(size_t(kW) * kH);
    uint32_t seed = 5;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        grey[size_t(y) * kW + size_t(x)] = uint8_t(((x + y) * 255 / (kW + kH) + Next(seed) % 7) & 255);
    PngImage image;
    image.width = kW;
    image.height = kH;
    image.colorType = 0;
    image.pixels = grey.data();
    image.pitch = kW;
    std::vector<uint8_t> bytes;
    const std::string file = (std::filesystem::temp_directory_path() / "velmira_bench_rule.png").string();
    if (EncodePng(image, bytes)) return std::string();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return file;
  }();
  return path;
}

pixman_image_t* Wrap(ISurface& s, pixman_format_code_t format) {
  return pixman_image_create_bits(format, s.GetWidth(), s.GetHeight(), reinterpret_cast<uint32_t*>(s.GetLine(0)),
                                  s.GetPitch());
}

// A graphic system whose back set holds a full-screen picture and a sprite,
// with a transition of the given type started over a very long time, and
// the canvas drawn once (later frames only redraw it if the back set moves).
struct Scene {
  explicit Scene(int type) : graphics(nullptr, kW, kH) {
    CTweenRegistry::Instance().DeleteAll();
    auto* bg = new CSurface();
    Picture(*bg, kW, kH, 1);
    auto* bgLayer = new CLayer();
    bgLayer->SetSurface(bg);
    graphics.GetBackSet().Add("bg", bgLayer);
    auto* sprite = new CSurface();
    Picture(*sprite, 400, 500, 2);
    auto* spriteLayer = new CLayer();
    spriteLayer->SetSurface(sprite);
    spriteLayer->SetX(440);
    spriteLayer->SetY(110);
    graphics.GetBackSet().Add("chara", spriteLayer);
    target.Create(kW, kH, 1);
    started = graphics.StartTransition(type, 1 << 30, RuleFile(), 64, {}) == CGraphicSystem::TransitionStart::kStarted;
    // Half way, so the mask has every value and the fade is at 50 %.
    now = uint32_t(1) << 29;
    CTweenRegistry::Instance().UpdateAll(0);
    CTweenRegistry::Instance().UpdateAll(now);
    graphics.DrawTransition(&target);
  }
  ~Scene() { CTweenRegistry::Instance().DeleteAll(); }
  CGraphicSystem graphics;
  CSurface target;
  bool started = false;
  uint32_t now = 0;
};

void BM_RuleStep(benchmark::State& state) {
  Scene scene(2);
  if (!scene.started || !scene.graphics.HasRule()) {
    state.SkipWithError("the rule transition did not start");
    return;
  }
  for (auto _ : state) {
    // The threshold moves every frame, as it does in a running wipe.
    CTweenRegistry::Instance().UpdateAll(++scene.now);
    scene.graphics.DrawTransition(&scene.target);
    benchmark::ClobberMemory();
  }
  state.counters["back_redrawn"] = scene.graphics.GetBackNeedsDrawing() ? 1 : 0;
}
BENCHMARK(BM_RuleStep)->Unit(benchmark::kMicrosecond);

void BM_PixmanOverA8Mask(benchmark::State& state) {
  CSurface image, mask, target;
  Picture(image, kW, kH, 1);
  mask.Create(kW, kH, 0);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) mask.GetLine(y)[x] = uint8_t((x + y) & 255);
  target.Create(kW, kH, 1);
  pixman_image_t* s = Wrap(image, PIXMAN_x8r8g8b8);
  pixman_image_t* m = Wrap(mask, PIXMAN_a8);
  pixman_image_t* d = Wrap(target, PIXMAN_x8r8g8b8);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, m, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(m);
  pixman_image_unref(d);
}
BENCHMARK(BM_PixmanOverA8Mask)->Unit(benchmark::kMicrosecond);

void BM_CrossFadeStep(benchmark::State& state) {
  Scene scene(1);
  if (!scene.started) {
    state.SkipWithError("the cross-fade did not start");
    return;
  }
  for (auto _ : state) {
    CTweenRegistry::Instance().UpdateAll(++scene.now);
    scene.graphics.DrawTransition(&scene.target);
    benchmark::ClobberMemory();
  }
  state.counters["canvas_alpha"] = scene.graphics.GetCanvas() ? scene.graphics.GetCanvas()->GetAlpha() : -1;
}
BENCHMARK(BM_CrossFadeStep)->Unit(benchmark::kMicrosecond);

void BM_PixmanOverHalfMask(benchmark::State& state) {
  CSurface image, target;
  Picture(image, kW, kH, 1);
  target.Create(kW, kH, 1);
  pixman_image_t* s = Wrap(image, PIXMAN_x8r8g8b8);
  const pixman_color_t half = {0, 0, 0, 0x8000};
  pixman_image_t* m = pixman_image_create_solid_fill(&half);
  pixman_image_t* d = Wrap(target, PIXMAN_x8r8g8b8);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, m, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(m);
  pixman_image_unref(d);
}
BENCHMARK(BM_PixmanOverHalfMask)->Unit(benchmark::kMicrosecond);

// Eight 320x240 frames 100 ms apart and a loop marker at 800 ms, drawn at
// the given time after the start (stepping 16 ms a frame through one loop).
void DrawAnimation(benchmark::State& state, uint32_t after) {
  uint32_t clock = 1000;
  CAnimationLayer animation([&clock] { return clock; });
  for (int i = 0; i < 8; ++i) {
    auto* surface = new CSurface();
    Picture(*surface, 320, 240, 2);
    auto* frame = new CLayer();
    frame->SetSurface(surface);
    frame->SetX(480);
    frame->SetY(240);
    if (i == 0)
      animation.Reset(frame);
    else
      animation.SetFrame(frame, i * 100);
  }
  animation.SetFrame(nullptr, 800);
  CSurface target;
  target.Create(kW, kH, 1);
  const uint32_t base = 1000 + after;
  uint32_t step = 0;
  for (auto _ : state) {
    // Within one loop of the walk, so the start case stays at the start.
    clock = base + (step++ * 16) % 800;
    animation.Draw(&target);
    benchmark::ClobberMemory();
  }
}

void BM_AnimationAtStart(benchmark::State& state) { DrawAnimation(state, 0); }
BENCHMARK(BM_AnimationAtStart)->Unit(benchmark::kMicrosecond);

void BM_AnimationAfterHour(benchmark::State& state) { DrawAnimation(state, 3600u * 1000u); }
BENCHMARK(BM_AnimationAfterHour)->Unit(benchmark::kMicrosecond);

}  // namespace
