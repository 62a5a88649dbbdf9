// The slider: placing the knob, dragging it with the held button, the ends
// of the track, and the parameters it refuses.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Png.h"
#include "graphics/PngWriter.h"
#include "graphics/Surface.h"
#include "platform/FileSystem.h"
#include "platform/InputState.h"
#include "platform/Platform.h"
#include "platform/VirtualKeys.h"
#include "scene/Layer.h"
#include "ui/UISlider.h"

namespace {

class SliderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Init(platform::Backend::Headless);
    dir_ = std::filesystem::temp_directory_path() /
           ("velmira_slider_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_);
    oldDir_ = platform::GetCurrentDirectory();
    platform::SetCurrentDirectory(dir_.string());
    platform::RegisterWindowClass("slider-test");
    platform::CreateWindowArgs args;
    args.className = "slider-test";
    args.width = 640;
    args.height = 480;
    window_ = platform::CreateWindow(args);
    CInputState::Destroy();
    input_ = CInputState::Instance(window_);
    loaders_.AddLoader(new CPng());
    WritePng("track.png", 201, 10, 0x202020);
    WritePng("knob.png", 11, 10, 0xFFFFFF);
  }
  void TearDown() override {
    platform::InjectKey(platform::VK_LBUTTON, false);
    CInputState::Destroy();
    platform::DestroyWindow(window_);
    platform::UnregisterWindowClass("slider-test");
    platform::SetCurrentDirectory(oldDir_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    platform::Shutdown();
  }
  void WritePng(const std::string& name, int w, int h, uint32_t rgb) {
    std::vector<uint8_t> pixels;
    for (int i = 0; i < w * h; ++i) pixels.insert(pixels.end(), {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)});
    PngImage image;
    image.width = w;
    image.height = h;
    image.pixels = pixels.data();
    image.pitch = size_t(w) * 3;
    std::vector<uint8_t> out;
    ASSERT_FALSE(EncodePng(image, out));
    std::ofstream(dir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), out.size());
  }
  CUIParams Params(int x, int y, int length, int32_t min, int32_t max, int32_t now, bool vertical = false) {
    CUIParams p;
    p["x"] = int32_t(x);
    p["y"] = int32_t(y);
    p[vertical ? "height" : "width"] = int32_t(length);
    p["background_path"] = std::string("track.png");
    p["controller_path"] = std::string("knob.png");
    p["var_min"] = min;
    p["var_max"] = max;
    p["var_now"] = now;
    p["onslide"] = CUISlider::SlideCallback([this](int32_t v) { reported_.push_back(v); });
    return p;
  }
  std::unique_ptr<CUISlider> Make() {
    return std::make_unique<CUISlider>(&layerFactory_, &surfaceFactory_, &loaders_, input_);
  }
  // One frame with the pointer at (x, y).
  void Frame(CUISlider& slider, int x, int y) {
    platform::InjectCursor(window_, x, y);
    now_ += 16;
    input_->Update(now_);
    slider.Update();
  }

  std::filesystem::path dir_;
  std::string oldDir_;
  platform::WindowHandle window_ = 0;
  CInputState* input_ = nullptr;
  uint32_t now_ = 1000;
  CLayerFactory layerFactory_;
  CSurfaceFactory surfaceFactory_;
  CPackFileFactory fileFactory_;
  CGraphicLoaders loaders_{&fileFactory_};
  std::vector<int32_t> reported_;
};

}  // namespace

