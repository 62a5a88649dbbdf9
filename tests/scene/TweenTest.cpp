#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "scene/Easing.h"
#include "scene/Tween.h"

namespace {

struct Sink {
  std::vector<int32_t> values;
  std::function<void(int32_t)> Setter() {
    return [this](int32_t v) { values.push_back(v); };
  }
  int32_t Last() const { return values.empty() ? -12345 : values.back(); }
};

std::unique_ptr<CIntTween> Make(Sink& sink, int32_t from, int32_t to, int32_t duration, int32_t delay, int kind = 0) {
  auto tween = std::make_unique<CIntTween>(sink.Setter(), from, to, duration, delay);
  tween->SetEase(kind);
  return tween;
}

// The closed forms, written out independently of the engine's switch, with
// the single-precision constants (for bounce: its breakpoints only).
double Closed(int kind, double t, double d) {
  const double pi = double(3.1415927f), s = double(1.70158f);
  const double u = t / d;
  const auto bounce = [](double x) {  // B(x, 0, 1, 1)
    if (x < double(1.0f / 2.75f)) return 7.5625 * x * x;
    if (x < double(2.0f / 2.75f)) return 7.5625 * (x - 1.5 / 2.75) * (x - 1.5 / 2.75) + 0.75;
    if (x < double(2.5f / 2.75f)) return 7.5625 * (x - 2.25 / 2.75) * (x - 2.25 / 2.75) + 0.9375;
    return 7.5625 * (x - 2.625 / 2.75) * (x - 2.625 / 2.75) + 0.984375;
  };
  const auto in = [&](int power, double x) { return std::pow(x, power); };
  const auto out = [&](int power, double x) { return 1 - std::pow(1 - x, power); };
  const auto inOut = [&](int power, double x) {
    return x < 0.5 ? std::pow(2 * x, power) / 2 : 1 - std::pow(2 - 2 * x, power) / 2;
  };
  switch (kind) {
    case 1: return in(2, u);
    case 2: return out(2, u);
    case 3: return inOut(2, u);
    case 4: return in(3, u);
    case 5: return out(3, u);
    case 6: return inOut(3, u);
    case 7: return in(4, u);
    case 8: return out(4, u);
    case 9: return inOut(4, u);
    case 10: return in(5, u);
    case 11: return out(5, u);
    case 12: return inOut(5, u);
    case 13: return t == 0 ? 0 : std::pow(2, 10 * (u - 1));
    case 14: return t == d ? 1 : 1 - std::pow(2, -10 * u);
    case 15:
      if (t == 0) return 0;
      if (t == d) return 1;
      return u < 0.5 ? std::pow(2, 20 * u - 10) / 2 : (2 - std::pow(2, -20 * u + 10)) / 2;
    case 16: return 1 - std::sqrt(1 - u * u);
    case 17: return std::sqrt(1 - (u - 1) * (u - 1));
    case 18: return u < 0.5 ? (1 - std::sqrt(1 - 4 * u * u)) / 2 : (std::sqrt(1 - (2 * u - 2) * (2 * u - 2)) + 1) / 2;
    case 19: return 1 - std::cos(u * double(1.5707964f));
    case 20: return std::sin(u * double(1.5707964f));
    case 21: return (1 - std::cos(pi * u)) / 2;
    case 22: return u * u * ((s + 1) * u - s);
    case 23: return (u - 1) * (u - 1) * ((s + 1) * (u - 1) + s) + 1;
    case 24: {
      const double s2 = s * double(1.525f);
      const double x = 2 * u;
      return x < 1 ? x * x * ((s2 + 1) * x - s2) / 2 : ((x - 2) * (x - 2) * ((s2 + 1) * (x - 2) + s2) + 2) / 2;
    }
    case 25: {
      if (t == 0) return 0;
      if (t == d) return 1;
      const double p = double(0.3f) * d;
      return -std::pow(2, 10 * (u - 1)) * std::sin(((u - 1) * d - p / 4) * double(6.2831855f) / p);
    }
    case 26: {
      if (t == 0) return 0;
      if (t == d) return 1;
      const double p = double(0.3f) * d;
      return std::pow(2, -10 * u) * std::sin((u * d - p / 4) * double(6.2831855f) / p) + 1;
    }
    case 27: {
      if (t == 0) return 0;
      if (t == d) return 1;
      const double p = double(0.45f) * d, w = 2 * u - 1;
      const double wave = std::sin((w * d - p / 4) * double(6.2831855f) / p);
      return u < 0.5 ? -0.5 * std::pow(2, 10 * w) * wave : 0.5 * std::pow(2, -10 * w) * wave + 1;
    }
    case 28: return 1 - bounce(1 - u);
    case 29: return bounce(u);
    case 30: return u < 0.5 ? 0.5 * (1 - bounce(1 - 2 * u)) : 0.5 * bounce(2 * u - 1) + 0.5;
    default: return u;
  }
}

}  // namespace

