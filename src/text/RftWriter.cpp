#include "text/RftWriter.h"

#include "graphics/PngWriter.h"
#include "text/GlyphGenerator.h"
#include "text/RftFile.h"

bool CRftWriter::SetImage(uint16_t code, std::vector<uint8_t> bytes) {
  if (CRftFile::IndexEntryPosition(m_version, code) < 0) return true;
  m_images[code] = std::move(bytes);
  return false;
}

bool CRftWriter::Finish(std::vector<uint8_t>& out) const {
  const int count = CRftFile::IndexEntryCount(m_version);
  uint64_t total = CRftFile::kMagicSize + uint64_t(count) * CRftFile::kEntrySize;
  for (const auto& image : m_images) total += image.second.size();
  if (total > 0x7FFFFFFF) return true;

  out.assign(size_t(CRftFile::kMagicSize + count * CRftFile::kEntrySize), 0);
  out[0] = 'r';
  out[1] = 'f';
  out[2] = 't';
  out[3] = uint8_t(m_version);
  size_t entry = CRftFile::kMagicSize;
  CRftFile::ForEachIndexCode(m_version, [&](uint16_t code) {
    auto found = m_images.find(code);
    if (found != m_images.end() && !found->second.empty()) {
      const uint32_t offset = uint32_t(out.size());
      const uint32_t size = uint32_t(found->second.size());
      for (int i = 0; i < 4; ++i) {
        out[entry + size_t(i)] = uint8_t(offset >> (8 * i));
        out[entry + 4 + size_t(i)] = uint8_t(size >> (8 * i));
      }
      out.insert(out.end(), found->second.begin(), found->second.end());
    }
    entry += CRftFile::kEntrySize;
  });
  return false;
}

int RenderRftImages(CGlyphGenerator& generator, CRftWriter& writer, const std::function<void(int, int)>& progress) {
  const int total = CRftFile::IndexEntryCount(writer.GetVersion());
  int done = 0, made = 0;
  CRftFile::ForEachIndexCode(writer.GetVersion(), [&](uint16_t code) {
    // The generator takes double-byte codes as the renderer hands them over.
    ISurface* image = generator.MakeGlyph(CGlyphGenerator::ToBigEndian(code), nullptr);
    std::vector<uint8_t> png;
    if (image && !EncodePng(image, png) && !writer.SetImage(code, std::move(png))) ++made;
    ++done;
    if (progress) progress(done, total);
  });
  return made;
}
