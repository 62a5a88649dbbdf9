#include "graphics/SoftwareRenderer.h"

#include <vector>

bool CSoftwareRenderer::Init(platform::WindowHandle window, int width, int height, int format) {
  if (format != PIXEL_BITS_32) return true;
  // A second Init replaces the first back buffer.
  m_ready = false;
  m_window = window;
  if (CSurface::Create(width, height, PIXEL_BITS_32)) return true;
  CSurface::Clear();
  m_ready = true;
  return false;
}

void CSoftwareRenderer::Present() {
  if (!m_ready) return;
  const uint8_t* pixels = m_pixels.get();
  if (!pixels) return;
  platform::PresentFrame(m_window, pixels, m_width, m_height, GetPitch());
}

bool CSoftwareRenderer::PresentRect(const CRect* destClip, const CRect* sourceClip) {
  if (!m_ready || !m_pixels) return true;
  const CRect whole(0, 0, m_width, m_height);
  const CBlitRect blit = ClipBlit(whole, whole, sourceClip, destClip);
  if (!blit.nonEmpty) return true;
  // The window shows whole frames: build one from the previous picture with
  // the clipped part of the back buffer placed at its destination.
  std::vector<uint8_t> frame;
  int width = 0, height = 0;
  if (platform::GetLastFrame(frame, width, height) || width != m_width || height != m_height) {
    frame.assign(size_t(m_width) * size_t(m_height) * 4, 0);
  }
  const size_t pitch = size_t(m_width) * 4;
  for (int i = 0; i < blit.height; ++i) {
    const uint8_t* s = m_pixels.get() + size_t(blit.srcY + i) * pitch + size_t(blit.srcX) * 4;
    uint8_t* d = frame.data() + size_t(blit.dstY + i) * pitch + size_t(blit.dstX) * 4;
    std::copy(s, s + size_t(blit.width) * 4, d);
  }
  platform::PresentFrame(m_window, frame.data(), m_width, m_height, int(pitch));
  return false;
}
