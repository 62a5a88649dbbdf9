// The hide and backlog tags and the frame cycle's hidden and backlog
// states: pages reaching the backlog at each page break, paging through
// them with the keys, and the layers that fade out and back in.
#include "InterpHarness.h"

#include "graphics/PngWriter.h"
#include "platform/TextCodec.h"
#include "platform/VirtualKeys.h"
#include "scene/GraphicSystem.h"
#include "scene/LayerSet.h"
#include "scene/Tween.h"
#include "script/tags/MessageTags.h"

namespace {

using namespace platform;

class BacklogTags : public InterpHarness {
 protected:
  void TearDown() override {
    script_.reset();
    graphics_.reset();
    CTweenRegistry::Instance().DeleteAll();
    InterpHarness::TearDown();
  }
  CMessageTagState* Messages() { return script_->FindFamily<CMessageTagState>(); }
  CSystemTagState* System() { return script_->FindFamily<CSystemTagState>(); }
  CBackLog& Backlog() { return Messages()->GetBacklog(); }
  // Plain lines are text here, not line tags.
  void WriteGame(const std::string& script) { WriteFile("game.iet", "[&linetag allow=0]\n" + script); }
  CLinkableTextRenderer* Window(const std::string& id = "") { return Messages()->FindWindow(*script_, id); }
  std::string WindowText(const std::string& id = "") {
    std::string out;
    for (const auto& line : Window(id)->GetLines())
      for (const auto& cell : line->cells) out += cell->text;
    return Cp932ToUtf8(out);
  }

  // With a 16x12 scene and two red layers "a" and "icon" on show.
  void RunWithScene(const std::string& script) {
    std::vector<uint8_t> pixels(16 * 12 * 3, 0);
    for (size_t i = 0; i < pixels.size(); i += 3) pixels[i] = 255;
    PngImage image;
    image.width = 16;
    image.height = 12;
    image.colorType = 2;
    image.pixels = pixels.data();
    image.pitch = 16 * 3;
    std::vector<uint8_t> bytes;
    ASSERT_FALSE(EncodePng(image, bytes));
    WriteFile("red.png", std::string(bytes.begin(), bytes.end()));
    WriteGame("[lyc id=a file=red][lyc id=icon file=red][flip]\n" + script);
    graphics_ = std::make_unique<CGraphicSystem>(nullptr, 16, 12);
    script_ = std::make_unique<CMainScript>(GetTagRegistry(), graphics_.get());
    ASSERT_FALSE(script_->Boot());
  }
  // A frame that advances the tweens first, as the engine does.
  void TweenFrame(std::initializer_list<int> pressed = {}, uint32_t step = 16) {
    CTweenRegistry::Instance().UpdateAll(now_ + step);
    Frame(pressed, step);
  }
  // The wheel is a pseudo key that the window sets between input updates.
  void WheelFrame(bool up) {
    now_ += 16;
    platform::SetVirtualTicks(static_cast<uint64_t>(now_) << 10);
    input_->Update(now_);
    input_->PressWheel(up);
    script_->Frame(now_);
  }
  // A fade starts with the first tween update after it was asked for.
  void Settle() {
    TweenFrame();
    TweenFrame({}, 1100);
  }
  int Alpha(const std::string& id) {
    IVirtualLayer* layer = graphics_->GetFrontSet().Find(id);
    return layer ? layer->GetAlpha() : -1;
  }

