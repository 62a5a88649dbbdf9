#include "text/GlyphGenerator.h"

#include <algorithm>
#include <cstring>

#include "core/FrameStats.h"
#include "platform/Log.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Jpg.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"
#include "text/RftFile.h"

namespace {

std::unique_ptr<CGlyphGenerator> g_instance;

constexpr uint16_t kSpace = 0x20;
constexpr uint16_t kFullWidthSpace = 0x8140;

std::unique_ptr<ISurface> MakeEmpty(int width, int height) {
  auto image = std::make_unique<CSurface>();
  if (image->Create(width, height, ISurface::PIXEL_BITS_8)) return nullptr;
  image->Clear();
  return image;
}

}  // namespace

CGlyphGenerator::CGlyphGenerator() { Bump(); }
CGlyphGenerator::~CGlyphGenerator() { Bump(); }

CGlyphGenerator* CGlyphGenerator::GetInstance() {
  if (!g_instance) g_instance = std::make_unique<CGlyphGenerator>();
  return g_instance.get();
}

void CGlyphGenerator::DestroyInstance() { g_instance.reset(); }

CGraphicLoaders* CGlyphGenerator::GetLoaders() {
  if (CGraphicLoaders* loaders = CGraphicLoaders::GetGlobal()) return loaders;
  // Tools and tests run without a graphic system; they read the same formats.
  static CGraphicLoaders* own = [] {
    auto* loaders = new CGraphicLoaders(CRftFile::GetFileFactory());
    (void)loaders->AddLoader(new CPng());
    (void)loaders->AddLoader(new CJpg());
    return loaders;
  }();
  return own;
}

void CGlyphGenerator::ReleaseFont() {
  Bump();
  m_font.reset();
  m_face.clear();
  m_faceColoured = nullptr;
  m_size = 0;
  m_flags = 0;
  m_averageCharWidth = 0;
  m_ascent = 0;
  m_prerenderedName.clear();
}

bool CGlyphGenerator::IsSelected(bool prerendered, const std::string& face, int size, bool bold, bool italic,
                                 bool underline, bool strikeout) const {
  const uint8_t flags = uint8_t((bold ? FLAG_BOLD : 0) | (italic ? FLAG_ITALIC : 0) | (underline ? FLAG_UNDERLINE : 0) |
                                (strikeout ? FLAG_STRIKEOUT : 0) | (prerendered ? FLAG_PRERENDERED : 0));
  return !m_face.empty() && face == m_face && std::clamp(size, kMinSize, kMaxSize) == m_size &&
         (m_flags & ~FLAG_OUTLINE) == flags;
}

bool CGlyphGenerator::SelectFont(bool prerendered, const std::string& face, int size, bool bold, bool italic,
                                 bool underline, bool strikeout) {
  ReleaseFont();
  m_face = face;
  // One byte of the glyph key holds the size.
  m_size = std::clamp(size, kMinSize, kMaxSize);
  m_flags = uint8_t((bold ? FLAG_BOLD : 0) | (italic ? FLAG_ITALIC : 0) | (underline ? FLAG_UNDERLINE : 0) |
                    (strikeout ? FLAG_STRIKEOUT : 0));
  if (prerendered) {
    m_flags |= FLAG_PRERENDERED;
    m_prerenderedName = face + "_" + std::to_string(m_size) + ".rft";
    return false;
  }
  platform::IFontBackend* backend = platform::GetFontBackend();
  if (!backend) return true;
  platform::FontRequest request;
  request.faceCp932 = face;
  request.height = 2 * m_size;
  request.bold = bold;
  request.italic = italic;
  request.underline = underline;
  request.strikeout = strikeout;
  m_font = backend->CreateFont(request);
  if (m_font) {
    const platform::FontTextMetrics metrics = m_font->GetTextMetrics();
    m_averageCharWidth = metrics.averageCharWidth;
    m_ascent = metrics.ascent;
  } else {
    LogWrite("CGlyphGenerator: no system font can stand in for \"" + face + "\"");
  }
  const size_t wanted = size_t(2 * m_size) * size_t(2 * m_size) * 2;
  if (m_outlineBuffer.size() < wanted) m_outlineBuffer.resize(wanted);
  return false;
}

