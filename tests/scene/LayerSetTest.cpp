// Layer sets: order, shared ownership, the occlusion shortcut and the
// rectangle queries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "graphics/Surface.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"

namespace {

int g_surfacesDeleted = 0;
std::vector<std::string> g_drawn;

struct TrackedSurface : CSurface {
  ~TrackedSurface() override { ++g_surfacesDeleted; }
};

// Records its name when drawn and when deleted.
struct TrackedLayer : CLayer {
  explicit TrackedLayer(std::string n, bool* deleted = nullptr) : name(std::move(n)), deletedFlag(deleted) {}
  ~TrackedLayer() override {
    if (deletedFlag) *deletedFlag = true;
  }
  void DrawWithParents(ISurface* target, CParentChain& parents) override {
    g_drawn.push_back(name);
    CLayer::DrawWithParents(target, parents);
  }
  std::string name;
  bool* deletedFlag;
};

TrackedLayer* Image(const std::string& name, int w, int h, int format, int x = 0, int y = 0, bool* deleted = nullptr,
                    ISurface** surfaceOut = nullptr) {
  auto* surface = new TrackedSurface();
  surface->Create(w, h, format);
  surface->Fill(0xFF808080);
  auto* layer = new TrackedLayer(name, deleted);
  layer->SetSurface(surface);
  layer->SetX(x);
  layer->SetY(y);
  if (surfaceOut) *surfaceOut = surface;
  return layer;
}

class LayerSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_surfacesDeleted = 0;
    g_drawn.clear();
    target.Create(64, 64, 1);
  }
  CSurface target;
};

}  // namespace

TEST_F(LayerSetTest, ChildrenDrawInByteOrderOfTheirNames) {
  CLayerSet set;
  for (const char* name : {"chara2", "bg", "chara10", "chara1"}) set.Add(name, Image(name, 4, 4, 2));
  set.Draw(&target);
  EXPECT_EQ((std::vector<std::string>{"bg", "chara1", "chara10", "chara2"}), g_drawn);
  std::vector<std::pair<std::string, IVirtualLayer*>> list;
  set.List(list);
  ASSERT_EQ(4u, list.size());
  EXPECT_EQ("chara10", list[2].first);
  EXPECT_EQ(4, set.GetCount());
}

TEST_F(LayerSetTest, AnOpaqueTopLayerHidesOnlyWhatItReallyCovers) {
  CLayerSet set;
  set.Add("a", Image("a", 10, 10, 2, 5, 5));
  set.Add("b", Image("b", 10, 10, 2, 20, 20));
  TrackedLayer* top = Image("z", 64, 64, 1);
  set.Add("z", top);
  set.Draw(&target);
  EXPECT_EQ(std::vector<std::string>{"z"}, g_drawn);
  EXPECT_EQ(2, set.GetFirstDrawnIndex());

  // Alpha 254: everything draws again.
  const auto drawAll = [&](const char* why) {
    g_drawn.clear();
    set.Draw(&target);
    EXPECT_EQ(3u, g_drawn.size()) << why;
  };
  top->SetAlpha(254);
  drawAll("alpha");
  top->SetAlpha(255);
  // Invisible, shrunk, turned, mirrored, masked or blending tops hide nothing.
  top->SetVisible(false);
  drawAll("invisible");
  top->SetVisible(true);
  top->SetXScale(kScaleOne / 2);
  drawAll("scale");
  top->SetXScale(kScaleOne);
  top->SetRotate(10);
  drawAll("rotate");
  top->SetRotate(0);
  top->SetFlipX(true);
  drawAll("flip");
  top->SetFlipX(false);
  for (int mode : {kLayerModeAdd, kLayerModeMultiply, kLayerModeScreen, kLayerModeColorKey}) {
    top->SetLayerMode(mode);
    drawAll("mode");
  }
  top->SetLayerMode(kLayerModeNormal);
  CSurface mask;
  mask.Create(64, 64, 0);
  top->SetMask(&mask);
  drawAll("mask");
  top->SetMask(nullptr);
  // A half-transparent set shows what lies under its opaque child.
  set.SetAlpha(128);
  drawAll("set alpha");
  set.SetAlpha(255);
  g_drawn.clear();
  set.Draw(&target);
  EXPECT_EQ(std::vector<std::string>{"z"}, g_drawn);
  // Not covering the set's rectangle: no shortcut.
  top->SetX(1);
  drawAll("moved");
}

TEST_F(LayerSetTest, SharedLayersLiveWhileASetHoldsThem) {
  bool sharedGone = false, onlyFrontGone = false;
  ISurface* sharedSurface = nullptr;
  auto* front = new CLayerSet();
  front->Add("shared", Image("shared", 4, 4, 2, 0, 0, &sharedGone, &sharedSurface));
  front->Add("old", Image("old", 4, 4, 2, 0, 0, &onlyFrontGone));
  auto* back = new CLayerSet(*front);
  EXPECT_EQ(front->Find("shared"), back->Find("shared"));
  back->Remove("old");
  EXPECT_FALSE(onlyFrontGone);
  delete front;
  EXPECT_TRUE(onlyFrontGone);
  EXPECT_FALSE(sharedGone);
  EXPECT_EQ(1, g_surfacesDeleted);

  // A second layer on the same surface keeps it alive after the first goes.
  auto* twin = new CLayer();
  twin->SetSurface(sharedSurface);
  back->Add("twin", twin);
  back->Remove("shared");
  EXPECT_TRUE(sharedGone);
  EXPECT_EQ(1, g_surfacesDeleted);
  back->Remove("twin");
  EXPECT_EQ(2, g_surfacesDeleted);
  back->Remove("absent");
  delete back;
  EXPECT_EQ(0u, CLayerSet::GetHeldCount());
}

