// Fonts of the system, drawn as 8-bit grey glyph bitmaps with the metrics the
// glyph generator works with: a font is asked for at a cell height, a glyph
// by its CP932 code (lead byte * 256 + trail byte for double-byte
// characters). One backend is published per process once the game window
// opens; headless runs use the same one so that both draw the same pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct FontRequest {
  std::string faceCp932;
  int height = 0;  // cell height in pixels
  bool bold = false;
  bool italic = false;
  bool underline = false;  // accepted but not drawn: glyph outlines carry none
  bool strikeout = false;
};

struct FontTextMetrics {
  int averageCharWidth = 0;
  int ascent = 0;  // baseline below the cell top, in pixels
};

struct GlyphMetrics {
  uint32_t blackBoxX = 0;  // bitmap width
  uint32_t blackBoxY = 0;  // bitmap rows
  int originX = 0;         // left edge of the bitmap right of the pen
  int originY = 0;         // top edge of the bitmap above the baseline
  int cellIncX = 0;        // advance in whole pixels
};

class IFont {
 public:
  virtual ~IFont() = default;
  virtual FontTextMetrics GetTextMetrics() const = 0;
  // Draws one character. The bitmap is written to buffer top row first,
  // each row padded with zeros to a multiple of 4 bytes, values 0..64; the
  // buffer grows when it is too small and is never shrunk. Returns true when
  // the font has no glyph for the code (or the code is no CP932 character).
  virtual bool GetGlyphGray8(uint16_t code, GlyphMetrics& metrics, std::vector<uint8_t>& buffer) = 0;
  // The font file in use ("" when there is none, as for test fonts).
  virtual std::string GetFilePath() const = 0;
};

struct FontFaceInfo {
  std::string filePath;
  std::string familyUtf8;   // the family actually used
  bool substitute = false;  // reached through the table of Windows faces
  bool fallback = false;    // the face itself is not installed (or not Japanese)
};

class IFontBackend {
 public:
  virtual ~IFontBackend() = default;
  // None when no font at all can stand in for the request.
  virtual std::unique_ptr<IFont> CreateFont(const FontRequest& request) = 0;
  // How a face would be resolved; true when nothing can stand in for it.
  virtual bool DescribeFace(const std::string& faceCp932, FontFaceInfo& out) = 0;
};

// The process-wide backend (not owned), none until one is published.
IFontBackend* GetFontBackend();
void SetFontBackend(IFontBackend* backend);

// Creates the FreeType backend and publishes it; true on failure. Called when
// the game window opens, in SDL and headless runs alike.
bool InitFontBackend();
// Unpublishes and destroys the backend that InitFontBackend made. Fonts
// created from it stay usable until they are destroyed.
void ShutdownFontBackend();

// FreeType and fontconfig, with a private configuration: the user's font
// settings never change the pixels. None when FreeType cannot start.
std::unique_ptr<IFontBackend> CreateFreeTypeFontBackend();

}  // namespace platform
