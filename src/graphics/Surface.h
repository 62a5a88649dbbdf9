// Surfaces hold pixels. Formats: 0 = 8-bit alpha or grey, 1 = 32-bit colour
// with an unused alpha byte, 2 = 32-bit colour with straight alpha. A 32-bit
// pixel is the bytes B, G, R, A in memory (a little-endian 0xAARRGGBB word).
#pragma once

#include <cstdint>
#include <memory>

#include "core/Geometry.h"

class ISurface : public virtual ISize {
 public:
  enum PIXEL_BITS : int {
    PIXEL_BITS_8 = 0,    // 8-bit alpha or grey value
    PIXEL_BITS_32 = 1,   // 32-bit colour, alpha byte unused
    PIXEL_BITS_32A = 2,  // 32-bit colour with alpha
  };

  // Returns true on failure.
  virtual bool Create(int width, int height, int format) = 0;
  virtual int GetFormat() const = 0;
  virtual int GetBytesPerPixel() const = 0;
  virtual int GetPitch() const = 0;
  // Pixel access is valid only between Lock and Unlock.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  // First byte of row y; none without pixels or for a row outside the surface.
  virtual uint8_t* GetLine(int y) = 0;
  virtual void Fill(uint32_t value) = 0;
  virtual void Clear() = 0;
};

// A surface in memory: rows top-down without padding.
class CSurface : public ISurface {
 public:
  // Largest side and largest area accepted by Create; bigger requests fail
  // instead of attempting a huge allocation. Long strips (the frames of an
  // animation side by side) are fine.
  static constexpr int kMaxSide = 65536;
  static constexpr int64_t kMaxPixels = int64_t{16384} * 16384;
  // True for a size Create accepts.
  static bool IsAcceptedSize(int64_t width, int64_t height) {
    return width >= 0 && height >= 0 && width <= kMaxSide && height <= kMaxSide && width * height <= kMaxPixels;
  }

  CSurface() = default;
  CSurface(const CSurface&) = delete;
  CSurface& operator=(const CSurface&) = delete;
  ~CSurface() override = default;

  int GetWidth() const override { return m_width; }
  int GetHeight() const override { return m_height; }
  bool Create(int width, int height, int format) override;
  int GetFormat() const override { return m_format; }
  int GetBytesPerPixel() const override { return m_format == PIXEL_BITS_8 ? 1 : 4; }
  int GetPitch() const override { return m_width * GetBytesPerPixel(); }
  void Lock() override {}
  void Unlock() override {}
  uint8_t* GetLine(int y) override;
  void Fill(uint32_t value) override;
  void Clear() override;

 protected:
  std::unique_ptr<uint8_t[]> m_pixels;
  int32_t m_width = 0;
  int32_t m_height = 0;
  int32_t m_format = PIXEL_BITS_32A;
};

class ISurfaceFactory {
 public:
  virtual ~ISurfaceFactory() = default;
  // A new, empty surface owned by the caller.
  virtual ISurface* Create() = 0;
  // The same for a surface that layers draw into (a GPU render target);
  // its pixels may not be readable.
  virtual ISurface* CreateTarget() { return Create(); }
};

class CSurfaceFactory : public ISurfaceFactory {
 public:
  ISurface* Create() override { return new CSurface(); }
};

// True for the formats a surface accepts.
inline bool IsValidPixelFormat(int format) {
  return format == ISurface::PIXEL_BITS_8 || format == ISurface::PIXEL_BITS_32 || format == ISurface::PIXEL_BITS_32A;
}
