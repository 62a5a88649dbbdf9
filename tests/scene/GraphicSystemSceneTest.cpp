// The graphic system's scene: commits, pending changes, frame composition
// order, the tween table and what get_layer_info and the layer dump report.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files/Config.h"
#include "scene/AnimationLayer.h"
#include "scene/GraphicRenderer.h"
#include "graphics/Surface.h"
#include "platform/Platform.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "scene/Tween.h"

namespace {

CLayer* NewImage(int w, int h, uint32_t fill, int format = 1) {
  auto* surface = new CSurface();
  surface->Create(w, h, format);
  surface->Fill(fill);
  auto* layer = new CLayer();
  layer->SetSurface(surface);
  return layer;
}

uint32_t TargetPixel(CGraphicSystem& graphics, int x, int y) {
  uint32_t v = 0;
  std::memcpy(&v, graphics.GetRenderer()->GetRenderTarget()->GetLine(y) + 4 * x, 4);
  return v;
}

struct Overlay : ISceneOverlay {
  Overlay(std::vector<std::string>& log, std::string name) : log(log), name(std::move(name)) {}
  void FrameUpdate() override { log.push_back("update " + name); }
  void Draw(ISurface*) override { log.push_back("draw " + name); }
  std::vector<std::string>& log;
  std::string name;
};

class GraphicSceneTest : public ::testing::Test {
 protected:
  void TearDown() override { CDynamicVariables::Destroy(); }
};

}  // namespace

TEST_F(GraphicSceneTest, PendingChangesShowAtTheCommitAndRevert) {
  CGraphicSystem graphics(platform::WindowHandle(0), 16, 16);
  CLayer* layer = NewImage(4, 4, 0xFFFFFFFF);
  graphics.GetBackSet().Add("a", layer);
  EXPECT_EQ(0, graphics.GetFrontSet().GetCount());
  graphics.Commit();
  EXPECT_EQ(layer, graphics.GetFrontSet().Find("a"));
  EXPECT_EQ(layer, graphics.GetBackSet().Find("a"));  // shared by both

  graphics.QueueProperty(layer, kPropLeft, 5);
  graphics.QueueProperty(layer, kPropVisible, false);
  graphics.QueueProperty(layer, kPropLeft, 6);
  EXPECT_EQ(0, layer->GetX());
  EXPECT_EQ(3u, graphics.GetPendingCount());
  bool hookRan = false;
  graphics.SetCommitHook([&] { hookRan = true; });
  graphics.SetTransitionRunning(true);
  graphics.Commit();
  EXPECT_TRUE(hookRan);
  EXPECT_FALSE(graphics.IsTransitionRunning());
  EXPECT_TRUE(graphics.GetBackNeedsDrawing());
  EXPECT_EQ(6, layer->GetX());
  EXPECT_FALSE(layer->GetVisible());
  EXPECT_EQ(0u, graphics.GetPendingCount());
  graphics.RevertPending();  // last first: 5, then 0; visible back
  EXPECT_EQ(0, layer->GetX());
  EXPECT_TRUE(layer->GetVisible());

  // A forgotten layer's requests are dropped; so are those of a layer that
  // was deleted meanwhile.
  graphics.QueueProperty(layer, kPropAlpha, 10);
  graphics.ForgetLayer(layer);
  CLayer* doomed = NewImage(2, 2, 0);
  graphics.GetBackSet().Add("d", doomed);
  graphics.QueueProperty(doomed, kPropAlpha, 20);
  graphics.GetBackSet().Remove("d");  // only the back set held it: deleted
  graphics.Commit();
  EXPECT_EQ(255, layer->GetAlpha());
  EXPECT_EQ(0u, graphics.GetPendingCount());

  // Requests queued for a fresh layer before any set holds it apply once
  // one does.
  CLayer* fresh = NewImage(2, 2, 0);
  graphics.QueueProperty(fresh, kPropTop, 9);
  graphics.GetBackSet().Add("f", fresh);
  graphics.Commit();
  EXPECT_EQ(9, fresh->GetY());
}

