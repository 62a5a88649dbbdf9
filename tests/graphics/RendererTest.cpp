#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "scene/GraphicRenderer.h"
#include "graphics/SoftwareRenderer.h"
#include "graphics/Surface.h"
#include "platform/Platform.h"
#include "scene/Layer.h"

namespace {

uint32_t PixelAt(ISurface& s, int x, int y) {
  uint32_t v = 0;
  std::memcpy(&v, s.GetLine(y) + 4 * x, 4);
  return v;
}

// A renderer that can be told to fail, and records what reached it.
class CFakeRenderer : public IGraphicRenderer {
 public:
  explicit CFakeRenderer(bool fails, int* destroyed = nullptr) : m_fails(fails), m_destroyed(destroyed) {}
  ~CFakeRenderer() override {
    if (m_destroyed) ++*m_destroyed;
  }
  bool Init(platform::WindowHandle, int, int, int) override {
    ++inits;
    return m_fails;
  }
  void RenderStart() override { ++starts; }
  void RenderEnd() override { ++ends; }
  void Clear() override { ++clears; }
  int inits = 0, starts = 0, ends = 0, clears = 0;

 private:
  bool m_fails;
  int* m_destroyed;
};

}  // namespace

TEST(Surface, FormatsSizesAndFill) {
  CSurface s;
  EXPECT_EQ(0, s.GetWidth());
  EXPECT_EQ(0, s.GetHeight());
  EXPECT_EQ(2, s.GetFormat());
  EXPECT_EQ(nullptr, s.GetLine(0));

  ASSERT_FALSE(s.Create(10, 3, 1));
  EXPECT_EQ(4, s.GetBytesPerPixel());
  EXPECT_EQ(40, s.GetPitch());
  EXPECT_EQ(s.GetLine(0) + 80, s.GetLine(2));

  ASSERT_FALSE(s.Create(5, 2, 0));
  EXPECT_EQ(1, s.GetBytesPerPixel());
  EXPECT_EQ(5, s.GetPitch());
  s.Fill(0x12345678);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) ASSERT_EQ(0x78, s.GetLine(y)[x]);

  ASSERT_FALSE(s.Create(3, 2, 2));
  s.Fill(0x12345678);
  const uint8_t expected[4] = {0x78, 0x56, 0x34, 0x12};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) ASSERT_EQ(0, std::memcmp(expected, s.GetLine(y) + 4 * x, 4));
  s.Clear();
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 12; ++x) ASSERT_EQ(0, s.GetLine(y)[x]);
}

TEST(Surface, RejectsBadFormatsAndSizes) {
  CSurface s;
  EXPECT_TRUE(s.Create(4, 4, 3));
  EXPECT_EQ(3, s.GetFormat());
  EXPECT_EQ(nullptr, s.GetLine(0));
  s.Fill(1);  // nothing to fill, and no crash
  s.Clear();

  // Negative and absurd sizes fail with no rows to walk.
  EXPECT_TRUE(s.Create(-1, 10, 1));
  EXPECT_EQ(0, s.GetWidth());
  EXPECT_EQ(0, s.GetHeight());
  EXPECT_TRUE(s.Create(100000, 100000, 2));
  EXPECT_EQ(0, s.GetHeight());
  EXPECT_EQ(nullptr, s.GetLine(0));

  // Rows outside the surface have no address.
  ASSERT_FALSE(s.Create(2, 2, 1));
  EXPECT_EQ(nullptr, s.GetLine(2));
  EXPECT_EQ(nullptr, s.GetLine(-1));
}

TEST(GraphicRenderer, StartsTheFirstRendererThatWorks) {
  CGraphicRenderer composite;
  // Nothing registered: Init fails and every call is harmless.
  EXPECT_TRUE(composite.Init(0, 8, 8, 1));
  composite.RenderStart();
  composite.Clear();
  composite.RenderEnd();
  EXPECT_EQ(nullptr, composite.GetActiveRenderer());
  EXPECT_EQ(nullptr, composite.GetLayerFactory());
  EXPECT_EQ(-1, composite.GetActiveIndex());

  auto* broken = new CFakeRenderer(true);
  auto* working = new CFakeRenderer(false);
  auto* brokenLayers = new CLayerFactory();
  auto* workingLayers = new CLayerFactory();
  auto* workingSurfaces = new CSurfaceFactory();
  ASSERT_FALSE(composite.AddRenderer(broken, brokenLayers, new CSurfaceFactory()));
  ASSERT_FALSE(composite.AddRenderer(working, workingLayers, workingSurfaces));

  // Before Init nothing is forwarded.
  composite.RenderStart();
  EXPECT_EQ(0, working->starts);

  ASSERT_FALSE(composite.Init(0, 8, 8, 1));
  EXPECT_EQ(1, broken->inits);
  EXPECT_EQ(1, working->inits);
  EXPECT_EQ(1, composite.GetActiveIndex());
  EXPECT_EQ(working, composite.GetActiveRenderer());
  EXPECT_EQ(workingLayers, composite.GetLayerFactory());
  EXPECT_EQ(workingSurfaces, composite.GetSurfaceFactory());

  composite.RenderStart();
  composite.Clear();
  composite.RenderEnd();
  EXPECT_EQ(1, working->starts);
  EXPECT_EQ(1, working->clears);
  EXPECT_EQ(1, working->ends);
  EXPECT_EQ(0, broken->starts);
}

