#include "sound/Wave.h"

#include <cstring>

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// The highest rate the audio layer plays; it also keeps the rate arithmetic
// of the header checks far from overflow.
constexpr uint32_t kMaxSampleRate = 384000;

}  // namespace

bool CWave::FindChunk(const char id[4], uint32_t& size) {
  for (;;) {
    uint8_t header[8];
    if (file_->Read(header, sizeof(header)) != static_cast<int>(sizeof(header))) return true;
    size = Le32(header + 4);
    if (std::memcmp(header, id, 4) == 0) return false;
    // Chunk sizes are unsigned: one that reaches past the end of the file
    // cannot be followed by the chunk we look for.
    int64_t here = file_->Tell();
    if (here < 0) return true;
    int64_t next = here + static_cast<int64_t>(size);
    if (next > fileSize_) return true;
    if (file_->Seek(static_cast<int>(next), 0) != 0) return true;
  }
}

bool CWave::Open(std::shared_ptr<CFile> file) {
  file_ = std::move(file);
  opened_ = false;
  if (!file_) return true;
  fileSize_ = file_->GetSize();
  if (fileSize_ < 0) return true;

  uint8_t riff[12];
  if (file_->Read(riff, sizeof(riff)) != static_cast<int>(sizeof(riff))) return true;
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return true;

  uint32_t fmtSize = 0;
  if (FindChunk("fmt ", fmtSize)) return true;
  // The fields below take 16 bytes; a shorter chunk would lend bytes of the
  // next chunk to them.
  if (fmtSize < 16) return true;
  int64_t fmtStart = file_->Tell();
  if (fmtStart < 0) return true;
  int64_t fmtEnd = fmtStart + static_cast<int64_t>(fmtSize);
  if (fmtEnd > fileSize_) return true;

  uint8_t fmt[16];
  if (file_->Read(fmt, sizeof(fmt)) != static_cast<int>(sizeof(fmt))) return true;
  uint16_t formatTag = Le16(fmt);
  uint16_t channels = Le16(fmt + 2);
  uint32_t sampleRate = Le32(fmt + 4);
  uint32_t bytesPerSecond = Le32(fmt + 8);
  uint16_t blockAlign = Le16(fmt + 12);
  uint16_t bitsPerSample = Le16(fmt + 14);

  if (formatTag != 1) return true;
  if (channels != 1 && channels != 2) return true;
  // PCM that the player can play: 8 or 16 bits at a real rate.
  if (bitsPerSample != 8 && bitsPerSample != 16) return true;
  if (sampleRate == 0 || sampleRate > kMaxSampleRate) return true;
  uint32_t frameBytes = channels * (bitsPerSample / 8u);
  if (bytesPerSecond != frameBytes * sampleRate || blockAlign != frameBytes) return true;

  if (file_->Seek(static_cast<int>(fmtEnd), 0) != 0) return true;
  uint32_t dataSize = 0;
  if (FindChunk("data", dataSize)) return true;
  int64_t dataStart = file_->Tell();
  if (dataStart < 0) return true;

  // A data chunk that claims more than the file holds delivers what is there;
  // a trailing partial frame is not sound.
  int64_t available = fileSize_ - dataStart;
  if (static_cast<int64_t>(dataSize) > available) dataSize = static_cast<uint32_t>(available);
  if (dataSize > 0x7FFFFFFFu) dataSize = 0x7FFFFFFFu;
  dataSize -= dataSize % frameBytes;

  sampleRate_ = sampleRate;
  bitsPerSample_ = bitsPerSample;
  channels_ = channels;
  dataSize_ = dataSize;
  dataStart_ = static_cast<int32_t>(dataStart);
  delivered_ = 0;
  opened_ = true;
  return false;
}

int CWave::Read(void* buffer, int count) {
  if (!opened_ || count <= 0) return 0;
  uint32_t want = dataSize_ - delivered_;
  if (static_cast<uint32_t>(count) < want) want = static_cast<uint32_t>(count);
  if (want == 0) return 0;
  int got = file_->Read(buffer, want);
  if (got <= 0) return 0;
  delivered_ += static_cast<uint32_t>(got);
  return got;
}

void CWave::Rewind() {
  if (!opened_) return;
  file_->Seek(dataStart_, 0);
  delivered_ = 0;
}
