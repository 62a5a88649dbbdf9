// Layer tags run as small headless games: the scene the tags build, what they
// record for loading, transitions and animations frame by frame, pointer
// handlers, and bad input.
#include <cstring>
#include <fstream>

#include "InterpHarness.h"
#include "graphics/PngWriter.h"
#include "platform/TextCodec.h"
#include "platform/VirtualKeys.h"
#include "scene/AnimationLayer.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "scene/Tween.h"
#include "script/tags/LayerTags.h"

namespace {

class LayerTags : public InterpHarness {
 protected:
  void SetUp() override {
    InterpHarness::SetUp();
    CTweenRegistry::Instance().DeleteAll();
    Png("red.png", 16, 12, 0xFF0000);
    Png("blue.png", 16, 12, 0x0000FF);
    Png("small.png", 4, 4, 0x00FF00);
  }
  void TearDown() override {
    script_.reset();
    graphics_.reset();
    CTweenRegistry::Instance().DeleteAll();
    InterpHarness::TearDown();
  }

  const CPointerEvents& Pointer() { return script_->FindFamily<CLayerTagState>()->m_pointer; }

  void Png(const std::string& name, int w, int h, uint32_t rgb) {
    std::vector<uint8_t> pixels;
    for (int i = 0; i < w * h; ++i) pixels.insert(pixels.end(), {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)});
    WriteImage(name, w, h, 2, pixels);
  }
  void WriteImage(const std::string& name, int w, int h, int colorType, const std::vector<uint8_t>& pixels) {
    PngImage image;
    image.width = w;
    image.height = h;
    image.colorType = colorType;
    image.pixels = pixels.data();
    image.pitch = pixels.size() / size_t(h);
    std::vector<uint8_t> bytes;
    ASSERT_FALSE(EncodePng(image, bytes));
    WriteFile(name, std::string(bytes.begin(), bytes.end()));
  }

  // Boots game.iet with a 16x12 scene.
  void Run(const std::string& script) {
    WriteFile("game.iet", script);
    graphics_ = std::make_unique<CGraphicSystem>(nullptr, 16, 12);
    script_ = std::make_unique<CMainScript>(GetTagRegistry(), graphics_.get());
    ASSERT_FALSE(script_->Boot());
    start_ = now_;
  }
  // Frame n of the 60 Hz pacer, in the engine's order: tweens, input, the
  // script, the picture.
  void FrameN(int n, std::initializer_list<int> pressed = {}) {
    now_ = start_ + uint32_t((int64_t(n) * 17066) >> 10);
    platform::SetVirtualTicks(uint64_t(now_) << 10);
    CTweenRegistry::Instance().UpdateAll(now_);
    for (int k : pressed) platform::InjectKey(k, true);
    input_->Update(now_);
    script_->Frame(now_);
    for (int k : pressed) platform::InjectKey(k, false);
    if (pressed.size()) input_->Update(now_);
    graphics_->Render();
  }
  CLayerSet& Front() { return graphics_->GetFrontSet(); }
  CLayerSet& Back() { return graphics_->GetBackSet(); }
  std::string Reports() { return Cp932ToUtf8(script_->GetReportBuffer()); }
  CSaveData::ReplayMap& LayerLists() { return script_->GetSaveData().GetLayerReplay(); }
  CSaveData::ReplayMap& AnimationLists() { return script_->GetSaveData().GetAnimationReplay(); }
  uint32_t Pixel(int x, int y) {
    std::vector<uint8_t> frame;
    int w = 0, h = 0;
    if (platform::GetLastFrame(frame, w, h) || x >= w || y >= h) return 0xDEADBEEF;
    uint32_t v;
    std::memcpy(&v, &frame[(size_t(y) * size_t(w) + size_t(x)) * 4], 4);
    return v & 0xFFFFFF;
  }
  // Blue through a full mask (the masked blend may lose one step).
  static bool IsBlue(uint32_t pixel) { return pixel >> 8 == 0 && (pixel & 0xFF) >= 254; }

  std::unique_ptr<CGraphicSystem> graphics_;
  uint32_t start_ = 0;
};

