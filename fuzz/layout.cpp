// Text layout with hostile font values and text: the first bytes choose the
// font properties (sizes, spacing, area, alignment, scales, rotation, style,
// vertical, hanging), the rest is CP932 text cut into plain runs, ruby units
// and line breaks. Glyphs are solid blocks whose width comes from the code,
// so widths vary without a system font. Layout, caret queries and drawing
// must stay inside their buffers whatever the values.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "graphics/Surface.h"
#include "platform/FontBackend.h"
#include "scene/Layer.h"
#include "text/GlyphGenerator.h"
#include "text/TextRenderer.h"

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
  int Signed16() { return int(int16_t(uint16_t(Next(2)))); }
};

class CBlockFont : public platform::IFont {
 public:
  platform::FontTextMetrics GetTextMetrics() const override { return {10, 20}; }
  std::string GetFilePath() const override { return ""; }
  bool GetGlyphGray8(uint16_t code, platform::GlyphMetrics& metrics, std::vector<uint8_t>& buffer) override {
    if (code % 17 == 0) return true;  // some characters have no glyph
    const uint32_t w = 2 + code % 40, h = 2 + (code >> 3) % 40;
    metrics = {w, h, 0, 20, int(w)};
    const size_t bytes = ((size_t(w) + 3) & ~size_t(3)) * h;
    if (buffer.size() < bytes) buffer.resize(bytes);
    std::fill(buffer.begin(), buffer.begin() + long(bytes), uint8_t(64));
    return false;
  }
};

class CBlockBackend : public platform::IFontBackend {
 public:
  std::unique_ptr<platform::IFont> CreateFont(const platform::FontRequest&) override {
    return std::make_unique<CBlockFont>();
  }
  bool DescribeFace(const std::string&, platform::FontFaceInfo&) override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CBlockBackend backend;
  platform::SetFontBackend(&backend);
  CLayerFactory layers;
  CSurfaceFactory surfaces;
  SInput in{data, size};
  CFontValues font;
  font.size = in.Next(1) % 64;
  font.rubysize = in.Next(1) % 32;
  font.spacetop = in.Signed16() % 64;
  font.spacemiddle = in.Signed16() % 64;
  font.spacebottom = in.Signed16() % 64;
  font.width = in.Signed16();
  font.height = in.Signed16();
  font.left = in.Signed16();
  font.top = in.Signed16();
  font.align = in.Next(1) % 5;
  font.style = in.Next(1) & 0x7F;
  const int flags = in.Next(1);
  font.vertical = flags & 1;
  font.hung = flags & 2;
  font.anchorcenter = flags & 4;
  font.entirexscale = in.Signed16() * 16;
  font.entireyscale = in.Signed16() * 16;
  font.entirerotate = in.Signed16();
  font.entireanchorx = in.Signed16();
  font.entireanchory = in.Signed16();
  font.xscale = flags & 8 ? in.Signed16() * 16 : kScaleOne;
  font.rotate = flags & 16 ? in.Signed16() : 0;

  {
    CTextRenderer renderer(&layers, &surfaces);
    // The same text laid out after every piece, as a message window does
    // while the text comes in: it must end where one layout of it all does.
    CTextRenderer stepwise(&layers, &surfaces);
    renderer.SetFont(font);
    stepwise.SetFont(font);
    // 0x01 starts ruby text, 0x02 ends a ruby unit, 0x0A breaks the line,
    // 0x03 and the next byte change the area's width under the text written
    // so far (as going back to an earlier font does).
    std::string text, ruby;
    bool inRuby = false, widthChanged = false;
    while (in.at < in.size) {
      const char c = char(in.Next(1));
      if (c == '\x03') {
        renderer.AddText(text);
        stepwise.AddText(text);
        stepwise.Layout();
        text.clear();
        font.width = in.Next(1) - 16;
        renderer.SetFont(font);
        stepwise.SetFont(font);
        widthChanged = true;
      } else if (c == '\x01') {
        inRuby = true;
      } else if (c == '\x02') {
        renderer.AddChar(text, ruby);
        stepwise.AddChar(text, ruby);
        stepwise.Layout();
        text.clear(), ruby.clear(), inRuby = false;
      } else if (c == '\n') {
        renderer.AddText(text);
        renderer.NewLine();
        stepwise.AddText(text);
        stepwise.Layout();
        stepwise.NewLine();
        stepwise.Layout();
        text.clear();
      } else {
        (inRuby ? ruby : text) += c;
      }
    }
    renderer.AddText(text);
    stepwise.AddText(text);
    {
      // Both must also equal a layout that places every line afresh.
      std::string whole, steps, afresh;
      renderer.Dump(whole);
      stepwise.Dump(steps);
      stepwise.FinishEffects();
      stepwise.Dump(afresh);
      // A narrower or wider area leaves the lines before it as they were
      // broken, so only a layout that saw the same changes compares.
      if (!widthChanged && (whole != steps || whole != afresh)) __builtin_trap();
    }
    CRect rect;
    for (int i = -1; i <= renderer.GetCharCount(); ++i) (void)renderer.GetCaretRect(i, rect);
    CSurface target;
    if (!target.Create(160, 120, ISurface::PIXEL_BITS_32)) renderer.Draw(&target);
    std::string dump;
    renderer.Dump(dump);
    renderer.Clear();
  }
  CGlyphGenerator::DestroyInstance();
  platform::SetFontBackend(nullptr);
  return 0;
}
