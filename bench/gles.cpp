// The GPU renderer against bare GL and against software, all in one run:
// - 1,000 small CGlesLayer draws against a bare GL loop drawing the same
//   quads with the same program (target: at most 1.25x);
// - Lock/Unlock of a 1280 x 720 surface, uploaded at its next draw, against a
//   bare glTexSubImage2D of the same bytes (target: at most 1.2x);
// - a reference frame (a full-screen picture and 24 blended layers) through
//   GL against software; on llvmpipe this ratio is reported, not targeted.
// Every GL figure ends with glFinish, so the GPU's work is counted.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "graphics/SoftwareRenderer.h"
#include "graphics/gl/GlesLayer.h"
#include "graphics/gl/GlesRenderer.h"
#include "platform/Platform.h"
#include "scene/Layer.h"

namespace {

constexpr int kWidth = 1280, kHeight = 720;

struct Context {
  platform::WindowHandle window = 0;
  std::unique_ptr<CGlesRenderer> gl;
  CSoftwareRenderer software;
  bool ok = false;

  Context() {
    platform::Init(platform::Backend::Headless);
    platform::RegisterWindowClass("bench-gles");
    platform::CreateWindowArgs args;
    args.className = "bench-gles";
    args.width = kWidth;
    args.height = kHeight;
    window = platform::CreateWindow(args);
    CGlesRenderer::SetAllowSoftwareRasterizer(true);
    gl = std::make_unique<CGlesRenderer>();
    ok = !gl->Init(window, kWidth, kHeight, 1) && !software.Init(window, kWidth, kHeight, 1);
  }
};

Context& Ctx() {
  static Context* context = new Context();
  return *context;
}

void Paint(ISurface& s, uint32_t seed) {
  s.Lock();
  for (int y = 0; y < s.GetHeight(); ++y) {
    uint8_t* line = s.GetLine(y);
    for (int x = 0; x < s.GetWidth(); ++x) {
      const uint32_t v = (uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 40503u) ^ seed;
      std::memcpy(line + 4 * x, &v, 4);
    }
  }
  s.Unlock();
}

bool Skip(benchmark::State& state) {
  if (Ctx().ok) return false;
  state.SkipWithError(("no GL: " + (Ctx().gl ? Ctx().gl->GetLastError() : std::string())).c_str());
  return true;
}

constexpr int kQuads = 1000;

void BM_BareGlQuads(benchmark::State& state) {
  if (Skip(state)) return;
  CGlesRenderer& r = *Ctx().gl;
  CGlesSurface image(&r);
  image.Create(16, 16, 2);
  Paint(image, 1);
  const GLuint texture = image.GetTexture();
  CGlesApi& gl = Gles();
  for (auto _ : state) {
    r.RenderStart();
    r.UseLayerProgram();
    const CGlesRenderer::CLayerProgram& p = r.GetLayerProgram();
    gl.Uniform1f(p.hasMask, 0);
    gl.Uniform1f(p.ignoreAlpha, 0);
    gl.Uniform1f(p.opacity, 1);
    gl.Uniform1f(p.tint, 0);
    gl.Uniform1f(p.copyAlpha, 0);
    gl.Enable(GL_BLEND);
    gl.BlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);
    gl.ActiveTexture(GL_TEXTURE0);
    gl.BindTexture(GL_TEXTURE_2D, texture);
    gl.EnableVertexAttribArray(0);
    gl.EnableVertexAttribArray(1);
    gl.DisableVertexAttribArray(2);
    for (int i = 0; i < kQuads; ++i) {
      const float x = float(i * 37 % (kWidth - 16)), y = float(i * 23 % (kHeight - 16));
      const GLfloat v[] = {x, y, 0, 0, 0, 0, x + 16, y, 1, 0, 0, 0, x + 16, y + 16, 1, 1, 0, 0, x, y + 16, 0, 1, 0, 0};
      gl.VertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 24, v);
      gl.VertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 24, v + 2);
      gl.DrawArrays(GL_TRIANGLE_FAN, 0, 4);
    }
    gl.Finish();
    r.RenderEnd();
  }
}
BENCHMARK(BM_BareGlQuads)->Unit(benchmark::kMillisecond);

void BM_GlesLayerQuads(benchmark::State& state) {
  if (Skip(state)) return;
  CGlesRenderer& r = *Ctx().gl;
  CGlesSurface image(&r);
  image.Create(16, 16, 2);
  Paint(image, 1);
  std::vector<std::unique_ptr<CGlesLayer>> layers;
  for (int i = 0; i < kQuads; ++i) {
    auto layer = std::make_unique<CGlesLayer>(&r);
    layer->SetSurface(&image);
    layer->SetX(i * 37 % (kWidth - 16));
    layer->SetY(i * 23 % (kHeight - 16));
    layers.push_back(std::move(layer));
  }
  for (auto _ : state) {
    r.RenderStart();
    for (auto& layer : layers) layer->Draw(nullptr);
    Gles().Finish();
    r.RenderEnd();
  }
}
BENCHMARK(BM_GlesLayerQuads)->Unit(benchmark::kMillisecond);

