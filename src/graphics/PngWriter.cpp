#include "graphics/PngWriter.h"

#include <png.h>

#include <csetjmp>

#include "graphics/Surface.h"

namespace {

void AppendBytes(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void NoFlush(png_structp) {}

int Channels(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 0;
  }
}

// libpng reports errors by longjmp: nothing with a destructor may live in
// the frame that calls setjmp.
bool Encode(const PngImage& image, std::vector<png_bytep>& rows, std::vector<uint8_t>& bytes) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    return true;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return true;
  }
  png_set_write_fn(png, &bytes, AppendBytes, NoFlush);
  png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), image.bitDepth, image.colorType,
               image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (image.colorType == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[256];
    const int entries = static_cast<int>(image.palette.size() / 3 > 256 ? 256 : image.palette.size() / 3);
    for (int i = 0; i < entries; ++i)
      palette[i] = {image.palette[size_t(i) * 3], image.palette[size_t(i) * 3 + 1], image.palette[size_t(i) * 3 + 2]};
    png_set_PLTE(png, info, palette, entries);
  }
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return false;
}

}  // namespace

bool EncodePng(const PngImage& image, std::vector<uint8_t>& out) {
  const int channels = Channels(image.colorType);
  if (image.width <= 0 || image.height <= 0 || channels == 0 || !image.pixels) return true;
  const size_t bits = size_t(image.width) * size_t(channels) * size_t(image.bitDepth);
  if (image.pitch < (bits + 7) / 8) return true;
  std::vector<png_bytep> rows(static_cast<size_t>(image.height));
  for (int y = 0; y < image.height; ++y)
    rows[size_t(y)] = const_cast<png_bytep>(image.pixels + image.pitch * size_t(y));
  std::vector<uint8_t> bytes;
  if (Encode(image, rows, bytes)) return true;
  out.insert(out.end(), bytes.begin(), bytes.end());
  return false;
}

bool EncodeBgraAsRgbPng(const uint8_t* bgra, int width, int height, std::vector<uint8_t>& out) {
  if (!bgra || width <= 0 || height <= 0) return true;
  std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
  for (size_t i = 0, n = size_t(width) * size_t(height); i < n; ++i) {
    rgb[i * 3 + 0] = bgra[i * 4 + 2];
    rgb[i * 3 + 1] = bgra[i * 4 + 1];
    rgb[i * 3 + 2] = bgra[i * 4 + 0];
  }
  PngImage image;
  image.width = width;
  image.height = height;
  image.colorType = PNG_COLOR_TYPE_RGB;
  image.pixels = rgb.data();
  image.pitch = size_t(width) * 3;
  return EncodePng(image, out);
}

bool EncodePng(ISurface* surface, std::vector<uint8_t>& out) {
  if (!surface) return true;
  const int format = surface->GetFormat();
  if (!IsValidPixelFormat(format)) return true;
  const int width = surface->GetWidth();
  const int height = surface->GetHeight();
  // PNG has no empty images.
  if (width <= 0 || height <= 0) return true;
  const int channels = format == ISurface::PIXEL_BITS_8 ? 1 : format == ISurface::PIXEL_BITS_32 ? 3 : 4;
  const size_t pitch = size_t(width) * size_t(channels);
  std::vector<uint8_t> pixels(pitch * size_t(height));
  surface->Lock();
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = surface->GetLine(y);
    uint8_t* dst = pixels.data() + pitch * size_t(y);
    if (!src) continue;
    for (int x = 0; x < width; ++x) {
      if (channels == 1) {
        dst[x] = src[x];
        continue;
      }
      const uint8_t* p = src + 4 * x;
      uint8_t* q = dst + size_t(x) * size_t(channels);
      q[0] = p[2];
      q[1] = p[1];
      q[2] = p[0];
      if (channels == 4) q[3] = p[3];
    }
  }
  surface->Unlock();
  PngImage image;
  image.width = width;
  image.height = height;
  image.colorType = channels == 1 ? PNG_COLOR_TYPE_GRAY : channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA;
  image.pixels = pixels.data();
  image.pitch = pitch;
  out.clear();
  return EncodePng(image, out);
}
