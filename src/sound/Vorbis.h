// Ogg Vorbis files, decoded with libvorbisfile from an in-memory copy.
#pragma once

#include <vorbis/vorbisfile.h>

#include <cstdint>
#include <vector>

#include "sound/Sound.h"

class CVorbis : public ISound {
 public:
  CVorbis() = default;
  CVorbis(const CVorbis&) = delete;
  CVorbis& operator=(const CVorbis&) = delete;
  ~CVorbis() override;

  bool Open(std::shared_ptr<CFile> file) override;
  int Read(void* buffer, int count) override;
  void Rewind() override;
  int GetSampleRate() override { return sampleRate_; }
  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return channels_; }
  int GetDataSize() override { return dataSize_; }

 private:
  bool OpenStream();
  void CloseStream();

  static size_t ReadCallback(void* ptr, size_t size, size_t count, void* source);
  static int SeekCallback(void* source, ogg_int64_t offset, int whence);
  static int CloseCallback(void* source);
  static long TellCallback(void* source);

  std::shared_ptr<CFile> file_;
  std::vector<uint8_t> data_;
  size_t cursor_ = 0;
  OggVorbis_File vf_{};
  bool streamOpen_ = false;
  int sampleRate_ = 0;
  int channels_ = 0;
  int dataSize_ = 0;
};

class CVorbisLoader : public TSoundLoader<CVorbis> {
 public:
  std::string GetExtension() override { return "ogg"; }
};
