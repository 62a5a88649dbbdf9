// Effect lists, pages, window switching, glyphs and links driven by the
// message tags, in an interpreter with a scene so that glyphs have layers.
#include <memory>

#include "platform/FontBackend.h"
#include "platform/TextCodec.h"
#include "platform/VirtualKeys.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "scene/Tween.h"
#include "script/InterpHarness.h"
#include "script/tags/MessageTags.h"

namespace {

class MessageEffects : public InterpHarness {
 protected:
  void TearDown() override {
    script_.reset();
    graphics_.reset();
    CTweenRegistry::Instance().DeleteAll();
    InterpHarness::TearDown();
  }
  bool StartWithScene(const std::string& game) {
    CTweenRegistry::Instance().DeleteAll();
    // Glyphs come from the installed Japanese fonts, so links have areas.
    if (platform::InitFontBackend()) return true;
    WriteFile("game.iet", Utf8ToCp932(game));
    graphics_ = std::make_unique<CGraphicSystem>(nullptr, 640, 480);
    script_ = std::make_unique<CMainScript>(GetTagRegistry(), graphics_.get());
    return script_->Boot();
  }
  // One frame as the engine runs it: tweens, input, windows, script.
  void EngineFrame(std::initializer_list<int> pressed = {}, int x = -1, int y = -1) {
    now_ += 16;
    platform::SetVirtualTicks(static_cast<uint64_t>(now_) << 10);
    if (x >= 0) platform::InjectCursor(window_, x, y);
    for (int k : pressed) platform::InjectKey(k, true);
    CTweenRegistry::Instance().UpdateAll(now_);
    input_->Update(now_);
    graphics_->Update();
    script_->Frame(now_);
    for (int k : pressed) platform::InjectKey(k, false);
    if (pressed.size()) input_->Update(now_);
  }
  CMessageTagState* Messages() { return script_->FindFamily<CMessageTagState>(); }
  CLinkableTextRenderer* Window(const std::string& id = "") { return Messages()->FindWindow(*script_, id); }
  std::string Reports() { return Cp932ToUtf8(script_->TakeReportBuffer()); }

  std::unique_ptr<CGraphicSystem> graphics_;
};

TEST_F(MessageEffects, ScetweenBuildsEntriesAndIgnoresUnknownModesAndTypes) {
  ASSERT_FALSE(
      StartWithScene("[scetween mode=add type=in param=xscale diff=50 msec=300 delay=10 ease=easein_quad]\n"
                     "[scetween mode=add type=out param=entiretop diff=-8]\n"
                     "[scetween mode=add type=in param=bogus ease=bogus diff=50]\n"
                     "[scetween mode=add type=sideways param=top]\n[scetween mode=grow type=in param=top]\n@\n"));
  EngineFrame();
  const auto& in = Messages()->m_appearLists[""];
  ASSERT_EQ(in.size(), 2u);
  EXPECT_EQ(in[0].param, 3);
  EXPECT_EQ(in[0].diff, 32768);
  EXPECT_EQ(in[0].ease, 1);
  EXPECT_EQ(in[0].msec, 300);
  EXPECT_EQ(in[0].delay, 10);
  EXPECT_FALSE(in[0].vanish);
  // Unknown names keep the not-set markers; a diff is not scaled then.
  EXPECT_EQ(in[1].param, 12);
  EXPECT_EQ(in[1].ease, 31);
  EXPECT_EQ(in[1].diff, 50);
  const auto& out = Messages()->m_vanishLists[""];
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].param, 7);
  EXPECT_TRUE(out[0].vanish);
  EXPECT_EQ(Messages()->m_appearLists.size(), 1u);
}