TEST(Easing, EveryKindAtFivePointsMatchesItsClosedForm) {
  const double d = 1000, b = 0, c = 10000;
  for (int kind = 0; kind <= 31; ++kind) {
    for (double t : {0.0, d / 4, d / 2, 3 * d / 4, d}) {
      const double got = Ease(kind, t, b, c, d);
      const double want = b + c * Closed(kind == 31 ? 0 : kind, t, d);
      EXPECT_NEAR(want, got, 1e-6) << "kind " << kind << " t " << t;
      // Truncated as the setter sees it, the two agree exactly.
      EXPECT_EQ(int32_t(want), int32_t(got)) << "kind " << kind << " t " << t;
    }
  }
  EXPECT_EQ(-1, Ease(-1, 0, 0, 0, 1) == 0 ? -1 : 0);  // outside 1..30 is linear
  EXPECT_DOUBLE_EQ(30, Ease(99, 3, 0, 100, 10));
}

TEST(Easing, NamedValuesFromTheSpecimenCurves) {
  EXPECT_EQ(75, int32_t(Ease(kEaseOutQuad, 500, 0, 100, 1000)));
  EXPECT_EQ(25, int32_t(Ease(kEaseInQuad, 500, 0, 100, 1000)));
  EXPECT_EQ(108, int32_t(Ease(kEaseOutBack, 500, 0, 100, 1000)));
  EXPECT_EQ(-8, int32_t(Ease(kEaseInBack, 500, 0, 100, 1000)));
  // Bounce takes exact offsets off u: where the curve lands on a whole
  // number, offsets rounded to single precision would land one step off.
  EXPECT_EQ(90, int32_t(Ease(kEaseOutBounce, 400, 0, 100, 1000)));
  EXPECT_EQ(94, int32_t(Ease(kEaseOutBounce, 800, 0, 100, 1000)));
  EXPECT_EQ(9, int32_t(Ease(kEaseInBounce, 600, 0, 100, 1000)));
  EXPECT_EQ(97, int32_t(Ease(kEaseInOutBounce, 900, 0, 100, 1000)));
  int lowest = 0;
  for (int t = 0; t <= 1000; ++t) lowest = std::min(lowest, int(Ease(kEaseInBack, t, 0, 100, 1000)));
  EXPECT_EQ(-10, lowest);
  int kind = -1;
  EXPECT_TRUE(EaseKindFromName("easeinout_bounce", kind));
  EXPECT_EQ(30, kind);
  EXPECT_FALSE(EaseKindFromName("EaseIn_Quad", kind));
  EXPECT_EQ(30, kind);
  EXPECT_STREQ("none", EaseName(0));
  EXPECT_STREQ("easeout_elastic", EaseName(26));
  EXPECT_STREQ("none", EaseName(77));
}

TEST(Tween, TimingDelayAndTruncation) {
  Sink sink;
  auto tween = Make(sink, 0, 100, 1000, 0);
  EXPECT_FALSE(tween->Update(5000));
  EXPECT_EQ(5000u, tween->GetStart());
  EXPECT_EQ(6000u, tween->GetEnd());
  EXPECT_EQ(0, sink.Last());
  EXPECT_FALSE(tween->Update(5250));
  EXPECT_EQ(25, sink.Last());
  EXPECT_TRUE(tween->Update(6000));
  EXPECT_EQ(100, sink.Last());

  Sink delayed;
  auto later = Make(delayed, 0, 100, 1000, 500);
  for (uint32_t now : {5000u, 5200u, 5500u}) {
    EXPECT_FALSE(later->Update(now));
    EXPECT_EQ(0, delayed.Last());
  }
  later->Update(5750);
  EXPECT_EQ(25, delayed.Last());

  Sink up, down;
  auto a = Make(up, 0, 10, 1000, 0), b = Make(down, 0, -10, 1000, 0);
  a->Update(0);
  b->Update(0);
  a->Update(999);
  b->Update(999);
  EXPECT_EQ(9, up.Last());
  EXPECT_EQ(-9, down.Last());
}

