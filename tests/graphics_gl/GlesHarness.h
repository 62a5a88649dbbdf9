// A headless GL renderer next to a software one of the same size, so that a
// scene can be drawn by both and the pictures compared. Tests skip with a
// message when the machine has no EGL.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "graphics/SoftwareRenderer.h"
#include "graphics/Surface.h"
#include "graphics/gl/GlesLayer.h"
#include "graphics/gl/GlesRenderer.h"
#include "platform/Platform.h"
#include "scene/Layer.h"

struct CPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> bytes;  // B, G, R, A rows top-down
  const uint8_t* At(int x, int y) const { return &bytes[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
};

class CGlesFixture : public ::testing::Test {
 protected:
  static constexpr int kWidth = 64, kHeight = 48;

  void SetUp() override {
    platform::Init(platform::Backend::Headless);
    platform::RegisterWindowClass("gles-test");
    platform::CreateWindowArgs args;
    args.className = "gles-test";
    args.width = kWidth;
    args.height = kHeight;
    window = platform::CreateWindow(args);
    CGlesRenderer::SetAllowSoftwareRasterizer(true);
    gl = std::make_unique<CGlesRenderer>();
    if (gl->Init(window, kWidth, kHeight, 1)) {
      const std::string why = gl->GetLastError();
      gl.reset();
      GTEST_SKIP() << "no OpenGL ES 2 context here: " << why;
    }
    ASSERT_FALSE(software.Init(window, kWidth, kHeight, 1));
  }

  void TearDown() override {
    gl.reset();
    CGlesRenderer::SetAllowSoftwareRasterizer(false);
    CGlesRenderer::SetForcePowerOfTwo(false);
    platform::Shutdown();
  }

  // A surface of the renderer filled by fn(x, y) -> BGRA word.
  std::unique_ptr<CGlesSurface> GlSurface(int w, int h, int format, const std::function<uint32_t(int, int)>& fn) {
    auto s = std::make_unique<CGlesSurface>(gl.get());
    EXPECT_FALSE(s->Create(w, h, format));
    Paint(*s, fn);
    return s;
  }
  static std::unique_ptr<CSurface> MemSurface(int w, int h, int format, const std::function<uint32_t(int, int)>& fn) {
    auto s = std::make_unique<CSurface>();
    EXPECT_FALSE(s->Create(w, h, format));
    Paint(*s, fn);
    return s;
  }
  static void Paint(ISurface& s, const std::function<uint32_t(int, int)>& fn) {
    s.Lock();
    for (int y = 0; y < s.GetHeight(); ++y) {
      uint8_t* line = s.GetLine(y);
      for (int x = 0; x < s.GetWidth(); ++x) {
        const uint32_t v = fn(x, y);
        if (s.GetBytesPerPixel() == 1)
          line[x] = uint8_t(v);
        else
          std::memcpy(line + 4 * x, &v, 4);
      }
    }
    s.Unlock();
  }

  // Draws the layers (bottom first) through GL into a cleared back buffer.
  CPicture DrawGl(const std::vector<ILayer*>& layers, bool clear = true) {
    gl->RenderStart();
    if (clear) gl->Clear();
    for (ILayer* layer : layers) layer->Draw(nullptr);
    CPicture p;
    EXPECT_FALSE(gl->ReadBack(p.bytes, p.width, p.height));
    gl->RenderEnd();
    return p;
  }
  CPicture DrawSoftware(const std::vector<ILayer*>& layers) {
    software.Clear();
    for (ILayer* layer : layers) layer->Draw(&software);
    CPicture p;
    p.width = software.GetWidth();
    p.height = software.GetHeight();
    p.bytes.resize(size_t(p.width) * size_t(p.height) * 4);
    for (int y = 0; y < p.height; ++y)
      std::memcpy(&p.bytes[size_t(y) * size_t(p.width) * 4], software.GetLine(y), size_t(p.width) * 4);
    return p;
  }

  platform::WindowHandle window = 0;
  std::unique_ptr<CGlesRenderer> gl;
  CSoftwareRenderer software;
};

// Largest difference of the colour bytes (the alpha byte of the back buffer
// is not shown).
inline int MaxColourDifference(const CPicture& a, const CPicture& b) {
  int worst = 0;
  for (size_t i = 0; i < a.bytes.size() && i < b.bytes.size(); ++i) {
    if (i % 4 == 3) continue;
    worst = std::max(worst, std::abs(int(a.bytes[i]) - int(b.bytes[i])));
  }
  return worst;
}
