// A renderer owns the window's back buffer and the frame protocol: it is
// started on a window, brackets each frame and presents it.
#pragma once

#include "platform/Platform.h"

class ISurface;

class IGraphicRenderer {
 public:
  virtual ~IGraphicRenderer() = default;
  // Returns true on failure.
  virtual bool Init(platform::WindowHandle window, int width, int height, int format) = 0;
  virtual void RenderStart() = 0;
  virtual void RenderEnd() = 0;
  virtual void Clear() = 0;
  // The renderer viewed as a surface when layers draw into it through
  // ISurface (the software renderer), else none.
  virtual ISurface* GetRenderTarget() { return nullptr; }
};
