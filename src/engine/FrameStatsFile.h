// The -stats file: one CSV row per frame with the times of the frame's parts
// and what it did.
#pragma once

#include <cstdio>
#include <string>

#include "engine/GameApplication.h"

class CFrameStatsFile : public CGameApplication::IFrameStatsSink {
 public:
  // The header row, as `velmira-tool stats` expects it.
  static const char* Header();

  ~CFrameStatsFile() override;
  // Creates the file, writes the header and switches the counters on; true on failure.
  [[nodiscard]] bool Open(const std::string& nativePath);
  // Switches the counters off and closes the file; true when writing failed.
  bool Close();

  void OnFrameStats(int frame, uint32_t virtualMs, int64_t startUs, int64_t busyUs) override;

 private:
  FILE* file_ = nullptr;
  bool failed_ = false;
  int64_t firstUs_ = -1;
};
