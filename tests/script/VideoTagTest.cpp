// The video tag and the video wait on the headless clock: when the script
// goes on, which keys skip a movie, what the render step shows, and what a
// bad file does.
#include <memory>

#include "graphics/Surface.h"
#include "platform/VirtualKeys.h"
#include "scene/GraphicRenderer.h"
#include "scene/GraphicSystem.h"
#include "script/InterpHarness.h"
#include "video/MovieFixture.h"
#include "video/VideoPlayer.h"

namespace {

constexpr int kSceneW = 64;
constexpr int kSceneH = 48;

class VideoTagTest : public InterpHarness {
 protected:
  void TearDown() override {
    script_.reset();
    graphics_.reset();
    InterpHarness::TearDown();
  }
  // Boots game.iet with a graphic system; true on failure.
  bool StartWithScene() {
    graphics_ = std::make_unique<CGraphicSystem>(nullptr, kSceneW, kSceneH);
    script_ = std::make_unique<CMainScript>(GetTagRegistry(), graphics_.get());
    return script_->Boot();
  }
  void Movie(const std::string& name, const MovieSpec& clip = MovieSpec{}) {
    ASSERT_FALSE(WriteMovie((dir_ / name).string(), clip));
  }
  // A frame as the engine runs it: the script, then the render step.
  void EngineFrame(std::initializer_list<int> pressed = {}) {
    Frame(pressed);
    graphics_->Render();
  }
  uint32_t ScenePixel(int x, int y) {
    ISurface* target = graphics_->GetRenderer()->GetRenderTarget();
    const uint8_t* p = target->GetLine(y) + x * 4;
    return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
  }
  static bool Near(uint32_t got, uint32_t want) {
    for (int shift : {0, 8, 16})
      if (std::abs(int((got >> shift) & 255) - int((want >> shift) & 255)) > 12) return false;
    return true;
  }
  std::unique_ptr<CGraphicSystem> graphics_;
};

}  // namespace

TEST_F(VideoTagTest, AMovieThatEndsOnItsOwnReturnsToTheScriptAtAPredictableFrame) {
  Movie("movie.avi");  // three seconds
  WriteFile("game.iet", "[video file=movie.avi]\n[var name=done data=1]\n@\n");
  ASSERT_FALSE(StartWithScene());
  const uint32_t start = now_;
  Frame();  // the tag runs in the first frame and the movie starts
  const uint32_t movieStart = now_;
  EXPECT_EQ(State(), CMainScript::kVideoWait);
  while (State() == CMainScript::kVideoWait && now_ - start < 10000) Frame();
  // The wait ends in the first frame at or past the movie's 3000 ms: 188
  // frames of 16 ms after the start (3008 ms) ...
  EXPECT_EQ(now_ - movieStart, 16u * 188);
  EXPECT_FALSE(Has("done"));
  // ... and the script runs on in the next one.
  Frame();
  EXPECT_EQ(Var("done"), "1");
  EXPECT_EQ(State(), CMainScript::kClickWait);
}

TEST_F(VideoTagTest, SkipKeysEndTheMovieAndOtherKeysDoNot) {
  Movie("movie.avi");
  for (int key : {platform::VK_LBUTTON, platform::VK_RETURN, platform::VK_WHEEL_DOWN}) {
    WriteFile("game.iet", "[video file=movie.avi]\n[var name=done data=1]\n@\n");
    ASSERT_FALSE(StartWithScene());
    Frame();
    for (int other : {platform::VK_SPACE, platform::VK_RBUTTON, int('A')}) Frame({other});
    EXPECT_EQ(State(), CMainScript::kVideoWait) << key;
    if (key == platform::VK_WHEEL_DOWN) {
      input_->PressWheel(false);  // the wheel is a pseudo key the window sets
      now_ += 16;
      script_->Frame(now_);
    } else {
      Frame({key});
    }
    EXPECT_EQ(State(), CMainScript::kRunning) << key;
    EXPECT_FALSE(script_->FindFamily<CSystemTagState>()->m_video->IsPlaying());
    Frame();
    EXPECT_EQ(Var("done"), "1") << key;
  }
}

TEST_F(VideoTagTest, HeldCtrlSkipsTheMovie) {
  Movie("movie.avi");
  WriteFile("game.iet", "[video file=movie.avi]\n[var name=done data=1]\n@\n");
  ASSERT_FALSE(StartWithScene());
  Frame();
  Frame();
  Hold(platform::VK_CONTROL);
  Frame();
  Release(platform::VK_CONTROL);
  EXPECT_NE(State(), CMainScript::kVideoWait);
}

