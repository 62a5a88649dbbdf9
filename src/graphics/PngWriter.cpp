#include "graphics/PngWriter.h"

#include <png.h>

#include "graphics/Surface.h"

namespace {

void AppendBytes(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void NoFlush(png_structp) {}

// Rows converted from the surface's B, G, R, A bytes to PNG order, made
// before libpng starts so that its error jump never skips a destructor.
std::vector<std::vector<uint8_t>> ConvertRows(ISurface* surface, int format) {
  const int width = surface->GetWidth();
  const int height = surface->GetHeight();
  const int channels = format == ISurface::PIXEL_BITS_8 ? 1 : format == ISurface::PIXEL_BITS_32 ? 3 : 4;
  std::vector<std::vector<uint8_t>> rows(size_t(height), std::vector<uint8_t>(size_t(width) * size_t(channels)));
  surface->Lock();
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = surface->GetLine(y);
    std::vector<uint8_t>& dst = rows[size_t(y)];
    if (!src) continue;
    for (int x = 0; x < width; ++x) {
      if (channels == 1) {
        dst[size_t(x)] = src[x];
      } else {
        const uint8_t* p = src + 4 * x;
        uint8_t* q = dst.data() + size_t(x) * size_t(channels);
        q[0] = p[2];
        q[1] = p[1];
        q[2] = p[0];
        if (channels == 4) q[3] = p[3];
      }
    }
  }
  surface->Unlock();
  return rows;
}

}  // namespace

bool EncodePng(ISurface* surface, std::vector<uint8_t>& out) {
  if (!surface) return true;
  const int format = surface->GetFormat();
  if (!IsValidPixelFormat(format)) return true;
  const int width = surface->GetWidth();
  const int height = surface->GetHeight();
  // PNG has no empty images.
  if (width <= 0 || height <= 0) return true;
  std::vector<std::vector<uint8_t>> rows = ConvertRows(surface, format);
  std::vector<png_bytep> rowPointers(rows.size());
  for (size_t y = 0; y < rows.size(); ++y) rowPointers[y] = rows[y].data();
  const int colorType = format == ISurface::PIXEL_BITS_8    ? PNG_COLOR_TYPE_GRAY
                        : format == ISurface::PIXEL_BITS_32 ? PNG_COLOR_TYPE_RGB
                                                            : PNG_COLOR_TYPE_RGBA;

  out.clear();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    return true;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    out.clear();
    return true;
  }
  png_set_write_fn(png, &out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, colorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rowPointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return false;
}
