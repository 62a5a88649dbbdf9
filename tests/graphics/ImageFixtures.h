// Encoders for small test images, so the fixtures are made by the tests.
#pragma once

#include <jpeglib.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace fixtures {

inline void AppendBytes(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
inline void NoFlush(png_structp) {}

// Encodes a PNG. pixels holds rows of width * channels * (depth / 8) bytes,
// channels following the colour type (palette images use one index byte).
inline std::vector<uint8_t> EncodePng(int width, int height, int colorType, int bitDepth,
                                      const std::vector<uint8_t>& pixels, bool interlaced = false) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bitDepth, colorType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = {png_byte(i), png_byte(255 - i), png_byte(i / 2)};
    png_set_PLTE(png, info, palette, 256);
  }
  png_write_info(png, info);
  const int channels = colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_PALETTE ? 1
                       : colorType == PNG_COLOR_TYPE_GRAY_ALPHA                                ? 2
                       : colorType == PNG_COLOR_TYPE_RGB                                       ? 3
                                                                                               : 4;
  const size_t rowBytes = size_t(width) * channels * (bitDepth / 8 ? bitDepth / 8 : 1);
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) rows[size_t(y)] = const_cast<png_bytep>(pixels.data() + rowBytes * y);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

// Encodes a JPEG with 1 (grey) or 3 (RGB) components at the given quality.
inline std::vector<uint8_t> EncodeJpeg(int width, int height, int components, const std::vector<uint8_t>& pixels,
                                       int quality = 95, bool progressive = false) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + size_t(cinfo.next_scanline) * width * components);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  free(buffer);
  return out;
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Deterministic pseudo-random bytes.
inline std::vector<uint8_t> Noise(size_t count, uint32_t seed) {
  std::vector<uint8_t> out(count);
  for (auto& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = uint8_t(seed >> 24);
  }
  return out;
}

}  // namespace fixtures
