// Blend kernels and image loaders at 1280x720.
//
// Kernels: each BM_Kernel case composes a full frame with one kernel; the
// yardsticks are BM_Memcpy (a plain copy of the frame) and BM_Pixman (the
// nearest pixman operator on the same frame). Targets: the opaque format-2
// normal kernel at most 1.5x pixman OVER, the opaque format-1 normal kernel
// (a row copy) at most 1.2x memcpy.
//
// Loaders: BM_PngLoad / BM_JpegLoad decode an in-memory 1280x720 image into
// a surface through the engine's loader; BM_PngBare / BM_JpegBare decode the
// same bytes with the bare library into a plain buffer, in the library's
// native layout (RGB or RGBA), allocated per image as a loader's surface is.
// Target: the loaders at most 10% over the bare decode.
//
// Report every figure as a ratio against its baseline from the same run.

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <pixman.h>
#include <png.h>

#include <csetjmp>
#include <memory>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "graphics/Blend.h"
#include "graphics/Jpg.h"
#include "files/MemoryFile.h"
#include "graphics/Png.h"
#include "graphics/PngWriter.h"
#include "graphics/Surface.h"

namespace {

constexpr int kW = 1280;
constexpr int kH = 720;

uint32_t Next(uint32_t& seed) {
  seed = seed * 1664525u + 1013904223u;
  return seed >> 8;
}

// A photo-like picture: smooth gradients with a little grain, and an alpha
// channel mixing opaque, transparent and partial areas.
std::vector<uint8_t> Picture(int channels) {
  std::vector<uint8_t> out(size_t(kW) * kH * channels);
  uint32_t seed = 1;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      uint8_t* p = &out[(size_t(y) * kW + x) * channels];
      const int grain = int(Next(seed) % 9) - 4;
      const int values[4] = {x * 255 / kW + grain, y * 255 / kH + grain, (x + y) * 255 / (kW + kH) + grain,
                             x < kW / 3       ? 255
                             : x < 2 * kW / 3 ? (y * 255 / kH)
                                              : 0};
      for (int c = 0; c < channels; ++c) p[c] = uint8_t(values[c] < 0 ? 0 : values[c] > 255 ? 255 : values[c]);
    }
  return out;
}

struct Frames {
  CSurface src1, src2, dst;
  Frames() {
    src1.Create(kW, kH, 1);
    src2.Create(kW, kH, 2);
    dst.Create(kW, kH, 1);
    const std::vector<uint8_t> pic = Picture(4);
    std::memcpy(src1.GetLine(0), pic.data(), pic.size());
    std::memcpy(src2.GetLine(0), pic.data(), pic.size());
    std::memcpy(dst.GetLine(0), pic.data(), pic.size());
  }
};

Frames& GetFrames() {
  static Frames frames;
  return frames;
}

