// Helpers of the sound tests: in-memory files, WAVE and Ogg Vorbis files made
// on the spot, a scratch folder, and driving the null audio output.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files/File.h"
#include "files/MemoryFile.h"
#include "sound/Sound.h"

namespace soundtest {

std::shared_ptr<CFile> MemoryFile(std::vector<uint8_t> bytes);

void Append32(std::vector<uint8_t>& out, uint32_t v);
void Append16(std::vector<uint8_t>& out, uint16_t v);
void AppendChunk(std::vector<uint8_t>& out, const char id[4], const std::vector<uint8_t>& body);

struct WaveSpec {
  int channels = 2;
  int rate = 44100;
  int bits = 16;
  std::vector<uint8_t> pcm;
  int fmtExtra = 0;                 // bytes appended to the 16-byte fmt body
  std::vector<uint8_t> beforeFmt;   // whole chunks placed before "fmt "
  std::vector<uint8_t> beforeData;  // whole chunks placed between "fmt " and "data"
  int64_t dataSizeOverride = -1;    // stored size of the data chunk
  int formatTag = 1;
  int64_t bytesPerSecondOverride = -1;
  int blockAlignOverride = -1;
};
std::vector<uint8_t> MakeWave(const WaveSpec& shape);

// Interleaved 16-bit samples as little-endian bytes, and back.
std::vector<uint8_t> ToBytes(const std::vector<int16_t>& samples);
std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes);
// Deterministic noise-like samples (every frame differs from its neighbours).
std::vector<int16_t> Pattern(int frames, int channels, uint32_t seed);
std::vector<int16_t> Sine(int frames, int channels, int rate, double hz, double amplitude);

// Encodes interleaved 16-bit PCM as Ogg Vorbis (quality -0.1 .. 1.0).
std::vector<uint8_t> EncodeVorbis(const std::vector<int16_t>& samples, int channels, int rate, float quality = 0.4f);

// Decodes a whole sound through its decoder.
std::vector<uint8_t> ReadAll(ISound& sound, int piece = 4096);

// A fresh folder under the system's temporary folder, removed at the end.
class CTempDir {
 public:
  CTempDir();
  ~CTempDir();
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

 private:
  std::filesystem::path path_;
};

// The null audio output with a dump file, on the virtual clock.
class CNullOutput {
 public:
  explicit CNullOutput(const std::string& dumpPath);
  ~CNullOutput();
  bool Failed() const { return failed_; }
  // Advances the virtual clock by ms and lets the output catch up.
  void Advance(uint32_t ms);
  // Finishes the dump and returns its samples (16-bit stereo), header checked.
  std::vector<int16_t> Finish();

 private:
  std::string dumpPath_;
  bool failed_ = false;
  bool open_ = false;
};

// Reads a 16-bit stereo 44,100 Hz WAVE file written by the dump.
bool ReadDump(const std::string& path, std::vector<int16_t>& samples);

}  // namespace soundtest
