#include "engine/GameApplication.h"

#include "platform/Platform.h"

CGameApplication::CGameApplication(int framesPerSecond) : timer_(new CFrameTimer(framesPerSecond)) {}

CGameApplication::~CGameApplication() = default;

int CGameApplication::Run() {
  for (;;) {
    platform::Message message;
    if (platform::PeekMessage(message)) {
      if (!platform::GetMessage(message)) return 0;
      platform::DispatchMessage(message);
      continue;
    }
    if (hooks_ && hookedFrame_ != frame_) {
      hookedFrame_ = frame_;
      if (hooks_->BeforeFrame(frame_)) continue;
    }
    if (platform::IsHeadless()) {
      // The virtual clock: frame n starts exactly n pacer periods after the start.
      platform::SetVirtualTicks((platform::kVirtualClockStartMs << 10) +
                                static_cast<uint64_t>(frame_) * static_cast<uint64_t>(timer_->GetPeriod()));
    }
    timer_->Wait();
    Update();
    if (!timer_->IsBehind()) Render();
    if (hooks_) hooks_->AfterFrame(frame_);
    ++frame_;
  }
}
