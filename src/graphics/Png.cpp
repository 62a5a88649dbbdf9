#include "graphics/Png.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "files/File.h"
#include "graphics/Surface.h"

namespace {

const uint8_t kSignature[4] = {0x89, 'P', 'N', 'G'};

// Deflate never expands data by more than about 1032 to 1: an image whose
// rows need far more bytes than its file could ever inflate to is a lie, and
// is refused before anything is allocated for it.
constexpr uint64_t kMaxInflateRatio = 1032;

// Floor of the memory one ancillary chunk (text, colour profile) may take.
constexpr int kMaxChunkBytes = 8 * 1024 * 1024;

void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnPngWarning(png_structp, png_const_charp) {}

void ReadFromFile(png_structp png, png_bytep data, size_t length) {
  CFile* file = static_cast<CFile*>(png_get_io_ptr(png));
  size_t done = 0;
  while (done < length) {
    const unsigned chunk = unsigned(std::min<size_t>(length - done, 1u << 30));
    const int got = file->Read(data + done, chunk);
    if (got <= 0) png_error(png, "unexpected end of file");
    done += size_t(got);
  }
}

struct Header {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colorType = 0;
  int interlace = 0;
};

// The two steps that may raise library errors. Their frames hold nothing
// that needs a destructor, so the jump out of libpng skips no cleanup.
bool ReadHeader(png_structp png, png_infop info, Header* header) {
  if (setjmp(png_jmpbuf(png))) return true;
  png_read_info(png, info);
  png_get_IHDR(png, info, &header->width, &header->height, &header->bitDepth, &header->colorType, &header->interlace,
               nullptr, nullptr);
  return false;
}

bool ReadPixels(png_structp png, png_infop info, png_bytep* rows, int colorType) {
  if (setjmp(png_jmpbuf(png))) return true;
  // RGB arrives as packed R, G, B in the first three quarters of each row
  // and is spread into B, G, R, 255 afterwards (one pass instead of two
  // library transforms).
  if (colorType == PNG_COLOR_TYPE_RGB_ALPHA) png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return false;
}

// Packed R, G, B (3 bytes a pixel) into B, G, R, 255 in place, from the
// end so that nothing is overwritten before it is read.
// Four pixels a step: their 12 source bytes are read before the 16
// destination bytes are written, and a group's destination never reaches
// below its own source, so the rows of lower pixels stay intact.
void SpreadRgb(uint8_t* row, int width) {
  const int groups = width / 4;
  for (int x = width - 1; x >= groups * 4; --x) {
    const uint8_t r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
    row[4 * x] = b;
    row[4 * x + 1] = g;
    row[4 * x + 2] = r;
    row[4 * x + 3] = 255;
  }
  for (int group = groups - 1; group >= 0; --group) {
    uint8_t in[12];
    std::memcpy(in, row + 12 * size_t(group), 12);
    const uint8_t out[16] = {in[2], in[1], in[0], 255, in[5],  in[4],  in[3], 255,
                             in[8], in[7], in[6], 255, in[11], in[10], in[9], 255};
    std::memcpy(row + 16 * size_t(group), out, 16);
  }
}

int FormatFor(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY: return ISurface::PIXEL_BITS_8;
    case PNG_COLOR_TYPE_RGB: return ISurface::PIXEL_BITS_32;
    case PNG_COLOR_TYPE_RGB_ALPHA: return ISurface::PIXEL_BITS_32A;
    default: return -1;
  }
}

class CPngReader {
 public:
  CPngReader() {
    m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (m_png) m_info = png_create_info_struct(m_png);
  }
  ~CPngReader() {
    if (m_png) png_destroy_read_struct(&m_png, m_info ? &m_info : nullptr, nullptr);
  }
  png_structp png() const { return m_png; }
  png_infop info() const { return m_info; }

 private:
  png_structp m_png = nullptr;
  png_infop m_info = nullptr;
};

}  // namespace

bool CPng::Load(ISurface* target, CFile* file) {
  if (!target || !file) return true;
  uint8_t head[16];
  if (file->Read(head, sizeof head) != int(sizeof head)) return true;
  if (std::memcmp(head, kSignature, 4) != 0 || std::memcmp(head + 12, "IHDR", 4) != 0) return true;
  if (file->Seek(-16, 1) != 0) return true;
  const int start = file->Tell();
  const int size = file->GetSize();

  CPngReader reader;
  if (!reader.png() || !reader.info()) return true;
  png_set_user_limits(reader.png(), kMaxSide, kMaxSide);
  // The decode uses no ancillary chunk but transparency, and libpng reads a
  // handled chunk whole into memory, trusting its length field: skip them
  // all (skipped chunks are read through, not buffered), and bound what is
  // still buffered by the file's size.
  png_set_keep_unknown_chunks(reader.png(), PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  const png_alloc_size_t chunkLimit = png_alloc_size_t(std::max(kMaxChunkBytes, size > start ? size - start : 0));
  png_set_chunk_malloc_max(reader.png(), chunkLimit);
  png_set_read_fn(reader.png(), file, ReadFromFile);

  Header header;
  if (ReadHeader(reader.png(), reader.info(), &header)) return true;
  const int format = FormatFor(header.colorType);
  if (header.bitDepth != 8 || format < 0) return true;
  if (header.width == 0 || header.height == 0 || !CSurface::IsAcceptedSize(header.width, header.height)) return true;

  const uint64_t channels = header.colorType == PNG_COLOR_TYPE_GRAY  ? 1
                            : header.colorType == PNG_COLOR_TYPE_RGB ? 3
                                                                     : 4;
  const uint64_t rawBytes = uint64_t(header.height) * (uint64_t(header.width) * channels + 1);
  if (start >= 0 && size > start && rawBytes > uint64_t(size - start) * kMaxInflateRatio) return true;

  if (target->Create(int(header.width), int(header.height), format)) return true;
  target->Lock();
  std::vector<png_bytep> rows(header.height);
  bool missingRow = false;
  for (png_uint_32 y = 0; y < header.height; ++y) {
    rows[y] = target->GetLine(int(y));
    if (!rows[y]) missingRow = true;
  }
  const bool failed = missingRow || ReadPixels(reader.png(), reader.info(), rows.data(), header.colorType);
  if (!failed && header.colorType == PNG_COLOR_TYPE_RGB) {
    for (png_bytep row : rows) SpreadRgb(row, int(header.width));
  }
  target->Unlock();
  return failed;
}

bool PngHeaderUnsupported(const void* header, size_t size, std::string* reason) {
  auto say = [reason](const char* text) {
    if (reason) *reason = text;
    return true;
  };
  const uint8_t* p = static_cast<const uint8_t*>(header);
  static const uint8_t kFullSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (!p || size < 26) return say("too short for a PNG header");
  if (std::memcmp(p, kFullSignature, 8) != 0) return say("not a PNG file");
  if (std::memcmp(p + 12, "IHDR", 4) != 0) return say("no IHDR chunk first");
  const int bitDepth = p[24];
  const int colorType = p[25];
  switch (colorType) {
    case 3: return say("palette image (convert it to RGB or RGBA)");
    case 4: return say("grey with alpha (convert it to RGBA)");
    case 0:
    case 2:
    case 6: break;
    default: return say("unknown colour type");
  }
  if (bitDepth == 16) return say("16-bit channels (convert it to 8 bits)");
  if (bitDepth != 8) return say("bit depth below 8 (convert it to 8 bits)");
  if (reason) reason->clear();
  return false;
}