TEST_F(MessageEffects, ChgmsgSwitchesWindowsWithDefaultListsAndReportsAStrayClose) {
  ASSERT_FALSE(
      StartWithScene("[debug mode=2]\n[chgmsg id=side]side\n[chgmsg]\n[/chgmsg]\n[/chgmsg]main\n[/chgmsg]\n@\n"));
  EngineFrame();
  EXPECT_EQ(Messages()->m_currentWindowId, "");
  EXPECT_EQ(Window("side")->GetCharCount(), 4);
  EXPECT_EQ(Window("")->GetCharCount(), 4);
  EXPECT_EQ(Messages()->m_appearLists["side"], Messages()->m_defaultAppear);
  EXPECT_EQ(Messages()->m_vanishLists["side"], Messages()->m_defaultVanish);
  ASSERT_EQ(Messages()->m_defaultAppear.size(), 2u);
  EXPECT_EQ(Messages()->m_defaultAppear[0].ease, 20);
  EXPECT_EQ(Messages()->m_defaultVanish[0].ease, 8);
  // The id drawn from the generator is a decimal number with its own window.
  int numbered = 0;
  for (const auto& [id, window] : graphics_->GetMessageWindows())
    if (!id.empty() && id.find_first_not_of("0123456789") == std::string::npos) ++numbered;
  EXPECT_EQ(numbered, 1);
  const std::string reports = Reports();
  EXPECT_NE(reports.find("game.iet(6): [/chgmsg] 対になるchgmsgタグが見つかりません。"), std::string::npos) << reports;
}

TEST_F(MessageEffects, PagesOfTheMainWindowGoToTheBacklogWithTheirStartingFonts) {
  ASSERT_FALSE(
      StartWithScene("[font size=20]a[rp]\n[font size=30]b[/font]c\n[rp]\n[chgmsg id=side]d[rp][/chgmsg]\n@\n"));
  EngineFrame();
  const CBackLog& backlog = Messages()->GetBacklog();
  std::vector<std::vector<std::string>> pages;
  for (const auto& page : backlog.GetPages()) {
    pages.emplace_back();
    for (const auto& record : page) pages.back().push_back(record.m_text);
  }
  ASSERT_EQ(pages.size(), 2u);  // the side window's page is not the backlog's
  EXPECT_EQ(pages[0], (std::vector<std::string>{"font", "a"}));
  EXPECT_EQ(pages[1], (std::vector<std::string>{"font", "b", "/font", "c"}));
  EXPECT_TRUE(backlog.GetPageFonts()[0].empty());
  // The second page starts with the stack the first left behind, not with
  // the one it leaves itself.
  ASSERT_FALSE(backlog.GetPageFonts()[1].empty());
  EXPECT_EQ(backlog.GetPageFonts()[1].front().size, 20);
  EXPECT_TRUE(script_->GetSaveData().GetMessageReplay()[""].empty());
}

TEST_F(MessageEffects, GlyphWithOnlyALayerSetsThePageGlyphToo) {
  ASSERT_FALSE(
      StartWithScene("[glyph layer=g left=4 top=5 homing=1]\n[chgmsg id=s][glyph layer=a rplayer=b rpleft=7]\n@\n"));
  EngineFrame();
  const auto& main = Messages()->m_glyphInfos[""];
  EXPECT_TRUE(main.m_hasPageGlyph);
  EXPECT_EQ(main.m_pageLayer, "g");
  EXPECT_EQ(main.m_pageX, 4);
  EXPECT_EQ(main.m_pageY, 5);
  EXPECT_TRUE(main.m_homing);
  const auto& side = Messages()->m_glyphInfos["s"];
  EXPECT_EQ(side.m_pageLayer, "b");
  EXPECT_EQ(side.m_pageX, 7);
  EXPECT_EQ(side.m_lineLayer, "a");
  EXPECT_FALSE(side.m_homing);
}

TEST_F(MessageEffects, TheClickWaitShowsItsGlyphOnlyOnceTheTextHasAppeared) {
  ASSERT_FALSE(
      StartWithScene("[scetween mode=add type=in param=entirealpha diff=-255 msec=200 delay=20]\n"
                     "あいう@\n[rp]\n"));
  EngineFrame();
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_FALSE(Window()->EffectsFinished());
  EXPECT_FALSE(Messages()->m_glyphShown);
  for (int i = 0; i < 20; ++i) EngineFrame();
  EXPECT_TRUE(Window()->EffectsFinished());
  EXPECT_TRUE(Messages()->m_glyphShown);
  EXPECT_EQ(Window()->GetEffectMark(), 3);
  // The click clears the page with its vanish list (none here): at once.
  EngineFrame({platform::VK_LBUTTON});
  EXPECT_EQ(Window()->GetCharCount(), 0);
  EXPECT_TRUE(Window()->GetPreviousLines().empty());
}

