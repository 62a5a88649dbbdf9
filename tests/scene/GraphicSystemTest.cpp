#include <gtest/gtest.h>
#include <png.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "files/Config.h"
#include "graphics/GraphicLoader.h"
#include "graphics/PngWriter.h"
#include "scene/GraphicRenderer.h"
#include "graphics/SoftwareRenderer.h"
#include "graphics/Surface.h"
#include "platform/Platform.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"

namespace fs = std::filesystem;

namespace {

void WritePng(const std::string& path, int w, int h, const std::vector<uint8_t>& rgba) {
  PngImage image;
  image.width = w;
  image.height = h;
  image.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  image.pixels = rgba.data();
  image.pitch = size_t(w) * 4;
  std::vector<uint8_t> bytes;
  ASSERT_FALSE(EncodePng(image, bytes));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  std::vector<uint8_t> out;
  for (int i = 0; i < w * h; ++i) out.insert(out.end(), {r, g, b, a});
  return out;
}

uint32_t FramePixel(int x, int y) {
  std::vector<uint8_t> frame;
  int w = 0, h = 0;
  if (platform::GetLastFrame(frame, w, h) || x >= w || y >= h) return 0xDEADBEEF;
  uint32_t v;
  std::memcpy(&v, &frame[(size_t(y) * w + x) * 4], 4);
  return v;
}

class GraphicSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("velmira_gs_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    CDynamicVariables::Destroy();
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

}  // namespace

TEST_F(GraphicSystemTest, BuildsTheSoftwareRendererAndPublishesTheLoaders) {
  {
    CGraphicSystem graphics(nullptr, 32, 16);
    ASSERT_TRUE(graphics.HasRenderer());
    EXPECT_EQ(0, graphics.GetRenderer()->GetActiveIndex());
    EXPECT_NE(nullptr, dynamic_cast<CSoftwareRenderer*>(graphics.GetRenderer()->GetActiveRenderer()));
    EXPECT_NE(nullptr, dynamic_cast<CLayerFactory*>(graphics.GetLayerFactory()));
    EXPECT_NE(nullptr, dynamic_cast<CSurfaceFactory*>(graphics.GetSurfaceFactory()));
    EXPECT_EQ(graphics.GetLoaders(), CGraphicLoaders::GetGlobal());
    ASSERT_NE(nullptr, graphics.GetRenderer()->GetRenderTarget());
    EXPECT_EQ(32, graphics.GetRenderer()->GetRenderTarget()->GetWidth());
  }
  EXPECT_EQ(nullptr, CGraphicLoaders::GetGlobal());
}

TEST_F(GraphicSystemTest, SoftwareRendererChoice) {
  EXPECT_FALSE(CGraphicSystem::IsSoftwareRendererForced());
  ArgumentMap args;
  args["fsr"] = "";
  CDynamicVariables::Instance()->Set("ApplicationArguments", args);
  EXPECT_TRUE(CGraphicSystem::IsSoftwareRendererForced());

  CDynamicVariables::Instance()->Set("ApplicationArguments", ArgumentMap());
  CIni ini;
  ini.Parse("[SYSTEM]\nFORCE_SOFTWARE_RENDER=1\n");
  CDynamicVariables::Instance()->Set("system.ini", &ini);
  EXPECT_TRUE(CGraphicSystem::IsSoftwareRendererForced());
  CIni off;
  off.Parse("[SYSTEM]\nFORCE_SOFTWARE_RENDER=0\n");
  CDynamicVariables::Instance()->Set("system.ini", &off);
  EXPECT_FALSE(CGraphicSystem::IsSoftwareRendererForced());
  CGraphicSystem graphics(nullptr, 8, 8);
  EXPECT_FALSE(graphics.IsSoftwareForced());
  EXPECT_TRUE(graphics.HasRenderer());  // the software renderer either way
}

// Loads the file (with or without its extension) into a new back-set layer
// at x, y, replacing that id, and commits; true when it does not load.
bool ShowImage(CGraphicSystem& graphics, const std::string& id, const std::string& file, int x, int y) {
  std::unique_ptr<ISurface> surface(graphics.GetSurfaceFactory()->Create());
  if (graphics.GetLoaders()->LoadFile(surface.get(), file.c_str())) return true;
  auto* layer = graphics.GetLayerFactory()->Create();
  layer->SetSurface(surface.release());
  layer->SetX(x);
  layer->SetY(y);
  if (IVirtualLayer* old = graphics.GetBackSet().Find(id)) graphics.ForgetLayer(old);
  graphics.GetBackSet().Add(id, layer);
  graphics.Commit();
  return false;
}

void HideImage(CGraphicSystem& graphics, const std::string& id) {
  if (IVirtualLayer* old = graphics.GetBackSet().Find(id)) graphics.ForgetLayer(old);
  graphics.GetBackSet().Remove(id);
  graphics.Commit();
}

TEST_F(GraphicSystemTest, FrameProtocolAndImages) {
  CGraphicSystem graphics(nullptr, 16, 8);
  graphics.GetRenderer()->GetRenderTarget()->Fill(0xFF445566);
  // An empty scene is cleared each frame.
  graphics.Render();
  EXPECT_EQ(0u, FramePixel(3, 3));

  WritePng(Path("red.png"), 16, 8, Solid(16, 8, 255, 0, 0, 255));
  WritePng(Path("half.png"), 4, 4, Solid(4, 4, 0, 0, 255, 128));
  ASSERT_FALSE(ShowImage(graphics, "bg", Path("red"), 0, 0));
  ASSERT_FALSE(ShowImage(graphics, "fg", Path("half.png"), 2, 2));
  EXPECT_EQ(2, graphics.GetFrontSet().GetCount());
  graphics.Render();
  // Opaque red: (255 * 255) >> 8; the cleared alpha byte stays.
  EXPECT_EQ(0x00FE0000u, FramePixel(0, 0));
  // Half-transparent blue over it: d + (((s - d) * 128) >> 8) per byte.
  EXPECT_EQ(0x007F007Fu, FramePixel(2, 2));

  EXPECT_TRUE(ShowImage(graphics, "fg", Path("missing.png"), 0, 0));
  // Ids draw in byte order: "a" under "bg".
  ASSERT_FALSE(ShowImage(graphics, "a", Path("half.png"), 0, 0));
  HideImage(graphics, "fg");
  graphics.Render();
  EXPECT_EQ(0x00FE0000u, FramePixel(0, 0));
  EXPECT_EQ(0x00FE0000u, FramePixel(2, 2));
  HideImage(graphics, "nothing");
  EXPECT_EQ(2, graphics.GetFrontSet().GetCount());
}
