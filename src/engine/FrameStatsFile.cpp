#include "engine/FrameStatsFile.h"

#include <algorithm>

#include "core/FrameStats.h"
#include "platform/Audio.h"

const char* CFrameStatsFile::Header() {
  return "frame,virtual_ms,real_us,frame_us,input_us,tweens_us,script_us,layers_us,draw_us,present_us,records,"
         "layers,glyphs,sounds";
}

CFrameStatsFile::~CFrameStatsFile() { Close(); }

bool CFrameStatsFile::Open(const std::string& nativePath) {
  file_ = std::fopen(nativePath.c_str(), "wb");
  if (!file_) return true;
  if (std::fprintf(file_, "%s\n", Header()) < 0) failed_ = true;
  framestats::g_on = true;
  return failed_;
}

bool CFrameStatsFile::Close() {
  framestats::g_on = false;
  if (!file_) return failed_;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return failed_;
}

void CFrameStatsFile::OnFrameStats(int frame, uint32_t virtualMs, int64_t startUs, int64_t busyUs) {
  if (!file_) return;
  if (firstUs_ < 0) firstUs_ = startUs;
  const framestats::Frame& f = framestats::g_frame;
  // Presenting happens inside drawing; each column counts its own time.
  const int64_t draw = std::max<int64_t>(0, f.us[framestats::kDraw] - f.us[framestats::kPresent]);
  if (std::fprintf(file_, "%d,%u,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%u,%u,%u,%d\n", frame, virtualMs,
                   static_cast<long long>(startUs - firstUs_), static_cast<long long>(busyUs),
                   static_cast<long long>(f.us[framestats::kInput]), static_cast<long long>(f.us[framestats::kTweens]),
                   static_cast<long long>(f.us[framestats::kScript]), static_cast<long long>(f.us[framestats::kLayers]),
                   static_cast<long long>(draw), static_cast<long long>(f.us[framestats::kPresent]), f.records,
                   f.layers, f.glyphs, platform::AudioPlayingCount()) < 0)
    failed_ = true;
}
