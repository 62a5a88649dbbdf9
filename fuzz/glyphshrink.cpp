// The 2 x 2 shrink of system-font glyphs with hostile metrics: a font
// backend that answers with whatever the input says (black box, origin,
// advance, ascent, text size, outline mode, grey levels). Every write must
// stay inside the image and the image must have the size the metrics give.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "graphics/Surface.h"
#include "platform/FontBackend.h"
#include "text/GlyphGenerator.h"

namespace {

struct SInput {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  int Next(int bytes) {
    int value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | (at < size ? data[at++] : 0);
    return value;
  }
};

class CFuzzFont : public platform::IFont {
 public:
  CFuzzFont(platform::GlyphMetrics metrics, int ascent, std::vector<uint8_t> grey)
      : m_metrics(metrics), m_ascent(ascent), m_grey(std::move(grey)) {
    if (m_grey.empty()) m_grey.push_back(64);
    for (uint8_t& level : m_grey) level %= 65;
  }
  platform::FontTextMetrics GetTextMetrics() const override { return {0, m_ascent}; }
  std::string GetFilePath() const override { return ""; }
  bool GetGlyphGray8(uint16_t, platform::GlyphMetrics& metrics, std::vector<uint8_t>& buffer) override {
    metrics = m_metrics;
    const size_t pitch = (size_t(m_metrics.blackBoxX) + 3) & ~size_t(3);
    const size_t bytes = pitch * m_metrics.blackBoxY;
    if (buffer.size() < bytes) buffer.resize(bytes);
    for (size_t i = 0; i < bytes; i += m_grey.size())
      std::copy_n(m_grey.begin(), std::min(m_grey.size(), bytes - i), buffer.begin() + long(i));
    return false;
  }

 private:
  platform::GlyphMetrics m_metrics;
  int m_ascent;
  std::vector<uint8_t> m_grey;
};

class CFuzzBackend : public platform::IFontBackend {
 public:
  std::unique_ptr<platform::IFont> next;
  std::unique_ptr<platform::IFont> CreateFont(const platform::FontRequest&) override { return std::move(next); }
  bool DescribeFace(const std::string&, platform::FontFaceInfo&) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SInput in{data, size};
  platform::GlyphMetrics metrics;
  metrics.blackBoxX = uint32_t(in.Next(2) % 300);
  metrics.blackBoxY = uint32_t(in.Next(2) % 300);
  // Small black boxes and origins within +-599 keep every run quick.
  metrics.originX = int16_t(in.Next(2)) % 600;
  metrics.originY = int16_t(in.Next(2)) % 600;
  metrics.cellIncX = int16_t(in.Next(2)) % 600;
  const int ascent = int16_t(in.Next(2)) % 600;
  const int textSize = in.Next(2) % 400 - 50;
  const int mode = in.Next(1);
  std::vector<uint8_t> grey(data + std::min(in.at, size), data + size);

  CFuzzBackend backend;
  backend.next = std::make_unique<CFuzzFont>(metrics, ascent, std::move(grey));
  platform::SetFontBackend(&backend);
  CGlyphGenerator generator;
  if (generator.SelectFont(false, "Fuzz", textSize, false, false, false, false)) __builtin_trap();
  generator.SetOutline(mode & 1);
  const uint16_t code = (mode & 2) ? 0x20 : (mode & 4) ? 0x4081 : 0x41;
  if (ISurface* image = generator.GetGlyph(code, nullptr, 0xFFFFFF)) {
    // The size the metrics give, at half scale, as layout expects.
    const int64_t w = metrics.blackBoxX, h = metrics.blackBoxY, ox = metrics.originX;
    const int64_t y0 = (generator.GetAscent() - int64_t(metrics.originY)) / 2;
    const int64_t width = std::max<int64_t>(0, std::max<int64_t>(metrics.cellIncX / 2, w / 2 + ox / 2));
    const int64_t height = std::max<int64_t>(generator.GetSize(), h / 2 + y0);
    const int extra = (mode & 1) ? 2 : 0;
    if (image->GetWidth() != width + extra || image->GetHeight() != height + extra) __builtin_trap();
  }
  platform::SetFontBackend(nullptr);
  return 0;
}