TEST_F(MessageEffects, TheGlyphLayerIsPlacedBesideTheLastCharacter) {
  ASSERT_FALSE(StartWithScene("[glyph layer=g left=3 top=-2 homing=1]\nあい@\n"));
  // A layer under the glyph's id in the scene.
  auto* layer = new CLayer();
  graphics_->GetBackSet().Add("g", layer);
  graphics_->Commit();
  EngineFrame();
  EngineFrame();  // the wait's first turn
  CRect caret;
  ASSERT_TRUE(Window()->GetCaretRect(1, caret));
  EXPECT_TRUE(layer->GetVisible());
  EXPECT_EQ(layer->GetX(), caret.GetX() + caret.GetWidth() + 3);
  EXPECT_EQ(layer->GetY(), caret.GetY() - 2);
  EngineFrame({platform::VK_LBUTTON});
  EXPECT_FALSE(layer->GetVisible());
}

TEST_F(MessageEffects, ThePageGlyphShowsWhenTheNextRecordReadsRp) {
  // The next record's text decides, whatever its kind: the rp tag, and a
  // label of that name as well.
  ASSERT_FALSE(StartWithScene("[glyph layer=g rplayer=p]\nあ@\n[rp]\nい@\n*rp\nう@\n"));
  auto* line = new CLayer();
  auto* page = new CLayer();
  graphics_->GetBackSet().Add("g", line);
  graphics_->GetBackSet().Add("p", page);
  graphics_->Commit();
  auto shown = [&] {
    EngineFrame();
    EngineFrame();
    return std::make_pair(line->GetVisible(), page->GetVisible());
  };
  line->SetVisible(false);
  page->SetVisible(false);
  EXPECT_EQ(shown(), std::make_pair(false, true));  // before [rp]
  EngineFrame({platform::VK_LBUTTON});
  EXPECT_EQ(shown(), std::make_pair(false, true));  // before *rp
  EngineFrame({platform::VK_LBUTTON});
  EXPECT_EQ(shown(), std::make_pair(true, false));  // before the end
}

TEST_F(MessageEffects, TheTextEffectWaitEndsWithTheEffects) {
  ASSERT_FALSE(
      StartWithScene("[scetween mode=add type=in param=entiretop diff=-10 msec=100]\nあ[scein][wait scenario]\n[var "
                     "name=f.done data=1]\n@\n"));
  EngineFrame();
  EXPECT_FALSE(Has("f.done"));
  for (int i = 0; i < 10; ++i) EngineFrame();
  EXPECT_EQ(Var("f.done"), "1");
}

TEST_F(MessageEffects, WaitEndsRunningEffectsAndStartsTheNewTextUnlessSkipping) {
  ASSERT_FALSE(StartWithScene(
      "[skip allow=1][scetween mode=add type=in param=entirealpha diff=-255 msec=200]\nあ@\nい[wait time=50]\n"
      "う[wait time=50 input=2]\n@\n"));
  EngineFrame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  EXPECT_FALSE(Window()->EffectsFinished());
  EngineFrame({platform::VK_LBUTTON});
  // The timed wait finished the first character's effect and started the
  // second's.
  EXPECT_EQ(State(), CMainScript::kTimedWait);
  EXPECT_EQ(Window()->GetEffectMark(), 2);
  EXPECT_FALSE(Window()->EffectsFinished());
  // Skipping: the third character appears at once.
  platform::InjectKey(platform::VK_CONTROL, true);
  for (int i = 0; i < 5; ++i) EngineFrame();
  platform::InjectKey(platform::VK_CONTROL, false);
  EXPECT_EQ(Window()->GetCharCount(), 3);
  EXPECT_EQ(Window()->GetEffectMark(), 2);
  EXPECT_TRUE(Window()->EffectsFinished());
}

TEST_F(MessageEffects, ALinkClickJumpsOnceAndLocksEveryLinkUntilEnabled) {
  ASSERT_FALSE(
      StartWithScene("[link label=one]あい[/link][rt][link label=two]うえ[/link]@\n"
                     "*one\n[var name=f.hit data=1][linkenable]@\n*two\n[var name=f.hit data=2]@\n"));
  EngineFrame({}, 0, 0);
  CLinkableTextRenderer* window = Window();
  ASSERT_EQ(window->GetLinks().size(), 2u);
  graphics_->Render();  // lays the window out
  ASSERT_EQ(window->GetLinks()[1]->areas.size(), 1u);
  const CRect second = window->GetLinks()[1]->areas[0]->rect;
  const int x = second.GetX() + 2, y = second.GetY() + 2;
  EngineFrame({}, x, y);
  EXPECT_TRUE(window->GetLinks()[1]->hover);
  EngineFrame({platform::VK_LBUTTON}, x, y);
  EXPECT_EQ(Var("f.hit"), "2");
  EXPECT_TRUE(window->AreLinksLocked());
  EXPECT_EQ(window->GetLinks()[1]->areas[0]->layer->GetAlpha(), 0);
}

