#include <gtest/gtest.h>

#include "engine/InputDriver.h"
#include "platform/InputState.h"
#include "platform/Platform.h"

namespace {

// A headless window of 800x600 whose keys the test holds down.
class InputStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Init(platform::Backend::Headless);
    platform::RegisterWindowClass("InputTest");
    platform::CreateWindowArgs args;
    args.className = "InputTest";
    args.width = 800;
    args.height = 600;
    window = platform::CreateWindow(args);
    input = std::make_unique<CInputState>(window);
    platform::InjectCursor(window, 10, 10);
  }
  void TearDown() override { platform::Shutdown(); }

  platform::WindowHandle window = 0;
  std::unique_ptr<CInputState> input;
};

}  // namespace

TEST_F(InputStateTest, EdgesHoldAndRepeat) {
  using platform::VK_SPACE;
  platform::InjectKey(VK_SPACE, true);
  input->Update(1000);
  EXPECT_TRUE(input->IsDownEdge(VK_SPACE));
  EXPECT_TRUE(input->IsPush(VK_SPACE));
  input->Update(1016);
  EXPECT_EQ(input->GetState(VK_SPACE), CInputState::kHeld);
  EXPECT_TRUE(input->IsDown(VK_SPACE));
  EXPECT_FALSE(input->IsPush(VK_SPACE));
  input->Update(1500);  // exactly the delay: not yet repeating
  EXPECT_EQ(input->GetState(VK_SPACE), CInputState::kHeld);
  input->Update(1501);
  EXPECT_EQ(input->GetState(VK_SPACE), CInputState::kRepeating);
  EXPECT_TRUE(input->IsPush(VK_SPACE));
  input->Update(1517);
  EXPECT_TRUE(input->IsPush(VK_SPACE));
  platform::InjectKey(VK_SPACE, false);
  input->Update(1533);
  EXPECT_TRUE(input->IsUpEdge(VK_SPACE));
  EXPECT_FALSE(input->IsDown(VK_SPACE));
  input->Update(1550);
  EXPECT_EQ(input->GetState(VK_SPACE), CInputState::kUp);
}

TEST_F(InputStateTest, KeyBetweenUpdatesIsNeverSeen) {
  input->Update(1000);
  platform::InjectKey('A', true);
  platform::InjectKey('A', false);
  input->Update(1016);
  EXPECT_EQ(input->GetState('A'), CInputState::kUp);
}

TEST_F(InputStateTest, WheelNotchIsSeenOnce) {
  input->Update(1000);
  input->PressWheel(false);
  EXPECT_FALSE(input->IsUpEdge(CInputState::kWheelDown));
  EXPECT_TRUE(input->IsDownEdge(CInputState::kWheelDown));
  EXPECT_FALSE(input->IsDownEdge(CInputState::kWheelDown));
  input->PressWheel(true);
  input->Update(1016);  // never sampled: the notch survives the update
  EXPECT_TRUE(input->IsPush(CInputState::kWheelUp));
  EXPECT_FALSE(input->IsDown(CInputState::kWheelUp));
}

TEST_F(InputStateTest, ButtonsCountOnlyInsideTheClientArea) {
  platform::InjectKey(platform::VK_LBUTTON, true);
  platform::InjectCursor(window, 400, -5);  // the title bar
  input->Update(1000);
  EXPECT_FALSE(input->IsDownEdge(platform::VK_LBUTTON));
  platform::InjectCursor(window, 800, 600);  // the edges are inside
  input->Update(1016);
  EXPECT_TRUE(input->IsDown(platform::VK_LBUTTON));
}

TEST_F(InputStateTest, RectanglesScaleWithFullScreen) {
  input->SetScale(1.5f);
  auto hit = [&](int x, int y) {
    platform::InjectCursor(window, x, y);
    input->Update(1000);
    return input->IsPointInRect(0, 0, 100, 50);
  };
  EXPECT_TRUE(hit(0, 0));
  EXPECT_TRUE(hit(150, 75));
  EXPECT_FALSE(hit(151, 10));
  EXPECT_FALSE(hit(10, 76));
}

TEST(InputDriver, ParsesActionsAndReportsBadLines) {
  std::vector<std::string> errors;
  auto actions = CInputDriver::Parse(
      "# comment\n"
      "5 press RETURN\n"
      "3 click 10 20  # trailing comment\n"
      "7 wheel down\n"
      "8 shot out dir/a.png\n"
      "9 down 65\n"
      "10 up F5\n"
      "x quit\n"
      "11 press NOPE\n"
      "12 jump\n"
      "13 move 1\n"
      "14 quit\n",
      errors);
  ASSERT_EQ(errors.size(), 4u);
  EXPECT_EQ(errors[0].rfind("line 8:", 0), 0u);
  EXPECT_EQ(errors[3].rfind("line 11:", 0), 0u);
  // Sorted by frame: click at 3 is move + button down at 3, button up at 4.
  ASSERT_GE(actions.size(), 9u);
  EXPECT_EQ(actions[0].frame, 3);
  EXPECT_EQ(actions[0].verb, "move");
  EXPECT_EQ(actions[0].x, 10);
  EXPECT_EQ(actions[1].verb, "down");
  EXPECT_EQ(actions[1].key, platform::VK_LBUTTON);
  EXPECT_EQ(actions[2].frame, 4);
  EXPECT_EQ(actions[2].verb, "up");
  EXPECT_EQ(actions[3].frame, 5);
  EXPECT_EQ(actions[3].key, platform::VK_RETURN);
  EXPECT_EQ(actions[4].frame, 6);
  EXPECT_EQ(actions[5].verb, "wheel");
  EXPECT_FALSE(actions[5].up);
  EXPECT_EQ(actions[6].path, "out dir/a.png");
  EXPECT_EQ(actions[7].key, 65);
  EXPECT_EQ(actions[8].key, platform::VK_F1 + 4);
  EXPECT_EQ(actions.back().verb, "quit");
}

TEST(InputDriver, KeyNames) {
  EXPECT_EQ(CInputDriver::KeyFromName("A"), 'A');
  EXPECT_EQ(CInputDriver::KeyFromName("7"), '7');
  EXPECT_EQ(CInputDriver::KeyFromName("F12"), platform::VK_F12);
  EXPECT_EQ(CInputDriver::KeyFromName("F13"), -1);
  EXPECT_EQ(CInputDriver::KeyFromName("LSHIFT"), platform::VK_LSHIFT);
  EXPECT_EQ(CInputDriver::KeyFromName("255"), 255);
  EXPECT_EQ(CInputDriver::KeyFromName("256"), -1);
  EXPECT_EQ(CInputDriver::KeyFromName("a"), -1);
}
