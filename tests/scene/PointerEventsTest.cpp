#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "graphics/Surface.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "scene/PointerEvents.h"

namespace {

using Kind = CPointerEvents::Kind;

CLayer* Square(int x, int y, int size, uint8_t alpha) {
  auto* surface = new CSurface();
  surface->Create(size, size, 2);
  surface->Fill(uint32_t(alpha) << 24 | 0x808080);
  auto* layer = new CLayer();
  layer->SetSurface(surface);
  layer->SetX(x);
  layer->SetY(y);
  return layer;
}

std::string Describe(const std::vector<CPointerEvents::Event>& events) {
  std::string out;
  for (const auto& e : events) {
    out += e.kind == Kind::kClick ? "click " : e.kind == Kind::kRollover ? "over " : "out ";
    out += e.id + (e.call ? "(call) " : " ");
  }
  return out;
}

class PointerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set.Add("a", Square(0, 0, 10, 255));
    set.Add("b", Square(20, 0, 10, 255));
    target.Create(64, 64, 1);
    set.Draw(&target);  // GetPixel uses the matrix of the last draw
  }
  std::string Step(int x, int y, bool press = false) {
    CPointerEvents::Input input;
    input.x = x;
    input.y = y;
    input.pressEdge = press;
    return Describe(events.Run(++frame, input, set));
  }
  CLayerSet set;
  CSurface target;
  CPointerEvents events;
  uint64_t frame = 0;
};

}  // namespace

TEST_F(PointerTest, ThresholdWeighsPixelAlphaByLayerAlpha) {
  auto* half = Square(0, 0, 4, 0);
  // Alpha 128 on the left column, 127 on the next.
  for (int y = 0; y < 4; ++y) {
    half->GetSurface()->GetLine(y)[3] = 128;
    half->GetSurface()->GetLine(y)[7] = 127;
  }
  set.Add("c", half);
  set.Draw(&target);
  events.SetThreshold("c", 128);
  EXPECT_EQ("c", events.HitTest(set, 0, 0));  // (256 * 128) >> 8 = 128
  EXPECT_EQ("a", events.HitTest(set, 1, 0));  // 127: passed over, "a" below
  half->SetAlpha(254);
  EXPECT_EQ("a", events.HitTest(set, 0, 0));  // (255 * 128) >> 8 = 127
  half->SetVisible(false);
  events.RemoveThreshold("c");
  EXPECT_EQ("a", events.HitTest(set, 0, 0));  // invisible: skipped
  auto* nested = new CLayerSet();
  set.Add("d", nested);
  set.Draw(&target);
  EXPECT_EQ("", events.HitTest(set, 40, 40));
}

TEST_F(PointerTest, RolloverRolloutAndClickOrder) {
  events.SetRollover("a", {{"label", "*a_over"}});
  events.SetRollout("a", {{"label", "*a_out"}});
  events.SetRollover("b", {{"label", "*b_over"}, {"call", "1"}});
  events.SetRollout("b", {{"label", "*b_out"}});
  events.SetClick("b", {{"label", "*b_click"}, {"call", "0"}});

  EXPECT_EQ("over a ", Step(5, 5));
  EXPECT_EQ("", Step(6, 5));  // still over a
  // Onto b: b's rollover this frame, a's rollout in the next.
  EXPECT_EQ("over b(call) ", Step(25, 5));
  EXPECT_EQ("out a ", Step(25, 5));
  // A click on b runs its handler and nothing else.
  EXPECT_EQ("click b ", Step(25, 5, true));
  // Off everything: b rolls out.
  EXPECT_EQ("out b ", Step(50, 50));

  // Without a rollover handler on b, a's rollout runs in the same frame.
  events.RemoveRollover("b");
  EXPECT_EQ("over a ", Step(5, 5));
  EXPECT_EQ("out a ", Step(25, 5));
  EXPECT_EQ("", Step(25, 5));
}

TEST_F(PointerTest, ClickOnALayerWithoutClickHandlerRollsOutOthersFirst) {
  events.SetRollover("a", {{"label", "*a_over"}});
  events.SetRollout("a", {{"label", "*a_out"}});
  events.SetRollover("b", {{"label", "*b_over"}});
  EXPECT_EQ("over a ", Step(5, 5));
  EXPECT_EQ("out a ", Step(25, 5, true));  // no rollover with the press edge
  EXPECT_EQ("over b ", Step(25, 5));       // it follows without one
  EXPECT_EQ(std::set<std::string>{"b"}, events.GetHoverSet());
}

TEST_F(PointerTest, RunsOncePerFrameAndScalesThePointer) {
  events.SetClick("a", {{"label", "*a"}});
  CPointerEvents::Input input;
  input.x = 5;
  input.y = 5;
  input.pressEdge = true;
  int calls = 0;
  const auto count = [&](const CPointerEvents::Event&) { ++calls; };
  // A handler that jumps back into a wait in the same frame sees nothing
  // more: the press edge is used once.
  EXPECT_EQ(1u, events.Run(7, input, set, count).size());
  EXPECT_EQ(0u, events.Run(7, input, set, count).size());
  EXPECT_EQ(1, calls);
  EXPECT_EQ(1u, events.Run(8, input, set).size());

  // Full screen at 1.5: window pixel (36, 6) is scene pixel (24, 4), on b.
  input.x = 36;
  input.y = 6;
  input.scale = 1.5f;
  events.SetClick("b", {{"label", "*b"}});
  const auto fired = events.Run(9, input, set);
  ASSERT_EQ(1u, fired.size());
  EXPECT_EQ("b", fired[0].id);
  EXPECT_EQ("*b", fired[0].attributes.at("label"));

  // No handlers: the pointer is not even tested.
  events.Clear();
  EXPECT_FALSE(events.HasHandlers());
  EXPECT_EQ(0u, events.Run(10, input, set).size());
}
