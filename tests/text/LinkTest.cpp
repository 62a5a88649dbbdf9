// Links of a message window: their areas over the laid-out text, the
// hover pulse, and the click that locks every link until enabled again.
#include <gtest/gtest.h>

#include "FakeFontBackend.h"
#include "graphics/Surface.h"
#include "platform/InputState.h"
#include "platform/Platform.h"
#include "platform/TextCodec.h"
#include "platform/VirtualKeys.h"
#include "scene/Layer.h"
#include "scene/Tween.h"
#include "text/GlyphGenerator.h"
#include "text/LinkableTextRenderer.h"

namespace {

std::string Sjis(const char* utf8) { return platform::ConvertUtf8ToCp932(utf8); }

class LinkTest : public ::testing::Test {
 protected:
  ScopedFakeFonts fonts;
  CLayerFactory layers;
  CSurfaceFactory surfaces;
  CTweenRegistry& registry = CTweenRegistry::Instance();
  platform::WindowHandle window_ = 0;
  CInputState* input_ = nullptr;
  uint32_t now_ = 1000;

  void SetUp() override {
    platform::Init(platform::Backend::Headless);
    platform::RegisterWindowClass("link-test");
    platform::CreateWindowArgs args;
    args.className = "link-test";
    args.width = 640;
    args.height = 480;
    window_ = platform::CreateWindow(args);
    CInputState::Destroy();
    input_ = CInputState::Instance(window_);
    CGlyphGenerator::DestroyInstance();
    registry.DeleteAll();
    fonts.backend.state.metrics = {20, 40};
    const std::string a = Sjis("あ");
    fonts.backend.AddSolid(uint16_t(uint8_t(a[0]) << 8 | uint8_t(a[1])), 40, 2, 0, 40, 40);
  }
  void TearDown() override {
    registry.DeleteAll();
    CGlyphGenerator::DestroyInstance();
    CInputState::Destroy();
    platform::InjectKey(platform::VK_LBUTTON, false);
    platform::DestroyWindow(window_);
    platform::UnregisterWindowClass("link-test");
    platform::Shutdown();
  }

  // A window 100 pixels wide: five 20-pixel characters a line, 32 high.
  std::unique_ptr<CLinkableTextRenderer> MakeWindow() {
    auto r = std::make_unique<CLinkableTextRenderer>(&layers, &surfaces);
    CFontValues font;
    font.size = 20;
    font.rubysize = 8;
    font.width = 100;
    font.left = 10;
    font.top = 20;
    font.anchorcenter = false;
    r->SetFont(font);
    r->SetInput(input_);
    return r;
  }