void BM_Memcpy(benchmark::State& state) {
  Frames& f = GetFrames();
  for (auto _ : state) {
    std::memcpy(f.dst.GetLine(0), f.src1.GetLine(0), size_t(kW) * kH * 4);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_Memcpy);

// range(0): mode, range(1): source format, range(2): opacity.
void BM_Kernel(benchmark::State& state) {
  Frames& f = GetFrames();
  CSurface& src = state.range(1) == 1 ? f.src1 : f.src2;
  const CBlitRect rect = ClipBlit(CRect(0, 0, kW, kH), CRect(0, 0, kW, kH));
  for (auto _ : state) {
    BlendBlit(&f.dst, &src, rect, int(state.range(0)), int(state.range(1)), int(state.range(2)), 0x00FF00FF);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_Kernel)->ArgNames({"mode", "format", "opacity"})->ArgsProduct({{0, 1, 2, 3, 4}, {1, 2}, {255, 128}});

// range(0): pixman operator, range(1): source has alpha, range(2): opacity
// (below 255 a solid mask of that alpha, pixman's way to fade a source).
void BM_Pixman(benchmark::State& state) {
  Frames& f = GetFrames();
  const pixman_op_t op = pixman_op_t(state.range(0));
  const bool alpha = state.range(1) != 0;
  CSurface& src = alpha ? f.src2 : f.src1;
  pixman_image_t* s = pixman_image_create_bits(alpha ? PIXMAN_a8r8g8b8 : PIXMAN_x8r8g8b8, kW, kH,
                                               reinterpret_cast<uint32_t*>(src.GetLine(0)), kW * 4);
  pixman_image_t* d =
      pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, reinterpret_cast<uint32_t*>(f.dst.GetLine(0)), kW * 4);
  pixman_image_t* mask = nullptr;
  if (state.range(2) < 255) {
    const pixman_color_t color = {0, 0, 0, uint16_t(state.range(2) * 257)};
    mask = pixman_image_create_solid_fill(&color);
  }
  for (auto _ : state) {
    pixman_image_composite32(op, s, mask, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  if (mask) pixman_image_unref(mask);
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_Pixman)
    ->ArgNames({"op", "alpha", "opacity"})
    ->ArgsProduct({{PIXMAN_OP_SRC, PIXMAN_OP_OVER, PIXMAN_OP_ADD, PIXMAN_OP_MULTIPLY, PIXMAN_OP_SCREEN},
                   {0, 1},
                   {255, 128}});

// ---- Loaders ------------------------------------------------------------

std::vector<uint8_t> EncodePng(int channels) {
  const std::vector<uint8_t> pic = Picture(channels);
  PngImage image;
  image.width = kW;
  image.height = kH;
  image.colorType = channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
  image.pixels = pic.data();
  image.pitch = size_t(kW) * channels;
  std::vector<uint8_t> out;
  if (EncodePng(image, out)) std::abort();
  return out;
}

std::vector<uint8_t> EncodeJpeg() {
  const std::vector<uint8_t> pic = Picture(3);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = kW;
  cinfo.image_height = kH;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pic.data() + size_t(cinfo.next_scanline) * kW * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  free(buffer);
  return out;
}

const std::vector<uint8_t>& PngBytes(int channels) {
  static const std::vector<uint8_t> rgb = EncodePng(3);
  static const std::vector<uint8_t> rgba = EncodePng(4);
  return channels == 4 ? rgba : rgb;
}

const std::vector<uint8_t>& JpegBytes() {
  static const std::vector<uint8_t> bytes = EncodeJpeg();
  return bytes;
}

struct MemoryReader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

void ReadMemory(png_structp png, png_bytep out, size_t length) {
  auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (length > r->size - r->pos) png_error(png, "eof");
  std::memcpy(out, r->data + r->pos, length);
  r->pos += length;
}

// range(0): channels (3 RGB, 4 RGBA).
void BM_PngBare(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = PngBytes(int(state.range(0)));
  std::vector<png_bytep> rows(kH);
  for (auto _ : state) {
    // A fresh buffer per image, as a loader gets a fresh surface.
    std::unique_ptr<uint8_t[]> pixels(new uint8_t[size_t(kW) * kH * state.range(0)]);
    for (int y = 0; y < kH; ++y) rows[size_t(y)] = pixels.get() + size_t(y) * kW * state.range(0);
    MemoryReader reader{bytes.data(), bytes.size(), 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
      state.SkipWithError("decode failed");
      png_destroy_read_struct(&png, &info, nullptr);
      break;
    }
    png_set_read_fn(png, &reader, ReadMemory);
    png_read_info(png, info);
    png_read_update_info(png, info);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::DoNotOptimize(pixels.get());
  }
}
BENCHMARK(BM_PngBare)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_PngLoad(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = PngBytes(int(state.range(0)));
  CSurface surface;
  CPng loader;
  for (auto _ : state) {
    CMemoryFile file(bytes.data(), bytes.size());
    if (loader.Load(&surface, &file)) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(surface.GetLine(0));
  }
}
BENCHMARK(BM_PngLoad)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_JpegBare(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = JpegBytes();
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> pixels(new uint8_t[size_t(kW) * kH * 3]);
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = pixels.get() + size_t(cinfo.output_scanline) * kW * 3;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(pixels.get());
  }
}
BENCHMARK(BM_JpegBare)->Unit(benchmark::kMillisecond);

void BM_JpegLoad(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = JpegBytes();
  CSurface surface;
  CJpg loader;
  for (auto _ : state) {
    CMemoryFile file(bytes.data(), bytes.size());
    if (loader.Load(&surface, &file)) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(surface.GetLine(0));
  }
}
BENCHMARK(BM_JpegLoad)->Unit(benchmark::kMillisecond);

}  // namespace
