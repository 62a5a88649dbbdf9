// JPEG loader (libjpeg). One component gives a format-0 surface, three
// components a format-1 surface (B, G, R, 255). Library errors end the load
// with a failure result; truncated data is an error too.
#pragma once

#include <string>

#include "graphics/GraphicLoader.h"

class CJpg : public IGraphicLoader {
 public:
  // Images larger than a surface may be (see CSurface::IsAcceptedSize) are
  // refused, and so are files larger than kMaxFileBytes.
  static constexpr int kMaxFileBytes = 256 * 1024 * 1024;

  std::string GetExtension() const override { return "jpg"; }
  bool Load(ISurface* target, CFile* file) override;
};
