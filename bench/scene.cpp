// Scene at 1280x720: layer resampling and drawing, set drawing, tweens and
// commits, each against a yardstick measured in the same run.
//
//   BM_Rotate30 / BM_PixmanRotate30: a 30-degree turn of a 1280x720
//     format-2 image, resampled and drawn every time, against pixman's
//     bilinear OVER with that transform. Target: at most 1.0x.
//   BM_Scale200 / BM_PixmanScale200: 640x360 scaled to 200 %, bilinear.
//     Target: at most 1.0x.
//   BM_MaskedLayer / BM_PixmanMaskNearest: an untransformed 1280x720 layer
//     with an 8-bit mask (the nearest path), resampled every time, against
//     pixman's nearest OVER with an a8 mask. Target: at most 1.2x.
//   BM_MoveRotated / BM_PixmanOverArea: a rotated layer moved by a pixel
//     (its cached image is reused) against pixman OVER of its bounding
//     rectangle. Target: at most 1.5x.
//   BM_OccludedSet / BM_FrameMemcpy: 20 full-screen layers under an opaque
//     one against one frame's memcpy. Target: at most 1.3x.
//   BM_TweenUpdateAll / BM_TweenPlainLoop: 10,000 tweens advanced by the
//     registry against a plain loop of the same formulas and setters.
//     Target: at most 2x.
//   BM_Commit1000 / BM_CopyChildren1000: a scene commit of 1,000 layers
//     against copying the children map. Target: at most 5x.
//
// Report every figure as a ratio against its yardstick from the same run.

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "graphics/Surface.h"
#include "scene/Easing.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "scene/Tween.h"
#include "BenchPictures.h"