TEST(GraphicRenderer, RegistrationRulesAndOwnership) {
  int destroyed = 0;
  {
    CGraphicRenderer composite;
    auto* renderer = new CFakeRenderer(false, &destroyed);
    CLayerFactory keptLayers;
    CSurfaceFactory keptSurfaces;
    // A missing part is refused.
    EXPECT_TRUE(composite.AddRenderer(renderer, nullptr, &keptSurfaces));
    EXPECT_TRUE(composite.AddRenderer(nullptr, &keptLayers, &keptSurfaces));
    EXPECT_EQ(0, composite.GetCount());
    ASSERT_FALSE(composite.AddRenderer(renderer, new CLayerFactory(), new CSurfaceFactory()));
    // The same renderer again leaves one entry, and the caller keeps what
    // it passed the second time.
    EXPECT_FALSE(composite.AddRenderer(renderer, &keptLayers, &keptSurfaces));
    EXPECT_EQ(1, composite.GetCount());
    EXPECT_EQ(0, destroyed);
  }
  EXPECT_EQ(1, destroyed);  // the composite destroyed what it owned, once
}

TEST(SoftwareRenderer, InitPresentAndRenderTarget) {
  CSoftwareRenderer renderer;
  // Only format 1 is accepted; a refused Init changes nothing.
  EXPECT_TRUE(renderer.Init(0, 16, 8, 2));
  EXPECT_TRUE(renderer.Init(0, 16, 8, 0));
  EXPECT_EQ(0, renderer.GetWidth());
  EXPECT_EQ(nullptr, renderer.GetRenderTarget());

  ASSERT_FALSE(renderer.Init(0, 16, 8, 1));
  EXPECT_EQ(1, renderer.GetFormat());
  EXPECT_EQ(64, renderer.GetPitch());
  EXPECT_EQ(&renderer, renderer.GetRenderTarget());
  // A second Init replaces the back buffer.
  ASSERT_FALSE(renderer.Init(0, 4, 3, 1));
  EXPECT_EQ(4, renderer.GetWidth());
  EXPECT_EQ(3, renderer.GetHeight());

  renderer.RenderStart();
  renderer.Fill(0xFF336699);
  renderer.RenderEnd();
  std::vector<uint8_t> frame;
  int w = 0, h = 0;
  ASSERT_FALSE(platform::GetLastFrame(frame, w, h));
  ASSERT_EQ(4, w);
  ASSERT_EQ(3, h);
  const uint8_t expected[4] = {0x99, 0x66, 0x33, 0xFF};
  for (int i = 0; i < w * h; ++i) ASSERT_EQ(0, std::memcmp(expected, &frame[size_t(i) * 4], 4));

  // Clear through the renderer interface zeroes the back buffer.
  static_cast<IGraphicRenderer&>(renderer).Clear();
  EXPECT_EQ(0u, PixelAt(renderer, 3, 2));
}

TEST(SoftwareRenderer, PresentRectCopiesOnlyTheClippedPart) {
  CSoftwareRenderer renderer;
  ASSERT_FALSE(renderer.Init(0, 4, 4, 1));
  renderer.Fill(0xFF000000);
  renderer.Present();
  renderer.Fill(0xFFFFFFFF);
  const CRect part(1, 1, 2, 2);
  ASSERT_FALSE(renderer.PresentRect(&part, nullptr));
  std::vector<uint8_t> frame;
  int w = 0, h = 0;
  ASSERT_FALSE(platform::GetLastFrame(frame, w, h));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool inside = x >= 1 && x <= 2 && y >= 1 && y <= 2;
      ASSERT_EQ(inside ? 0xFF : 0x00, frame[size_t(y * 4 + x) * 4]) << x << "," << y;
    }
  const CRect away(10, 10, 2, 2);
  EXPECT_TRUE(renderer.PresentRect(&away, nullptr));
}