TEST_F(SliderTest, KnobStartsAtTheValueAndDraggingReportsTheEnds) {
  auto slider = Make();
  ASSERT_FALSE(slider->Setup(Params(100, 50, 201, 0, 100, 50)));
  EXPECT_EQ(slider->GetController()->GetX(), 200);
  EXPECT_EQ(slider->GetController()->GetY(), 50);
  EXPECT_EQ(slider->GetBackground()->GetX(), 100);
  platform::InjectKey(platform::VK_LBUTTON, true);
  Frame(*slider, 205, 55);
  EXPECT_TRUE(slider->IsDragging());
  EXPECT_TRUE(reported_.empty());
  Frame(*slider, 305, 80);  // off the knob vertically: the drag goes on
  EXPECT_EQ(slider->GetController()->GetX(), 300);
  Frame(*slider, 105, 55);
  EXPECT_EQ(slider->GetController()->GetX(), 100);
  EXPECT_EQ(reported_, (std::vector<int32_t>{100, 0}));
  platform::InjectKey(platform::VK_LBUTTON, false);
  Frame(*slider, 105, 55);
  EXPECT_FALSE(slider->IsDragging());
}

TEST_F(SliderTest, PastTheEndNothingMovesAndCountingResumesFromTheLastAcceptedPointer) {
  auto slider = Make();
  ASSERT_FALSE(slider->Setup(Params(100, 50, 201, 0, 100, 50)));
  platform::InjectKey(platform::VK_LBUTTON, true);
  Frame(*slider, 205, 55);
  Frame(*slider, 295, 55);  // knob to 290
  EXPECT_EQ(slider->GetController()->GetX(), 290);
  Frame(*slider, 320, 55);  // 315 would be past the end (300)
  EXPECT_EQ(slider->GetController()->GetX(), 290);
  Frame(*slider, 310, 55);  // still 305: refused
  EXPECT_EQ(slider->GetController()->GetX(), 290);
  Frame(*slider, 290, 55);  // counted from 295: knob to 285
  EXPECT_EQ(slider->GetController()->GetX(), 285);
  EXPECT_EQ(reported_, (std::vector<int32_t>{95, 92}));
}

TEST_F(SliderTest, ADragStartsWhenTheHeldButtonReachesTheKnob) {
  auto slider = Make();
  ASSERT_FALSE(slider->Setup(Params(100, 50, 201, 0, 100, 50)));
  platform::InjectKey(platform::VK_LBUTTON, true);
  Frame(*slider, 20, 20);  // pressed far away
  EXPECT_FALSE(slider->IsDragging());
  Frame(*slider, 150, 55);  // on the track, not on the knob
  EXPECT_FALSE(slider->IsDragging());
  Frame(*slider, 210, 59);  // on the knob's bottom-right pixel
  EXPECT_TRUE(slider->IsDragging());
  Frame(*slider, 220, 59);
  EXPECT_EQ(slider->GetController()->GetX(), 210);
  EXPECT_EQ(reported_, (std::vector<int32_t>{55}));
}

TEST_F(SliderTest, VerticalSlidersMoveOnY) {
  auto slider = Make();
  ASSERT_FALSE(slider->Setup(Params(40, 100, 101, 10, 20, 15, true)));
  EXPECT_TRUE(slider->IsVertical());
  EXPECT_EQ(slider->GetController()->GetX(), 40);
  EXPECT_EQ(slider->GetController()->GetY(), 150);
  platform::InjectKey(platform::VK_LBUTTON, true);
  Frame(*slider, 45, 152);
  Frame(*slider, 400, 182);  // x does not matter
  EXPECT_EQ(slider->GetController()->GetY(), 180);
  EXPECT_EQ(reported_, (std::vector<int32_t>{18}));
}

TEST_F(SliderTest, NegativeRangesTruncateTowardZero) {
  auto slider = Make();
  // From 0 down to -10 over a track of 3 (4 pixels): 0, -3, -6, -10.
  ASSERT_FALSE(slider->Setup(Params(100, 50, 4, 0, -10, 0)));
  EXPECT_EQ(slider->GetController()->GetX(), 100);
  platform::InjectKey(platform::VK_LBUTTON, true);
  Frame(*slider, 101, 55);
  for (int x = 102; x <= 104; ++x) Frame(*slider, x, 55);
  EXPECT_EQ(reported_, (std::vector<int32_t>{-3, -6, -10}));
  EXPECT_EQ(CUISlider::OffsetForValue(-5, 0, -10, 3), 1);  // 1.5 -> 1
}