ISurface* CGlyphGenerator::GetGlyph(uint16_t code, ISurfaceFactory* factory, uint32_t colour) {
  if (m_face.empty()) return nullptr;
  const uint32_t key = CurrentKey(code);
  if (!m_faceColoured) m_faceColoured = &m_colouredImages[m_face];
  CImageMap& coloured = (*m_faceColoured)[colour];
  auto found = coloured.find(key);
  if (found != coloured.end()) return found->second.get();

  ISurface* grey = MakeGlyph(code, factory);
  if (!grey) return nullptr;
  if (grey->GetFormat() != ISurface::PIXEL_BITS_8) return grey;

  std::unique_ptr<ISurface> image(factory ? factory->Create() : new CSurface());
  const int width = grey->GetWidth(), height = grey->GetHeight();
  if (!image || image->Create(width, height, ISurface::PIXEL_BITS_32A)) return nullptr;
  const uint32_t rgb = colour & 0xFFFFFF;
  grey->Lock();
  image->Lock();
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = grey->GetLine(y);
    uint8_t* dst = image->GetLine(y);
    if (!src || !dst) continue;
    for (int x = 0; x < width; ++x) {
      // B, G, R, A in memory: the little-endian word 0xAARRGGBB.
      const uint32_t pixel = uint32_t(src[x]) << 24 | rgb;
      dst[4 * x] = uint8_t(pixel);
      dst[4 * x + 1] = uint8_t(pixel >> 8);
      dst[4 * x + 2] = uint8_t(pixel >> 16);
      dst[4 * x + 3] = uint8_t(pixel >> 24);
    }
  }
  image->Unlock();
  grey->Unlock();
  ISurface* result = image.get();
  coloured.emplace(key, std::move(image));
  return result;
}

ISurface* CGlyphGenerator::MakeGlyph(uint16_t code, ISurfaceFactory* factory) {
  if (m_face.empty()) return nullptr;
  const uint32_t key = CurrentKey(code);
  for (auto* cache : {&m_greyImages, &m_prerenderedImages}) {
    auto face = cache->find(m_face);
    if (face == cache->end()) continue;
    auto found = face->second.find(key);
    if (found != face->second.end()) return found->second.get();
  }
  if (!(m_flags & FLAG_PRERENDERED) && !m_font) return nullptr;
  std::set<uint32_t>& missing = m_missing[m_face];
  if (missing.count(key)) return nullptr;

  std::unique_ptr<ISurface> image = (m_flags & FLAG_PRERENDERED) ? MakePrerendered(code, factory) : MakeFromFont(code);
  if (!image) {
    missing.insert(key);
    return nullptr;
  }
  framestats::CountGlyph();
  ISurface* result = image.get();
  auto& cache = image->GetFormat() == ISurface::PIXEL_BITS_8 ? m_greyImages : m_prerenderedImages;
  cache[m_face].emplace(key, std::move(image));
  return result;
}

std::unique_ptr<ISurface> CGlyphGenerator::MakePrerendered(uint16_t code, ISurfaceFactory* factory) {
  const uint16_t lookup = ToBigEndian(code);
  const int extra = (m_flags & FLAG_OUTLINE) ? 2 : 0;
  CRftFile file;
  if (file.OpenGlyph(m_prerenderedName.c_str(), lookup)) {
    // Text must still be spaced when the font file is missing or broken.
    if (lookup == kFullWidthSpace) return MakeEmpty(m_size + extra, m_size + extra);
    if (lookup == kSpace) return MakeEmpty(m_size / 2 + extra, m_size + extra);
    return nullptr;
  }
  std::unique_ptr<ISurface> image(file.IsDirectImage() && factory ? factory->Create() : new CSurface());
  if (!image || GetLoaders()->Load(image.get(), &file)) return nullptr;
  return image;
}

