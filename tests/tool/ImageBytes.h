// Small image files built in memory for the tool tests.
#pragma once

#include <jpeglib.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace image_bytes {

inline void PutBe32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

inline std::string Chunk(const std::string& type, const std::string& data) {
  std::string body = type + data;
  std::string out;
  PutBe32(out, static_cast<uint32_t>(data.size()));
  out += body;
  PutBe32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
  return out;
}

// A complete PNG of the given kind: every pixel byte 0x80, unfiltered rows.
// The size written in the header may differ from the rows given
// (`rowsWidth`/`rowsHeight`, 0 for the same).
inline std::string MakePng(uint32_t width, uint32_t height, int bitDepth = 8, int colorType = 6, uint32_t rowsWidth = 0,
                           uint32_t rowsHeight = 0) {
  std::string ihdr;
  PutBe32(ihdr, width);
  PutBe32(ihdr, height);
  ihdr += static_cast<char>(bitDepth);
  ihdr += static_cast<char>(colorType);
  ihdr += std::string(3, '\0');
  const int channels = colorType == 0 || colorType == 3 ? 1 : colorType == 2 ? 3 : colorType == 4 ? 2 : 4;
  const uint32_t w = rowsWidth ? rowsWidth : width, h = rowsHeight ? rowsHeight : height;
  std::string raw;
  for (uint32_t y = 0; y < h; ++y) {
    raw += '\0';
    raw += std::string(static_cast<size_t>(w) * channels * bitDepth / 8, '\x80');
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
           static_cast<uLong>(raw.size()));
  packed.resize(size);
  std::string out = "\x89PNG\r\n\x1a\n";
  out += Chunk("IHDR", ihdr);
  if (colorType == 3) out += Chunk("PLTE", std::string(3 * 256, '\x40'));
  out += Chunk("IDAT", packed);
  out += Chunk("IEND", "");
  return out;
}

// A small baseline JPEG (grey 8x8).
inline std::string MakeJpeg() {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = 8;
  cinfo.image_height = 8;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  unsigned char row[8 * 3];
  for (unsigned char& c : row) c = 0x80;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string out(reinterpret_cast<char*>(buffer), size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return out;
}

}  // namespace image_bytes