TEST_F(LayerTags, ChangesWaitForFlipAndConvertAttributes) {
  Run("[debug mode=2][lyc id=a file=red][lyprop id=a left=3 xscale=150 visible=no layermode=overlay "
      "clickablethreshold=300 alpha=abc]\n[var name=f.before system=get_layer_info]\n[flip]\n"
      "[var name=f.after system=get_layer_info][lyprop id=a visible=0 layermode=add][flip]"
      // An unknown mode changes nothing.
      "[lyprop id=a layermode=overlay][flip][wait time=100000]");
  FrameN(0);
  EXPECT_EQ(Var("f.before.size"), "0");
  EXPECT_EQ(Var("f.after.size"), "1");
  EXPECT_EQ(Var("f.after.0.id"), "a");
  EXPECT_EQ(Var("f.after.0.left"), "3");
  EXPECT_EQ(Var("f.after.0.xscale"), "150");
  EXPECT_EQ(Var("f.after.0.alpha"), "0");  // non-numeric reads as 0
  EXPECT_EQ(Var("f.after.0.visible"), "1");
  EXPECT_EQ(Var("f.after.0.layermode"), "0");
  EXPECT_EQ(Var("f.after.0.width"), "16");
  IVirtualLayer* a = Front().Find("a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->GetXScale(), 98304);
  EXPECT_EQ(a->GetAnchorX(), 8);
  EXPECT_FALSE(a->GetVisible());
  EXPECT_EQ(a->GetLayerMode(), 1);
  EXPECT_EQ(Pointer().GetThreshold("a"), 44);  // 300 keeps its low eight bits
  EXPECT_EQ(Reports().find("見つかりません"), std::string::npos) << Reports();
}

TEST_F(LayerTags, ReplayRecordsFollowTheLayerAndAnimationLists) {
  Run("[lyprop id=a left=1][lyc id=a file=red][lyprop id=a left=1][lytween id=a param=left from=0 to=9 msec=10]"
      "[lytween id=a param=top from=0 to=9 msec=10 yoyo=0][lytween id=a param=top from=0 to=5 msec=10 yoyo=1]"
      "[lytweendel id=zz]\n"
      "[anime id=m mode=init file=red][anime id=m mode=add file=blue time=100][lyprop id=m alpha=10]"
      "[lytween id=m param=alpha from=0 to=255 msec=10][lytweendel id=m]\n"
      "[lyc id=b file=red][lyprop id=b top=4][lyc id=b file=blue]\n"
      "[lyc id=u file=red][lyprop id=u clickablethreshold=90 top=2][lyc id=u file=blue]\n"
      "[lyc id=gone file=red][anime id=gone2 mode=init file=red][lydel id=gone][animedel id=gone2]"
      "[lyc id=t file=red][lyprop id=t clickablethreshold=100][anime id=t mode=init file=blue]"
      "[wait time=100000]");
  FrameN(0);
  ASSERT_EQ(LayerLists()["a"].size(), 5u);
  EXPECT_EQ(LayerLists()["a"][0].m_text, "lyc");
  EXPECT_EQ(LayerLists()["a"][1].m_text, "lyprop");
  const CScriptBlock& made = LayerLists()["a"][2];
  EXPECT_EQ(made.m_text, "lyprop");
  EXPECT_EQ(made.m_line, 0);
  EXPECT_EQ(made.m_attributes, (CScriptBlock::AttributeMap{{"id", "a"}, {"left", "9"}}));
  // yoyo 0 records the end value too; yoyo 1 records the tween itself; the
  // first lyprop, on no layer yet, records nothing.
  EXPECT_EQ(LayerLists()["a"][3].m_attributes.at("top"), "9");
  EXPECT_EQ(LayerLists()["a"][4].m_text, "lytween");
  EXPECT_EQ(LayerLists().count("zz"), 0u);
  // Changes to an animation go to its own list, which loading runs last.
  // lytweendel finishes the tween, whose end value is recorded again then.
  ASSERT_EQ(AnimationLists()["m"].size(), 6u);
  EXPECT_EQ(AnimationLists()["m"][2].m_text, "lyprop");
  EXPECT_EQ(AnimationLists()["m"][3].m_text, "lyprop");
  EXPECT_EQ(AnimationLists()["m"][4].GetAttribute("alpha"), "255");
  EXPECT_EQ(AnimationLists()["m"][5].m_text, "lytweendel");
  EXPECT_EQ(LayerLists().count("m"), 0u);
  ASSERT_EQ(LayerLists()["b"].size(), 1u);
  EXPECT_EQ(LayerLists()["b"][0].GetAttribute("file"), "blue");
  // A layer made again under an id keeps the id's click threshold, in the
  // running game and so in its list.
  ASSERT_EQ(LayerLists()["u"].size(), 2u);
  EXPECT_EQ(LayerLists()["u"][1].GetAttribute("clickablethreshold"), "90");
  EXPECT_EQ(LayerLists().count("gone"), 0u);
  EXPECT_EQ(AnimationLists().count("gone2"), 0u);
  // An animation that replaces a layer leaves the layer's list: its click
  // threshold comes back on load as it stayed in the running game.
  ASSERT_EQ(LayerLists()["t"].size(), 2u);
  EXPECT_EQ(LayerLists()["t"][1].GetAttribute("clickablethreshold"), "100");
  EXPECT_EQ(AnimationLists()["t"].size(), 1u);
}

// A load with no transition shows the scene it rebuilt at once, and a
// quick load too: the old picture is neither drawn nor hit-tested after it.
// The press that led to the load does not also end the wait it restored.
TEST_F(LayerTags, ALoadWithoutATransitionShowsTheRebuiltSceneAtItsWait) {
  Run("[lyc id=a file=red][lyprop id=a left=3][flip]\n@\n"
      "[lydel id=a][lyc id=b file=blue][flip]\n@\n[load file=saveq.dat]\n[wait time=100000]\n");
  FrameN(0);
  FrameN(1, {'S'});
  FrameN(2, {platform::VK_LBUTTON});
  ASSERT_NE(Front().Find("b"), nullptr);
  int n = 3;
  for (int key : {platform::VK_LBUTTON, platform::VK_RETURN}) {
    FrameN(n++, {key});  // [load], back at the first wait
    EXPECT_EQ(script_->GetState(), CMainScript::kClickWait);
    EXPECT_EQ(script_->GetCursor().m_index, 4);
    EXPECT_EQ(Front().Find("b"), nullptr);
    ASSERT_NE(Front().Find("a"), nullptr);
    EXPECT_EQ(Front().Find("a")->GetX(), 3);
    FrameN(n++, {key});
    EXPECT_EQ(script_->GetCursor().m_index, 8);
    ASSERT_NE(Front().Find("b"), nullptr);
  }
  FrameN(n, {'L'});
  EXPECT_EQ(script_->GetCursor().m_index, 4);
  EXPECT_EQ(Front().Find("b"), nullptr);
  EXPECT_NE(Front().Find("a"), nullptr);
}

TEST_F(LayerTags, CrossFadeIsFrameExactAndCommitsAtItsEnd) {
  Run("[lyc id=a file=red][flip][lyc id=b file=blue][trans type=1 time=500][var name=f.done data=1]"
      "[wait time=100000]");
  FrameN(0);
  EXPECT_EQ(State(), CMainScript::kTransitionWait);
  EXPECT_EQ(Front().Find("b"), nullptr);
  // The tween starts with the next frame's pass (16 ms); frame 16 is 266 ms.
  for (int n = 1; n <= 16; ++n) FrameN(n);
  EXPECT_EQ(graphics_->GetCanvas()->GetAlpha(), 127);
  const uint32_t mixed = Pixel(4, 4);
  EXPECT_NEAR(int(mixed >> 16), 128, 2);
  EXPECT_NEAR(int(mixed & 0xFF), 127, 2);
  std::string dump;
  graphics_->DumpLayers(dump);
  EXPECT_NE(dump.find("transition=1 kind=fade alpha=127"), std::string::npos) << dump;
  for (int n = 17; n <= 30; ++n) FrameN(n);
  EXPECT_EQ(State(), CMainScript::kTransitionWait);
  EXPECT_FALSE(Has("f.done"));
  FrameN(31);  // 516 ms: 500 after the start
  EXPECT_NE(Front().Find("b"), nullptr);
  EXPECT_FALSE(graphics_->IsTransitionRunning());
  EXPECT_EQ(Var("f.done"), "1");
  EXPECT_EQ(Pixel(4, 4), 0x0000FFu);
}

TEST_F(LayerTags, AClickInTheTransitionWaitCommitsInThatFrame) {
  Run("[lyc id=b file=blue][lyprop id=b left=2][trans type=1 time=5000][var name=f.done data=1]"
      "[wait time=100000]");
  FrameN(0);
  FrameN(1);
  FrameN(2, {platform::VK_LBUTTON});
  EXPECT_FALSE(graphics_->IsTransitionRunning());
  ASSERT_NE(Front().Find("b"), nullptr);
  EXPECT_EQ(Front().Find("b")->GetX(), 2);
  EXPECT_EQ(Var("f.done"), "1");
  EXPECT_EQ(CTweenRegistry::Instance().GetCount(), 0u);
  EXPECT_EQ(graphics_->GetCanvas()->GetAlpha(), 255);
}

// Closing the window mid-transition saves the game as the transition left
// it: loading it runs on past the transition instead of waiting in it.
TEST_F(LayerTags, ClosingDuringATransitionAutosavesTheStateItInterrupted) {
  const char script[] =
      "[autosave allow=1][lyc id=b file=blue][trans type=1 time=5000][var name=f.done data=1]"
      "[wait time=100000]";
  Run(script);
  FrameN(0);
  FrameN(1);
  ASSERT_EQ(State(), CMainScript::kTransitionWait);
  script_->OnClose();
  script_.reset();
  Run(script);
  ASSERT_FALSE(script_->GetSaveData().LoadFile("autosave.dat", CSaveData::kKindState));
  EXPECT_FALSE(Has("f.done"));
  EXPECT_EQ(State(), CMainScript::kRunning);
  FrameN(0);
  EXPECT_EQ(Var("f.done"), "1");
  EXPECT_EQ(State(), CMainScript::kTimedWait);
  EXPECT_NE(Back().Find("b"), nullptr);
}

// A game saved while it waits for a tween loads past that wait: the tween
// comes back finished, so nothing would end the wait. The autosave written
// as the wait begins already shows the tween's result. Only an endless yoyo
// keeps its wait (it never ends one).
TEST_F(LayerTags, AGameSavedInATweensWaitLoadsPastIt) {
  const char* tweens[] = {
      "[lytween id=b param=left from=0 to=8 msec=1000 sync=1]",
      "[tweenset][lytween id=b param=left from=0 to=8 msec=1000 sync=1][/tweenset]",
      "[lytween id=b param=left from=0 to=8 msec=300 yoyo=2 sync=1]",
      "[lytween id=b param=left from=0 to=8 msec=300 yoyo=-1 sync=1]",
  };
  for (const char* tween : tweens) {
    SCOPED_TRACE(tween);
    const std::string script = std::string("[autosave allow=2][lyc id=b file=blue][flip]") + tween +
                               "[autosave allow=0][var name=f.done data=1][wait time=100000]";
    Run(script);
    FrameN(0);
    ASSERT_EQ(State(), CMainScript::kSyncWait);
    script_.reset();
    CTweenRegistry::Instance().DeleteAll();
    Run(script);
    ASSERT_FALSE(script_->GetSaveData().LoadFile("autosave.dat", CSaveData::kKindState));
    FrameN(0);
    const bool endless = std::strstr(tween, "yoyo=-1") != nullptr;
    EXPECT_EQ(Has("f.done"), !endless);
    // The autosave holds the tween: at its end, or as itself for a yoyo.
    ASSERT_EQ(LayerLists()["b"].size(), 2u);
    const CScriptBlock& last = LayerLists()["b"].back();
    EXPECT_EQ(last.m_text, std::strstr(tween, "yoyo") ? "lytween" : "lyprop");
    EXPECT_EQ(last.GetAttribute("left"), std::strstr(tween, "yoyo") ? "" : "8");
    if (endless) EXPECT_EQ(State(), CMainScript::kSyncWait);
    script_.reset();
    CTweenRegistry::Instance().DeleteAll();
  }
}

// A wait for a tween ends however the tween ends: finished early by
// lytweendel, a new layer under its id, or the fade of hiding the messages.
TEST_F(LayerTags, AWaitForATweenEndsWhenTheTweenIsFinishedEarly) {
  const char* tweens[] = {
      "[lytween id=b param=left from=0 to=8 msec=5000 sync=1]",
      "[tweenset][lytween id=b param=left from=0 to=8 msec=5000 sync=1][/tweenset]",
  };
  for (const char* tween : tweens) {
    SCOPED_TRACE(tween);
    Run(std::string("[hide allow=1 window=b][lyc id=b file=blue][flip]") + tween +
        "[var name=f.done data=1][wait time=100000]");
    FrameN(0);
    ASSERT_EQ(State(), CMainScript::kSyncWait);
    FrameN(1, {platform::VK_SPACE});  // hiding fades the layer: its tweens finish
    ASSERT_EQ(State(), CMainScript::kHidden);
    EXPECT_EQ(Back().Find("b")->GetX(), 8);
    FrameN(2, {platform::VK_SPACE});
    FrameN(3);
    EXPECT_EQ(Var("f.done"), "1");
    script_.reset();
    CTweenRegistry::Instance().DeleteAll();
  }
  Run("[lyc id=b file=blue][flip][lytween id=b param=left from=0 to=8 msec=5000 sync=1]"
      "[var name=f.done data=1][wait time=100000]");
  FrameN(0);
  graphics_->KillLayerTweens("b");
  FrameN(1);
  EXPECT_EQ(Var("f.done"), "1");
}

// A call out of a transition wait (only Lua can make one) comes back to a
// transition that ended meanwhile: the caller runs on without a click.
TEST_F(LayerTags, ATransitionThatEndsDuringACallReleasesTheCaller) {
  WriteFile("sub.iet", "[var name=f.sub data=1]\n[wait time=1000]\n[return]\n");
  Run("[lua]function fh(o) if o:isDownEdge(81) then o:tag{'call', file='sub.iet'} end end\n"
      "function setup(o) o:setEventHandler{onEnterFrame='fh'} end[/lua]\n"
      "[calllua function=setup][lyc id=b file=blue][trans type=1 time=500][var name=f.step data=2]"
      "[wait time=100000]");
  FrameN(0);
  ASSERT_EQ(State(), CMainScript::kTransitionWait);
  FrameN(5, {'Q'});
  ASSERT_EQ(Var("f.sub"), "1");
  for (int n = 10; n < 120; n += 10) FrameN(n);
  EXPECT_FALSE(graphics_->IsTransitionRunning());
  EXPECT_EQ(Var("f.step"), "2");
}

// A tween overrides a lyprop of its property made while it runs: a game
// saved afterwards loads with the tween's end value, as the running game
// shows it.
TEST_F(LayerTags, ATweensEndValueOutlastsALypropMadeWhileItRan) {
  Run("[lyc id=b file=blue][flip][lytween id=b param=left from=0 to=8 msec=200][lyprop id=b left=2][flip]"
      "[wait time=100000]");
  for (int n = 0; n < 30; n += 3) FrameN(n);
  ASSERT_EQ(Front().Find("b")->GetX(), 8);
  ASSERT_FALSE(script_->GetSaveData().SaveState("s.dat"));
  ASSERT_FALSE(script_->GetSaveData().LoadFile("s.dat", CSaveData::kKindState));
  graphics_->Commit();
  EXPECT_EQ(Front().Find("b")->GetX(), 8);
}

// A flip while the transition runs (a Lua handler flips every frame) shows
// the new scene at once; the script still goes on when the transition's
// time is up, without a click.
TEST_F(LayerTags, AFlipDuringATransitionStillLetsTheScriptGoOnAtItsEnd) {
  Run("[lyc id=b file=blue][trans type=1 time=100][var name=f.done data=1][wait time=100000]");
  FrameN(0);
  FrameN(1);
  script_->Dispatch(CScriptBlock(CScriptBlock::kTag, 0, "flip"), false);
  EXPECT_FALSE(graphics_->IsTransitionRunning());
  EXPECT_NE(Front().Find("b"), nullptr);
  for (int n = 2; n <= 9; ++n) FrameN(n);
  EXPECT_EQ(Var("f.done"), "1");
  EXPECT_EQ(State(), CMainScript::kTimedWait);
}

// The layer an animation replaces may still be on screen until the next
// commit: its tween runs on there instead of jumping to its end.
TEST_F(LayerTags, AnAnimationLeavesTheTweensOfTheLayerItReplacesRunning) {
  Run("[lyc id=x file=red][flip][lytween id=x param=left from=0 to=600 msec=1000]"
      "[anime id=x mode=init file=blue][wait time=100000]");
  for (int n = 0; n <= 30; ++n) FrameN(n);
  ASSERT_NE(Front().Find("x"), nullptr);
  EXPECT_GT(Front().Find("x")->GetX(), 200);
  EXPECT_LT(Front().Find("x")->GetX(), 400);
  EXPECT_NE(dynamic_cast<CAnimationLayer*>(Back().Find("x")), nullptr);
}

TEST_F(LayerTags, TransAlwaysEndsTheFrameAndAMissingRuleStartsNothing) {
  Run("[debug mode=2][lyc id=b file=blue][trans type=2 rule=nothing time=100 vague=4][var name=f.one data=1]"
      "[trans type=7][var name=f.two data=1][trans type=0][var name=f.three data=1][wait time=100000]");
  FrameN(0);
  EXPECT_FALSE(Has("f.one"));
  EXPECT_EQ(State(), CMainScript::kRunning);
  EXPECT_FALSE(graphics_->IsTransitionRunning());
  EXPECT_FALSE(graphics_->HasRule());
  EXPECT_EQ(Front().Find("b"), nullptr);
  // Nothing is reported at run time.
  EXPECT_EQ(Reports().find("[trans"), std::string::npos) << Reports();
  // An unknown type does nothing but end the frame.
  FrameN(1);
  EXPECT_TRUE(Has("f.one"));
  EXPECT_FALSE(Has("f.two"));
  EXPECT_EQ(Front().Find("b"), nullptr);
  // Type 0 commits at once.
  FrameN(2);
  EXPECT_NE(Front().Find("b"), nullptr);
  EXPECT_FALSE(Has("f.three"));
  FrameN(3);
  EXPECT_EQ(Var("f.three"), "1");
}

TEST_F(LayerTags, RuleWipeWithAHardEdgeComesInFromTheLeft) {
  // 0 at the left column to 240 at the right.
  std::vector<uint8_t> rule;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) rule.push_back(uint8_t(x * 16));
  WriteImage("rule.png", 16, 12, 0, rule);
  Run("[lyc id=a file=red][flip][lyc id=b file=blue][trans type=2 rule=rule time=255 vague=0][wait time=100000]");
  FrameN(0);
  FrameN(1);  // the tween starts at 16 ms
  ASSERT_TRUE(graphics_->HasRule());
  // Frame 9 is 149 ms: threshold 133.
  for (int n = 2; n <= 9; ++n) FrameN(n);
  EXPECT_EQ(graphics_->GetThreshold(), 133);
  EXPECT_TRUE(IsBlue(Pixel(8, 5)));   // rule 128
  EXPECT_EQ(Pixel(9, 5), 0xFF0000u);  // rule 144
  EXPECT_TRUE(IsBlue(Pixel(0, 0)));
  for (int n = 10; n <= 17; ++n) FrameN(n);
  EXPECT_FALSE(graphics_->IsTransitionRunning());
  EXPECT_FALSE(graphics_->HasRule());
  EXPECT_EQ(Pixel(15, 11), 0x0000FFu);
}