TEST(Tween, ZeroDurationAndEqualEnds) {
  Sink sink;
  auto tween = Make(sink, 3, 7, 0, 0);
  EXPECT_FALSE(tween->Update(100));
  EXPECT_EQ(3, sink.Last());
  EXPECT_TRUE(tween->Update(101));
  EXPECT_EQ(7, sink.Last());
  Sink same;
  EXPECT_TRUE(Make(same, 5, 5, 0, 0)->Update(100));
  EXPECT_EQ(std::vector<int32_t>{5}, same.values);
}

TEST(Tween, StartAtZeroAndAcrossTheMillisecondWrap) {
  // A first frame at time 0 starts the tween; it is not taken as "not
  // started" again at the next frame.
  Sink sink;
  auto tween = Make(sink, 0, 100, 1000, 0);
  tween->Update(0);
  tween->Update(500);
  EXPECT_EQ(50, sink.Last());
  EXPECT_EQ(0u, tween->GetStart());

  // Starting shortly before the 32-bit wrap: the end lies past it.
  Sink wrap;
  auto across = Make(wrap, 0, 100, 1000, 0);
  const uint32_t start = 0xFFFFFF00u;
  across->Update(start);
  across->Update(start + 500);  // wrapped around
  EXPECT_EQ(50, wrap.Last());
  EXPECT_TRUE(across->Update(start + 1000));
  EXPECT_EQ(100, wrap.Last());

  // A delay across the wrap holds the start value, then runs.
  Sink held;
  auto waiting = Make(held, 0, 100, 1000, 400);
  waiting->Update(0xFFFFFF00u);
  waiting->Update(0x00000010u);
  EXPECT_EQ(0, held.Last());
  waiting->Update(0xFFFFFF00u + 400 + 250);
  EXPECT_EQ(25, held.Last());
}

TEST(Tween, YoyoRepeatsAndFinish) {
  Sink sink;
  auto tween = Make(sink, 0, 100, 1000, 0);
  tween->SetYoyo(1);
  tween->Update(0);
  EXPECT_FALSE(tween->Update(1000));
  EXPECT_EQ(100, sink.Last());
  tween->Update(1250);
  EXPECT_EQ(75, sink.Last());
  tween->Finish();  // the end value given at construction
  EXPECT_EQ(100, sink.Last());
  EXPECT_TRUE(tween->Update(2000));
  EXPECT_EQ(0, sink.Last());

  Sink endless;
  auto forever = Make(endless, 0, 100, 100, 0);
  forever->SetYoyo(-1);
  bool completed = false;
  forever->SetOnComplete([&] { completed = true; });
  for (uint32_t now = 0; now <= 100000; now += 50) EXPECT_FALSE(forever->Update(now));
  EXPECT_FALSE(completed);
  CTweenRegistry registry;
  const int32_t handle = registry.Register(std::move(forever));
  registry.Kill(handle);
  EXPECT_EQ(100, endless.Last());
  EXPECT_FALSE(completed);  // Kill does not complete
  EXPECT_FALSE(registry.IsAlive(handle));
  registry.Kill(handle);  // dead: nothing

  // The lowest count goes round instead of overflowing: still endless.
  Sink lowest;
  auto bottom = Make(lowest, 0, 100, 100, 0);
  bottom->SetYoyo(INT32_MIN);
  for (uint32_t now = 0; now <= 1000; now += 50) EXPECT_FALSE(bottom->Update(now));
  EXPECT_EQ(bottom->GetRepeat(), INT32_MAX - 9);  // ten turns in 1000 ms
}

TEST(TweenQueue, RunsInTurnAndStartsTheNextInTheSameFrame) {
  Sink first, second;
  CTweenQueue queue;
  EXPECT_TRUE(CTweenQueue().Update(0));  // empty: finished
  queue.Add(Make(first, 0, 100, 500, 0).release());
  queue.Add(Make(second, 0, 10, 500, 0));
  EXPECT_FALSE(queue.Update(1000));
  EXPECT_FALSE(queue.Update(1500));  // the first ends, the second starts now
  EXPECT_EQ(100, first.Last());
  EXPECT_EQ(0, second.Last());
  EXPECT_FALSE(queue.Update(1750));
  EXPECT_EQ(5, second.Last());
  EXPECT_TRUE(queue.Update(2000));

  // Finish puts every queued tween at its end.
  Sink a, b;
  CTweenQueue finishing;
  finishing.Add(Make(a, 0, 1, 100, 0));
  finishing.Add(Make(b, 0, 2, 100, 0));
  finishing.Finish();
  EXPECT_EQ(1, a.Last());
  EXPECT_EQ(2, b.Last());
  EXPECT_EQ(0u, finishing.GetCount());
}