TEST_F(SliderTest, LargeValuesDoNotOverflow) {
  // A range of ten million on a 300-pixel track: 32-bit products would wrap.
  EXPECT_EQ(CUISlider::OffsetForValue(5000000, 0, 10000000, 299), 149);
  EXPECT_EQ(CUISlider::ValueForOffset(299, 0, 10000000, 299), 10000000);
  EXPECT_EQ(CUISlider::ValueForOffset(150, 0, 10000000, 299), 5016722);
  const int64_t lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(CUISlider::ValueForOffset(299, lo, hi - lo, 299), hi);
  EXPECT_EQ(CUISlider::ValueForOffset(0, lo, hi - lo, 299), lo);
  auto slider = Make();
  EXPECT_FALSE(slider->Setup(Params(0, 0, 300, int32_t(lo), int32_t(hi), 0)));
}

TEST_F(SliderTest, AValueOutsideTheRangePutsTheKnobOffTheTrack) {
  auto slider = Make();
  ASSERT_FALSE(slider->Setup(Params(100, 50, 201, 0, 100, 150)));
  EXPECT_EQ(slider->GetController()->GetX(), 400);
}

TEST_F(SliderTest, BadParametersFail) {
  auto params = Params(100, 50, 201, 0, 100, 50);
  for (const char* name :
       {"x", "y", "background_path", "controller_path", "var_min", "var_max", "var_now", "onslide"}) {
    CUIParams p = params;
    p.erase(name);
    EXPECT_TRUE(Make()->Setup(p)) << name;
  }
  CUIParams noLength = params;
  noLength.erase("width");
  EXPECT_TRUE(Make()->Setup(noLength));
  EXPECT_TRUE(Make()->Setup(Params(100, 50, 1, 0, 100, 50)));   // one-pixel track
  EXPECT_TRUE(Make()->Setup(Params(100, 50, 201, 7, 7, 7)));    // no values
  EXPECT_FALSE(Make()->Setup(Params(100, 50, 2, 0, 100, 50)));  // the shortest track
  CUIParams missingImage = params;
  missingImage["controller_path"] = std::string("nothing.png");
  EXPECT_TRUE(Make()->Setup(missingImage));
}

// A slider without a track (width 0 or less) is made, and its knob never
// moves: there is no place between its ends.
TEST_F(SliderTest, WithoutATrackTheKnobStaysPut) {
  for (int length : {0, -5}) {
    auto slider = Make();
    ASSERT_FALSE(slider->Setup(Params(100, 50, length, 0, 100, 50))) << length;
    const int32_t x = slider->GetController()->GetX();
    platform::InjectKey(platform::VK_LBUTTON, true);
    Frame(*slider, x + 1, 52);
    Frame(*slider, x + 40, 52);
    Frame(*slider, x - 40, 52);
    platform::InjectKey(platform::VK_LBUTTON, false);
    Frame(*slider, 0, 0);
    EXPECT_EQ(slider->GetController()->GetX(), x) << length;
  }
  EXPECT_TRUE(reported_.empty());
}

TEST_F(SliderTest, DrawsTrackThenKnob) {
  auto slider = Make();
  ASSERT_FALSE(slider->Setup(Params(10, 5, 201, 0, 100, 0)));
  CSurface target;
  ASSERT_FALSE(target.Create(320, 40, ISurface::PIXEL_BITS_32));
  target.Fill(0xFF000000u);
  slider->Draw(&target);
  EXPECT_EQ(target.GetLine(8)[15 * 4], 0xFF);   // knob at the track's start
  EXPECT_EQ(target.GetLine(8)[100 * 4], 0x20);  // track
  EXPECT_EQ(target.GetLine(8)[5 * 4], 0x00);    // outside
}
