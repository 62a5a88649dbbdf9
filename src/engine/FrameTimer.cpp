#include "engine/FrameTimer.h"

#include "platform/TimerResolution.h"

namespace {

class HolderClock : public CFrameTimer::IClock {
 public:
  uint32_t Now() override { return CTimerResolution::Instance()->GetTime(); }
  void Sleep(uint32_t ms) override { CTimerResolution::Instance()->Sleep(ms); }
};

HolderClock g_holderClock;

}  // namespace

CFrameTimer::CFrameTimer(int framesPerSecond, IClock* clock) : clock_(clock ? clock : &g_holderClock) {
  CTimerResolution::Instance();
  fps_ = framesPerSecond > 0 ? framesPerSecond : 60;
  period_ = 1024000 / fps_;
}

// Ticks are milliseconds shifted left by 10 and live on a 32-bit circle:
// all differences are taken modulo 2^32, so the wrap of the counter (every
// 70 minutes or so) is crossed without a hitch.
uint32_t CFrameTimer::ReadNow() {
  lastTime_ = clock_->Now();
  return lastTime_ << 10;
}

void CFrameTimer::Wait() {
  if (unthrottled_) {
    ReadNow();
    previous_ = 0;
    behind_ = 0;
    return;
  }
  if (previous_ == 0) {
    previous_ = ReadNow();
    behind_ = 0;
    return;
  }
  uint32_t now = ReadNow();
  if (now - previous_ >= 1024000u) {
    period_ = 1024000 / fps_;
    previous_ = 0;
    carry_ = 0;
    behind_ = 0;
    unthrottled_ = 0;
    previous_ = now;
    return;
  }
  int32_t remaining =
      static_cast<int32_t>(static_cast<uint32_t>(period_) + previous_ + static_cast<uint32_t>(carry_) - now);
  if (remaining < 0) {
    previous_ = now;
    carry_ = remaining;
    behind_ = 1;
    return;
  }
  if (remaining >= 1024) {
    clock_->Sleep(static_cast<uint32_t>(remaining) >> 10);
    uint32_t t2 = ReadNow();
    previous_ = t2;
    carry_ = remaining - static_cast<int32_t>(t2 - now);
  } else {
    previous_ = now;
    carry_ = remaining;
  }
  behind_ = 0;
}