TEST_F(LayerTags, AColourRuleOfAnotherSizeIsReadByGreenAndStretched) {
  // Two pixels: green 0 on the left, 255 on the right (red and blue the
  // other way round, so a wrong channel shows).
  WriteImage("rule.png", 2, 1, 2, {255, 0, 255, 0, 255, 0});
  Run("[lyc id=a file=red][flip][lyc id=b file=blue][trans type=2 rule=rule time=255 vague=0][wait time=100000]");
  for (int n = 0; n <= 9; ++n) FrameN(n);
  EXPECT_EQ(graphics_->GetThreshold(), 133);
  EXPECT_TRUE(IsBlue(Pixel(0, 6)));
  EXPECT_TRUE(IsBlue(Pixel(7, 11)));
  EXPECT_EQ(Pixel(8, 0), 0xFF0000u);
  EXPECT_EQ(Pixel(15, 11), 0xFF0000u);
}

// A rule larger than the screen is read pixel for pixel from its top left.
TEST_F(LayerTags, ARuleLargerThanTheScreenIsReadAtTheScreensPixels) {
  std::vector<uint8_t> rule;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) rule.push_back(uint8_t(x * 8));
  WriteImage("rule.png", 32, 24, 0, rule);
  Run("[lyc id=a file=red][flip][lyc id=b file=blue][trans type=2 rule=rule time=255 vague=0][wait time=100000]");
  for (int n = 0; n <= 9; ++n) FrameN(n);
  ASSERT_EQ(graphics_->GetThreshold(), 133);
  // Rule 120 at the right edge of the screen: already below the threshold.
  EXPECT_TRUE(IsBlue(Pixel(15, 5)));
  EXPECT_TRUE(IsBlue(Pixel(15, 11)));
}

