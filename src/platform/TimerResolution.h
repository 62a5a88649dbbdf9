// The process-wide millisecond clock with its 1 ms resolution.
#pragma once

#include <cstdint>

class CTimerResolution {
 public:
  static CTimerResolution* Instance();
  static void Destroy();

  uint32_t GetTime() const;
  void Sleep(uint32_t ms) const;

 private:
  CTimerResolution() = default;
};