  std::unique_ptr<CGraphicSystem> graphics_;
};

const char kFourPages[] =
    "[backlog allow=1]\n"
    "p1\n[rp]\np2\n[rp]\n[font size=12]\n[rp]\np3\n[rt]\nq3\n[rp]\np4\n[@]\n";

TEST_F(BacklogTags, PagesGoToTheBacklogAndThePlayerPagesThroughThem) {
  WriteGame(kFourPages);
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  // The page of nothing but a font tag is not kept.
  EXPECT_EQ(Backlog().GetPageCount(), 3u);
  EXPECT_TRUE(script_->GetSaveData().GetMessageReplay()[""].size() == 1);  // p4 only

  Frame({VK_UP});
  ASSERT_EQ(State(), CMainScript::kBacklog);
  EXPECT_EQ(WindowText("backlog"), "p3q3");
  EXPECT_TRUE(Window("")->IsHidden());
  Frame({VK_UP});
  EXPECT_EQ(WindowText("backlog"), "p2");
  WheelFrame(true);
  EXPECT_EQ(WindowText("backlog"), "p1");
  Frame({VK_UP});  // the oldest page stays
  EXPECT_EQ(WindowText("backlog"), "p1");
  Frame({VK_DOWN});
  EXPECT_EQ(WindowText("backlog"), "p2");
  WheelFrame(false);
  EXPECT_EQ(WindowText("backlog"), "p3q3");
  EXPECT_EQ(State(), CMainScript::kBacklog);
  Frame({VK_DOWN});  // past the newest page: the view closes
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_FALSE(Backlog().IsOpen());
  EXPECT_FALSE(Window("")->IsHidden());
  EXPECT_EQ(WindowText(""), "p4");

  // Escape and the right button close it too; the click wait then goes on.
  WheelFrame(true);
  ASSERT_EQ(State(), CMainScript::kBacklog);
  Frame({'X'});
  EXPECT_EQ(State(), CMainScript::kBacklog);
  Frame({VK_ESCAPE});
  EXPECT_EQ(State(), CMainScript::kClickWait);
  Frame({VK_UP});
  Frame({VK_RBUTTON});
  EXPECT_EQ(State(), CMainScript::kClickWait);
  Frame({VK_RETURN});
  EXPECT_EQ(State(), CMainScript::kEnded);
}

// A game state from a build that kept no backlog: the loaded game starts with
// none, not with the pages of the game that was running.
TEST_F(BacklogTags, AStateWithoutABacklogLoadsWithNoPages) {
  WriteGame(kFourPages);
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(Backlog().GetPageCount(), 3u);
  CSerializer stream;
  stream.Write(3, script_->GetCursor());
  const std::vector<uint8_t> file = CSaveData::BuildFile(CSaveData::kKindState, stream.Finish());
  WriteFile("old.dat", std::string(file.begin(), file.end()));
  ASSERT_FALSE(script_->GetSaveData().LoadFile("old.dat", CSaveData::kKindState));
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_EQ(Backlog().GetPageCount(), 0u);
  Frame({VK_UP});
  EXPECT_EQ(State(), CMainScript::kClickWait);  // nothing to page through
}

// A quick load rebuilds each window's page on its own: a ruby left open in
// the current window takes no text of another window's page, and the
// click-wait glyph stays hidden until the text it follows has appeared.
TEST_F(BacklogTags, AQuickLoadKeepsRubyAndGlyphToTheirWindows) {
  RunWithScene("[glyph layer=icon]\n[chgmsg id=w2]\nW\n[/chgmsg]\n[ruby text=r]A\n@\nB[/ruby]C\n[stop]\n");
  Frame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  ASSERT_EQ(WindowText("w2"), "W");
  Frame({'S'});
  Frame({'L'});
  EXPECT_EQ(WindowText("w2"), "W");
  EXPECT_EQ(WindowText(""), "");
  EXPECT_EQ(Alpha("icon"), 255);
  EXPECT_FALSE(graphics_->GetFrontSet().Find("icon")->GetVisible());
  Frame({VK_RETURN});
  EXPECT_EQ(WindowText(""), "ABC");
  EXPECT_EQ(WindowText("w2"), "W");
  EXPECT_EQ(State(), CMainScript::kSyncWait);
  EXPECT_FALSE(graphics_->GetFrontSet().Find("icon")->GetVisible());
}

// A game saved while the messages are hidden or the backlog is open (a Lua
// handler may save at any time) is saved at the click wait they interrupted:
// the loaded game shows the page, and one click goes on.
TEST_F(BacklogTags, ASaveWhileHiddenOrPagingBackLoadsAtTheClickWait) {
  RunWithScene("[hide allow=1 window=a]\n[backlog allow=1]\np1\n[rp]\np2\n@\np3\n@\n");
  Frame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  TweenFrame({VK_SPACE});
  ASSERT_EQ(State(), CMainScript::kHidden);
  ASSERT_FALSE(script_->GetSaveData().SaveState("hidden.dat"));
  TweenFrame({VK_SPACE});
  TweenFrame({VK_UP});
  ASSERT_EQ(State(), CMainScript::kBacklog);
  ASSERT_FALSE(script_->GetSaveData().SaveState("backlog.dat"));
  TweenFrame({VK_ESCAPE});
  for (const char* name : {"hidden.dat", "backlog.dat"}) {
    SCOPED_TRACE(name);
    ASSERT_FALSE(script_->GetSaveData().LoadFile(name, CSaveData::kKindState));
    EXPECT_EQ(State(), CMainScript::kClickWait);
    EXPECT_EQ(WindowText(""), "p2");
    TweenFrame({VK_RETURN});
    EXPECT_EQ(WindowText(""), "p2p3");
  }
}

// A page that began before any font tag is shown in the backlog window's own
// font at every opening, whatever page was shown last and however the window
// was laid out since.
TEST_F(BacklogTags, PagesWithoutAFontKeepTheWindowsFontAtEveryOpening) {
  RunWithScene("[backlog allow=1]\np1\n[rp]\n[font color=ff0000]\np2\n[rp]\np3\n@\n");
  Frame();
  ASSERT_EQ(Backlog().GetPageCount(), 2u);
  const uint32_t own = Window("backlog")->GetFont().color;
  ASSERT_NE(own, 0xFF0000u);
  for (int opening = 0; opening < 2; ++opening) {
    SCOPED_TRACE(opening);
    TweenFrame({VK_UP});  // the newest page, which turns red
    ASSERT_EQ(State(), CMainScript::kBacklog);
    EXPECT_EQ(Window("backlog")->GetFont().color, 0xFF0000u);
    TweenFrame({VK_UP});
    EXPECT_EQ(WindowText("backlog"), "p1");
    EXPECT_EQ(Window("backlog")->GetFont().color, own);
    TweenFrame({VK_DOWN});
    TweenFrame({VK_ESCAPE});
    ASSERT_EQ(State(), CMainScript::kClickWait);
    graphics_->Render();
  }
}

// [fontinit] empties the stack but keeps the font: a page begun after it
// comes back from a save in that font, not the window's default.
TEST_F(BacklogTags, AQuickLoadAfterFontinitKeepsThePagesFont) {
  WriteGame("[font size=16 color=ff0000]\n[fontinit]\nA\n[rp]\nB\n@\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  const CFontValues before = Window("")->GetFont();
  ASSERT_EQ(before.size, 16);
  Frame({'S'});
  Frame({'L'});
  EXPECT_EQ(WindowText(""), "B");
  EXPECT_EQ(Window("")->GetFont().size, 16);
  EXPECT_EQ(Window("")->GetFont().color, 0xFF0000u);
}

TEST_F(BacklogTags, BacklogOpensOnlyWhenAllowedAndHoldingAPage) {
  WriteGame(
      "[backlog allow=1]\nno page yet\n[@]\n[backlog allow=0]\np1\n[rp]\n[@]\n[exec command=backlog]\n"
      "[backlog allow=1]\n[@]\n");
  ASSERT_FALSE(Start());
  Frame();
  Frame({VK_UP});
  EXPECT_EQ(State(), CMainScript::kClickWait);  // nothing to show
  Frame({VK_RETURN});
  ASSERT_EQ(State(), CMainScript::kClickWait);
  EXPECT_EQ(Backlog().GetPageCount(), 1u);
  Frame({VK_UP});
  EXPECT_EQ(State(), CMainScript::kClickWait);  // not allowed
  // The request of exec waits for a click wait where the backlog is allowed.
  Frame({VK_RETURN});
  EXPECT_EQ(State(), CMainScript::kClickWait);
  Frame();
  EXPECT_EQ(State(), CMainScript::kBacklog);
  EXPECT_EQ(WindowText("backlog"), "no page yetp1");
}

TEST_F(BacklogTags, PagesKeepTheFontsTheyBeganWith) {
  // The second page closes two fonts opened on the first: it is stored with
  // the three most recent fonts of the stack as it stood when it began.
  WriteGame("[font size=10]\n[font size=20]\n[font size=30]\nA\n[rp]\nB\n[/font]\nC\n[/font]\nD\n[rp]\n[@]\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(Backlog().GetPageCount(), 2u);
  std::vector<int32_t> sizes;
  for (const CFontProperty& font : Backlog().GetPageFonts()[1]) sizes.push_back(font.size);
  EXPECT_EQ(sizes, (std::vector<int32_t>{30, 20, 10}));
  EXPECT_TRUE(Backlog().GetPageFonts()[0].empty());
  ASSERT_EQ(script_->GetSaveData().GetFontStacks()[""].size(), 1u);  // the next page's start
}

TEST_F(BacklogTags, HideListsAndTheHiddenState) {
  WriteGame(
      "[hide allow=0 window=a,,b]\n[backlog allow=0 hide=x,\x82\xa0,y layer=ic]\ntext\n[@]\n"
      "[hide allow=2 window=a,]\n[hide allow=1]\n[@]\n[exec command=hide]\n[@]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(System()->m_hideLayers, (std::set<std::string>{"a", "", "b"}));
  EXPECT_EQ(System()->m_backlogHideLayers, (std::set<std::string>{"x", "\x82\xa0", "y"}));
  EXPECT_TRUE(System()->m_backlogIcons[""].m_on);
  EXPECT_EQ(System()->m_backlogIcons[""].m_layer, "ic");
  Frame({VK_SPACE});  // not allowed yet
  EXPECT_EQ(State(), CMainScript::kClickWait);
  Frame({VK_RETURN});
  EXPECT_EQ(System()->m_hideLayers, (std::set<std::string>{"a"}));  // a trailing comma adds nothing
  Frame({VK_SPACE});
  EXPECT_EQ(State(), CMainScript::kHidden);
  Frame({'X'});  // not one of the inputs that show the messages again
  EXPECT_EQ(State(), CMainScript::kHidden);
  Frame({'A'});
  EXPECT_EQ(State(), CMainScript::kClickWait);
  // exec's request hides at the next click wait.
  Frame({VK_RETURN});
  EXPECT_EQ(State(), CMainScript::kClickWait);
  Frame();
  EXPECT_EQ(State(), CMainScript::kHidden);
}

TEST_F(BacklogTags, HideAndBacklogFadeTheirLayersAndTheIcon) {
  RunWithScene("[hide allow=1 window=a]\n[backlog allow=1 layer=icon hide=a]\np1\n[rp]\n[@]\n");
  TweenFrame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  EXPECT_EQ(Alpha("a"), 255);

  TweenFrame({VK_SPACE});
  ASSERT_EQ(State(), CMainScript::kHidden);
  TweenFrame();
  TweenFrame({}, 500);
  EXPECT_GT(Alpha("a"), 100);
  EXPECT_LT(Alpha("a"), 155);
  TweenFrame({}, 600);
  EXPECT_EQ(Alpha("a"), 0);
  TweenFrame({VK_RETURN});
  ASSERT_EQ(State(), CMainScript::kClickWait);
  Settle();
  EXPECT_EQ(Alpha("a"), 255);
  EXPECT_EQ(Alpha("icon"), 255);  // untouched so far

  TweenFrame({VK_UP});
  ASSERT_EQ(State(), CMainScript::kBacklog);
  EXPECT_EQ(Alpha("icon"), 0);  // fading in from nothing
  Settle();
  EXPECT_EQ(Alpha("a"), 0);
  EXPECT_EQ(Alpha("icon"), 255);
  TweenFrame({VK_ESCAPE});
  ASSERT_EQ(State(), CMainScript::kClickWait);
  Settle();
  EXPECT_EQ(Alpha("a"), 255);
  EXPECT_EQ(Alpha("icon"), 0);
}

}  // namespace