namespace {

constexpr int kW = 1280;
constexpr int kH = 720;

using bench::Next;

void Picture(ISurface& s, int w, int h, int format) { bench::Picture(s, w, h, format, 7); }

pixman_image_t* Wrap(ISurface& s, pixman_format_code_t format) {
  return pixman_image_create_bits(format, s.GetWidth(), s.GetHeight(), reinterpret_cast<uint32_t*>(s.GetLine(0)),
                                  s.GetPitch());
}

// The transform pixman wants: destination to source.
void SetInverse(pixman_image_t* image, const CMatrix2D& forward) {
  CMatrix2D inverse = forward;
  inverse.Invert();
  pixman_f_transform f;
  pixman_f_transform_init_identity(&f);
  f.m[0][0] = inverse.a;
  f.m[0][1] = inverse.b;
  f.m[0][2] = inverse.tx;
  f.m[1][0] = inverse.c;
  f.m[1][1] = inverse.d;
  f.m[1][2] = inverse.ty;
  pixman_transform t;
  pixman_transform_from_pixman_f_transform(&t, &f);
  pixman_image_set_transform(image, &t);
}

// A layer turned 30 degrees about its centre, centred on the screen.
void Rotated(CLayer& layer, ISurface* image) {
  layer.SetSurface(image);
  layer.SetAnchorX(image->GetWidth() / 2);
  layer.SetAnchorY(image->GetHeight() / 2);
  layer.SetX((kW - image->GetWidth()) / 2);
  layer.SetY((kH - image->GetHeight()) / 2);
  layer.SetRotate(30);
}

void BM_Rotate30(benchmark::State& state) {
  CSurface image, target;
  Picture(image, kW, kH, 2);
  target.Create(kW, kH, 1);
  CLayer layer;
  Rotated(layer, &image);
  for (auto _ : state) {
    layer.SetDirtyFlags(kDirtyTransform);  // resample every time
    layer.Draw(&target);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Rotate30)->Unit(benchmark::kMillisecond);

void BM_PixmanRotate30(benchmark::State& state) {
  CSurface image, target;
  Picture(image, kW, kH, 2);
  target.Create(kW, kH, 1);
  CLayer layer;
  Rotated(layer, &image);
  layer.UpdateMatrix({});
  pixman_image_t* s = Wrap(image, PIXMAN_a8r8g8b8);
  pixman_image_t* d = Wrap(target, PIXMAN_x8r8g8b8);
  SetInverse(s, layer.GetMatrix());
  pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
}
BENCHMARK(BM_PixmanRotate30)->Unit(benchmark::kMillisecond);

void BM_Scale200(benchmark::State& state) {
  CSurface image, target;
  Picture(image, kW / 2, kH / 2, 2);
  target.Create(kW, kH, 1);
  CLayer layer;
  layer.SetSurface(&image);
  layer.SetXScale(2 * kScaleOne);
  layer.SetYScale(2 * kScaleOne);
  for (auto _ : state) {
    layer.SetDirtyFlags(kDirtyTransform);
    layer.Draw(&target);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Scale200)->Unit(benchmark::kMillisecond);

void BM_PixmanScale200(benchmark::State& state) {
  CSurface image, target;
  Picture(image, kW / 2, kH / 2, 2);
  target.Create(kW, kH, 1);
  pixman_image_t* s = Wrap(image, PIXMAN_a8r8g8b8);
  pixman_image_t* d = Wrap(target, PIXMAN_x8r8g8b8);
  CMatrix2D forward;
  forward.Scale(2, 2);
  SetInverse(s, forward);
  pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
}
BENCHMARK(BM_PixmanScale200)->Unit(benchmark::kMillisecond);

void MakeMask(CSurface& mask) {
  mask.Create(kW, kH, 0);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) mask.GetLine(y)[x] = uint8_t((x + y) & 255);
}

void BM_MaskedLayer(benchmark::State& state) {
  CSurface image, mask, target;
  Picture(image, kW, kH, 1);
  MakeMask(mask);
  target.Create(kW, kH, 1);
  CLayer layer;
  layer.SetSurface(&image);
  layer.SetMask(&mask);
  for (auto _ : state) {
    layer.SetDirtyFlags(kDirtyImage);
    layer.Draw(&target);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MaskedLayer)->Unit(benchmark::kMillisecond);

void BM_PixmanMaskNearest(benchmark::State& state) {
  CSurface image, mask, target;
  Picture(image, kW, kH, 1);
  MakeMask(mask);
  target.Create(kW, kH, 1);
  pixman_image_t* s = Wrap(image, PIXMAN_x8r8g8b8);
  pixman_image_t* m = Wrap(mask, PIXMAN_a8);
  pixman_image_t* d = Wrap(target, PIXMAN_x8r8g8b8);
  pixman_image_set_filter(s, PIXMAN_FILTER_NEAREST, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, m, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(m);
  pixman_image_unref(d);
}
BENCHMARK(BM_PixmanMaskNearest)->Unit(benchmark::kMillisecond);

// A 640x360 picture turned 30 degrees: its bounding rectangle fits the
// screen, so moving it never clips.
void BM_MoveRotated(benchmark::State& state) {
  CSurface image, target;
  Picture(image, kW / 2, kH / 2, 2);
  target.Create(kW, kH, 1);
  CLayer layer;
  Rotated(layer, &image);
  layer.Draw(&target);
  int step = 0;
  for (auto _ : state) {
    layer.SetX((kW - image.GetWidth()) / 2 + (step++ & 1));
    layer.Draw(&target);
    benchmark::ClobberMemory();
  }
  state.counters["resamples"] = double(layer.GetResampleCount());
}
BENCHMARK(BM_MoveRotated)->Unit(benchmark::kMicrosecond);

void BM_PixmanOverArea(benchmark::State& state) {
  CSurface image, target, area;
  Picture(image, kW / 2, kH / 2, 2);
  target.Create(kW, kH, 1);
  CLayer layer;
  Rotated(layer, &image);
  layer.Draw(&target);
  const CRect bounds = layer.GetBounds();
  Picture(area, bounds.GetWidth(), bounds.GetHeight(), 2);
  pixman_image_t* s = Wrap(area, PIXMAN_a8r8g8b8);
  pixman_image_t* d = Wrap(target, PIXMAN_x8r8g8b8);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, bounds.GetX(), bounds.GetY(), bounds.GetWidth(),
                             bounds.GetHeight());
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
}
BENCHMARK(BM_PixmanOverArea)->Unit(benchmark::kMicrosecond);

void BM_OccludedSet(benchmark::State& state) {
  CSurface target;
  target.Create(kW, kH, 1);
  CLayerSet set;
  for (int i = 0; i < 20; ++i) {
    auto* surface = new CSurface();
    Picture(*surface, kW, kH, 2);
    auto* layer = new CLayer();
    layer->SetSurface(surface);
    set.Add("layer" + std::to_string(10 + i), layer);
  }
  auto* top = new CSurface();
  Picture(*top, kW, kH, 1);
  auto* opaque = new CLayer();
  opaque->SetSurface(top);
  set.Add("zz", opaque);
  for (auto _ : state) {
    set.Draw(&target);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_OccludedSet)->Unit(benchmark::kMicrosecond);

void BM_FrameMemcpy(benchmark::State& state) {
  std::vector<uint8_t> src(size_t(kW) * kH * 4, 1), dst(size_t(kW) * kH * 4);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), dst.size());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FrameMemcpy)->Unit(benchmark::kMicrosecond);

constexpr int kTweens = 10000;

void BM_TweenUpdateAll(benchmark::State& state) {
  CTweenRegistry registry;
  std::vector<int32_t> values(kTweens);
  for (int i = 0; i < kTweens; ++i) {
    auto tween =
        std::make_unique<CIntTween>([&values, i](int32_t v) { values[size_t(i)] = v; }, 0, 1000 + i, 1 << 30, 0);
    tween->SetEase(i % 31);
    registry.Register(std::move(tween));
  }
  uint32_t now = 0;
  registry.UpdateAll(now);
  for (auto _ : state) {
    registry.UpdateAll(now += 16);
    benchmark::DoNotOptimize(values.data());
  }
}
BENCHMARK(BM_TweenUpdateAll)->Unit(benchmark::kMicrosecond);

void BM_TweenPlainLoop(benchmark::State& state) {
  struct Plain {
    int kind;
    double from, to;
    uint32_t start, end;
    std::function<void(int32_t)> setter;
  };
  std::vector<int32_t> values(kTweens);
  std::vector<Plain> plain;
  for (int i = 0; i < kTweens; ++i)
    plain.push_back({i % 31, 0, double(1000 + i), 0, 1u << 30, [&values, i](int32_t v) { values[size_t(i)] = v; }});
  uint32_t now = 0;
  for (auto _ : state) {
    now += 16;
    for (Plain& p : plain)
      p.setter(int32_t(Ease(p.kind, double(now - p.start), p.from, p.to - p.from, double(p.end - p.start))));
    benchmark::DoNotOptimize(values.data());
  }
}
BENCHMARK(BM_TweenPlainLoop)->Unit(benchmark::kMicrosecond);

constexpr int kLayers = 1000;

std::string LayerName(int i) { return "chara" + std::to_string(i); }

void BM_Commit1000(benchmark::State& state) {
  CGraphicSystem graphics(platform::WindowHandle(0), 64, 64);
  for (int i = 0; i < kLayers; ++i) {
    auto* surface = new CSurface();
    surface->Create(4, 4, 2);
    auto* layer = new CLayer();
    layer->SetSurface(surface);
    graphics.GetBackSet().Add(LayerName(i), layer);
  }
  graphics.Commit();
  for (auto _ : state) {
    graphics.Commit();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Commit1000)->Unit(benchmark::kMicrosecond);

void BM_CopyChildren1000(benchmark::State& state) {
  std::vector<std::unique_ptr<CLayer>> layers;
  std::map<std::string, IVirtualLayer*> children;
  for (int i = 0; i < kLayers; ++i) {
    layers.push_back(std::make_unique<CLayer>());
    children.emplace(LayerName(i), layers.back().get());
  }
  for (auto _ : state) {
    auto copy = std::make_unique<std::map<std::string, IVirtualLayer*>>(children);
    benchmark::DoNotOptimize(copy.get());
  }
}
BENCHMARK(BM_CopyChildren1000)->Unit(benchmark::kMicrosecond);

}  // namespace