TEST_F(LayerSetTest, AddingTheStoredObjectAgainOnlyMarksTheSet) {
  bool gone = false;
  CLayerSet set;
  TrackedLayer* layer = Image("a", 4, 4, 2, 0, 0, &gone);
  set.Add("a", layer);
  set.SetDirtyFlags(0);
  set.Add("a", layer);
  EXPECT_FALSE(gone);
  EXPECT_EQ(layer, set.Find("a"));
  EXPECT_EQ(kDirtyPosition, set.GetDirtyFlags());
  set.Draw(&target);  // would read freed memory if it had been deleted
  // Another object under the name replaces (and here deletes) it.
  set.Add("a", Image("b", 4, 4, 2));
  EXPECT_TRUE(gone);
  const uint64_t serial = CLayerSet::GetHoldSerial(set.Find("a"));
  EXPECT_NE(0u, serial);
  CLayerSet copy(set);
  EXPECT_EQ(serial, CLayerSet::GetHoldSerial(set.Find("a")));  // one unbroken holding
}

TEST_F(LayerSetTest, NameAtWalksDownFromTheTopWithInclusiveEdges) {
  CLayerSet set;
  set.Add("a", Image("a", 10, 10, 2, 0, 0));
  set.Add("b", Image("b", 10, 10, 2, 5, 5));
  auto* turned = Image("c", 2, 2, 2, 30, 30);
  turned->SetXScale(kScaleOne * 10);  // the untransformed rectangle counts
  set.Add("c", turned);
  EXPECT_EQ("b", set.NameAt(CPoint(5, 5), ""));
  EXPECT_EQ("b", set.NameAt(CPoint(14, 14), ""));
  EXPECT_EQ("", set.NameAt(CPoint(15, 14), ""));
  EXPECT_EQ("a", set.NameAt(CPoint(5, 5), "b"));
  EXPECT_EQ("", set.NameAt(CPoint(5, 5), "a"));
  EXPECT_EQ("", set.NameAt(CPoint(5, 5), "nothing"));
  EXPECT_EQ("c", set.NameAt(CPoint(31, 31), ""));
  EXPECT_EQ("", set.NameAt(CPoint(35, 31), ""));
  EXPECT_EQ(set.Find("a"), set.FindAt(CPoint(1, 1), ""));
  EXPECT_EQ(nullptr, set.FindAt(CPoint(-1, 1), ""));
}

TEST_F(LayerSetTest, BoundsAndNestedSetsDrawInTheirOwnCoordinates) {
  CLayerSet empty;
  empty.SetX(7);
  empty.SetY(9);
  empty.Draw(&target);
  EXPECT_EQ(7, empty.GetRight());
  EXPECT_EQ(9, empty.GetBottom());

  auto* inner = new CLayerSet();
  auto* child = Image("child", 4, 4, 1, 2, 3);
  static_cast<CSurface*>(child->GetSurface())->Fill(0xFFFFFFFF);
  inner->Add("child", child);
  inner->SetX(10);
  inner->SetY(20);
  inner->SetAlpha(128);
  CLayerSet outer;
  outer.Add("inner", inner);
  outer.Add("neg", Image("neg", 4, 4, 2, -3, -2));
  target.Fill(0xFF000000);
  outer.Draw(&target);
  EXPECT_EQ(-3, outer.GetBounds().GetX());
  EXPECT_EQ(-2, outer.GetBounds().GetY());
  EXPECT_EQ(15, outer.GetBounds().GetRight());
  EXPECT_EQ(26, outer.GetBounds().GetBottom());
  uint32_t pixel = 0;
  std::memcpy(&pixel, target.GetLine(23) + 4 * 12, 4);
  EXPECT_EQ(0xFF7F7F7Fu, pixel);  // (128 * 255) >> 8 on black
  inner->SetVisible(false);
  target.Fill(0xFF000000);
  outer.Draw(&target);
  std::memcpy(&pixel, target.GetLine(23) + 4 * 12, 4);
  EXPECT_EQ(0xFF000000u, pixel);
}

TEST_F(LayerSetTest, ALayerSharedByTwoSetsKeepsBothUpToDate) {
  // The front set draws, clearing the shared layer's flags; the back set
  // must still see that the opaque top layer moved off what it covered.
  CLayerSet front;
  TrackedLayer* top = Image("top", 8, 8, 1, 0, 0);
  front.Add("a", Image("a", 4, 4, 2, 0, 0));
  front.Add("top", top);
  CLayerSet back(front);
  g_drawn.clear();
  back.Draw(&target);
  EXPECT_EQ(std::vector<std::string>{"top"}, g_drawn);
  top->SetX(10);
  front.Draw(&target);
  EXPECT_EQ(0, top->GetDirtyFlags());
  g_drawn.clear();
  back.Draw(&target);
  EXPECT_EQ(17, back.GetBounds().GetRight());
  EXPECT_EQ((std::vector<std::string>{"a", "top"}), g_drawn);
}
