#include "sound/Vorbis.h"

#include <climits>
#include <cstring>

namespace {

// Consecutive decoder errors tolerated inside one Read before it gives up.
constexpr int kMaxDecodeErrors = 64;

}  // namespace

CVorbis::~CVorbis() { CloseStream(); }

size_t CVorbis::ReadCallback(void* ptr, size_t size, size_t count, void* source) {
  auto* self = static_cast<CVorbis*>(source);
  if (size == 0 || count == 0) return 0;
  size_t left = self->cursor_ < self->data_.size() ? self->data_.size() - self->cursor_ : 0;
  size_t want = size * count;
  if (want / size != count || want > left) want = left;
  want -= want % size;
  if (want) std::memcpy(ptr, self->data_.data() + self->cursor_, want);
  self->cursor_ += want;
  return want / size;
}

int CVorbis::SeekCallback(void* source, ogg_int64_t offset, int whence) {
  auto* self = static_cast<CVorbis*>(source);
  ogg_int64_t base = 0;
  switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<ogg_int64_t>(self->cursor_); break;
    case SEEK_END: base = static_cast<ogg_int64_t>(self->data_.size()); break;
    default: return -1;
  }
  ogg_int64_t size = static_cast<ogg_int64_t>(self->data_.size());
  if (offset > size || offset < -size) return -1;
  ogg_int64_t target = base + offset;
  if (target < 0 || target > size) return -1;
  self->cursor_ = static_cast<size_t>(target);
  return 0;
}

int CVorbis::CloseCallback(void*) { return 0; }

long CVorbis::TellCallback(void* source) { return static_cast<long>(static_cast<CVorbis*>(source)->cursor_); }

bool CVorbis::OpenStream() {
  cursor_ = 0;
  ov_callbacks callbacks{&CVorbis::ReadCallback, &CVorbis::SeekCallback, &CVorbis::CloseCallback,
                         &CVorbis::TellCallback};
  if (ov_open_callbacks(this, &vf_, nullptr, 0, callbacks) != 0) return true;
  streamOpen_ = true;
  return false;
}

void CVorbis::CloseStream() {
  if (streamOpen_) ov_clear(&vf_);
  streamOpen_ = false;
}

bool CVorbis::Open(std::shared_ptr<CFile> file) {
  CloseStream();
  data_.clear();
  file_ = std::move(file);
  if (!file_) return true;
  int size = file_->GetSize();
  if (size <= 0) return true;
  // Read what the file actually holds, in pieces, rather than trusting the
  // size for one allocation.
  constexpr size_t kPiece = 1 << 16;
  size_t total = static_cast<size_t>(size);
  data_.reserve(total < (16u << 20) ? total : (16u << 20));
  while (data_.size() < total) {
    size_t want = total - data_.size() < kPiece ? total - data_.size() : kPiece;
    size_t at = data_.size();
    data_.resize(at + want);
    int got = file_->Read(data_.data() + at, static_cast<unsigned>(want));
    data_.resize(at + (got > 0 ? static_cast<size_t>(got) : 0));
    if (got <= 0) break;
  }
  if (OpenStream()) {
    std::vector<uint8_t>().swap(data_);
    return true;
  }
  vorbis_info* info = ov_info(&vf_, -1);
  if (!info || info->channels <= 0 || info->rate <= 0 || info->rate > INT_MAX) {
    CloseStream();
    std::vector<uint8_t>().swap(data_);
    return true;
  }
  sampleRate_ = static_cast<int>(info->rate);
  channels_ = info->channels;
  ogg_int64_t frames = ov_pcm_total(&vf_, -1);
  ogg_int64_t bytes = frames > 0 ? frames * channels_ * 2 : 0;
  if (bytes < 0 || bytes > INT_MAX) bytes = INT_MAX;
  dataSize_ = static_cast<int>(bytes);
  return false;
}

int CVorbis::Read(void* buffer, int count) {
  if (!streamOpen_) return -1;
  if (count <= 0) return 0;
  char* out = static_cast<char*>(buffer);
  int total = 0;
  int errors = 0;
  while (total < count) {
    int link = 0;
    long got = ov_read(&vf_, out + total, count - total, 0, 2, 1, &link);
    if (got == 0) break;
    if (got < 0) {
      // A gap in the stream: skip it; anything worse ends the sound here.
      if (got == OV_HOLE && ++errors < kMaxDecodeErrors) continue;
      break;
    }
    errors = 0;
    // A chained stream whose later part has another channel layout would be
    // played as noise in this one's format: the sound ends where it begins.
    vorbis_info* info = ov_info(&vf_, link);
    if (!info || info->channels != channels_) break;
    total += static_cast<int>(got);
  }
  return total;
}

void CVorbis::Rewind() {
  if (data_.empty()) return;
  CloseStream();
  OpenStream();
}
