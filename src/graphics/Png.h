// PNG loader (libpng). Loads 8-bit grey (format 0), RGB (format 1, alpha
// byte 255) and RGBA (format 2, straight alpha); palette images, grey with
// alpha and 16-bit images are refused.
#pragma once

#include <cstddef>
#include <string>

#include "graphics/GraphicLoader.h"

class CPng : public IGraphicLoader {
 public:
  // Images larger than a surface may be (see CSurface::IsAcceptedSize) are
  // refused; this is the longest side.
  static constexpr int kMaxSide = 65536;

  std::string GetExtension() const override { return "png"; }
  bool Load(ISurface* target, CFile* file) override;
};

// Looks at the first bytes of a PNG file (signature and IHDR, 26 bytes are
// enough) and tells whether the engine will refuse to load it. Returns true
// with a reason in plain ASCII ("palette image", "grey with alpha",
// "16-bit channels", ...) when it will, false when the type is accepted.
bool PngHeaderUnsupported(const void* header, size_t size, std::string* reason);
