// Decoded sounds and the loaders that make them. A decoder turns a sound file
// into 8-bit unsigned or 16-bit signed little-endian PCM for the sound player.
#pragma once

#include <memory>
#include <string>

#include "files/File.h"

class ISound {
 public:
  virtual ~ISound() = default;
  // Takes an open file and reads its header; true on failure. The decoder
  // keeps the file (a WAVE decoder streams from it while it plays).
  virtual bool Open(std::shared_ptr<CFile> file) = 0;
  // Delivers up to count bytes of PCM; 0 at the end, -1 when nothing is open.
  virtual int Read(void* buffer, int count) = 0;
  // Goes back to the first sample.
  virtual void Rewind() = 0;
  virtual int GetSampleRate() = 0;
  virtual int GetBitsPerSample() = 0;
  virtual int GetChannels() = 0;
  // Total PCM bytes of the whole sound.
  virtual int GetDataSize() = 0;
};

class ISoundLoader {
 public:
  virtual ~ISoundLoader() = default;
  // The file extension the loader is for ("ogg", "wav"), without the dot.
  virtual std::string GetExtension() = 0;
  // Makes a decoder and opens the file with it. On success *out owns a new
  // decoder (the caller deletes it) and the result is false; on failure *out
  // is null and the result true.
  virtual bool Load(ISound** out, std::shared_ptr<CFile> file) = 0;
};

// A loader for one decoder type.
template <class TSound>
class TSoundLoader : public ISoundLoader {
 public:
  bool Load(ISound** out, std::shared_ptr<CFile> file) override {
    if (!out) return true;
    ISound* sound = new TSound();
    if (sound->Open(std::move(file))) {
      delete sound;
      *out = nullptr;
      return true;
    }
    *out = sound;
    return false;
  }
};
