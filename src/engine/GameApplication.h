// The message loop and its paced frames.
#pragma once

#include <memory>

#include "engine/FrameTimer.h"
#include "platform/Platform.h"

class CGameApplication {
 public:
  // Called around every frame by Run; lets a driver feed input, take
  // screenshots and stop the run (see CInputDriver).
  class IFrameHooks {
   public:
    virtual ~IFrameHooks() = default;
    // Before frame n's input is sampled; true when it posted messages that
    // must be handled before the frame runs.
    virtual bool BeforeFrame(int frame) = 0;
    // After frame n was computed (and drawn, unless it was late).
    virtual void AfterFrame(int frame) = 0;
    // A message about to be handled while frame n is the next one (a recorder
    // sees the wheel and the close box here).
    virtual void OnMessage(int frame, const platform::Message& message) {}
    // Right before frame n samples its input, after the last device events
    // were taken.
    virtual void BeforeUpdate(int frame) {}
  };

  // Receives one row per frame while frame statistics are on.
  class IFrameStatsSink {
   public:
    virtual ~IFrameStatsSink() = default;
    // busyUs: real time from the end of the pacer's wait to the end of drawing.
    virtual void OnFrameStats(int frame, uint32_t virtualMs, int64_t startUs, int64_t busyUs) = 0;
  };

  explicit CGameApplication(int framesPerSecond = 60);
  virtual ~CGameApplication();

  // Runs until the quit message; returns 0.
  virtual int Run();
  virtual void Update() = 0;
  virtual void Render() = 0;

  CFrameTimer& GetFrameTimer() { return *timer_; }
  void SetFrameHooks(IFrameHooks* hooks) { hooks_ = hooks; }
  void SetFrameStatsSink(IFrameStatsSink* sink) { statsSink_ = sink; }
  int GetFrameCount() const { return frame_; }

 protected:
  // A frame the pacer found late is computed but not drawn. On the virtual
  // clock time is the frame number, so no frame is late: what the pacer
  // makes of the millisecond clock's rounding (a carry kept from before an
  // unthrottled stretch never wears off there) must not leave frames undrawn.
  bool DrawsThisFrame() const;
  std::unique_ptr<CFrameTimer> timer_;
  IFrameHooks* hooks_ = nullptr;
  IFrameStatsSink* statsSink_ = nullptr;
  int frame_ = 0;
  int hookedFrame_ = -1;
};