TEST_F(LayerTags, TheCanvasIsRedrawnOnlyWhileABackSetTweenRuns) {
  Run("[lyc id=a file=red][flip][lyc id=b file=small][lytween id=b param=left from=0 to=10 msec=100]"
      "[trans type=1 time=1000][wait time=100000]");
  FrameN(0);
  FrameN(1);
  FrameN(2);
  // While the tween runs, the canvas follows the layer.
  FrameN(4);
  const int x = Back().Find("b")->GetX();
  EXPECT_GT(x, 0);
  for (int n = 5; n <= 12; ++n) FrameN(n);
  EXPECT_EQ(Back().Find("b")->GetX(), 10);
  EXPECT_FALSE(graphics_->GetBackNeedsDrawing());
  // Once it ended the canvas is not drawn again: the flag stays clear and the
  // picture stays as the last tween frame left it.
  FrameN(13);
  EXPECT_FALSE(graphics_->GetBackNeedsDrawing());
}

TEST_F(LayerTags, AnAnimationInTheNewSceneShowsItsFirstPictureUntilTheCommit) {
  // Blue at first, red from 100 ms, fading in over red: the canvas was drawn
  // once, in blue, so half way through the picture is half blue.
  Run("[lyc id=a file=red][flip][anime id=m mode=init file=blue][anime id=m mode=add file=red time=100]"
      "[anime id=m mode=add file=blue time=5000][trans type=1 time=500][wait time=100000]");
  for (int n = 0; n <= 17; ++n) FrameN(n);
  ASSERT_TRUE(graphics_->IsTransitionRunning());
  EXPECT_NEAR(int(Pixel(4, 4) & 0xFF), 127, 16);
}

