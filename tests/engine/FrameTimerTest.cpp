#include <gtest/gtest.h>

#include <vector>

#include "engine/FrameTimer.h"
#include "engine/GameWindow.h"

namespace {

// A clock that moves only when told to, or when the pacer sleeps.
class FakeClock : public CFrameTimer::IClock {
 public:
  explicit FakeClock(uint32_t start) : now(start) {}
  uint32_t Now() override { return now; }
  void Sleep(uint32_t ms) override {
    sleeps.push_back(ms);
    now += ms;
  }
  uint32_t now;
  std::vector<uint32_t> sleeps;
};

}  // namespace

TEST(FrameTimer, KeepsTheGridAndCarriesTheRemainder) {
  FakeClock clock(5000);
  CFrameTimer timer(60, &clock);
  EXPECT_EQ(timer.GetPeriod(), 17066);
  timer.Wait();  // first frame: no wait
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_EQ(timer.GetPreviousTick(), 5000u << 10);
  // Frames that take no time: the sleeps follow 16.666 ms on the 1/1024 grid.
  std::vector<uint32_t> starts;
  for (int i = 0; i < 6; ++i) {
    timer.Wait();
    starts.push_back(clock.now);
    EXPECT_FALSE(timer.IsBehind());
  }
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(starts[n - 1], 5000u + ((n * 17066u) >> 10)) << n;
  EXPECT_EQ(clock.sleeps[0], 16u);
  EXPECT_EQ(timer.GetCarry(), static_cast<int32_t>((6 * 17066) - ((6 * 17066) >> 10 << 10)));
}

TEST(FrameTimer, LateFramesAreFlaggedAndShortenTheNextWait) {
  FakeClock clock(1000);
  CFrameTimer timer(60, &clock);
  timer.Wait();
  clock.now += 20;  // the frame took 20 ms: 3.33 ms late
  timer.Wait();
  EXPECT_TRUE(timer.IsBehind());
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_EQ(timer.GetCarry(), 17066 - 20 * 1024);
  clock.now += 5;  // the next slot is shorter by the lateness
  timer.Wait();
  EXPECT_FALSE(timer.IsBehind());
  ASSERT_EQ(clock.sleeps.size(), 1u);
  EXPECT_EQ(clock.sleeps[0], static_cast<uint32_t>((17066 + (17066 - 20 * 1024) - 5 * 1024) >> 10));
}

TEST(FrameTimer, StallOfOneSecondStartsOver) {
  FakeClock clock(1000);
  CFrameTimer timer(60, &clock);
  timer.Wait();
  clock.now += 1000;
  timer.Wait();
  EXPECT_FALSE(timer.IsBehind());
  EXPECT_EQ(timer.GetCarry(), 0);
  EXPECT_EQ(timer.GetPreviousTick(), clock.now << 10);
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST(FrameTimer, UnthrottledNeverSleepsAndThenStartsAFreshGrid) {
  FakeClock clock(1000);
  CFrameTimer timer(60, &clock);
  timer.Wait();
  timer.SetUnthrottled(true);
  for (int i = 0; i < 5; ++i) timer.Wait();
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_EQ(timer.GetPreviousTick(), 0u);
  timer.SetUnthrottled(false);
  clock.now += 3;
  timer.Wait();  // fresh grid: no wait
  EXPECT_TRUE(clock.sleeps.empty());
  timer.Wait();
  EXPECT_EQ(clock.sleeps.size(), 1u);
}

TEST(FrameTimer, CrossesTheWrapOfTheTickCounter) {
  // Ticks wrap when milliseconds pass 2^22; the grid must not stall there.
  FakeClock clock((1u << 22) - 10);
  CFrameTimer timer(60, &clock);
  timer.Wait();
  for (int i = 0; i < 4; ++i) {
    timer.Wait();
    EXPECT_FALSE(timer.IsBehind());
  }
  for (uint32_t s : clock.sleeps) EXPECT_LE(s, 17u);
  EXPECT_EQ(clock.now, (1u << 22) - 10 + ((4 * 17066u) >> 10));
}

TEST(FrameTimer, ZeroRateMeansSixty) {
  FakeClock clock(1);
  EXPECT_EQ(CFrameTimer(0, &clock).GetPeriod(), 17066);
  EXPECT_EQ(CFrameTimer(30, &clock).GetPeriod(), 34133);
}

TEST(FullscreenLayout, WideAndTallScreens) {
  FullscreenLayout wide = ComputeFullscreenLayout(1920, 1080, 800, 600);
  EXPECT_EQ(wide.main.left, 240);
  EXPECT_EQ(wide.main.right - wide.main.left, 1440);
  EXPECT_EQ(wide.main.bottom - wide.main.top, 1080);
  EXPECT_EQ(wide.bar1.left, 0);
  EXPECT_EQ(wide.bar1.right, 240);
  EXPECT_EQ(wide.bar2.left, 1680);
  EXPECT_EQ(wide.bar2.right - wide.bar2.left, 240);
  EXPECT_FLOAT_EQ(wide.scale, 1.8f);

  FullscreenLayout tall = ComputeFullscreenLayout(1280, 1024, 800, 600);
  EXPECT_EQ(tall.main.top, 32);
  EXPECT_EQ(tall.main.right - tall.main.left, 1280);
  EXPECT_EQ(tall.main.bottom - tall.main.top, 960);
  EXPECT_EQ(tall.bar1.top, 0);
  EXPECT_EQ(tall.bar1.bottom, 32);
  EXPECT_EQ(tall.bar2.top, 992);
  EXPECT_EQ(tall.bar2.bottom - tall.bar2.top, 32);
  EXPECT_FLOAT_EQ(tall.scale, 1.6f);
}