// A link that calls a subroutine (a glossary entry) comes back to the page's
// click wait: the click was the link's, and the page waits for another.
TEST_F(MessageEffects, ACallingLinkReturnsToTheWaitWithoutEndingIt) {
  ASSERT_FALSE(StartWithScene(
      "[link label=tip call=1]あい[/link]@\n[var name=f.after data=1]@\n*tip\n[var name=f.tip data=$f.tip+1]\n"
      "[linkenable]\n[return]\n"));
  EngineFrame({}, 0, 0);
  graphics_->Render();
  const CRect area = Window()->GetLinks()[0]->areas[0]->rect;
  EngineFrame({platform::VK_LBUTTON}, area.GetX() + 1, area.GetY() + 1);
  EXPECT_EQ(Var("f.tip"), "1");
  EXPECT_FALSE(Has("f.after"));
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EngineFrame({platform::VK_RETURN});
  EXPECT_EQ(Var("f.after"), "1");
}

TEST_F(MessageEffects, LinksStayStillWhileTheMessageIsHiddenOrAMoviePlays) {
  ASSERT_FALSE(StartWithScene("[link label=one]あい[/link]@\n*one\n[var name=f.hit data=1]@\n"));
  EngineFrame({}, 0, 0);
  graphics_->Render();
  const CRect area = Window()->GetLinks()[0]->areas[0]->rect;
  for (int state : {CMainScript::kHidden, CMainScript::kVideoWait}) {
    script_->SetState(state);
    EngineFrame({platform::VK_LBUTTON}, area.GetX() + 1, area.GetY() + 1);
    EXPECT_FALSE(Has("f.hit"));
    EXPECT_FALSE(Window()->AreLinksLocked());
  }
}

TEST_F(MessageEffects, ResetDeletesWindowsWithTheirRunningEffects) {
  ASSERT_FALSE(
      StartWithScene("[scetween mode=add type=in param=top diff=-16 msec=5000 delay=100]\n"
                     "[link]あいうえお[/link]@\n"));
  EngineFrame();
  EXPECT_GT(CTweenRegistry::Instance().GetCount(), 0u);
  ASSERT_FALSE(script_->Boot());
  // The old windows' tweens went with them; the next pass writes nowhere.
  EXPECT_EQ(CTweenRegistry::Instance().GetCount(), 0u);
  EngineFrame();
  EXPECT_NE(Window(), nullptr);
}

// A restart starts the windows over but keeps, per window id, the font
// stack, the effect lists and the stack of windows [chgmsg] went through.
TEST_F(MessageEffects, ARestartKeepsFontStacksEffectListsAndTheWindowStack) {
  ASSERT_FALSE(
      StartWithScene("[debug mode=2]\n"
                     "[if estimate=g.again]\n[/font][/chgmsg]@\n[/if]\n"
                     "[var name=g.again data=1][font size=20][font size=24]\n"
                     "[scetween mode=init type=in][scetween mode=add type=in param=top diff=-16 msec=300]\n"
                     "[chgmsg id=w1]@\n"));
  EngineFrame();
  ASSERT_EQ(Messages()->m_currentWindowId, "w1");
  ASSERT_FALSE(script_->Boot());
  EXPECT_EQ(Messages()->m_currentWindowId, "");
  EXPECT_EQ(Messages()->m_windowIdStack, std::vector<std::string>{""});
  ASSERT_EQ(Messages()->m_fontStacks[""].size(), 2u);
  EXPECT_EQ(Messages()->AppearList().size(), 1u);
  // Run again after the restart, [/font] and [/chgmsg] find the font and
  // the window they close.
  EngineFrame();
  const std::string reports = Reports();
  EXPECT_NE(reports.find("game.iet(3): /chgmsg"), std::string::npos) << reports;
  EXPECT_EQ(reports.find("対になる"), std::string::npos) << reports;
  EXPECT_EQ(Messages()->m_currentWindowId, "");
  EXPECT_EQ(Window()->GetFont().size, 20);
}

}  // namespace