  // One frame: tweens, the pointer (and a press), the window's link update.
  void Frame(CLinkableTextRenderer& r, int x, int y, bool click = false, uint32_t step = 16) {
    now_ += step;
    platform::InjectCursor(window_, x, y);
    if (click) platform::InjectKey(platform::VK_LBUTTON, true);
    registry.UpdateAll(now_);
    input_->Update(now_);
    r.FrameUpdate();
    if (click) {
      platform::InjectKey(platform::VK_LBUTTON, false);
      input_->Update(now_);
    }
  }
};

TEST_F(LinkTest, ALinkOverTwoLinesGetsTwoAreasThatPulseTogether) {
  auto r = MakeWindow();
  r->AddText(Sjis("あああ"));
  r->OpenLink(nullptr);
  r->AddText(Sjis("ああああ"));  // indices 3..6: two on the first line, two on the second
  r->CloseLink();
  r->Layout();
  const auto& link = *r->GetLinks()[0];
  EXPECT_EQ(link.first, 3);
  EXPECT_EQ(link.last, 6);
  ASSERT_EQ(link.areas.size(), 2u);
  EXPECT_EQ(link.areas[0]->rect.GetX(), 10 + 60);
  EXPECT_EQ(link.areas[0]->rect.GetWidth(), 40);
  EXPECT_EQ(link.areas[1]->rect.GetX(), 10);
  EXPECT_EQ(link.areas[1]->rect.GetY(), link.areas[0]->rect.GetY() + 28);
  EXPECT_EQ(link.areas[1]->rect.GetWidth(), 40);
  ASSERT_NE(link.areas[0]->layer, nullptr);
  EXPECT_EQ(link.areas[0]->layer->GetLayerMode(), 1);
  EXPECT_EQ(link.areas[0]->surface->GetFormat(), ISurface::PIXEL_BITS_32);

  // Over the second line: both areas rise together.
  Frame(*r, 15, link.areas[1]->rect.GetY() + 5);
  EXPECT_TRUE(link.hover);
  Frame(*r, 15, link.areas[1]->rect.GetY() + 5);  // the pulse's first step
  Frame(*r, 15, link.areas[1]->rect.GetY() + 5, false, 200);
  const int rising = link.areas[0]->layer->GetAlpha();
  EXPECT_GT(rising, 0);
  EXPECT_EQ(link.areas[1]->layer->GetAlpha(), rising);
  // Leaving while rising: the glow finishes rising to 128, then falls to 0
  // and stops.
  Frame(*r, 300, 300, false, 16);
  EXPECT_FALSE(link.hover);
  Frame(*r, 300, 300, false, 500 - 216);
  EXPECT_EQ(link.areas[0]->layer->GetAlpha(), 128);
  Frame(*r, 300, 300, false, 500);
  EXPECT_EQ(link.areas[0]->layer->GetAlpha(), 0);
  EXPECT_FALSE(registry.IsAlive(link.areas[0]->pulse));
}

TEST_F(LinkTest, InvisibleTextKeepsItsGlowAndAHiddenWindowShowsNone) {
  auto r = MakeWindow();
  CFontValues font = r->GetFont();
  font.visible = false;
  r->SetFont(font);
  r->OpenLink(nullptr);
  r->AddText(Sjis("ああ"));
  r->CloseLink();
  r->Layout();
  const auto& area = *r->GetLinks()[0]->areas[0];
  // Glowing at its brightest.
  Frame(*r, area.rect.GetX() + 5, area.rect.GetY() + 5);
  Frame(*r, area.rect.GetX() + 5, area.rect.GetY() + 5);
  Frame(*r, area.rect.GetX() + 5, area.rect.GetY() + 5, false, 500);
  ASSERT_GT(area.layer->GetAlpha(), 0);
  auto lit = [&] {
    CSurface target;
    EXPECT_FALSE(target.Create(200, 200, ISurface::PIXEL_BITS_32));
    target.Clear();
    r->Draw(&target);
    const uint8_t* pixel = target.GetLine(area.rect.GetY() + 2) + (area.rect.GetX() + 2) * 4;
    return pixel[0] + pixel[1] + pixel[2] > 0;
  };
  EXPECT_TRUE(lit());
  r->Hide();
  EXPECT_FALSE(lit());
  r->Show();
  EXPECT_TRUE(lit());
}

TEST_F(LinkTest, OneClickLocksEveryLinkUntilEnabledOrTheNextPage) {
  auto r = MakeWindow();
  int first = 0, second = 0;
  r->OpenLink([&] { ++first; });
  r->AddText(Sjis("ああ"));
  r->OpenLink([&] { ++second; });  // closes the first
  r->AddText(Sjis("ああ"));
  r->CloseLink();
  r->Layout();
  const CRect a = r->GetLinks()[0]->areas[0]->rect, b = r->GetLinks()[1]->areas[0]->rect;
  Frame(*r, b.GetX() + 1, b.GetY() + 1, true);
  EXPECT_EQ(second, 1);
  EXPECT_TRUE(r->AreLinksLocked());
  Frame(*r, a.GetX() + 1, a.GetY() + 1, true);
  EXPECT_EQ(first, 0);
  r->EnableLinks();
  Frame(*r, a.GetX() + 1, a.GetY() + 1, true);
  EXPECT_EQ(first, 1);
  // A page clear drops the links and their lock.
  r->Clear();
  EXPECT_TRUE(r->GetLinks().empty());
  EXPECT_FALSE(r->AreLinksLocked());
  EXPECT_EQ(registry.GetCount(), 0u);
}

TEST_F(LinkTest, StrayAndEmptyLinksCoverNothingElse) {
  auto r = MakeWindow();
  r->OpenLink(nullptr);
  r->AddText(Sjis("あ"));  // only the first character: it still gets its area
  r->CloseLink();
  r->AddText(Sjis("ああ"));
  r->CloseLink();  // stray: the first link keeps its end
  r->OpenLink(nullptr);
  r->CloseLink();  // closed before any character
  r->Layout();
  ASSERT_EQ(r->GetLinks().size(), 2u);
  EXPECT_EQ(r->GetLinks()[0]->last, 0);
  EXPECT_EQ(r->GetLinks()[0]->areas.size(), 1u);
  EXPECT_EQ(r->GetLinks()[0]->areas[0]->rect.GetWidth(), 20);
  EXPECT_EQ(r->GetLinks()[1]->last, 2);  // first 3, last 2
  EXPECT_TRUE(r->GetLinks()[1]->areas.empty());

  // On an empty page a link closed at once has no area either.
  auto empty = MakeWindow();
  empty->OpenLink(nullptr);
  empty->Layout();  // closes it
  EXPECT_FALSE(empty->IsLinkOpen());
  EXPECT_TRUE(empty->GetLinks()[0]->areas.empty());
}

// A layout (a click wait, the frame's end) closes an open link; its own
// closing tag later still takes in the text written since, once.
TEST_F(LinkTest, AClosingTagAfterALayoutEndsTheLinkWhereItStands) {
  auto r = MakeWindow();
  r->OpenLink(nullptr);
  r->AddText(Sjis("ああ"));
  r->Layout();
  EXPECT_FALSE(r->IsLinkOpen());
  EXPECT_EQ(r->GetLinks()[0]->last, 1);
  r->AddText(Sjis("ああ"));
  r->Layout();  // the frame ends before the closing tag
  r->CloseLink();
  EXPECT_EQ(r->GetLinks()[0]->last, 3);
  ASSERT_EQ(r->GetLinks()[0]->areas.size(), 1u);
  EXPECT_EQ(r->GetLinks()[0]->areas[0]->rect.GetWidth(), 80);
  // Text after the closing tag is not the link's, whatever stray tag comes.
  r->AddText(Sjis("あ"));
  r->CloseLink();
  r->Layout();
  EXPECT_EQ(r->GetLinks()[0]->last, 3);
}

TEST_F(LinkTest, AClosedGateKeepsLinksStill) {
  auto r = MakeWindow();
  int clicks = 0;
  bool open = false;
  r->SetLinkGate([&] { return open; });
  r->OpenLink([&] { ++clicks; });
  r->AddText(Sjis("ああ"));
  r->Layout();
  const CRect a = r->GetLinks()[0]->areas[0]->rect;
  Frame(*r, a.GetX() + 1, a.GetY() + 1, true);
  EXPECT_EQ(clicks, 0);
  EXPECT_FALSE(r->GetLinks()[0]->hover);
  open = true;
  Frame(*r, a.GetX() + 1, a.GetY() + 1, true);
  EXPECT_EQ(clicks, 1);
}

TEST_F(LinkTest, ADestroyedWindowTakesItsPulsesWithIt) {
  {
    auto r = MakeWindow();
    r->OpenLink(nullptr);
    r->AddText(Sjis("ああ"));
    r->Layout();
    const CRect a = r->GetLinks()[0]->areas[0]->rect;
    Frame(*r, a.GetX() + 1, a.GetY() + 1);
    EXPECT_EQ(registry.GetCount(), 1u);
  }
  EXPECT_EQ(registry.GetCount(), 0u);
  registry.UpdateAll(now_ + 100);
}

}  // namespace