// A restart empties the back set and drops queued changes; the scene still
// shown keeps what the last commit set.
TEST_F(GraphicSceneTest, AResetKeepsTheShownSceneAsCommitted) {
  CGraphicSystem graphics(platform::WindowHandle(0), 16, 16);
  CLayer* layer = NewImage(4, 4, 0xFFFFFFFF);
  graphics.GetBackSet().Add("a", layer);
  graphics.QueueProperty(layer, kPropLeft, 100);
  graphics.QueueProperty(layer, kPropAlpha, 200);
  graphics.Commit();
  graphics.QueueProperty(layer, kPropTop, 7);
  graphics.ResetScene();
  EXPECT_EQ(layer, graphics.GetFrontSet().Find("a"));
  EXPECT_EQ(nullptr, graphics.GetBackSet().Find("a"));
  EXPECT_EQ(100, layer->GetX());
  EXPECT_EQ(200, layer->GetAlpha());
  EXPECT_EQ(0, layer->GetY());
  EXPECT_EQ(0u, graphics.GetPendingCount());
}

// Forgetting an animation forgets what was queued for its frames too.
TEST_F(GraphicSceneTest, ForgettingAnAnimationForgetsItsFrames) {
  CGraphicSystem graphics(platform::WindowHandle(0), 16, 16);
  CLayer* first = NewImage(4, 4, 0xFFFFFFFF);
  CLayer* second = NewImage(4, 4, 0xFFFFFFFF);
  graphics.QueueProperty(first, kPropLeft, 200);
  graphics.QueueProperty(second, kPropAlpha, 77);
  auto* animation = new CAnimationLayer();
  animation->Reset(first);
  animation->SetFrame(second, 100);
  graphics.GetBackSet().Add("x", animation);
  ASSERT_EQ(2u, graphics.GetPendingCount());
  graphics.ForgetLayer(animation);
  EXPECT_EQ(0u, graphics.GetPendingCount());
  graphics.GetBackSet().Remove("x");
  graphics.Commit();
  EXPECT_EQ(0u, graphics.GetPendingCount());
}

TEST_F(GraphicSceneTest, CommitDeletesOnlyWhatTheBackSetDropped) {
  CGraphicSystem graphics(platform::WindowHandle(0), 16, 16);
  graphics.GetBackSet().Add("keep", NewImage(2, 2, 0));
  graphics.GetBackSet().Add("drop", NewImage(2, 2, 0));
  graphics.Commit();
  const size_t held = CLayerSet::GetHeldCount();
  graphics.GetBackSet().Remove("drop");
  EXPECT_EQ(held, CLayerSet::GetHeldCount());  // the front set still shows it
  graphics.Commit();
  EXPECT_EQ(held - 1, CLayerSet::GetHeldCount());
  EXPECT_EQ(nullptr, graphics.GetFrontSet().Find("drop"));
}

