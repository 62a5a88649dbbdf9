// The frame pacer: keeps frames on a grid of 1/1024 ms ticks, carries lateness
// into the next frame, flags late frames and starts over after a stall.
#pragma once

#include <cstdint>

class CFrameTimer {
 public:
  // Where the pacer reads the time and sleeps; the timer-resolution holder by
  // default, a fake in tests.
  class IClock {
   public:
    virtual ~IClock() = default;
    virtual uint32_t Now() = 0;
    virtual void Sleep(uint32_t ms) = 0;
  };

  explicit CFrameTimer(int framesPerSecond, IClock* clock = nullptr);

  // Waits for the next frame slot.
  void Wait();

  uint32_t GetLastTime() const { return lastTime_; }
  bool IsBehind() const { return behind_ != 0; }
  void SetUnthrottled(bool on) { unthrottled_ = on ? 1 : 0; }
  bool IsUnthrottled() const { return unthrottled_ != 0; }
  int GetPeriod() const { return period_; }
  int GetFramesPerSecond() const { return fps_; }

  // For tests: the pacer's bookkeeping.
  uint32_t GetPreviousTick() const { return previous_; }
  int32_t GetCarry() const { return carry_; }

 private:
  uint32_t ReadNow();

  IClock* clock_;
  int fps_;
  int period_;
  uint32_t lastTime_ = 0;
  uint32_t previous_ = 0;
  int32_t carry_ = 0;
  uint8_t behind_ = 0;
  uint8_t unthrottled_ = 0;
};
