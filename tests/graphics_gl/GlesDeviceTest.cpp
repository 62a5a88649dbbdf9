// The renderer's life: errors, lost contexts and resets, render targets,
// window scale and locking rules.
#include "GlesHarness.h"

namespace {

uint32_t Pattern(int x, int y) {
  return 0xFF000000u | uint32_t(x * 11 % 256) << 16 | uint32_t(y * 13 % 256) << 8 | 0x33u;
}

using Device = CGlesFixture;

TEST_F(Device, InitRefusesUnknownFormatsAndNamesTheReason) {
  CGlesRenderer other;
  EXPECT_TRUE(other.Init(window, 16, 16, 3));
  EXPECT_EQ(other.GetLastError(), "Unsupported Pixed Format.");
  EXPECT_TRUE(other.Init(window, 0, 16, 1));
  EXPECT_EQ(other.GetLastError().find("src/graphics/gl/GlesRenderer("), 0u);
  EXPECT_NE(other.GetLastError().find("): CGlesRenderer::Init() GL_INVALID_VALUE - "), std::string::npos);
  CGlesSurface surface(gl.get());
  EXPECT_TRUE(surface.Init(4, 4, 7, false));
  EXPECT_EQ(surface.GetLastError(), "This Pixel Format is NOT available.");
}

TEST_F(Device, SoftwareRasterizerIsDeclinedUnlessAsked) {
  if (gl->GetRendererName().find("llvmpipe") == std::string::npos &&
      gl->GetRendererName().find("softpipe") == std::string::npos)
    GTEST_SKIP() << "a hardware GL: nothing to decline";
  gl.reset();
  CGlesRenderer::SetAllowSoftwareRasterizer(false);
  CGlesRenderer declined;
  EXPECT_TRUE(declined.Init(window, 16, 16, 1));
  EXPECT_NE(declined.GetLastError().find("CGlesRenderer::Init() GL_RENDERER - "), std::string::npos);
  // Nothing of the declined renderer answers for the frame.
  std::vector<uint8_t> pixels;
  int w = 0, h = 0;
  EXPECT_TRUE(platform::GetLastFrame(pixels, w, h));
}

TEST_F(Device, LostContextComesBackWithTheSamePictures) {
  auto image = GlSurface(20, 10, 2, Pattern);
  CGlesLayer layer(gl.get());
  layer.SetSurface(image.get());
  layer.SetX(7);
  const CPicture before = DrawGl({&layer});
  int restored = 0;
  gl->SetAfterRestore([&] { ++restored; });

  platform::LoseGlContext(window);
  gl->RenderStart();
  gl->RenderEnd();
  // RenderStart noticed and reset: a new context, textures uploaded again.
  EXPECT_FALSE(gl->IsLost());
  EXPECT_EQ(restored, 1);
  const CPicture after = DrawGl({&layer});
  EXPECT_EQ(before.bytes, after.bytes);

  // Lost during a frame: RenderEnd's swap reports it, the next frame resets.
  gl->RenderStart();
  platform::LoseGlContext(window);
  gl->RenderEnd();
  EXPECT_TRUE(gl->IsLost());
  std::vector<uint8_t> none;
  int w = 0, h = 0;
  EXPECT_TRUE(gl->ReadBack(none, w, h));
  EXPECT_EQ(DrawGl({&layer}).bytes, after.bytes);

  // A renderer that goes while its context is lost leaves no frame behind
  // for the screenshot path to read.
  platform::LoseGlContext(window);
  gl->RenderStart();
  platform::LoseGlContext(window);
  gl->RenderEnd();
  ASSERT_TRUE(gl->IsLost());
  layer.SetSurface(nullptr);
  image.reset();
  gl.reset();
  EXPECT_TRUE(platform::GetLastFrame(none, w, h));
}

TEST_F(Device, DestroyedRenderTargetsAreNotCalledBack) {
  const size_t base = gl->GetRegisteredCount();
  {
    CGlesSurface target(gl.get(), true);
    ASSERT_FALSE(target.Create(32, 32, 1));
    CGlesSurface managed(gl.get());
    ASSERT_FALSE(managed.Create(8, 8, 2));
    EXPECT_EQ(gl->GetRegisteredCount(), base + 2);
  }
  EXPECT_EQ(gl->GetRegisteredCount(), base);
  platform::LoseGlContext(window);
  EXPECT_FALSE(gl->DeviceReset());
}

TEST_F(Device, FailedResetKeepsFramesSkippedUntilARetry) {
  auto image = GlSurface(8, 8, 1, Pattern);
  CGlesLayer layer(gl.get());
  layer.SetSurface(image.get());
  EXPECT_TRUE(gl->ChangeMode(window, 0, 0, 1, true));
  EXPECT_TRUE(gl->IsLost());
  EXPECT_FALSE(gl->IsDrawing());
  // The next frame retries with the last good size and draws again.
  gl->RenderStart();
  EXPECT_FALSE(gl->IsLost());
  EXPECT_TRUE(gl->IsDrawing());
  gl->RenderEnd();
}

TEST_F(Device, RenderTargetsFillAndTakeLayersLikeTheBackBuffer) {
  auto image = GlSurface(10, 10, 2, Pattern);
  CGlesSurface canvas(gl.get(), true);
  ASSERT_FALSE(canvas.Create(kWidth, kHeight, 1));
  EXPECT_TRUE(canvas.IsRenderTarget());
  canvas.Lock();
  EXPECT_EQ(canvas.GetPitch(), 0);
  canvas.Unlock();

  CGlesLayer layer(gl.get()), shown(gl.get());
  layer.SetSurface(image.get());
  layer.SetX(100 / 10);
  layer.SetY(50 / 10);
  shown.SetSurface(&canvas);
  gl->RenderStart();
  canvas.Fill(0xFF000000u);
  layer.Draw(&canvas);
  // Drawn into a texture at scale 1, whatever the window scale.
  EXPECT_FLOAT_EQ(layer.GetLastCorners()[0], 10.0f);
  gl->Clear();
  shown.Draw(nullptr);
  CPicture viaTarget;
  ASSERT_FALSE(gl->ReadBack(viaTarget.bytes, viaTarget.width, viaTarget.height));
  gl->RenderEnd();

  // The same as drawing the layer over opaque black directly.
  auto black = GlSurface(kWidth, kHeight, 1, [](int, int) { return 0xFF000000u; });
  CGlesLayer ground(gl.get());
  ground.SetSurface(black.get());
  EXPECT_EQ(MaxColourDifference(DrawGl({&ground, &layer}), viaTarget), 0);
}

TEST_F(Device, WindowScaleMovesCornersWithoutTheHalfPixel) {
  auto image = GlSurface(10, 10, 1, Pattern);
  CGlesLayer layer(gl.get());
  layer.SetSurface(image.get());
  layer.SetX(100);
  layer.SetY(50);
  ASSERT_FALSE(gl->ChangeMode(window, kWidth * 3 / 2, kHeight * 3 / 2, 1, true));
  gl->SetWindowScale(1.5f);
  EXPECT_EQ(gl->GetBackWidth(), 96);
  DrawGl({&layer});
  const float* c = layer.GetLastCorners();
  EXPECT_FLOAT_EQ(c[0], 150.0f);
  EXPECT_FLOAT_EQ(c[1], 75.0f);
  EXPECT_FLOAT_EQ(c[4], 165.0f);
  EXPECT_FLOAT_EQ(c[5], 90.0f);
  EXPECT_FALSE(layer.GetLastLinear());
}

TEST_F(Device, PixelsOnlyWhileLockedAndUploadedOnceWhenDrawn) {
  auto image = GlSurface(4, 4, 2, Pattern);
  image->Lock();
  EXPECT_EQ(image->GetPitch(), 16);
  ASSERT_NE(image->GetLine(3), nullptr);
  EXPECT_EQ(image->GetLine(4), nullptr);
  image->Unlock();
  EXPECT_EQ(image->GetPitch(), 0);
  CGlesLayer layer(gl.get());
  layer.SetSurface(image.get());
  const uint64_t uploads = image->GetUploadCount();
  DrawGl({&layer});
  DrawGl({&layer});
  EXPECT_EQ(image->GetUploadCount(), uploads + 1);
  // A change after Unlock reaches the next frame.
  Paint(*image, [](int, int) { return 0xFF0000FFu; });
  const CPicture p = DrawGl({&layer});
  EXPECT_EQ(p.At(1, 1)[0], 0xFF);
  EXPECT_EQ(p.At(1, 1)[2], 0x00);
}

}  // namespace

namespace {

TEST_F(Device, SurfacesAndLayersMayOutliveTheRenderer) {
  auto image = GlSurface(8, 8, 2, Pattern);
  auto target = std::make_unique<CGlesSurface>(gl.get(), true);
  ASSERT_FALSE(target->Create(8, 8, 1));
  auto layer = std::make_unique<CGlesLayer>(gl.get());
  layer->SetSurface(image.get());
  layer->SetLayerMode(3);
  DrawGl({layer.get()});
  gl.reset();
  // Late caches let go after the renderer: nothing is called back.
  layer.reset();
  target.reset();
  image.reset();
}

}  // namespace