TEST_F(LayerTags, TweensFinishWhenTheirLayerIsReplacedOrDeleted) {
  Run("[lyc id=a file=red][flip][lytween id=a param=alpha from=0 to=200 msec=1000]"
      "[lytween id=a param=xscale from=100 to=50 msec=1000]\n[var name=f.x data=1]\n"
      "[lyc id=a file=blue][anime id=m mode=init file=red][lytween id=m param=top from=0 to=7 msec=1000]"
      "[anime id=m mode=init file=blue][wait time=100000]");
  FrameN(0);
  // The old layer jumped to its end values before it was replaced.
  EXPECT_EQ(Front().Find("a")->GetAlpha(), 200);
  EXPECT_EQ(Front().Find("a")->GetXScale(), 32768);
  EXPECT_EQ(graphics_->GetLayerTweens().count("a"), 0u);
  // An animation replacing another leaves its tween running (on a layer
  // no set holds any more, so it moves nothing).
  EXPECT_EQ(CTweenRegistry::Instance().GetCount(), 1u);
  script_->Dispatch(CScriptBlock(CScriptBlock::kTag, 0, "animedel", {{"id", "m"}}), false);
  EXPECT_EQ(CTweenRegistry::Instance().GetCount(), 0u);
  EXPECT_TRUE(graphics_->GetLayerTweens().empty());
}

TEST_F(LayerTags, SyncInsideATweenQueueWaitsForThatTween) {
  Run("[lyc id=a file=red][flip][tweenset][lytween id=a param=left from=0 to=5 msec=100]"
      "[lytween id=a param=top from=0 to=5 msec=100 sync=1][/tweenset][var name=f.done data=1][wait time=100000]");
  FrameN(0);
  // The queue does not set start values at once.
  EXPECT_EQ(State(), CMainScript::kSyncWait);
  EXPECT_FALSE(Has("f.done"));
  for (int n = 1; n <= 12; ++n) FrameN(n);
  EXPECT_EQ(Front().Find("a")->GetX(), 5);
  EXPECT_FALSE(Has("f.done"));
  for (int n = 13; n <= 20; ++n) FrameN(n);
  EXPECT_EQ(Var("f.done"), "1");
  EXPECT_EQ(Front().Find("a")->GetY(), 5);
}

TEST_F(LayerTags, AQueuedTweenWhoseLayerIsGoneDoesNothing) {
  Run("[lyc id=a file=red][lyc id=b file=red][flip][tweenset][lytween id=a param=left from=0 to=5 msec=50]"
      "[lytween id=b param=left from=0 to=7 msec=50][lydel id=a][flip][/tweenset][wait time=100000]");
  for (int n = 0; n <= 12; ++n) FrameN(n);
  EXPECT_EQ(Front().Find("a"), nullptr);
  EXPECT_EQ(Front().Find("b")->GetX(), 7);
  EXPECT_EQ(CTweenRegistry::Instance().GetCount(), 0u);
}

