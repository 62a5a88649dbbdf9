// Glyph images for the text renderer. One generator per process draws each
// character with the system font at twice the text size and shrinks it 2 x 2
// into an 8-bit alpha image (anti-aliasing), or reads a ready-made image from
// a prerendered font file (FACE_SIZE.rft). An outline mode dilates the glyph
// by one pixel on every side. Grey, prerendered and coloured images are
// cached for the life of the process.
//
// Character codes are a single byte, or lead byte | (trail byte << 8) as the
// renderer hands them over.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/FontBackend.h"

class ISurface;
class ISurfaceFactory;
class CGraphicLoaders;

class CGlyphGenerator {
 public:
  enum : uint8_t {
    FLAG_BOLD = 0x01,
    FLAG_ITALIC = 0x02,
    FLAG_UNDERLINE = 0x04,
    FLAG_STRIKEOUT = 0x08,
    FLAG_OUTLINE = 0x10,
    FLAG_PRERENDERED = 0x80,
  };
  static constexpr int kMinSize = 1;
  static constexpr int kMaxSize = 255;

  CGlyphGenerator();
  CGlyphGenerator(const CGlyphGenerator&) = delete;
  CGlyphGenerator& operator=(const CGlyphGenerator&) = delete;
  ~CGlyphGenerator();

  // The process-wide generator, made on first use.
  static CGlyphGenerator* GetInstance();
  // Destroys it (at process exit); the next GetInstance makes a new one.
  static void DestroyInstance();

  // Releases the current font and selects another; size is clamped to
  // 1..255. Prerendered selections always succeed; system fonts fail (true)
  // without a font backend.
  [[nodiscard]] bool SelectFont(bool prerendered, const std::string& face, int size, bool bold, bool italic,
                                bool underline, bool strikeout);
  // True when SelectFont with these values would select nothing new.
  bool IsSelected(bool prerendered, const std::string& face, int size, bool bold, bool italic, bool underline,
                  bool strikeout) const;
  void SetOutline(bool on) {
    if (on)
      m_flags |= FLAG_OUTLINE;
    else
      m_flags &= uint8_t(~FLAG_OUTLINE);
  }

  // The glyph in colour (0xRRGGBB): a 32-bit image with the glyph's shape in
  // its alpha channel, or a prerendered colour image as it is. None when
  // nothing is selected or the character has no glyph. The generator owns
  // the image.
  ISurface* GetGlyph(uint16_t code, ISurfaceFactory* factory, uint32_t colour);
  // The grey (format 0) or prerendered image; owned by the generator.
  ISurface* MakeGlyph(uint16_t code, ISurfaceFactory* factory);

  static uint32_t MakeKey(uint8_t flags, uint8_t size, uint16_t code) {
    return ((uint32_t(flags) << 8 | size) << 16) | code;
  }
  // The code as system fonts and prerendered files index it: lead * 256 + trail.
  static uint16_t ToBigEndian(uint16_t code) { return code > 0xFF ? uint16_t((code & 0xFF) << 8 | code >> 8) : code; }

  const std::string& GetFace() const { return m_face; }
  int GetSize() const { return m_size; }
  uint8_t GetFlags() const { return m_flags; }
  int GetAverageCharWidth() const { return m_averageCharWidth; }
  int GetAscent() const { return m_ascent; }
  const std::string& GetPrerenderedFileName() const { return m_prerenderedName; }
  // The font file behind the selected system font ("" when none).
  std::string GetFontFilePath() const { return m_font ? m_font->GetFilePath() : std::string(); }
  // Images made so far (grey and prerendered, coloured); for tests and tools.
  size_t GetImageCount() const;
  size_t GetColouredImageCount() const;
  // Forgets every cached image (benchmarks measure uncached work with it).
  void ClearCaches();
  // Changes whenever what GetGlyph gives for a code and colour may change or
  // an image it gave may go: another selection, cleared caches, another
  // generator. The outline switch is not counted: a caller that keeps the
  // images it got keeps them for one setting of it. Process-wide.
  static uint64_t GetSerial() { return s_serial; }

 private:
  using CImageMap = std::map<uint32_t, std::unique_ptr<ISurface>>;

  void ReleaseFont();
  static void Bump() { ++s_serial; }
  std::unique_ptr<ISurface> MakePrerendered(uint16_t code, ISurfaceFactory* factory);
  std::unique_ptr<ISurface> MakeFromFont(uint16_t code);
  uint32_t CurrentKey(uint16_t code) const { return MakeKey(m_flags, uint8_t(m_size), code); }
  static CGraphicLoaders* GetLoaders();

  static inline uint64_t s_serial = 1;

  std::unique_ptr<platform::IFont> m_font;
  std::string m_face;
  int m_size = 0;
  uint8_t m_flags = 0;
  int m_averageCharWidth = 0;
  int m_ascent = 0;
  std::vector<uint8_t> m_outlineBuffer;
  std::string m_prerenderedName;

  std::map<std::string, CImageMap> m_greyImages;
  std::map<std::string, CImageMap> m_prerenderedImages;
  std::map<std::string, std::map<uint32_t, CImageMap>> m_colouredImages;
  // The selected face's entry of m_colouredImages, found on first use: a
  // page asks for its glyphs one by one under the same face.
  std::map<uint32_t, CImageMap>* m_faceColoured = nullptr;
  // Keys that gave no glyph, so that a missing character is not looked for
  // again on every use.
  std::map<std::string, std::set<uint32_t>> m_missing;
};
