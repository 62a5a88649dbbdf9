// Frame animations on an injected clock, and the rule mask of transitions.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>

#include "graphics/Surface.h"
#include "scene/AnimationLayer.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"

namespace {

ILayer* Frame(int w, int h, uint32_t colour) {
  auto* surface = new CSurface();
  EXPECT_FALSE(surface->Create(w, h, ISurface::PIXEL_BITS_32));
  surface->Fill(colour);
  auto* layer = new CLayer();
  layer->SetSurface(surface);
  return layer;
}

struct Clock {
  uint32_t now = 5000;
  CAnimationLayer::Clock Get() {
    return [this] { return now; };
  }
};

TEST(AnimationLayer, FramesShowByElapsedTimeAndLoop) {
  Clock clock;
  CLayerSet set;
  auto* animation = new CAnimationLayer(clock.Get());
  set.Add("m", animation);
  ILayer* a = Frame(4, 4, 0xFF0000);
  animation->Reset(a);
  animation->SetFrame(Frame(4, 4, 0x00FF00), 100);
  animation->SetFrame(nullptr, 250);
  const uint32_t start = clock.now;
  EXPECT_EQ(animation->GetShownTime(start + 50), 0);
  EXPECT_EQ(animation->GetShownTime(start + 150), 100);
  EXPECT_EQ(animation->GetShownTime(start + 260), 0);
  EXPECT_EQ(animation->GetShownTime(start + 360), 100);
  EXPECT_EQ(animation->GetRight(), a->GetRight());
  // Drawing moves the clock on by whole loops.
  CSurface target;
  ASSERT_FALSE(target.Create(8, 8, ISurface::PIXEL_BITS_32));
  clock.now = start + 260;
  animation->Draw(&target);
  EXPECT_EQ(animation->GetStartTime(), start + 250);
  EXPECT_EQ(*reinterpret_cast<uint32_t*>(target.GetLine(1)) & 0xFFFFFF, 0xFF0000u);
}

// The animation is the parent of its frames: its opacity multiplies into
// theirs and its position carries them.
TEST(AnimationLayer, FramesTakeTheAnimationsAlphaAndPosition) {
  Clock clock;
  CLayerSet set;
  auto* animation = new CAnimationLayer(clock.Get());
  set.Add("m", animation);
  ILayer* frame = Frame(2, 2, 0xFF0000);
  frame->SetAlpha(128);
  animation->Reset(frame);
  animation->SetFrame(nullptr, 1000);
  animation->SetAlpha(128);
  animation->SetX(3);
  animation->SetY(1);
  CSurface target;
  ASSERT_FALSE(target.Create(8, 4, ISurface::PIXEL_BITS_32));
  target.Fill(0xFFFFFF);
  animation->Draw(&target);
  auto pixel = [&](int x, int y) { return reinterpret_cast<const uint32_t*>(target.GetLine(y))[x] & 0xFFFFFF; };
  EXPECT_EQ(pixel(2, 1), 0xFFFFFFu);
  EXPECT_EQ(pixel(3, 0), 0xFFFFFFu);
  EXPECT_EQ(pixel(5, 1), 0xFFFFFFu);
  // Red at a quarter over white.
  const uint32_t inside = pixel(3, 1);
  EXPECT_EQ(inside >> 16, 0xFFu);
  EXPECT_NEAR(int(inside >> 8 & 0xFF), 191, 2);
  EXPECT_EQ(pixel(4, 2), inside);
}

TEST(AnimationLayer, WithoutAMarkerItVanishesAtItsLastEntry) {
  Clock clock;
  CLayerSet set;
  auto* animation = new CAnimationLayer(clock.Get());
  set.Add("m", animation);
  EXPECT_EQ(animation->GetShownTime(clock.now), -1);
  EXPECT_EQ(animation->GetRight(), animation->GetX());
  animation->Reset(Frame(4, 4, 0xFF0000));
  animation->SetFrame(Frame(4, 4, 0x00FF00), 100);
  animation->SetFrame(Frame(4, 4, 0x0000FF), 200);
  EXPECT_EQ(animation->GetShownTime(clock.now + 199), 100);
  EXPECT_EQ(animation->GetShownTime(clock.now + 200), -1);
  EXPECT_EQ(animation->GetShownTime(clock.now + 1000000), -1);
}

TEST(AnimationLayer, MarkersAtZeroAndLongPausesCostNothing) {
  Clock clock;
  CLayerSet set;
  auto* animation = new CAnimationLayer(clock.Get());
  set.Add("m", animation);
  animation->Reset(Frame(4, 4, 0xFF0000));
  animation->SetFrame(nullptr, 0);  // replaces the first frame: nothing shows
  animation->SetFrame(Frame(4, 4, 0xFF0000), 0);
  animation->SetFrame(nullptr, -5);
  animation->SetFrame(Frame(4, 4, 0x00FF00), 50);
  animation->SetFrame(nullptr, 100);
  // An hour of 100 ms loops is skipped in one step.
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(animation->GetShownTime(clock.now + 3600000 + 60), 50);
  EXPECT_EQ(animation->GetShownTime(clock.now + 0xFFFFFFF0u), 50);  // 80 into a loop
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));
  // Replacing a frame at a used time deletes the old one.
  const size_t held = CLayerSet::GetHeldCount();
  animation->SetFrame(Frame(4, 4, 0x0000FF), 50);
  EXPECT_EQ(CLayerSet::GetHeldCount(), held);
}

TEST(RuleMask, SoftEdgeAndHardEdge) {
  // vague 64, rule pixel 100.
  EXPECT_EQ(CGraphicSystem::RuleMask(100, 36, 64), 0);
  EXPECT_EQ(CGraphicSystem::RuleMask(100, 37, 64), 2);
  EXPECT_EQ(CGraphicSystem::RuleMask(100, 100, 64), 128);
  EXPECT_EQ(CGraphicSystem::RuleMask(100, 164, 64), 255);
  EXPECT_EQ(CGraphicSystem::RuleMask(100, 163, 64), 254);
  // vague 0: a hard edge at the threshold.
  EXPECT_EQ(CGraphicSystem::RuleMask(100, 99, 0), 0);
  EXPECT_EQ(CGraphicSystem::RuleMask(100, 100, 0), 255);
  // Start and end of a transition with any vague, huge ones included.
  for (int64_t v : {int64_t(0), int64_t(1), int64_t(64), int64_t(std::numeric_limits<int32_t>::max())}) {
    for (int p : {0, 128, 255}) {
      // With a hard edge, rule 0 is already passed at threshold 0.
      if (v > 0 || p > 0) EXPECT_EQ(CGraphicSystem::RuleMask(p, -v, v), 0) << v << " " << p;
      EXPECT_EQ(CGraphicSystem::RuleMask(p, v + 255, v), 255) << v << " " << p;
    }
  }
  const int64_t min = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(CGraphicSystem::RuleMask(0, -min, min), 255);
}

}  // namespace