TEST_F(LayerTags, HugeVagueValuesRunWithoutOverflow) {
  std::vector<uint8_t> rule(16 * 12, 100);
  WriteImage("rule.png", 16, 12, 0, rule);
  Run("[lyc id=b file=blue][trans type=2 rule=rule time=100 vague=2147483647][var name=f.one data=1]"
      "[lyc id=c file=red][trans type=2 rule=rule time=100 vague=-2147483648][var name=f.two data=1]"
      "[wait time=100000]");
  FrameN(0);
  FrameN(1);
  EXPECT_EQ(graphics_->GetThreshold(), -int64_t(2147483647));
  for (int n = 2; n <= 8; ++n) FrameN(n);
  EXPECT_EQ(Var("f.one"), "1");
  for (int n = 9; n <= 16; ++n) FrameN(n);
  EXPECT_EQ(Var("f.two"), "1");
  EXPECT_NE(Front().Find("c"), nullptr);
}

TEST_F(LayerTags, LytweendelOnOneLayerOfAQueueFinishesTheQueue) {
  Run("[lyc id=a file=red][lyc id=b file=red][flip][tweenset][lytween id=a param=left from=0 to=5 msec=100]"
      "[lytween id=b param=top from=0 to=6 msec=100][/tweenset][lytweendel id=b][wait time=100000]");
  FrameN(0);
  EXPECT_EQ(Front().Find("a")->GetX(), 5);
  EXPECT_EQ(Front().Find("b")->GetY(), 6);
  EXPECT_EQ(CTweenRegistry::Instance().GetCount(), 0u);
}

TEST_F(LayerTags, AnimationsBadModesAndMissingFilesAreReported) {
  Run("[debug mode=2][lyc id=a file=red][anime id=a mode=add file=red time=100]\n"
      "[anime id=m mode=init file=nothing]\n[anime id=m mode=spin file=red]\n[anime id=x mode=end time=5]\n"
      "[anime id=k mode=init file=red][anime id=k mode=spin file=blue time=5]\n"
      "[wait time=100000]");
  FrameN(0);
  const std::string reports = Reports();
  EXPECT_NE(reports.find("game.iet(1): [anime id=\"a\"] 指定されたアニメーションが見つかりません。"), std::string::npos)
      << reports;
  EXPECT_NE(
      reports.find("game.iet(2): [anime file=\"nothing\"] フレームとして指定された画像ファイルが読み込めません。"),
      std::string::npos)
      << reports;
  // An unknown mode looks for its animation like "add"; with one there it
  // changes no frame and is only recorded.
  EXPECT_NE(reports.find("game.iet(3): [anime id=\"m\"] 指定されたアニメーションが見つかりません。"), std::string::npos)
      << reports;
  EXPECT_EQ(Back().Find("m"), nullptr);
  EXPECT_EQ(AnimationLists().count("m"), 0u);
  EXPECT_EQ(AnimationLists().count("x"), 0u);
  auto* k = dynamic_cast<CAnimationLayer*>(Back().Find("k"));
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->GetFrameCount(), 1u);
  EXPECT_EQ(AnimationLists().at("k").size(), 2u);
  EXPECT_EQ(reports.find("game.iet(5): ["), std::string::npos) << reports;
}

TEST_F(LayerTags, PendingChangesOfDeletedFramesAreNeverApplied) {
  // A frame replaced at its time, a replaced animation and a deleted one,
  // each with changes still queued: the commit must not touch them.
  Run("[anime id=m mode=init file=red left=3][anime id=m mode=add file=blue time=100 left=4]"
      "[anime id=m mode=add file=red time=100 left=5][anime id=m mode=init file=blue alpha=9]"
      "[anime id=n mode=init file=red left=1][animedel id=n][flip][wait time=100000]");
  FrameN(0);
  auto* m = dynamic_cast<CAnimationLayer*>(Front().Find("m"));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->GetFrameCount(), 1u);
  EXPECT_EQ(m->FindFrame(0)->GetAlpha(), 9);
  EXPECT_EQ(Front().Find("n"), nullptr);
  std::string dump;
  graphics_->DumpLayers(dump);
  EXPECT_NE(dump.find("  m animation drawn"), std::string::npos) << dump;
  // Its only entry is also its last: it has ended.
  EXPECT_NE(dump.find("frames=1 shown=-1\n"), std::string::npos) << dump;
}

TEST_F(LayerTags, MasksLiveAndDieWithTheirLayer) {
  std::vector<uint8_t> mask(16 * 12, 0x80), wrong(4 * 4, 0x80);
  WriteImage("mask.png", 16, 12, 0, mask);
  WriteImage("wrong.png", 4, 4, 0, wrong);
  Run("[lyc id=a file=red mask=mask][lyc id=b file=red mask=wrong][lyc id=c file=red mask=nothing][flip]"
      "[lydel id=a][flip][wait time=100000]");
  FrameN(0);
  EXPECT_EQ(Front().Find("a"), nullptr);
  auto* b = dynamic_cast<ILayer*>(Front().Find("b"));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->GetMask(), nullptr);
  EXPECT_EQ(Front().Find("c"), nullptr);
  // The leak checker sees the masks of a and b freed.
}

TEST_F(LayerTags, ClickAndHoverHandlersRunFromTheWaits) {
  Run("[lyc id=a file=small][lyprop id=a left=4 top=4][flip][setonclick id=a label=clicked]"
      "[setonrollover id=a label=over][setonrollout id=a label=out][delonclick id=none]\n*wait\n@\n"
      "*clicked\n[var name=f.clicked data=$f.clicked+1]\n[jump label=wait]\n"
      "*over\n[var name=f.over data=1]\n[jump label=wait]\n*out\n[var name=f.out data=1]\n[jump label=wait]\n");
  platform::InjectCursor(window_, 0, 0);
  FrameN(0);
  FrameN(1);
  EXPECT_FALSE(Has("f.over"));
  platform::InjectCursor(window_, 5, 5);
  FrameN(2);
  EXPECT_EQ(Var("f.over"), "1");
  FrameN(3, {platform::VK_LBUTTON});
  EXPECT_EQ(Var("f.clicked"), "1");
  platform::InjectCursor(window_, 14, 14);
  FrameN(4);
  FrameN(5);
  EXPECT_EQ(Var("f.out"), "1");
  EXPECT_EQ(State(), CMainScript::kClickWait);
}