std::unique_ptr<ISurface> CGlyphGenerator::MakeFromFont(uint16_t code) {
  const uint16_t lookup = ToBigEndian(code);
  const bool space = lookup == kSpace || lookup == kFullWidthSpace;
  platform::GlyphMetrics metrics;
  if (m_font->GetGlyphGray8(lookup, metrics, m_outlineBuffer)) {
    metrics = platform::GlyphMetrics();
    if (lookup == kSpace)
      metrics.cellIncX = m_size;
    else if (lookup == kFullWidthSpace)
      metrics.cellIncX = 2 * m_size;
    else
      return nullptr;
  }

  // All at double size and signed: origins can be negative, black boxes
  // empty, and a bitmap may reach past the advance.
  const int64_t w = metrics.blackBoxX, h = metrics.blackBoxY;
  const int64_t ox = metrics.originX, oy = metrics.originY, advance = metrics.cellIncX;
  const int64_t x0 = ox / 2;
  const int64_t y0 = (m_ascent - oy) / 2;
  const int64_t pitch = (w + 3) & ~int64_t(3);
  const int64_t width = std::max<int64_t>(0, std::max(advance / 2, w / 2 + ox / 2));
  const int64_t height = std::max<int64_t>(m_size, h / 2 + y0);
  const bool outline = (m_flags & FLAG_OUTLINE) != 0;
  const int64_t imageWidth = width + (outline ? 2 : 0), imageHeight = height + (outline ? 2 : 0);
  if (imageWidth > CSurface::kMaxSide || imageHeight > CSurface::kMaxSide) return nullptr;
  std::unique_ptr<ISurface> image = MakeEmpty(int(imageWidth), int(imageHeight));
  if (!image || space) return image;
  if (w > 0 && h > 0 && uint64_t(pitch) * uint64_t(h) > m_outlineBuffer.size()) return nullptr;

  // Every write is clipped to the image: the bitmap may start left of the
  // pen or above the cell, and may reach past the advance.
  image->Lock();
  if (!outline) {
    // Only the columns whose pixel lies inside the image: x0 + c / 2 in [0, width).
    const int64_t cBegin = std::max<int64_t>(0, -2 * x0);
    const int64_t cEnd = std::min<int64_t>(w, 2 * (imageWidth - x0));
    for (int64_t r = 0; r + 1 < h; r += 2) {
      const int64_t y = y0 + r / 2;
      if (y < 0 || y >= imageHeight) continue;
      const uint8_t* row0 = m_outlineBuffer.data() + r * pitch;
      const uint8_t* row1 = row0 + pitch;
      uint8_t* line = image->GetLine(int(y));
      for (int64_t c = cBegin; c < cEnd; c += 2) {
        const int g = row0[c] + row0[c + 1] + row1[c] + row1[c + 1];
        if (g > 0) line[x0 + c / 2] = uint8_t(std::min(g, 255));
      }
    }
    image->Unlock();
    return image;
  }
  constexpr int spread = 3;
  for (int64_t r = 0; r + 1 < h; r += 2) {
    const uint8_t* row0 = m_outlineBuffer.data() + r * pitch;
    const uint8_t* row1 = row0 + pitch;
    const int64_t y = y0 + r / 2;
    if (y + spread <= 0 || y >= imageHeight) continue;
    uint8_t* lines[3] = {};
    for (int dy = 0; dy < spread; ++dy)
      if (y + dy >= 0 && y + dy < imageHeight) lines[dy] = image->GetLine(int(y + dy));
    for (int64_t c = 0; c < w; c += 2) {
      // c + 1 stays inside the padded row: the pitch is a multiple of 4.
      const int g = row0[c] + row0[c + 1] + row1[c] + row1[c + 1];
      if (g <= 0) continue;
      const uint8_t v = uint8_t(std::min(g, 255));
      const int64_t x = x0 + c / 2;
      for (int dx = 0; dx < spread; ++dx) {
        if (x + dx < 0 || x + dx >= imageWidth) continue;
        for (int dy = 0; dy < spread; ++dy) {
          if (!lines[dy]) continue;
          uint8_t& pixel = lines[dy][x + dx];
          pixel = std::max(pixel, v);
        }
      }
    }
  }
  image->Unlock();
  return image;
}

size_t CGlyphGenerator::GetImageCount() const {
  size_t count = 0;
  for (const auto& face : m_greyImages) count += face.second.size();
  for (const auto& face : m_prerenderedImages) count += face.second.size();
  return count;
}

size_t CGlyphGenerator::GetColouredImageCount() const {
  size_t count = 0;
  for (const auto& face : m_colouredImages)
    for (const auto& colour : face.second) count += colour.second.size();
  return count;
}

void CGlyphGenerator::ClearCaches() {
  Bump();
  m_greyImages.clear();
  m_prerenderedImages.clear();
  m_colouredImages.clear();
  m_faceColoured = nullptr;
  m_missing.clear();
}