TEST(TweenQueue, HundredThousandInstantTweensDoNotRecurse) {
  CTweenQueue queue;
  int32_t last = -1;
  for (int i = 0; i < 100000; ++i) queue.Add(std::make_unique<CIntTween>([&](int32_t v) { last = v; }, i, i, 0, 0));
  EXPECT_TRUE(queue.Update(7));
  EXPECT_EQ(99999, last);
}

TEST(TweenRegistry, HandlesPassesAndCallbacksThatKill) {
  CTweenRegistry registry;
  Sink a, b, c;
  const int32_t ha = registry.Register(Make(a, 0, 100, 100, 0));
  const int32_t hb = registry.Register(Make(b, 0, 100, 1000, 0));
  EXPECT_EQ(0, ha);
  EXPECT_EQ(1, hb);
  // C finishes in the second pass and kills B from its callback: B, earlier
  // in the pass, was advanced first and then jumps to its end.
  auto killer = Make(c, 0, 1, 0, 0);
  killer->SetOnComplete([&] { registry.Kill(hb); });
  const int32_t hc = registry.Register(std::move(killer));
  EXPECT_EQ(2, hc);
  registry.UpdateAll(0);
  EXPECT_EQ(3u, registry.GetCount());
  registry.UpdateAll(50);
  EXPECT_EQ(50, a.Last());
  EXPECT_EQ((std::vector<int32_t>{0, 5, 100}), b.values);
  EXPECT_FALSE(registry.IsAlive(hb));
  EXPECT_FALSE(registry.IsAlive(hc));

  // A callback killing a tween later in the same pass: never advanced again.
  Sink late;
  auto early = Make(c, 0, 1, 0, 0);
  int32_t hl = -1;
  early->SetOnComplete([&] { registry.Kill(hl); });
  registry.Register(std::move(early));
  hl = registry.Register(Make(late, 0, 1000, 1000, 0));
  registry.UpdateAll(1000);  // both start; early sets 0
  const size_t seen = late.values.size();
  registry.UpdateAll(1001);  // early finishes, kills late: late sets its end once
  EXPECT_EQ(seen + 1, late.values.size());
  EXPECT_EQ(1000, late.Last());

  // A tween killing itself from its own callback, and one registered during
  // a pass (advanced only in the next).
  Sink self, fresh;
  int32_t hs = -1;
  auto suicidal = Make(self, 0, 1, 0, 0);
  suicidal->SetOnComplete([&] {
    registry.Kill(hs);
    registry.Register(Make(fresh, 7, 9, 0, 0));
  });
  hs = registry.Register(std::move(suicidal));
  registry.UpdateAll(2000);
  registry.UpdateAll(2001);
  EXPECT_FALSE(registry.IsAlive(hs));
  EXPECT_TRUE(fresh.values.empty());
  registry.UpdateAll(2002);
  EXPECT_EQ(7, fresh.Last());

  // DeleteAll from a callback ends the pass safely; handles stay unique.
  auto wiper = Make(self, 0, 1, 0, 0);
  wiper->SetOnComplete([&] { registry.DeleteAll(); });
  const int32_t hw = registry.Register(std::move(wiper));
  registry.Register(Make(a, 0, 1, 1000, 0));
  registry.UpdateAll(3000);
  registry.UpdateAll(3001);
  EXPECT_EQ(0u, registry.GetCount());
  EXPECT_GT(registry.Register(Make(a, 0, 1, 1, 0)), hw);
}

TEST(SampleTween, WhatTheEaseCommandPrints) {
  const auto steps = SampleTween(kEaseOutQuad, 0, 100, 1000, 250);
  ASSERT_EQ(5u, steps.size());
  EXPECT_EQ((std::pair<int64_t, int32_t>(0, 0)), steps[0]);
  EXPECT_EQ((std::pair<int64_t, int32_t>(500, 75)), steps[2]);
  EXPECT_EQ((std::pair<int64_t, int32_t>(1000, 100)), steps[4]);
  // A step that does not divide the time still ends on it.
  const auto odd = SampleTween(0, 0, 10, 10, 3);
  ASSERT_EQ(5u, odd.size());
  EXPECT_EQ((std::pair<int64_t, int32_t>(9, 9)), odd[3]);
  EXPECT_EQ((std::pair<int64_t, int32_t>(10, 10)), odd[4]);
  EXPECT_EQ((std::vector<std::pair<int64_t, int32_t>>{{0, 5}}), SampleTween(0, 5, 5, 0, 1));
  EXPECT_TRUE(SampleTween(0, 0, 1, -1, 1).empty());
  EXPECT_TRUE(SampleTween(0, 0, 1, 10, 0).empty());
}
