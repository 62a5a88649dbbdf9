#include "graphics/Jpg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "files/File.h"
#include "graphics/Surface.h"

namespace {

// Slack after the file data in the read buffer.
constexpr size_t kBufferSlack = 4096;
// Working memory the decoder may take (progressive images keep all their
// coefficients); beyond it the decode fails instead of growing.
constexpr long kMaxDecoderMemory = 512L * 1024 * 1024;

struct CErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  // The decoder needed data past the end of the scan: the file was cut.
  bool dataMissing;
};

void OnJpegError(j_common_ptr cinfo) {
  CErrorManager* errors = reinterpret_cast<CErrorManager*>(cinfo->err);
  std::longjmp(errors->jump, 1);
}
void OnJpegMessage(j_common_ptr) {}
void OnJpegWarning(j_common_ptr cinfo, int level) {
  CErrorManager* errors = reinterpret_cast<CErrorManager*>(cinfo->err);
  if (level < 0 && (errors->base.msg_code == JWRN_HIT_MARKER || errors->base.msg_code == JWRN_JPEG_EOF))
    errors->dataMissing = true;
}

// The whole file is in memory. Its end reads as one end-of-image marker, as
// the library's own readers do, so a file that lacks only that marker
// decodes; a file cut inside the picture fails (the decoder then needs bits
// past the marker) instead of decoding into grey.
const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};
void InitSource(j_decompress_ptr) {}
boolean FillInput(j_decompress_ptr cinfo) {
  jpeg_source_mgr* src = cinfo->src;
  if (src->next_input_byte == kEndOfImage + 2) ERREXIT(cinfo, JERR_INPUT_EOF);
  src->next_input_byte = kEndOfImage;
  src->bytes_in_buffer = 2;
  return TRUE;
}
void SkipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (size_t(count) > src->bytes_in_buffer) ERREXIT(cinfo, JERR_INPUT_EOF);
  src->next_input_byte += count;
  src->bytes_in_buffer -= size_t(count);
}
void TermSource(j_decompress_ptr) {}

// Decodes into the target. Everything here that a library error could jump
// over is plain data; the caller owns the buffer and the decompressor is
// released on both paths.
bool Decode(jpeg_decompress_struct* cinfo, CErrorManager* errors, jpeg_source_mgr* source, const uint8_t* data,
            size_t size, ISurface* target, bool* locked) {
  if (setjmp(errors->jump)) return true;
  jpeg_create_decompress(cinfo);
  cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
  source->init_source = InitSource;
  source->fill_input_buffer = FillInput;
  source->skip_input_data = SkipInput;
  source->resync_to_restart = jpeg_resync_to_restart;
  source->term_source = TermSource;
  source->next_input_byte = data;
  source->bytes_in_buffer = size;
  cinfo->src = source;

  jpeg_read_header(cinfo, TRUE);
  if (cinfo->image_width == 0 || cinfo->image_height == 0 ||
      !CSurface::IsAcceptedSize(cinfo->image_width, cinfo->image_height))
    return true;
  // Huffman coding spends at least one bit on every block of the first scan
  // of a component, and every component has at least one block per MCU: a
  // file too small for that many MCUs cannot hold the image it claims, and
  // is refused before the image is allocated. Arithmetic coding has no such
  // floor and is not accepted.
  if (cinfo->arith_code) return true;
  int maxH = 1, maxV = 1;
  for (int c = 0; c < cinfo->num_components; ++c) {
    maxH = std::max(maxH, cinfo->comp_info[c].h_samp_factor);
    maxV = std::max(maxV, cinfo->comp_info[c].v_samp_factor);
  }
  const uint64_t mcus = ((uint64_t(cinfo->image_width) + 8 * maxH - 1) / (8 * maxH)) *
                        ((uint64_t(cinfo->image_height) + 8 * maxV - 1) / (8 * maxV));
  if (mcus > uint64_t(size) * 8) return true;
  int format;
  if (cinfo->num_components == 3) {
    format = ISurface::PIXEL_BITS_32;
#ifdef JCS_EXTENSIONS
    cinfo->out_color_space = JCS_EXT_BGRA;
#else
    cinfo->out_color_space = JCS_RGB;
#endif
  } else if (cinfo->num_components == 1) {
    format = ISurface::PIXEL_BITS_8;
    cinfo->out_color_space = JCS_GRAYSCALE;
  } else {
    return true;
  }
  jpeg_start_decompress(cinfo);
  const int width = int(cinfo->output_width);
  const int height = int(cinfo->output_height);
  if (target->Create(width, height, format)) return true;
  target->Lock();
  *locked = true;
  while (cinfo->output_scanline < cinfo->output_height) {
    uint8_t* row = target->GetLine(int(cinfo->output_scanline));
    if (!row) return true;
    JSAMPROW rows[1] = {row};
#if !defined(JCS_EXTENSIONS)
    if (format == ISurface::PIXEL_BITS_32) {
      // RGB arrives packed in the first three quarters of the row; spread
      // it from the end so nothing is overwritten before it is read.
      if (jpeg_read_scanlines(cinfo, rows, 1) != 1) return true;
      for (int x = width - 1; x >= 0; --x) {
        const uint8_t r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
        row[4 * x] = b;
        row[4 * x + 1] = g;
        row[4 * x + 2] = r;
        row[4 * x + 3] = 255;
      }
      continue;
    }
#endif
    if (jpeg_read_scanlines(cinfo, rows, 1) != 1) return true;
  }
  return errors->dataMissing;
}

}  // namespace

bool CJpg::Load(ISurface* target, CFile* file) {
  if (!target || !file) return true;
  const int position = file->Tell();
  const int fileSize = file->GetSize();
  if (position < 0 || fileSize <= position || fileSize - position > kMaxFileBytes) return true;
  const size_t size = size_t(fileSize - position);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size + kBufferSlack]);
  if (!buffer) return true;
  size_t got = 0;
  while (got < size) {
    const int n = file->Read(buffer.get() + got, unsigned(size - got));
    if (n <= 0) break;
    got += size_t(n);
  }
  if (got < 2 || buffer[0] != 0xFF || buffer[1] != 0xD8) return true;

  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  CErrorManager errors;
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = OnJpegError;
  errors.base.output_message = OnJpegMessage;
  errors.base.emit_message = OnJpegWarning;
  errors.dataMissing = false;
  jpeg_source_mgr source;
  std::memset(&source, 0, sizeof source);
  bool locked = false;
  const bool failed = Decode(&cinfo, &errors, &source, buffer.get(), got, target, &locked);
  if (locked) target->Unlock();
  // Nothing is left to read once every scanline is out; releasing the
  // decompressor here also covers a missing end-of-image marker.
  jpeg_destroy_decompress(&cinfo);
  return failed;
}
