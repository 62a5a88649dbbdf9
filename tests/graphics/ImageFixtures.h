// Encoders for small test images, so the fixtures are made by the tests.
#pragma once

#include <jpeglib.h>
#include <png.h>

#include "graphics/PngWriter.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace fixtures {

// Encodes a PNG. pixels holds rows of width * channels * (depth / 8) bytes,
// channels following the colour type (palette images use one index byte).
inline std::vector<uint8_t> EncodePng(int width, int height, int colorType, int bitDepth,
                                      const std::vector<uint8_t>& pixels, bool interlaced = false) {
  const int channels = colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_PALETTE ? 1
                       : colorType == PNG_COLOR_TYPE_GRAY_ALPHA                                ? 2
                       : colorType == PNG_COLOR_TYPE_RGB                                       ? 3
                                                                                               : 4;
  PngImage image;
  image.width = width;
  image.height = height;
  image.colorType = colorType;
  image.bitDepth = bitDepth;
  image.interlaced = interlaced;
  image.pixels = pixels.data();
  image.pitch = size_t(width) * channels * (bitDepth / 8 ? bitDepth / 8 : 1);
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    for (int i = 0; i < 256; ++i)
      image.palette.insert(image.palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
  }
  std::vector<uint8_t> out;
  if (EncodePng(image, out)) return {};
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