TEST_F(GraphicSceneTest, FrameComposesSceneTransitionWidgetsThenWindows) {
  CGraphicSystem graphics(platform::WindowHandle(0), 8, 8);
  std::vector<std::string> log;
  graphics.SetMessageWindow("m1", std::make_unique<Overlay>(log, "m1"));
  graphics.SetWidget("w2", std::make_unique<Overlay>(log, "w2"));
  graphics.SetWidget("w1", std::make_unique<Overlay>(log, "w1"));
  graphics.SetMessageWindow("m0", std::make_unique<Overlay>(log, "m0"));
  graphics.SetTransitionStep([&](ISurface* target) {
    EXPECT_NE(nullptr, target);
    log.push_back("transition");
  });
  graphics.Update();
  EXPECT_EQ((std::vector<std::string>{"update w1", "update w2", "update m0", "update m1"}), log);
  log.clear();
  graphics.Render();
  EXPECT_EQ((std::vector<std::string>{"draw w1", "draw w2", "draw m0", "draw m1"}), log);
  log.clear();
  graphics.SetTransitionRunning(true);
  graphics.Render();
  EXPECT_EQ("transition", log.front());
  log.clear();
  // While a movie plays nothing else is composed.
  graphics.SetMovieCheck([] { return true; });
  graphics.Render();
  EXPECT_TRUE(log.empty());
  graphics.SetMovieCheck({});

  // An empty front set is cleared; a scene is drawn over what was there.
  graphics.GetRenderer()->GetRenderTarget()->Fill(0xFF445566);
  graphics.SetTransitionRunning(false);
  graphics.Render();
  EXPECT_EQ(0u, TargetPixel(graphics, 1, 1));
  graphics.GetBackSet().Add("bg", NewImage(8, 8, 0xFF102030));
  graphics.Commit();
  graphics.Render();
  EXPECT_EQ(0xFF102030u, TargetPixel(graphics, 1, 1));

  // Where no layer covers the scene, the frame after a movie shows the
  // picture from before it, not the movie's last one; so does the frame
  // after two movies in a row.
  graphics.GetBackSet().Remove("bg");
  graphics.GetBackSet().Add("dot", NewImage(2, 2, 0xFF102030));
  graphics.Commit();
  graphics.Render();
  EXPECT_EQ(0xFF102030u, TargetPixel(graphics, 5, 5));  // what the last frame left
  for (int movies : {1, 2}) {
    graphics.KeepPictureUnderMovie();
    for (int movie = 0; movie < movies; ++movie) {
      if (movie) graphics.KeepPictureUnderMovie();
      graphics.SetMovieCheck([&] {
        graphics.GetRenderer()->GetRenderTarget()->Fill(0xFF445566 + movie);
        return true;
      });
      graphics.Render();
      EXPECT_EQ(0xFF445566u + movie, TargetPixel(graphics, 5, 5));
    }
    graphics.SetMovieCheck([] { return false; });
    graphics.Render();
    EXPECT_EQ(0xFF102030u, TargetPixel(graphics, 5, 5)) << movies;
    EXPECT_EQ(0xFF102030u, TargetPixel(graphics, 0, 0)) << movies;
  }
  graphics.GetRenderer()->GetRenderTarget()->Fill(0xFF445566);
  graphics.Render();  // later frames draw over what is there, as before
  EXPECT_EQ(0xFF445566u, TargetPixel(graphics, 5, 5));
  // A movie that never showed leaves nothing kept for a later one: that
  // one's scene frame starts from the picture before it.
  graphics.KeepPictureUnderMovie();
  graphics.Render();
  graphics.GetRenderer()->GetRenderTarget()->Fill(0xFF778899);
  graphics.Render();
  graphics.KeepPictureUnderMovie();
  graphics.SetMovieCheck([&] {
    graphics.GetRenderer()->GetRenderTarget()->Fill(0xFF000001);
    return true;
  });
  graphics.Render();
  graphics.SetMovieCheck([] { return false; });
  graphics.Render();
  EXPECT_EQ(0xFF778899u, TargetPixel(graphics, 5, 5));
  // An empty scene after a movie is cleared, as every empty scene is.
  graphics.GetBackSet().Remove("dot");
  graphics.Commit();
  graphics.KeepPictureUnderMovie();
  graphics.SetMovieCheck([&] { return true; });
  graphics.Render();
  graphics.SetMovieCheck([] { return false; });
  graphics.Render();
  EXPECT_EQ(0u, TargetPixel(graphics, 5, 5));
}

TEST_F(GraphicSceneTest, LayerTweensAndBoundSettersOfDeletedLayers) {
  CGraphicSystem graphics(platform::WindowHandle(0), 8, 8);
  CLayer* layer = NewImage(2, 2, 0);
  graphics.GetBackSet().Add("a", layer);
  graphics.Commit();
  CTweenRegistry& registry = CTweenRegistry::Instance();
  auto tween = std::make_unique<CIntTween>(MakeLayerSetter(layer, kPropLeft), 0, 100, 1000, 0);
  const int32_t handle = registry.Register(std::move(tween));
  graphics.AddLayerTween("a", handle);
  registry.UpdateAll(0);
  registry.UpdateAll(500);
  EXPECT_EQ(50, layer->GetX());
  graphics.KillLayerTweens("a");
  EXPECT_EQ(100, layer->GetX());
  EXPECT_FALSE(registry.IsAlive(handle));
  EXPECT_TRUE(graphics.GetLayerTweens().empty());

  // The layer goes; a tween still bound to it does nothing.
  const int32_t late =
      registry.Register(std::make_unique<CIntTween>(MakeLayerSetter(layer, kPropAlpha), 0, 100, 1000, 0));
  graphics.GetBackSet().Remove("a");
  graphics.Commit();
  registry.UpdateAll(1000);
  registry.UpdateAll(2000);
  EXPECT_FALSE(registry.IsAlive(late));
}

