#include "engine/GameApplication.h"

#include "core/FrameStats.h"
#include "platform/Platform.h"

CGameApplication::CGameApplication(int framesPerSecond) : timer_(new CFrameTimer(framesPerSecond)) {}

CGameApplication::~CGameApplication() = default;

int CGameApplication::Run() {
  for (;;) {
    platform::Message message;
    if (platform::PeekMessage(message)) {
      if (hooks_) hooks_->OnMessage(frame_, message);
      if (!platform::GetMessage(message)) return 0;
      platform::DispatchMessage(message);
      continue;
    }
    if (hooks_ && hookedFrame_ != frame_) {
      hookedFrame_ = frame_;
      if (hooks_->BeforeFrame(frame_)) continue;
    }
    if (platform::UsesVirtualClock()) {
      // The virtual clock: frame n starts exactly n pacer periods after the start.
      platform::SetVirtualTicks((platform::kVirtualClockStartMs << 10) +
                                static_cast<uint64_t>(frame_) * static_cast<uint64_t>(timer_->GetPeriod()));
    }
    timer_->Wait();
    if (hooks_) hooks_->BeforeUpdate(frame_);
    if (statsSink_ && framestats::On()) {
      framestats::g_frame = framestats::Frame();
      const int64_t start = framestats::NowUs();
      Update();
      if (DrawsThisFrame()) Render();
      statsSink_->OnFrameStats(frame_, timer_->GetLastTime(), start, framestats::NowUs() - start);
    } else {
      Update();
      if (DrawsThisFrame()) Render();
    }
    if (hooks_) hooks_->AfterFrame(frame_);
    ++frame_;
  }
}

bool CGameApplication::DrawsThisFrame() const { return platform::UsesVirtualClock() || !timer_->IsBehind(); }
