// The software renderer: its back buffer is a 32-bit memory surface that the
// layers compose into with the blend kernels; at the end of each frame the
// whole buffer goes to the window through the platform layer.
#pragma once

#include "graphics/Blend.h"
#include "graphics/IGraphicRenderer.h"
#include "graphics/Surface.h"

class CSoftwareRenderer : public CSurface, public IGraphicRenderer {
 public:
  CSoftwareRenderer() = default;
  ~CSoftwareRenderer() override = default;

  // Copies the part of the back buffer left by the two optional clips to the
  // same place in the window. Returns true when nothing was drawn.
  virtual bool PresentRect(const CRect* destClip, const CRect* sourceClip);
  // Copies the whole back buffer to the window.
  virtual void Present();

  // Accepts format 1 only; another format fails and changes nothing.
  bool Init(platform::WindowHandle window, int width, int height, int format) override;
  void RenderStart() override {}
  void RenderEnd() override { Present(); }
  void Clear() override { CSurface::Clear(); }
  ISurface* GetRenderTarget() override { return IsReady() ? this : nullptr; }

  bool IsReady() const { return m_ready; }
  platform::WindowHandle GetWindow() const { return m_window; }

 private:
  platform::WindowHandle m_window = 0;
  bool m_ready = false;
};
