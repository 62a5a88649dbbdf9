// RIFF WAVE files with PCM data, read straight from the file as they play.
#pragma once

#include <cstdint>

#include "sound/Sound.h"

class CWave : public ISound {
 public:
  bool Open(std::shared_ptr<CFile> file) override;
  int Read(void* buffer, int count) override;
  void Rewind() override;
  int GetSampleRate() override { return static_cast<int>(sampleRate_); }
  int GetBitsPerSample() override { return bitsPerSample_; }
  int GetChannels() override { return channels_; }
  int GetDataSize() override { return static_cast<int>(dataSize_); }

 private:
  // Reads chunk headers until one with the id; leaves the file at its data.
  bool FindChunk(const char id[4], uint32_t& size);

  std::shared_ptr<CFile> file_;
  bool opened_ = false;
  uint32_t sampleRate_ = 0;
  uint16_t bitsPerSample_ = 0;
  uint16_t channels_ = 0;
  uint32_t dataSize_ = 0;
  int32_t dataStart_ = 0;
  uint32_t delivered_ = 0;
  int64_t fileSize_ = 0;
};

class CWaveLoader : public TSoundLoader<CWave> {
 public:
  std::string GetExtension() override { return "wav"; }
};