void BM_BareTexSubImage(benchmark::State& state) {
  if (Skip(state)) return;
  std::vector<uint8_t> bytes(size_t(kWidth) * kHeight * 4, 0x5A);
  CGlesApi& gl = Gles();
  GLuint texture = 0;
  gl.GenTextures(1, &texture);
  gl.BindTexture(GL_TEXTURE_2D, texture);
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kWidth, kHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  for (auto _ : state) {
    bytes[0]++;
    gl.BindTexture(GL_TEXTURE_2D, texture);
    gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
    gl.Finish();
  }
  gl.DeleteTextures(1, &texture);
}
BENCHMARK(BM_BareTexSubImage)->Unit(benchmark::kMillisecond);

void BM_SurfaceUnlockUpload(benchmark::State& state) {
  if (Skip(state)) return;
  CGlesSurface surface(Ctx().gl.get());
  surface.Create(kWidth, kHeight, 2);
  Paint(surface, 3);
  surface.GetTexture();
  for (auto _ : state) {
    surface.Lock();
    surface.GetLine(0)[0]++;
    surface.Unlock();
    surface.GetTexture();  // where a draw brings the texture up to date
    Gles().Finish();
  }
}
BENCHMARK(BM_SurfaceUnlockUpload)->Unit(benchmark::kMillisecond);

// The reference frame: a full-screen picture, then 24 blended 200 x 150
// layers in every mode, some at half opacity.
template <typename MakeSurface, typename MakeLayer>
void BuildFrame(MakeSurface makeSurface, MakeLayer makeLayer, std::vector<std::unique_ptr<ISurface>>& surfaces,
                std::vector<std::unique_ptr<ILayer>>& layers) {
  surfaces.push_back(makeSurface(kWidth, kHeight, 1));
  layers.push_back(makeLayer());
  layers.back()->SetSurface(surfaces.back().get());
  surfaces.push_back(makeSurface(200, 150, 2));
  for (int i = 0; i < 24; ++i) {
    layers.push_back(makeLayer());
    ILayer& l = *layers.back();
    l.SetSurface(surfaces.back().get());
    l.SetX(i * 47 % (kWidth - 200));
    l.SetY(i * 31 % (kHeight - 150));
    static constexpr int kModes[] = {0, 1, 2, 4};
    l.SetLayerMode(kModes[i % 4]);
    if (i % 3 == 0) l.SetAlpha(128);
  }
}

void BM_ReferenceFrameSoftware(benchmark::State& state) {
  if (Skip(state)) return;
  std::vector<std::unique_ptr<ISurface>> surfaces;
  std::vector<std::unique_ptr<ILayer>> layers;
  BuildFrame(
      [](int w, int h, int f) {
        auto s = std::make_unique<CSurface>();
        s->Create(w, h, f);
        Paint(*s, uint32_t(w));
        return std::unique_ptr<ISurface>(std::move(s));
      },
      [] { return std::unique_ptr<ILayer>(new CLayer()); }, surfaces, layers);
  CSoftwareRenderer& target = Ctx().software;
  for (auto _ : state) {
    for (auto& l : layers) l->Draw(&target);
    benchmark::DoNotOptimize(target.GetLine(0));
  }
}
BENCHMARK(BM_ReferenceFrameSoftware)->Unit(benchmark::kMillisecond);

void BM_ReferenceFrameGles(benchmark::State& state) {
  if (Skip(state)) return;
  CGlesRenderer* r = Ctx().gl.get();
  std::vector<std::unique_ptr<ISurface>> surfaces;
  std::vector<std::unique_ptr<ILayer>> layers;
  BuildFrame(
      [r](int w, int h, int f) {
        auto s = std::make_unique<CGlesSurface>(r);
        s->Create(w, h, f);
        Paint(*s, uint32_t(w));
        return std::unique_ptr<ISurface>(std::move(s));
      },
      [r] { return std::unique_ptr<ILayer>(new CGlesLayer(r)); }, surfaces, layers);
  for (auto _ : state) {
    r->RenderStart();
    for (auto& l : layers) l->Draw(nullptr);
    Gles().Finish();
    r->RenderEnd();
  }
}
BENCHMARK(BM_ReferenceFrameGles)->Unit(benchmark::kMillisecond);

}  // namespace
