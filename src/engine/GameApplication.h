// The message loop and its paced frames.
#pragma once

#include <memory>

#include "engine/FrameTimer.h"

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
  };

  explicit CGameApplication(int framesPerSecond = 60);
  virtual ~CGameApplication();

  // Runs until the quit message; returns 0.
  virtual int Run();
  virtual void Update() = 0;
  virtual void Render() = 0;

  CFrameTimer& GetFrameTimer() { return *timer_; }
  void SetFrameHooks(IFrameHooks* hooks) { hooks_ = hooks; }
  int GetFrameCount() const { return frame_; }

 protected:
  std::unique_ptr<CFrameTimer> timer_;
  IFrameHooks* hooks_ = nullptr;
  int frame_ = 0;
  int hookedFrame_ = -1;
};
