#include "text/FontProperty.h"

#include <algorithm>
#include <cstdlib>

#include "core/Numbers.h"
#include "core/ScriptBlock.h"
#include "core/Serializer.h"
#include "text/TextRenderer.h"

const std::string& DefaultFontFace() {
  // Full-width "ＭＳ ゴシック" in CP932.
  static const std::string face("\x82\x6c\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4e");
  return face;
}

CFontValues::CFontValues() : face(DefaultFontFace()), rubyface(DefaultFontFace()) {}

int32_t CFontValues::ClampedSize() const { return std::clamp<int32_t>(size, 1, 255); }
int32_t CFontValues::ClampedRubySize() const { return std::clamp<int32_t>(rubysize, 1, 255); }

namespace {

// Hostile spacings must not wrap the line arithmetic, and a height below 0
// (negative spacings larger than the font) counts as 0: a line of such
// cells is still "a line without height" that the empty-line rule fills,
// whether it was aligned before or after its cells came.
int32_t ClampHeight(int64_t h) { return int32_t(std::clamp<int64_t>(h, 0, int64_t(1) << 24)); }

}  // namespace

int32_t CFontValues::CellHeight() const {
  int64_t h = int64_t(spacetop) + rubysize + spacemiddle + ClampedSize() + spacebottom;
  if (style & kStyleShadow) h += 1;
  if (style & kStyleOutline) h += 2;
  return ClampHeight(h);
}

int32_t CFontValues::EmptyLineHeight() const {
  return ClampHeight(int64_t(spacetop) + rubysize + spacemiddle + ClampedSize() + spacebottom);
}

void CFontProperty::Serialize(CSerializer& s) const {
  s.Write(1, face);
  s.Write(2, rubyface);
  s.Write(3, left);
  s.Write(4, top);
  s.Write(5, width);
  s.Write(6, height);
  s.Write(7, entireanchorx);
  s.Write(8, entireanchory);
  s.Write(9, anchorcenter);
  s.Write(10, entirealpha);
  s.Write(11, entirexscale);
  s.Write(12, entireyscale);
  s.Write(13, entirerotate);
  s.Write(14, layermode);
  s.Write(15, visible);
  s.Write(16, alpha);
  s.Write(17, xscale);
  s.Write(18, yscale);
  s.Write(19, rotate);
  s.Write(20, size);
  s.Write(21, rubysize);
  s.Write(22, spacetop);
  s.Write(23, spacemiddle);
  s.Write(24, spacebottom);
  s.Write(25, color);
  s.Write(26, shadowcolor);
  s.Write(27, outlinecolor);
  s.Write(28, align);
  s.Write(29, style);
  s.Write(30, vertical);
  s.Write(31, hung);
  s.Write(32, rendered);
}

void CFontProperty::Deserialize(CSerializer& s) {
  s.Read(1, face);
  s.Read(2, rubyface);
  s.Read(3, left);
  s.Read(4, top);
  s.Read(5, width);
  s.Read(6, height);
  s.Read(7, entireanchorx);
  s.Read(8, entireanchory);
  s.Read(9, anchorcenter);
  s.Read(10, entirealpha);
  s.Read(11, entirexscale);
  s.Read(12, entireyscale);
  s.Read(13, entirerotate);
  s.Read(14, layermode);
  s.Read(15, visible);
  s.Read(16, alpha);
  s.Read(17, xscale);
  s.Read(18, yscale);
  s.Read(19, rotate);
  s.Read(20, size);
  s.Read(21, rubysize);
  s.Read(22, spacetop);
  s.Read(23, spacemiddle);
  s.Read(24, spacebottom);
  s.Read(25, color);
  s.Read(26, shadowcolor);
  s.Read(27, outlinecolor);
  s.Read(28, align);
  s.Read(29, style);
  s.Read(30, vertical);
  s.Read(31, hung);
  s.Read(32, rendered);
}

void ApplyFontAttributes(const CScriptBlock& record, CFontValues& font) {
  const auto& attributes = record.GetAttributes();
  auto text = [&](const char* name, std::string& field) {
    auto it = attributes.find(name);
    if (it != attributes.end()) field = it->second;
  };
  auto number = [&](const char* name, int32_t& field) {
    auto it = attributes.find(name);
    if (it != attributes.end()) field = numbers::Atoi(it->second);
  };
  auto flag = [&](const char* name, bool& field) {
    auto it = attributes.find(name);
    if (it != attributes.end()) field = numbers::Atoi(it->second) != 0;
  };
  auto colour = [&](const char* name, uint32_t& field) {
    auto it = attributes.find(name);
    if (it != attributes.end()) field = numbers::HexToU32(it->second);
  };
  auto named = [&](const char* name, int32_t& field, std::initializer_list<std::pair<const char*, int32_t>> values) {
    auto it = attributes.find(name);
    if (it == attributes.end()) return;
    for (const auto& [value, code] : values)
      if (it->second == value) field = code;
  };
  text("face", font.face);
  text("rubyface", font.rubyface);
  number("left", font.left);
  number("top", font.top);
  number("width", font.width);
  number("height", font.height);
  number("entireanchorx", font.entireanchorx);
  number("entireanchory", font.entireanchory);
  flag("anchorcenter", font.anchorcenter);
  number("entirealpha", font.entirealpha);
  number("entirexscale", font.entirexscale);
  number("entireyscale", font.entireyscale);
  number("entirerotate", font.entirerotate);
  flag("visible", font.visible);
  number("alpha", font.alpha);
  number("xscale", font.xscale);
  number("yscale", font.yscale);
  number("rotate", font.rotate);
  number("size", font.size);
  number("rubysize", font.rubysize);
  number("spacetop", font.spacetop);
  number("spacemiddle", font.spacemiddle);
  number("spacebottom", font.spacebottom);
  colour("color", font.color);
  colour("shadowcolor", font.shadowcolor);
  colour("outlinecolor", font.outlinecolor);
  flag("vertical", font.vertical);
  flag("hung", font.hung);
  flag("rendered", font.rendered);
  named("layermode", font.layermode, {{"normal", 0}, {"add", 1}, {"screen", 4}, {"multiply", 2}});
  named("align", font.align, {{"left", 0}, {"center", 1}, {"right", 2}, {"equalize", 3}});
  named("style", font.style, {{"single", 1}, {"shadow", 2}, {"outline", 4}, {"outline_shadow", 6}});
}
