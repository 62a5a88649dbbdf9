// The slider and uidel tags: a slider bound to a variable, replaced by id,
// removed, and refused with its parameter message.
#include <memory>

#include "graphics/PngWriter.h"
#include "platform/TextCodec.h"
#include "platform/VirtualKeys.h"
#include "scene/GraphicSystem.h"
#include "script/InterpHarness.h"

namespace {

class SliderTagTest : public InterpHarness {
 protected:
  void TearDown() override {
    script_.reset();
    graphics_.reset();
    InterpHarness::TearDown();
  }
  bool StartWithScene() {
    graphics_ = std::make_unique<CGraphicSystem>(nullptr, 640, 480);
    script_ = std::make_unique<CMainScript>(GetTagRegistry(), graphics_.get());
    return script_->Boot();
  }
  void Png(const std::string& name, int w, int h) {
    std::vector<uint8_t> pixels(size_t(w) * h * 3, 0x80);
    PngImage image;
    image.width = w;
    image.height = h;
    image.pixels = pixels.data();
    image.pitch = size_t(w) * 3;
    std::vector<uint8_t> out;
    ASSERT_FALSE(EncodePng(image, out));
    WriteFile(name, std::string(out.begin(), out.end()));
  }
  // One frame as the engine runs it, with the pointer at x, y.
  void PointerFrame(int x, int y) {
    platform::InjectCursor(window_, x, y);
    now_ += 16;
    platform::SetVirtualTicks(static_cast<uint64_t>(now_) << 10);
    input_->Update(now_);
    graphics_->Update();
    script_->Frame(now_);
  }
  std::unique_ptr<CGraphicSystem> graphics_;
};

const char kSlider[] =
    "[slider id=vol x=100 y=50 width=201 background_path=track.png controller_path=knob.png "
    "var_min=0 var_max=100 var_name=s.bgmvol]\n";

}  // namespace

TEST_F(SliderTagTest, DraggingStoresTheValueInTheBoundVariable) {
  Png("track.png", 201, 10);
  Png("knob.png", 11, 10);
  WriteFile("game.iet", std::string("[var name=s.bgmvol data=50]\n") + kSlider + "@\n");
  ASSERT_FALSE(StartWithScene());
  Frame();
  ASSERT_NE(graphics_->FindWidget("vol"), nullptr);
  Hold(platform::VK_LBUTTON);
  PointerFrame(205, 55);
  PointerFrame(305, 55);
  EXPECT_EQ(Var("s.bgmvol"), "100");
  PointerFrame(155, 55);
  EXPECT_EQ(Var("s.bgmvol"), "25");
  Release(platform::VK_LBUTTON);
}

TEST_F(SliderTagTest, SameIdReplacesAndUidelRemoves) {
  Png("track.png", 201, 10);
  Png("knob.png", 11, 10);
  WriteFile("game.iet", std::string(kSlider) + "@\n" + kSlider + "@\n[uidel id=vol]\n[uidel id=none]\n@\n");
  ASSERT_FALSE(StartWithScene());
  Frame();
  ISceneOverlay* first = graphics_->FindWidget("vol");
  ASSERT_NE(first, nullptr);
  Frame({platform::VK_RETURN});
  ISceneOverlay* second = graphics_->FindWidget("vol");
  ASSERT_NE(second, nullptr);
  Frame({platform::VK_RETURN});
  EXPECT_EQ(graphics_->FindWidget("vol"), nullptr);
}

TEST_F(SliderTagTest, BadParametersReportTheMessageAndRegisterNothing) {
  Png("track.png", 201, 10);
  Png("knob.png", 11, 10);
  WriteFile("game.iet",
            "[debug mode=2]\n"
            "[slider id=a x=0 y=0 width=1 background_path=track.png controller_path=knob.png var_min=0 var_max=9 "
            "var_name=v]\n"
            "[slider id=b x=0 y=0 width=50 background_path=track.png controller_path=knob.png var_min=3 var_max=3 "
            "var_name=v]\n"
            "[slider id=c x=0 y=0 background_path=track.png controller_path=knob.png var_min=0 var_max=9 "
            "var_name=v]\n"
            "[slider id=d x=0 y=0 width=50 background_path=none.png controller_path=knob.png var_min=0 var_max=9 "
            "var_name=v]\n@\n");
  ASSERT_FALSE(StartWithScene());
  Frame();
  const std::string message = Utf8ToCp932("パラメータが不足しているか、間違っています。");
  const std::string reports = script_->GetReportBuffer();
  for (int line = 2; line <= 5; ++line)
    EXPECT_NE(reports.find("game.iet(" + std::to_string(line) + "): [slider] " + message), std::string::npos)
        << line << ": " << Cp932ToUtf8(reports);
  for (const char* id : {"a", "b", "c", "d"}) EXPECT_EQ(graphics_->FindWidget(id), nullptr) << id;
}