TEST_F(VideoTagTest, TheClickThatReachesTheTagDoesNotSkipTheMovie) {
  Movie("movie.avi");
  WriteFile("game.iet", "@\n[video file=movie.avi]\n[var name=done data=1]\n@\n");
  ASSERT_FALSE(StartWithScene());
  Frame();
  EXPECT_EQ(State(), CMainScript::kClickWait);
  Frame({platform::VK_LBUTTON});
  EXPECT_EQ(State(), CMainScript::kVideoWait);
  Frame({platform::VK_LBUTTON});
  EXPECT_NE(State(), CMainScript::kVideoWait);
}

TEST_F(VideoTagTest, MissingAndBrokenFilesContinueAtOnceWithoutAReport) {
  WriteFile("broken.avi", std::string(3000, 'x'));
  WriteFile("game.iet",
            "[debug mode=2]\n[video file=missing.avi]\n[var name=a data=1]\n"
            "[video file=broken.avi]\n[var name=b data=1]\n@\n");
  ASSERT_FALSE(StartWithScene());
  // Each frame hands the channel what the one before collected.
  std::string reports;
  Frame();
  reports += script_->TakeReportBuffer();
  EXPECT_EQ(State(), CMainScript::kRunning);  // the wait is already over
  EXPECT_FALSE(Has("a"));
  Frame();
  reports += script_->TakeReportBuffer();
  EXPECT_EQ(Var("a"), "1");
  Frame();
  reports += script_->TakeReportBuffer();
  EXPECT_EQ(Var("b"), "1");
  EXPECT_EQ(reports.find("[video"), std::string::npos) << reports;
}

TEST_F(VideoTagTest, WithoutAGraphicSystemTheWaitEndsToo) {
  WriteFile("game.iet", "[video file=missing.avi]\n[var name=a data=1]\n@\n");
  ASSERT_FALSE(Start());
  Frame();
  Frame();
  EXPECT_EQ(Var("a"), "1");
}

TEST_F(VideoTagTest, TheRenderStepShowsTheMovieFillingTheSceneAndThenTheSceneAgain) {
  MovieSpec clip;
  clip.frames = 20;  // red, then green
  Movie("movie.avi", clip);
  WriteFile("game.iet", "[video file=movie.avi]\n@\n");
  ASSERT_FALSE(StartWithScene());
  graphics_->GetRenderer()->GetRenderTarget()->Fill(0xFF123456u);
  EngineFrame();
  EXPECT_TRUE(Near(ScenePixel(0, 0), 0xFF0000));
  EXPECT_TRUE(Near(ScenePixel(kSceneW - 1, kSceneH - 1), 0xFF0000));
  for (int i = 0; i < 63; ++i) EngineFrame();  // 1008 ms
  EXPECT_TRUE(Near(ScenePixel(kSceneW / 2, kSceneH / 2), 0x00FF00));
  while (State() == CMainScript::kVideoWait) EngineFrame();
  EngineFrame();
  // The empty scene is drawn again: cleared to black.
  EXPECT_EQ(ScenePixel(kSceneW / 2, kSceneH / 2), 0u);
}

TEST_F(VideoTagTest, ClosingMidMovieInAutosaveModeOneSavesAndStops) {
  Movie("movie.avi");
  WriteFile("game.iet", "[autosave allow=1]\n[var name=x data=5]\n[video file=movie.avi]\n@\n");
  ASSERT_FALSE(StartWithScene());
  Frame();
  Frame();
  ASSERT_EQ(State(), CMainScript::kVideoWait);
  script_->OnClose();
  // The state saved is the one before the movie.
  EXPECT_EQ(State(), CMainScript::kRunning);
  EXPECT_TRUE(Exists("saveg.dat"));
  // Tearing down with the movie still open must not leak or crash.
}

TEST_F(VideoTagTest, ASecondVideoTagStopsTheFirstMovie) {
  Movie("a.avi");
  MovieSpec blue;
  blue.colours = {0x0000FF};
  blue.frames = 10;
  Movie("b.avi", blue);
  WriteFile("game.iet", "[video file=a.avi]\n[video file=b.avi]\n[var name=done data=1]\n@\n");
  ASSERT_FALSE(StartWithScene());
  EngineFrame();
  EXPECT_EQ(State(), CMainScript::kVideoWait);
  EngineFrame({platform::VK_RETURN});  // a.avi skipped, b.avi starts
  EngineFrame();
  EXPECT_EQ(State(), CMainScript::kVideoWait);
  EXPECT_TRUE(Near(ScenePixel(1, 1), 0x0000FF));
  int frames = 0;
  while (State() == CMainScript::kVideoWait && frames++ < 200) EngineFrame();
  EXPECT_LT(frames, 70);  // one second, not three
}
