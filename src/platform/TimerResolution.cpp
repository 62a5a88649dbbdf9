#include "platform/TimerResolution.h"

#include "platform/Platform.h"

namespace {
CTimerResolution* g_timer = nullptr;
}

// Our clocks already have millisecond resolution: nothing to ask of the
// system when the holder comes and goes.
CTimerResolution* CTimerResolution::Instance() {
  if (!g_timer) g_timer = new CTimerResolution();
  return g_timer;
}

void CTimerResolution::Destroy() {
  delete g_timer;
  g_timer = nullptr;
}

uint32_t CTimerResolution::GetTime() const { return platform::GetTimeMs(); }
void CTimerResolution::Sleep(uint32_t ms) const { platform::SleepMs(ms); }
