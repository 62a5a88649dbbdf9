// Fuzzes the Ogg Vorbis decoder over its in-memory copy of the file.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "sound/Vorbis.h"

namespace {

class CBytesFile : public CFile {
 public:
  CBytesFile(const uint8_t* data, size_t size) : bytes_(data, data + size) {}
  bool Open(const char*) override { return true; }
  int Read(void* buffer, unsigned count) override {
    size_t left = pos_ < bytes_.size() ? bytes_.size() - pos_ : 0;
    size_t n = count < left ? count : left;
    if (n) std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return static_cast<int>(n);
  }
  int Seek(int offset, int origin) override {
    int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<int64_t>(pos_) : static_cast<int64_t>(bytes_.size());
    if (base + offset < 0) return -1;
    pos_ = static_cast<size_t>(base + offset);
    return 0;
  }
  int Tell() override { return static_cast<int>(pos_); }
  int GetSize() override { return static_cast<int>(bytes_.size()); }
  int Close() override { return 0; }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
};

// Decoding is bounded so that a tiny file claiming hours of silence stays quick.
constexpr int kMaxReads = 256;

void Drain(CVorbis& sound, int piece) {
  std::vector<uint8_t> buffer(static_cast<size_t>(piece));
  for (int i = 0; i < kMaxReads; ++i) {
    int n = sound.Read(buffer.data(), piece);
    if (n > piece) __builtin_trap();
    if (n <= 0) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CVorbis sound;
  if (sound.Open(std::make_shared<CBytesFile>(data, size))) return 0;
  if (sound.GetBitsPerSample() != 16 || sound.GetChannels() <= 0 || sound.GetSampleRate() <= 0 ||
      sound.GetDataSize() < 0) {
    __builtin_trap();
  }
  Drain(sound, 4096);
  sound.Rewind();
  Drain(sound, 1001);
  return 0;
}
