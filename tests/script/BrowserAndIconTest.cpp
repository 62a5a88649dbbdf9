// openbrowser as a script sees it, and the auto icon that follows auto mode.
#include <fstream>
#include <sstream>

#include "InterpHarness.h"
#include "graphics/PngWriter.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"
#include "platform/VirtualKeys.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "scene/Tween.h"

namespace {

class BrowserAndIcon : public InterpHarness {
 protected:
  void SetUp() override {
    InterpHarness::SetUp();
    CTweenRegistry::Instance().DeleteAll();
    std::vector<uint8_t> pixels(4 * 4 * 3, 0x80);
    PngImage image;
    image.width = 4;
    image.height = 4;
    image.colorType = 2;
    image.pixels = pixels.data();
    image.pitch = 12;
    std::vector<uint8_t> bytes;
    ASSERT_FALSE(EncodePng(image, bytes));
    WriteFile("icon.png", std::string(bytes.begin(), bytes.end()));
  }
  void TearDown() override {
    LogClose();
    script_.reset();
    graphics_.reset();
    CTweenRegistry::Instance().DeleteAll();
    InterpHarness::TearDown();
  }
  void Run(const std::string& body) {
    ASSERT_FALSE(LogOpen((dir_ / "run.log").string()));
    WriteFile("game.iet", body);
    graphics_ = std::make_unique<CGraphicSystem>(nullptr, 16, 12);
    script_ = std::make_unique<CMainScript>(GetTagRegistry(), graphics_.get());
    ASSERT_FALSE(script_->Boot());
    Frame();
  }
  std::string Log() {
    LogClose();
    std::ifstream in(dir_ / "run.log", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Whether the layer is visible in the front and in the back set.
  std::pair<bool, bool> Visible(const std::string& id) {
    IVirtualLayer* front = graphics_->GetFrontSet().Find(id);
    IVirtualLayer* back = graphics_->GetBackSet().Find(id);
    return {front && front->GetVisible(), back && back->GetVisible()};
  }
  std::unique_ptr<CGraphicSystem> graphics_;
};

TEST_F(BrowserAndIcon, OnlyWebAddressesAreOpenedOthersAreReported) {
  Run("[debug mode=2]\n[openbrowser url=\"https://example.com/?q=1\"]\n[openbrowser url=\"mailto:a@example.com\"]\n"
      "[openbrowser url=\"C:\\Windows\\notepad.exe\"]\n[openbrowser url=\"file:///etc/passwd\"]\n"
      "[openbrowser url=\"xdg-open\"]\n[var name=f.after data=1]\n");
  EXPECT_EQ(Var("f.after"), "1");
  const std::string log = Log();
  // Headless runs start nothing: the log shows what would have opened.
  EXPECT_NE(log.find("openbrowser: https://example.com/?q=1\n"), std::string::npos) << log;
  EXPECT_NE(log.find("openbrowser: mailto:a@example.com\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("openbrowser: C:"), std::string::npos) << log;
  EXPECT_EQ(log.find("openbrowser: file:"), std::string::npos) << log;
  const std::string reports = script_->GetReportBuffer();
  const std::string bad = Utf8ToCp932("] パラメータが不足しているか、間違っています。");
  EXPECT_NE(reports.find("game.iet(4): [openbrowser" + bad), std::string::npos) << reports;
  EXPECT_NE(reports.find("game.iet(5): [openbrowser" + bad), std::string::npos) << reports;
  EXPECT_NE(reports.find("game.iet(6): [openbrowser" + bad), std::string::npos) << reports;
  EXPECT_EQ(reports.find("game.iet(2): [openbrowser]"), std::string::npos) << reports;
  EXPECT_EQ(reports.find("game.iet(3): [openbrowser]"), std::string::npos) << reports;
}

TEST_F(BrowserAndIcon, TheAutoIconShowsExactlyWhileAutoModeIsOn) {
  Run("[lyc id=icon file=icon][lyprop id=icon visible=0][flip][automode allow=1 layer=icon]\n"
      "[var name=f.n data=0]*loop\n[var name=f.n data=$f.n+1][wait time=1000 input=1][jump label=*loop]\n");
  EXPECT_EQ(Visible("icon"), std::make_pair(false, false));
  Frame({'A'});
  EXPECT_EQ(Var("s.status.automode"), "1");
  EXPECT_EQ(Visible("icon"), std::make_pair(true, true));
  // Any key ends auto mode and hides the icon.
  Frame({platform::VK_SPACE});
  EXPECT_EQ(Var("s.status.automode"), "0");
  EXPECT_EQ(Visible("icon"), std::make_pair(false, false));
  // Forbidding auto mode switches it off with its icon.
  script_->SetAutoMode(true);
  EXPECT_EQ(Visible("icon"), std::make_pair(true, true));
  script_->SetAutoAllowed(false);
  EXPECT_EQ(Visible("icon"), std::make_pair(false, false));
  script_->SetAutoMode(true);
  EXPECT_EQ(Visible("icon"), std::make_pair(false, false));
}

TEST_F(BrowserAndIcon, AnIconSwitchedOffOrNamingNoLayerChangesNothing) {
  Run("[lyc id=icon file=icon][lyprop id=icon visible=0][flip][automode allow=1 layer=icon][automode allow=1]\n@\n"
      "[automode allow=1 layer=nothing]\n@\n");
  script_->SetAutoMode(true);
  EXPECT_EQ(Visible("icon"), std::make_pair(false, false));
  script_->SetAutoMode(false);
  Frame({platform::VK_LBUTTON});
  // A missing layer is no error.
  script_->SetAutoMode(true);
  EXPECT_EQ(Var("s.status.automode"), "1");
  EXPECT_EQ(Visible("icon"), std::make_pair(false, false));
}

}  // namespace