// A button that calls a subroutine and returns to the click wait: the press
// is the button's, and the text does not move on.
TEST_F(LayerTags, AClickOnACallingButtonDoesNotAlsoEndTheClickWait) {
  Run("[lyc id=a file=small][lyprop id=a left=4 top=4][flip][setonclick id=a label=clicked call=1]\n@\n"
      "[var name=f.next data=1]\n[wait time=100000]\n*clicked\n[var name=f.clicked data=$f.clicked+1]\n[return]\n");
  platform::InjectCursor(window_, 5, 5);
  FrameN(0);
  FrameN(1, {platform::VK_LBUTTON});
  EXPECT_EQ(Var("f.clicked"), "1");
  EXPECT_FALSE(Has("f.next"));
  EXPECT_EQ(State(), CMainScript::kClickWait);
  platform::InjectCursor(window_, 14, 14);
  FrameN(2);
  FrameN(3, {platform::VK_LBUTTON});  // off the button: the wait ends
  EXPECT_EQ(Var("f.next"), "1");
  EXPECT_EQ(Var("f.clicked"), "1");
}

// Auto and skip buttons: the click that switches a mode on does not also
// switch it off; the next input does.
TEST_F(LayerTags, AButtonSwitchesAutoAndSkipModeOn) {
  Run("[automode allow=1][lyc id=a file=small][lyprop id=a left=4 top=4][flip]"
      "[setonclick id=a label=auto call=1]\n@\n[var name=f.n data=1]\n@\n[var name=f.n data=2]\n"
      "[setonclick id=a label=skip call=1]\n@\n[var name=f.n data=3]\n@\n"
      "*auto\n[exec command=automode]\n[return]\n*skip\n[exec command=skip]\n[return]\n");
  platform::InjectCursor(window_, 5, 5);
  FrameN(0);
  FrameN(1, {platform::VK_LBUTTON});
  EXPECT_EQ(Var("s.status.automode"), "1");
  EXPECT_EQ(State(), CMainScript::kClickWait);
  // s.automodewait (a second) after the text: the wait ends by itself.
  FrameN(70);
  EXPECT_EQ(Var("f.n"), "1");
  EXPECT_EQ(Var("s.status.automode"), "1");
  FrameN(71, {platform::VK_RETURN});
  EXPECT_EQ(Var("s.status.automode"), "0");
  FrameN(72, {platform::VK_RETURN});
  ASSERT_EQ(Var("f.n"), "2");
  // The first visit of the skip handler ends skipping at its own unread
  // records; the second passes the wait, up to the unread text after it.
  FrameN(73, {platform::VK_LBUTTON});
  EXPECT_EQ(Var("f.n"), "2");
  FrameN(74, {platform::VK_LBUTTON});
  EXPECT_EQ(Var("f.n"), "3");
  EXPECT_EQ(Var("s.status.commandskip"), "0");
}

// A timed wait that a button's subroutine interrupts keeps its timer: it
// still ends at its time when the subroutine returns to it.
TEST_F(LayerTags, ATimedWaitKeepsItsTimerAcrossACallingHandler) {
  Run("[lyc id=a file=small][lyprop id=a left=4 top=4][flip][setonrollover id=a label=over call=1]"
      "[wait time=500 input=1]\n[var name=f.after data=1]\n[wait time=100000]\n"
      "*over\n[var name=f.over data=1]\n[return]\n");
  platform::InjectCursor(window_, 0, 0);
  FrameN(0);
  platform::InjectCursor(window_, 5, 5);
  FrameN(3);
  ASSERT_EQ(Var("f.over"), "1");
  FrameN(20);
  EXPECT_FALSE(Has("f.after"));
  FrameN(40);
  EXPECT_EQ(Var("f.after"), "1");
}

// A rollout handler leaves the click wait: its target starts next frame, and
// nothing of the old wait (its glyph, its auto clock) runs in this one.
TEST_F(LayerTags, ARolloutLeavesTheClickWaitBehindAtOnce) {
  Run("[lyc id=a file=small][lyprop id=a left=4 top=4][lyc id=g file=small][lyprop id=g visible=0][flip]"
      "[glyph layer=g][setonrollout id=a label=out]\n@\n*out\n[var name=f.out data=1]\n[wait time=100000]\n");
  platform::InjectCursor(window_, 0, 0);
  FrameN(0);
  FrameN(1);
  platform::InjectCursor(window_, 5, 5);
  FrameN(2);
  FrameN(3);
  ASSERT_EQ(State(), CMainScript::kClickWait);
  platform::InjectCursor(window_, 14, 14);
  FrameN(4);
  EXPECT_FALSE(Has("f.out"));
  EXPECT_EQ(State(), CMainScript::kRunning);
  EXPECT_FALSE(Front().Find("g")->GetVisible());
  FrameN(5);
  EXPECT_EQ(Var("f.out"), "1");
}

// A sync tween that ends after the script left its wait (a button jumped
// to a transition) leaves the transition wait alone; the transition's end
// resumes the script once.
TEST_F(LayerTags, AWaitIsEndedOnlyByWhatItWaitsFor) {
  Run("[lyc id=a file=small][lyprop id=a left=4 top=4][flip][setonclick id=a label=go]"
      "[lytween id=a param=top from=4 to=5 msec=100 sync=1][var name=f.synced data=1][wait time=100000]\n"
      "*go\n[lyc id=b file=blue][trans type=1 time=500][var name=f.after data=1][wait time=100000]\n");
  platform::InjectCursor(window_, 5, 5);
  FrameN(0);
  FrameN(1, {platform::VK_LBUTTON});
  ASSERT_EQ(State(), CMainScript::kTransitionWait);
  for (int n = 2; n <= 20; ++n) FrameN(n);  // the sync tween ends at 100 ms
  EXPECT_EQ(State(), CMainScript::kTransitionWait);
  EXPECT_FALSE(Has("f.after"));
  for (int n = 21; n <= 40; ++n) FrameN(n);
  EXPECT_EQ(Var("f.after"), "1");
  EXPECT_FALSE(Has("f.synced"));
  EXPECT_EQ(State(), CMainScript::kTimedWait);

  // A wait whose previous state is itself (as Lua or a file can set it) is
  // left to running, not to itself for ever.
  script_->GetCursor().m_state = CMainScript::kTransitionWait;
  script_->GetCursor().m_previousState = CMainScript::kTransitionWait;
  FrameN(41, {platform::VK_LBUTTON});  // returns: the script ran on to its end
  EXPECT_EQ(State(), CMainScript::kEnded);
}