TEST_F(GraphicSceneTest, LayerInfoAndDumpDescribeTheScene) {
  CGraphicSystem graphics(platform::WindowHandle(0), 32, 32);
  CLayer* a = NewImage(20, 10, 0xFF000000);
  a->SetX(3);
  a->SetY(4);
  a->SetXScale(98304);
  a->SetYScale(-98304);
  a->SetRotate(-30);
  a->SetLayerMode(kLayerModeAdd);
  a->SetSourceRect(CRect(0, 0, 5, 6));
  graphics.GetBackSet().Add("a", a);
  auto* set = new CLayerSet();
  set->Add("inner", NewImage(4, 4, 0));
  graphics.GetBackSet().Add("b", set);
  graphics.GetBackSet().Add("top", NewImage(32, 32, 0xFF000000));
  graphics.Commit();
  graphics.Render();

  const std::vector<CLayerInfoValue> info = graphics.GetLayerInfo();
  std::map<std::string, CLayerInfoValue> byName;
  for (const CLayerInfoValue& v : info) byName[v.name] = v;
  EXPECT_EQ(3, byName["size"].number);
  EXPECT_EQ("a", byName["0.id"].text);
  EXPECT_TRUE(byName["0.id"].isText);
  EXPECT_EQ(3, byName["0.left"].number);
  EXPECT_EQ(4, byName["0.top"].number);
  EXPECT_EQ(5, byName["0.width"].number);
  EXPECT_EQ(6, byName["0.height"].number);
  EXPECT_EQ(150, byName["0.xscale"].number);
  EXPECT_EQ(-150, byName["0.yscale"].number);
  EXPECT_EQ(-30, byName["0.rotate"].number);
  EXPECT_EQ(1, byName["0.layermode"].number);
  EXPECT_EQ(1, byName["0.visible"].number);
  EXPECT_EQ("b", byName["1.id"].text);
  EXPECT_EQ(4, byName["1.width"].number);  // a set: its bounding rectangle
  EXPECT_EQ(0, ScaleToPercent(655));
  EXPECT_EQ(332, ScaleToPercent(PercentToScale(333)));  // 218234 reads back truncated

  graphics.QueueProperty(graphics.GetBackSet().Find("top"), kPropAlpha, 7);
  int32_t handle =
      CTweenRegistry::Instance().Register(std::make_unique<CIntTween>(MakeLayerSetter(a, kPropLeft), 0, 1, 100000, 0));
  graphics.AddLayerTween("a", handle);
  std::string dump;
  graphics.DumpLayers(dump);
  EXPECT_NE(std::string::npos, dump.find("front count=3\n"));
  EXPECT_NE(std::string::npos, dump.find("  a image occluded pos=3,4 size=5x6"));
  EXPECT_NE(std::string::npos, dump.find("  b set occluded"));
  EXPECT_NE(std::string::npos, dump.find("    inner image drawn"));
  EXPECT_NE(std::string::npos, dump.find("  top image drawn pos=0,0 size=32x32"));
  EXPECT_NE(std::string::npos, dump.find("pending count=1\n  top 2=7\n"));
  EXPECT_NE(std::string::npos, dump.find("  a " + std::to_string(handle) + "\n"));
  std::string again;
  graphics.DumpLayers(again);
  EXPECT_EQ(dump, again);
  graphics.KillLayerTweens("a");
}
