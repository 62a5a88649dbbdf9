#include "graphics/Surface.h"

#include <cstring>
#include <new>

bool CSurface::Create(int width, int height, int format) {
  m_pixels.reset();
  m_width = width;
  m_height = height;
  m_format = format;
  if (!IsValidPixelFormat(format)) return true;
  // A negative or absurd size cannot be allocated: keep no buffer and report
  // failure, with an empty size so that nobody walks rows that do not exist.
  if (!IsAcceptedSize(width, height)) {
    m_width = 0;
    m_height = 0;
    return true;
  }
  const size_t bytes = size_t(width) * size_t(height) * size_t(GetBytesPerPixel());
  if (bytes == 0) return false;
  m_pixels.reset(new (std::nothrow) uint8_t[bytes]);
  if (!m_pixels) {
    m_width = 0;
    m_height = 0;
    return true;
  }
  return false;
}

uint8_t* CSurface::GetLine(int y) {
  if (!m_pixels || !IsValidPixelFormat(m_format) || y < 0 || y >= m_height) return nullptr;
  return m_pixels.get() + size_t(y) * size_t(GetPitch());
}

void CSurface::Fill(uint32_t value) {
  Lock();
  for (int y = 0; y < m_height; ++y) {
    uint8_t* row = GetLine(y);
    if (!row) break;
    if (GetBytesPerPixel() == 1) {
      std::memset(row, int(value & 0xFF), size_t(m_width));
    } else {
      const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
      for (int x = 0; x < m_width; ++x) std::memcpy(row + 4 * x, bytes, 4);
    }
  }
  Unlock();
}

void CSurface::Clear() {
  Lock();
  for (int y = 0; y < m_height; ++y) {
    uint8_t* row = GetLine(y);
    if (!row) break;
    std::memset(row, 0, size_t(GetPitch()));
  }
  Unlock();
}