// A sync tween ends the wait it was made for and no other: not the sync
// waits entered after a jump out of it (another sync tween, a [stop], one
// set from Lua), while its own wait still ends when a call took the script
// away from it, or when a [wait scenario] came between a queued sync tween
// and the /tweenset that enters its wait.
TEST_F(LayerTags, ASyncWaitIsEndedOnlyByItsOwnTween) {
  const std::string jumpedOut =
      "[lyc id=a file=small][lyprop id=a left=4 top=4][flip][setonclick id=a label=go]"
      "[lytween id=a param=top from=4 to=5 msec=100 sync=1][wait time=100000]\n";
  Run(jumpedOut +
      "*go\n[lytween id=a param=left from=4 to=9 msec=500 sync=1][var name=f.second data=1][stop]\n"
      "[var name=f.after data=1]\n");
  platform::InjectCursor(window_, 5, 5);
  FrameN(0);
  FrameN(1, {platform::VK_LBUTTON});
  ASSERT_EQ(State(), CMainScript::kSyncWait);
  for (int n = 2; n <= 20; ++n) FrameN(n);  // the first tween ends at 100 ms
  EXPECT_FALSE(Has("f.second"));
  for (int n = 21; n <= 40; ++n) FrameN(n);  // the second at about 516 ms
  EXPECT_EQ(Var("f.second"), "1");
  EXPECT_EQ(State(), CMainScript::kSyncWait);
  for (int n = 41; n <= 60; ++n) FrameN(n);
  EXPECT_FALSE(Has("f.after"));

  Run(jumpedOut +
      "*go\n[lua]function hold(o) o:setScriptStatus(3) end[/lua]\n[calllua function=hold]"
      "[var name=f.after data=1]\n");
  FrameN(0);
  FrameN(1, {platform::VK_LBUTTON});
  for (int n = 2; n <= 30; ++n) FrameN(n);
  EXPECT_EQ(State(), CMainScript::kSyncWait);
  EXPECT_FALSE(Has("f.after"));

  // The handler a click calls waits for a sync tween of its own, then
  // returns to the wait, which its tween has ended meanwhile.
  Run("[lyc id=a file=small][lyprop id=a left=4 top=4][flip][setonclick id=a label=menu call=1]"
      "[lytween id=a param=top from=4 to=5 msec=100 sync=1][var name=f.synced data=1][wait time=100000]\n"
      "*menu\n[lyc id=m file=blue][lytween id=m param=left from=0 to=1 msec=300 sync=1][var name=f.menu data=1]"
      "[return]\n");
  FrameN(0);
  FrameN(1, {platform::VK_LBUTTON});
  for (int n = 2; n <= 30; ++n) FrameN(n);
  EXPECT_EQ(Var("f.menu"), "1");
  EXPECT_EQ(Var("f.synced"), "1");

  Run("[lyc id=a file=small][flip][tweenset][lytween id=a param=left from=0 to=5 msec=100 sync=1][wait scenario]"
      "[/tweenset][var name=f.done data=1][wait time=100000]\n");
  for (int n = 0; n <= 20; ++n) FrameN(n);
  EXPECT_EQ(Var("f.done"), "1");
}

TEST_F(LayerTags, EveryClickCountsWhenFramesShareAMillisecond) {
  // Frames catching up after a slow one, or skipping with Control, can start
  // in the same millisecond: each is still a frame of its own.
  Run("[lyc id=a file=small][lyprop id=a left=4 top=4][flip][setonclick id=a label=clicked]\n*wait\n@\n"
      "*clicked\n[var name=f.clicked data=$f.clicked+1]\n[jump label=wait]\n");
  platform::InjectCursor(window_, 5, 5);
  FrameN(0);
  FrameN(1);
  for (int click = 0; click < 3; ++click) {
    FrameN(2, {platform::VK_LBUTTON});
    FrameN(2);
  }
  EXPECT_EQ(Var("f.clicked"), "3");
}

TEST_F(LayerTags, ARestartDropsPointerHandlersAndTheOpenTweenQueue) {
  // The first run leaves a click handler and an open queue behind; after a
  // restart the layer answers neither.
  Run("[var name=f.boots data=$f.boots+1][lyc id=a file=small][lyprop id=a left=4 top=4][flip]\n"
      "[if estimate=f.boots==1][setonclick id=a label=clicked][tweenset]"
      "[lytween id=a param=top from=0 to=1 msec=10][/if]\n"
      "[lytween id=a param=left from=0 to=9 msec=10]\n*wait\n@\n[jump label=wait]\n"
      "*clicked\n[var name=f.clicked data=1]\n[jump label=wait]\n");
  platform::InjectCursor(window_, 5, 5);
  FrameN(0);
  ASSERT_FALSE(script_->Boot());
  for (int n = 1; n <= 3; ++n) FrameN(n);
  ASSERT_EQ(State(), CMainScript::kClickWait);
  EXPECT_EQ(Var("f.boots"), "2");
  FrameN(4, {platform::VK_LBUTTON});
  FrameN(5);
  EXPECT_FALSE(Has("f.clicked"));
  // Not swallowed by a queue that no longer exists: the tween ran.
  ASSERT_NE(Front().Find("a"), nullptr);
  EXPECT_EQ(Front().Find("a")->GetX(), 9);
}

}  // namespace
