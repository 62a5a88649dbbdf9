// Writing prerendered font files: the index of every code of the version's
// ranges, then the image files in code order. Codes without an image get an
// empty entry (offset 0, size 0), which loads as no glyph.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class CGlyphGenerator;

class CRftWriter {
 public:
  // version: '0', '1' or '2' (the last character of the magic).
  explicit CRftWriter(char version) : m_version(version) {}

  // True when the code has no index entry in this version.
  [[nodiscard]] bool SetImage(uint16_t code, std::vector<uint8_t> bytes);
  // The whole file; true when it would not fit 32-bit offsets.
  [[nodiscard]] bool Finish(std::vector<uint8_t>& out) const;

  char GetVersion() const { return m_version; }

 private:
  char m_version;
  std::map<uint16_t, std::vector<uint8_t>> m_images;
};

// Renders every index code with the font the generator has selected (a
// system font) and stores each glyph's grey image as a PNG. progress, when
// given, is told (done, total) as codes are rendered. Returns the number of
// codes that got an image.
int RenderRftImages(CGlyphGenerator& generator, CRftWriter& writer,
                    const std::function<void(int, int)>& progress = nullptr);
