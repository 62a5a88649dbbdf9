#include "text/TextRenderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <new>
#include <typeinfo>

#include "core/Cp932.h"
#include "core/FrameStats.h"
#include "graphics/Blend.h"
#include "graphics/Surface.h"
#include "platform/TextCodec.h"
#include "scene/Tween.h"
#include "text/GlyphGenerator.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<std::string> SplitChars(const char* bytes) {
  std::vector<std::string> out;
  const std::string all(bytes);
  for (size_t i = 0; i < all.size();) {
    const size_t n = cp932::IsLeadByte(static_cast<unsigned char>(all[i])) && i + 1 < all.size() ? 2 : 1;
    out.push_back(all.substr(i, n));
    i += n;
  }
  return out;
}

// Counts a glyph without an image as taking no room: its advance of -1 only
// marks it, and summing it would pull the following glyphs back a pixel.
int32_t Room(const CTextRenderer::CGlyph& glyph) { return std::max<int32_t>(glyph.advance, 0); }

void Place(ILayer* layer, int x, int y) {
  if (!layer) return;
  layer->SetX(x);
  layer->SetY(y);
}

void DrawLayer(ILayer* layer, ISurface* target, CParentChain& parents) {
  if (layer) layer->DrawWithParents(target, parents);
}

}  // namespace

const std::vector<std::string>& CTextRenderer::NoStartChars() {
  // 、。，．・：；！？」』）｝〕］】 then the ASCII ones.
  static const std::vector<std::string> chars = SplitChars(
      "\x81\x41\x81\x42\x81\x43\x81\x44\x81\x45\x81\x46\x81\x47\x81\x49\x81\x48\x81\x76\x81\x78\x81\x6A\x81\x70"
      "\x81\x6C\x81\x6E\x81\x7A"
      "!?%)]},.:;");
  return chars;
}

const std::vector<std::string>& CTextRenderer::NoEndChars() {
  // 「『（｛〔［【 then the ASCII ones.
  static const std::vector<std::string> chars =
      SplitChars("\x81\x75\x81\x77\x81\x69\x81\x6F\x81\x6B\x81\x6D\x81\x79([{");
  return chars;
}

namespace {

// The code of a character of one or two bytes as glyphs key it.
uint16_t CharCode(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  return text.size() == 2 ? uint16_t(lead | static_cast<unsigned char>(text[1]) << 8) : lead;
}

}  // namespace

namespace {

// Every listed character is a single byte or has the lead byte 0x81: two
// small tables answer for them, so that the lookup stays in a few cache
// lines. Others (none today) are looked for in a short list.
struct CKinsokuTables {
  std::array<uint8_t, 256> single{}, lead81{};
  std::vector<std::pair<uint16_t, uint8_t>> others;
  void Set(uint16_t c, int32_t kind) {
    if (c < 0x100)
      single[c] = uint8_t(kind);
    else if ((c & 0xFF) == 0x81)
      lead81[c >> 8] = uint8_t(kind);
    else
      others.emplace_back(c, uint8_t(kind));
  }
  int32_t ClassOf(uint16_t code) const {
    if (code < 0x100) return single[code];
    if ((code & 0xFF) == 0x81) return lead81[code >> 8];
    int32_t kind = CTextRenderer::kKinsokuNone;
    for (const auto& [c, k] : others)
      if (c == code) kind = k;
    return kind;
  }
};

const CKinsokuTables& KinsokuTables() {
  static const CKinsokuTables tables = [] {
    CKinsokuTables t;
    for (const std::string& c : CTextRenderer::NoStartChars()) t.Set(CharCode(c), CTextRenderer::kKinsokuNoStart);
    // A character in both lists counts as line-end forbidden.
    for (const std::string& c : CTextRenderer::NoEndChars()) t.Set(CharCode(c), CTextRenderer::kKinsokuNoEnd);
    return t;
  }();
  return tables;
}

}  // namespace

int32_t CTextRenderer::KinsokuClassOf(uint16_t code) { return KinsokuTables().ClassOf(code); }

int32_t CTextRenderer::KinsokuClass(const std::string& text) {
  const bool oneChar = text.size() == 1 || (text.size() == 2 && cp932::IsLeadByte(static_cast<unsigned char>(text[0])));
  if (!oneChar) return kKinsokuNone;
  return KinsokuClassOf(CharCode(text));
}

int32_t CTextRenderer::CCell::FirstIndex() const {
  if (!base.empty()) return base.front().index;
  return ruby.empty() ? -1 : ruby.front().index;
}

int32_t CTextRenderer::CCell::LastIndex() const {
  if (!ruby.empty()) return ruby.back().index;
  return base.empty() ? -1 : base.back().index;
}

CTextRenderer::CTextRenderer(ILayerFactory* layerFactory, ISurfaceFactory* surfaceFactory)
    : m_layerFactory(layerFactory), m_surfaceFactory(surfaceFactory) {
  // Only the plain memory layers draw exactly as BlitGlyph does; a factory
  // of any other kind (a GPU renderer's, a subclass) keeps its own drawing.
  m_blitWithoutLayers = layerFactory && typeid(*layerFactory) == typeid(CLayerFactory);
  m_verticalBlock.SetRotate(90);
  OpenLine();
}

CTextRenderer::~CTextRenderer() {
  // The registry outlives the window: its tweens must not write into the
  // layers freed below.
  KillAllEffects();
}

bool CTextRenderer::HasPendingLine() const {
  return m_currentLine < int32_t(m_lines.size()) && !m_lines[m_currentLine]->cells.empty();
}

void CTextRenderer::OpenLine() {
  if (m_spareLines.empty()) {
    m_lines.push_back(std::make_unique<CLine>());
  } else {
    m_lines.push_back(std::move(m_spareLines.back()));
    m_spareLines.pop_back();
  }
  m_currentLine = int32_t(m_lines.size()) - 1;
}

namespace {

// Cells a store keeps between pages at most (some megabytes); a freak
// page's beyond that are freed.
constexpr size_t kMaxStoredCells = 1 << 16;

}  // namespace

void CTextRenderer::Recycle(std::vector<std::unique_ptr<CLine>>& lines) {
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    (*line)->cells.clear();
    (*line)->width = 0;
    (*line)->height = 0;
    (*line)->placedY = kUnplaced;
    m_spareLines.push_back(std::move(*line));
  }
  lines.clear();
}

[[gnu::always_inline]] inline CTextRenderer::CCell* CTextRenderer::NewCell(bool keepGlyph) {
  if (m_cells.used == m_cells.cells.size()) {
    m_cells.cells.push_back(std::make_unique<CCell>());
    return m_cells.cells[m_cells.used++].get();
  }
  CCell* cell = m_cells.cells[m_cells.used++].get();
  // Everything as a new cell has it but the property, which MakeCell sets
  // whole, and the room the glyph lists and strings hold.
  cell->x = cell->y = cell->width = cell->height = 0;
  if (!keepGlyph) cell->base.clear();
  cell->ruby.clear();
  cell->kinsoku = kKinsokuNone;
  cell->style = 0;
  cell->vertical = nullptr;
  cell->text.clear();
  cell->rubyText.clear();
  return cell;
}

void CTextRenderer::DropCell(CCell* cell) {
  if (m_cells.used && m_cells.cells[m_cells.used - 1].get() == cell) --m_cells.used;
}

CTextRenderer::CLine* CTextRenderer::PreviousLine() {
  return m_currentLine > 0 ? m_lines[m_currentLine - 1].get() : nullptr;
}

void CTextRenderer::Clear() { ClearWithEffects(CTweenList()); }

void CTextRenderer::KillSet(std::vector<int32_t>& set) {
  CTweenRegistry& registry = CTweenRegistry::Instance();
  for (int32_t handle : set) registry.Kill(handle);
  // Killed handles never come back; keeping them would only grow the set.
  set.clear();
}

void CTextRenderer::KillAllEffects() {
  KillSet(m_pageTweens);
  KillSet(m_previousTweens);
}

void CTextRenderer::ClearWithEffects(const CTweenList& vanish) {
  // No tween writes into the cells once they are killed; only then may the
  // cells be used again.
  KillAllEffects();
  Recycle(m_previousLines);
  m_previousCells.used = 0;
  if (!vanish.empty()) {
    Layout();
    int32_t m = 0;
    for (const CTweenInfo& entry : vanish) {
      int32_t delay = 0;
      for (auto& line : m_lines) RunEntry(entry, *line, m, delay, m_previousTweens);
    }
    m_previousLines = std::move(m_lines);
    std::swap(m_cells, m_previousCells);
  }
  Recycle(m_lines);
  m_cells.used = 0;
  for (CCellStore* store : {&m_cells, &m_previousCells})
    if (store->used == 0 && store->cells.size() > kMaxStoredCells) store->cells.resize(kMaxStoredCells);
  m_charCount = 0;
  m_effectMark = 0;
  m_currentLine = 0;
  m_usedHeight = 0;
  m_laidOut = false;
  OpenLine();
}

namespace {

using Setter = std::function<void(int32_t)>;

// The property setter of a layer or a cell for an effect param (0..5 of
// each kind).
Setter PropertySetter(ILayerProperty* target, int32_t which) {
  switch (which) {
    case 0: return [target](int32_t v) { target->SetX(v); };
    case 1: return [target](int32_t v) { target->SetY(v); };
    case 2: return [target](int32_t v) { target->SetAlpha(v); };
    case 3: return [target](int32_t v) { target->SetXScale(v); };
    case 4: return [target](int32_t v) { target->SetYScale(v); };
    default: return [target](int32_t v) { target->SetRotate(v); };
  }
}

int32_t PropertyValue(const ILayerProperty& target, int32_t which) {
  switch (which) {
    case 0: return target.GetX();
    case 1: return target.GetY();
    case 2: return target.GetAlpha();
    case 3: return target.GetXScale();
    case 4: return target.GetYScale();
    default: return target.GetRotate();
  }
}

// Delays saturate: a script's huge per-character delay must not wrap round
// into characters that start before their predecessors.
int32_t Saturate(int64_t value) { return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX)); }

void StartTween(Setter setter, int32_t base, const CTextRenderer::CTweenInfo& entry, int32_t delay,
                std::vector<int32_t>& set) {
  // Wrapping like 32-bit arithmetic: a huge diff must not be undefined.
  const int32_t moved = int32_t(uint32_t(base) + uint32_t(entry.diff));
  int32_t from = moved, to = base;
  if (entry.vanish) std::swap(from, to);
  // An appearing character is hidden or displaced from the moment it is
  // written, not only once its delay has passed.
  else
    setter(moved);
  auto tween = std::make_unique<CIntTween>(std::move(setter), from, to, entry.msec, delay);
  tween->SetEase(entry.ease);
  tween->SetYoyo(entry.repeat);
  set.push_back(CTweenRegistry::Instance().Register(std::move(tween)));
}

}  // namespace

void CTextRenderer::RunEntry(const CTweenInfo& entry, CLine& line, int32_t mark, int32_t& delay,
                             std::vector<int32_t>& set) {
  const bool cellEffect = entry.param >= kParamCellFirst && entry.param < kParamUnset;
  const bool glyphEffect = entry.param >= kParamGlyphFirst && entry.param < kParamCellFirst;
  if (!cellEffect && !glyphEffect) return;
  const int32_t which = cellEffect ? entry.param - kParamCellFirst : entry.param;
  for (auto& cell : line.cells) {
    const int32_t first = cell->base.empty() ? 0 : cell->base.front().index;
    if (first < mark) continue;
    if (cellEffect) {
      StartTween(PropertySetter(&cell->property, which), PropertyValue(cell->property, which), entry, delay, set);
      delay = Saturate(int64_t(delay) + int64_t(entry.delay) * int64_t(cell->base.size()));
      continue;
    }
    const int32_t start = delay;
    auto glyphTweens = [&](CGlyph& glyph, int32_t at) {
      MakeLayers(glyph);
      const int32_t o = (glyph.style & kStyleOutline) ? 1 : 0;
      // Each layer keeps its own offset from the glyph's place.
      const std::pair<ILayer*, std::pair<int32_t, int32_t>> layers[] = {
          {glyph.shadow.get(), {o + 1, o}}, {glyph.outline.get(), {0, 0}}, {glyph.main.get(), {o, o}}};
      for (const auto& [layer, offset] : layers) {
        if (!layer) continue;
        int32_t base = 0;
        switch (which) {
          case 0: base = glyph.laidX + offset.first; break;
          case 1: base = glyph.laidY + offset.second; break;
          case 2: base = glyph.alpha; break;
          case 3: base = glyph.xscale; break;
          case 4: base = glyph.yscale; break;
          default: base = glyph.rotate; break;
        }
        StartTween(PropertySetter(layer, which), base, entry, at, set);
      }
    };
    for (CGlyph& glyph : cell->base) {
      glyphTweens(glyph, delay);
      delay = Saturate(int64_t(delay) + entry.delay);
    }
    // Ruby spreads over the span its base took, without stretching it.
    if (!cell->ruby.empty()) {
      const int64_t step = (int64_t(delay) - start) / int64_t(cell->ruby.size());
      for (size_t k = 0; k < cell->ruby.size(); ++k) glyphTweens(cell->ruby[k], Saturate(start + int64_t(k) * step));
    }
  }
}

int32_t CTextRenderer::StartEffects(const CTweenList& list, bool keepMark) {
  Layout();
  if (!keepMark) m_effectMark = 0;
  for (const CTweenInfo& entry : list) {
    int32_t delay = 0;
    for (auto& line : m_lines) RunEntry(entry, *line, m_effectMark, delay, m_pageTweens);
  }
  m_effectMark = m_charCount;
  return m_effectMark;
}

void CTextRenderer::FinishEffects() {
  KillSet(m_pageTweens);
  Invalidate();
}

bool CTextRenderer::EffectsFinished() {
  // Asked every frame: ended handles at the front are dropped as they are
  // met (handles were started in order, so the earliest end first) and the
  // walk stops at the first live one, so neither a long page nor a long
  // game makes the question slower.
  const CTweenRegistry& registry = CTweenRegistry::Instance();
  size_t dead = 0;
  while (dead < m_pageTweens.size() && !registry.IsAlive(m_pageTweens[dead])) ++dead;
  m_pageTweens.erase(m_pageTweens.begin(), m_pageTweens.begin() + ptrdiff_t(dead));
  return m_pageTweens.empty();
}

size_t CTextRenderer::GetLiveEffectCount() const {
  const CTweenRegistry& registry = CTweenRegistry::Instance();
  size_t count = 0;
  for (const auto* set : {&m_pageTweens, &m_previousTweens})
    for (int32_t handle : *set) count += registry.IsAlive(handle) ? 1 : 0;
  return count;
}

bool CTextRenderer::SelectFont(const std::string& face, int32_t size) {
  CGlyphGenerator* generator = CGlyphGenerator::GetInstance();
  const int32_t style = m_font.style;
  const bool bold = style & kStyleBold, italic = style & kStyleItalic;
  const bool underline = style & kStyleUnderline, strikeout = style & kStyleStrikeout;
  if (generator->IsSelected(m_font.rendered, face, size, bold, italic, underline, strikeout)) return false;
  return generator->SelectFont(m_font.rendered, face, size, bold, italic, underline, strikeout);
}

// This, MainImage and NewCell run once per character: made part of the
// character loops, a page lays out about a tenth faster.
[[gnu::always_inline]] inline void CTextRenderer::MakeGlyph(uint16_t code, CGlyph& glyph) {
  // Every field, so that a glyph left by an earlier page can be reused.
  glyph.index = m_charCount++;
  glyph.x = glyph.y = 0;
  glyph.laidX = glyph.laidY = 0;
  glyph.layered = false;
  glyph.mainImage = glyph.shadowImage = glyph.outlineImage = nullptr;
  glyph.main.reset();
  glyph.shadow.reset();
  glyph.outline.reset();
  glyph.code = code;
  glyph.alpha = m_font.alpha;
  glyph.xscale = m_font.xscale;
  glyph.yscale = m_font.yscale;
  glyph.rotate = m_font.rotate;
  glyph.layermode = m_font.layermode;
  glyph.style = m_font.style;
  CGlyphGenerator* generator = CGlyphGenerator::GetInstance();
  generator->SetOutline(false);
  int32_t width = 0;
  ISurface* mainImage = MainImage(generator, code, width);
  if (!mainImage) {
    glyph.advance = -1;
    return;
  }
  glyph.mainImage = mainImage;
  if (m_font.style & kStyleShadow) glyph.shadowImage = generator->GetGlyph(code, m_surfaceFactory, m_font.shadowcolor);
  if (m_font.style & kStyleOutline) {
    generator->SetOutline(true);
    glyph.outlineImage = generator->GetGlyph(code, m_surfaceFactory, m_font.outlinecolor);
    generator->SetOutline(false);
  }
  glyph.advance = width + m_font.StyleExtra();
}

[[gnu::always_inline]] inline ISurface* CTextRenderer::MainImage(CGlyphGenerator* generator, uint16_t code,
                                                                 int32_t& width) {
  const uint64_t serial = CGlyphGenerator::GetSerial();
  const uint32_t colour = m_font.color;
  static_assert(kFrontGlyphs == 1024, "the slot is the top ten bits of the hash");
  if (m_frontGlyphs.empty()) m_frontGlyphs.resize(kFrontGlyphs);
  CFrontGlyph& front = m_frontGlyphs[(uint32_t(code) * 0x9E3779B1u) >> 22];
  if (front.serial == serial && front.code == code && front.colour == colour && front.image) {
    width = front.width;
    return front.image;
  }
  ISurface* image = generator->GetGlyph(code, m_surfaceFactory, colour);
  if (!image) return nullptr;
  width = image->GetWidth();
  front = {serial, image, colour, code, width};
  return image;
}

namespace {

// Where each layer of a glyph goes from the glyph's laid position.
struct CLayerOffsets {
  int32_t mainX, mainY, shadowX, shadowY;  // the outline's is 0, 0
};

CLayerOffsets Offsets(const CTextRenderer::CGlyph& glyph) {
  const int32_t o = (glyph.style & kStyleOutline) ? 1 : 0;
  return {o, o, o + 1, o};
}

}  // namespace

void CTextRenderer::MakeLayers(CGlyph& glyph) {
  if (glyph.layered) return;
  glyph.layered = true;
  auto makeLayer = [&](ISurface* image) -> std::unique_ptr<ILayer> {
    if (!image || !m_layerFactory) return nullptr;
    std::unique_ptr<ILayer> layer(m_layerFactory->Create());
    if (!layer) return nullptr;
    layer->SetSurface(image);
    layer->SetAlpha(glyph.alpha);
    layer->SetXScale(glyph.xscale);
    layer->SetYScale(glyph.yscale);
    layer->SetRotate(glyph.rotate);
    layer->SetLayerMode(glyph.layermode);
    layer->SetAnchorX(image->GetWidth() / 2);
    layer->SetAnchorY(image->GetHeight() / 2);
    return layer;
  };
  const CLayerOffsets o = Offsets(glyph);
  glyph.main = makeLayer(glyph.mainImage);
  glyph.shadow = makeLayer(glyph.shadowImage);
  glyph.outline = makeLayer(glyph.outlineImage);
  Place(glyph.main.get(), glyph.laidX + o.mainX, glyph.laidY + o.mainY);
  Place(glyph.shadow.get(), glyph.laidX + o.shadowX, glyph.laidY + o.shadowY);
  Place(glyph.outline.get(), glyph.laidX, glyph.laidY);
}

void CTextRenderer::MakeLayers() {
  Layout();
  for (const auto* page : {&m_previousLines, &m_lines})
    for (const auto& line : *page)
      for (const auto& cell : line->cells) {
        for (CGlyph& glyph : cell->ruby) MakeLayers(glyph);
        for (CGlyph& glyph : cell->base) MakeLayers(glyph);
      }
}

CTextRenderer::CGlyphList::~CGlyphList() {
  clear();
  if (m_data != Inline()) ::operator delete(m_data);
}

CTextRenderer::CGlyph& CTextRenderer::CGlyphList::emplace_back() {
  if (m_size == m_capacity) {
    const size_t capacity = 2 * m_capacity;
    auto* data = static_cast<CGlyph*>(::operator new(capacity * sizeof(CGlyph)));
    for (size_t i = 0; i < m_size; ++i) {
      new (data + i) CGlyph(std::move(m_data[i]));
      m_data[i].~CGlyph();
    }
    if (m_data != Inline()) ::operator delete(m_data);
    m_data = data;
    m_capacity = capacity;
  }
  return *new (m_data + m_size++) CGlyph();
}

CTextRenderer::CGlyph& CTextRenderer::CGlyphList::KeepFirst() {
  if (m_size == 0) return emplace_back();
  for (size_t i = 1; i < m_size; ++i) m_data[i].~CGlyph();
  m_size = 1;
  return m_data[0];
}

void CTextRenderer::CGlyphList::clear() {
  for (size_t i = 0; i < m_size; ++i) m_data[i].~CGlyph();
  m_size = 0;
}

template <typename List>
int32_t CTextRenderer::MakeGlyphs(std::string_view text, List& out) {
  int32_t total = 0;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    uint16_t code = lead;
    size_t n = 1;
    if (cp932::IsLeadByte(lead) && i + 1 < text.size()) {
      code = uint16_t(lead | static_cast<unsigned char>(text[i + 1]) << 8);
      n = 2;
    }
    out.emplace_back();
    MakeGlyph(code, out.back());
    total += Room(out.back());
    i += n;
  }
  return total;
}

namespace {

template <typename List>
void Follow(List& glyphs) {
  int32_t x = 0;
  for (CTextRenderer::CGlyph& glyph : glyphs) {
    glyph.x = x;
    x += Room(glyph);
  }
}

template <typename List>
void Spread(List& glyphs, int32_t total, int32_t own) {
  if (glyphs.empty()) return;
  const float gap = float(total - own) / float(glyphs.size() + 1);
  float p = gap;
  for (CTextRenderer::CGlyph& glyph : glyphs) {
    glyph.x = int32_t(std::floor(p));
    p += float(Room(glyph)) + gap;
  }
}

}  // namespace

struct CTextRenderer::CCellStart {
  CLayerProperty property;
  int32_t style = 0;
  int32_t height = 0;
  int32_t baseY = 0;
  int32_t rubyY = 0;
  const CLayerProperty* vertical = nullptr;
};

void CTextRenderer::StartCells(CCellStart& start) const {
  start.property.SetX(m_font.left);
  start.property.SetY(m_font.top);
  start.property.SetAlpha(m_font.entirealpha);
  start.property.SetXScale(m_font.entirexscale);
  start.property.SetYScale(m_font.entireyscale);
  start.property.SetRotate(m_font.entirerotate);
  start.style = m_font.style;
  start.height = m_font.CellHeight();
  start.baseY = m_font.spacetop + m_font.rubysize + m_font.spacemiddle + m_font.StyleExtra();
  start.rubyY = m_font.spacetop;
  start.vertical = m_font.vertical ? &m_verticalBlock : nullptr;
}

CTextRenderer::CCell* CTextRenderer::MakeCell(std::string_view text, std::string_view ruby, const CCellStart& start,
                                              bool baseSelected) {
  CCell* cell = NewCell();
  cell->property = start.property;
  cell->style = start.style;
  // Character by character: the usual one or two bytes stay in the
  // string's own room without a call into the library.
  for (const char c : text) cell->text.push_back(c);
  for (const char c : ruby) cell->rubyText.push_back(c);
  const bool oneChar = text.size() == 1 || (text.size() == 2 && cp932::IsLeadByte(static_cast<unsigned char>(text[0])));
  cell->kinsoku = oneChar ? KinsokuClassOf(CharCode(text)) : kKinsokuNone;

  int32_t c = 0, d = 0;
  if (!text.empty()) {
    if (!baseSelected) (void)SelectFont(m_font.face, m_font.ClampedSize());
    c = MakeGlyphs(text, cell->base);
  }
  if (!ruby.empty()) {
    (void)SelectFont(m_font.rubyface, m_font.ClampedRubySize());
    d = MakeGlyphs(ruby, cell->ruby);
  }
  cell->height = start.height;
  if (c < d) {
    cell->width = d;
    Follow(cell->ruby);
    Spread(cell->base, d, c);
  } else if (d < c) {
    cell->width = c;
    Follow(cell->base);
    Spread(cell->ruby, c, d);
  } else {
    cell->width = c;
    Follow(cell->base);
    Follow(cell->ruby);
  }
  for (CGlyph& glyph : cell->base) glyph.y = start.baseY;
  for (CGlyph& glyph : cell->ruby) glyph.y = start.rubyY;
  cell->vertical = start.vertical;
  return cell;
}

int CTextRenderer::AddChar(const std::string& text, const std::string& ruby) {
  CCellStart start;
  StartCells(start);
  CCell* cell = MakeCell(text, ruby, start, false);
  if (m_font.width < cell->width) {
    DropCell(cell);
    return -1;
  }
  PlaceCell(cell);
  return m_currentLine;
}

namespace {

// value x 1024, truncated. A product that is a whole number in exact
// arithmetic (sin 30 degrees is 1/2) stays whole, although the double sine
// lands a hair below it.
int64_t TruncatedFixed10(double value) {
  const double scaled = value * 1024.0;
  const double nearest = std::round(scaled);
  return int64_t(std::abs(scaled - nearest) < 1e-6 ? nearest : scaled);
}

CTextRenderer::CCell* TakeLast(CTextRenderer::CLine& line) {
  CTextRenderer::CCell* cell = line.cells.back();
  line.cells.pop_back();
  line.width -= cell->width;
  // The line is only as tall as the cells it still holds.
  line.height = 0;
  for (const auto& other : line.cells) line.height = std::max(line.height, other->height);
  return cell;
}

void Append(CTextRenderer::CLine& line, CTextRenderer::CCell* cell) {
  line.width += cell->width;
  line.height = std::max(line.height, cell->height);
  line.cells.push_back(cell);
}

}  // namespace

void CTextRenderer::AddText(const std::string& text) {
  // One character per cell and no ruby: the base font stays selected from
  // one cell to the next.
  if (text.empty()) return;
  (void)SelectFont(m_font.face, m_font.ClampedSize());
  CCellStart start;
  StartCells(start);
  const CKinsokuTables& kinsoku = KinsokuTables();
  // What MakeCell does for one character without ruby, without its
  // general walks: the glyph stands at the cell's left edge.
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const bool pair = cp932::IsLeadByte(lead) && i + 1 < text.size();
    const uint16_t code = pair ? uint16_t(lead | static_cast<unsigned char>(text[i + 1]) << 8) : lead;
    const size_t n = pair ? 2 : 1;
    CCell* cell = NewCell(true);
    cell->property = start.property;
    cell->style = start.style;
    // The cell's text is empty here and its string keeps the room of an
    // earlier page: appending byte by byte stays inline, where an assign
    // calls into the library's general replace.
    cell->text.push_back(text[i]);
    if (pair) cell->text.push_back(text[i + 1]);
    cell->kinsoku = kinsoku.ClassOf(code);
    CGlyph& glyph = cell->base.KeepFirst();
    MakeGlyph(code, glyph);
    glyph.y = start.baseY;
    cell->width = Room(glyph);
    cell->height = start.height;
    cell->vertical = start.vertical;
    CLine& line = *m_lines[m_currentLine];
    if (m_font.width < cell->width) {
      DropCell(cell);
    } else if (line.width + cell->width <= m_font.width && m_usedHeight + cell->height <= m_font.height &&
               !(line.cells.empty() && cell->kinsoku == kKinsokuNoStart)) {
      // Room on the open line and no rule to apply: what PlaceCell would
      // end with.
      m_laidOut = false;
      Append(line, cell);
    } else {
      PlaceCell(cell);
    }
    i += n;
  }
}

void CTextRenderer::NewLine() {
  CloseLine(*m_lines[m_currentLine]);
  OpenLine();
}

void CTextRenderer::CloseLine(CLine& line) {
  // Only this line changed: the lines above keep their places.
  m_laidOut = false;
  AlignLine(line);
  // The lines above add up to the used height unless one of them lost a
  // cell since; the layout checks the top and places the line again then.
  PlaceLine(line, m_usedHeight);
  m_usedHeight += line.height;
}

void CTextRenderer::PlaceCell(CCell* cell) {
  // Lines change only through AlignLine, which leaves them to be placed.
  m_laidOut = false;
  // A cell kept from a wider area (set aside, or pulled down to go with a
  // punctuation mark, after [/font] narrowed the area) may no longer fit
  // any line: it goes as a cell wider than the area does, or it would open
  // empty lines for ever.
  if (m_font.width < cell->width) {
    DropCell(cell);
    return;
  }
  CLine& line = *m_lines[m_currentLine];
  if (m_font.width < line.width + cell->width) {
    std::vector<CCell*> aside;
    while (line.cells.size() >= 2 && line.cells.back()->kinsoku == kKinsokuNoEnd)
      aside.insert(aside.begin(), TakeLast(line));
    CloseLine(line);
    OpenLine();
    for (CCell* moved : aside) PlaceCell(moved);
    PlaceCell(cell);
    return;
  }
  if (m_font.height < m_usedHeight + cell->height) {  // below the text area: dropped
    DropCell(cell);
    return;
  }
  CLine* previous = PreviousLine();
  if (line.cells.empty() && cell->kinsoku == kKinsokuNoStart && previous) {
    if (m_font.hung && !m_hangRetry && m_font.width >= previous->width) {
      Append(*previous, cell);
      AlignLine(*previous);
      return;
    }
    if (previous->cells.size() > 1) {
      m_hangRetry = true;
      PlaceCell(TakeLast(*previous));
      AlignLine(*previous);
      PlaceCell(cell);
      // The flag stays set: until punctuation opens a line after a lone
      // cell, later punctuation pulls a character down instead of hanging.
      return;
    }
    m_hangRetry = false;
  }
  Append(*m_lines[m_currentLine], cell);
}

void CTextRenderer::AlignLine(CLine& line) {
  const int32_t free = m_font.width - line.width;
  int32_t mode = m_font.align;
  if (mode == kAlignEqualize && line.cells.size() < 2) mode = kAlignLeft;
  if (mode == kAlignEqualize) {
    const float step = float(free) / float(line.cells.size() - 1);
    float p = 0;
    for (auto& cell : line.cells) {
      cell->x = int32_t(std::floor(p));
      p += float(cell->width) + step;
    }
  } else {
    int32_t x = 0;
    if (mode == kAlignCenter)
      x = free / 2;
    else if (mode == kAlignRight)
      x = free;
    for (auto& cell : line.cells) {
      cell->x = x;
      x += cell->width;
    }
  }
  if (line.height == 0) line.height = m_font.EmptyLineHeight();
  line.placedY = kUnplaced;
}

void CTextRenderer::PlaceLine(CLine& line, int32_t y) {
  const int32_t anchorX = m_placedAnchorX, anchorY = m_placedAnchorY;
  for (const auto& cell : line.cells) {
    auto placeGlyphs = [&](auto& glyphs) {
      for (CGlyph& glyph : glyphs) {
        const int32_t x = cell->x + glyph.x, gy = y + cell->y + glyph.y;
        glyph.laidX = x;
        glyph.laidY = gy;
        if (!glyph.layered) continue;
        const CLayerOffsets o = Offsets(glyph);
        Place(glyph.main.get(), x + o.mainX, gy + o.mainY);
        Place(glyph.shadow.get(), x + o.shadowX, gy + o.shadowY);
        Place(glyph.outline.get(), x, gy);
      }
    };
    if (!cell->ruby.empty()) placeGlyphs(cell->ruby);
    placeGlyphs(cell->base);
    cell->property.SetAnchorX(anchorX);
    cell->property.SetAnchorY(anchorY);
  }
  line.placedY = y;
}

void CTextRenderer::Layout() {
  if (m_laidOut) return;
  if (HasPendingLine()) AlignLine(*m_lines[m_currentLine]);
  // The pivot needs only the lines; then one walk through the cells places
  // the glyphs and gives each cell the pivot.
  if (m_font.anchorcenter) {
    int32_t height = 0, widest = 0;
    for (const auto& line : m_lines) {
      widest = std::max(widest, line->width);
      height += line->height;
    }
    if (m_font.align == kAlignLeft)
      m_font.entireanchorx = widest / 2;
    else if (m_font.align == kAlignRight)
      m_font.entireanchorx = m_font.width - widest / 2;
    else
      m_font.entireanchorx = m_font.width / 2;
    m_font.entireanchory = height / 2;
  }
  if (m_font.entireanchorx != m_placedAnchorX || m_font.entireanchory != m_placedAnchorY) {
    m_placedAnchorX = m_font.entireanchorx;
    m_placedAnchorY = m_font.entireanchory;
    m_placeAll = true;
  }
  // Lines closed as the text came were placed then; the rest (the open
  // line, lines that moved, or all after any other change) are placed now.
  int32_t y = 0;
  for (const auto& line : m_lines) {
    if (m_placeAll || line->placedY != y) PlaceLine(*line, y);
    y += line->height;
  }
  m_placeAll = false;
  m_laidOut = true;
}

namespace {

// Positions beyond this make the layer matrix round; such draws go through
// the layers.
constexpr int32_t kExactLimit = 1 << 19;
constexpr size_t kExactParents = 8;

bool Exact(int32_t v) { return v > -kExactLimit && v < kExactLimit; }

bool Untransformed(const ILayerProperty& p) {
  return p.GetXScale() == kScaleOne && p.GetYScale() == kScaleOne && p.GetRotate() == 0 && !p.GetFlipX() &&
         !p.GetFlipY();
}

// Whether the parents only move what they hold, by whole pixels that the
// layer matrix adds up exactly; their sum is then the offset.
bool ChainOffset(const CParentChain& parents, int32_t& x, int32_t& y) {
  if (parents.size() > kExactParents) return false;
  x = y = 0;
  for (const ILayerProperty* parent : parents) {
    if (!parent) continue;
    if (!Untransformed(*parent) || !Exact(parent->GetX()) || !Exact(parent->GetY()) || !Exact(parent->GetAnchorX()) ||
        !Exact(parent->GetAnchorY()))
      return false;
    x += parent->GetX();
    y += parent->GetY();
  }
  return true;
}

}  // namespace

bool CTextRenderer::BlitGlyph(const CGlyph& glyph, ISurface* target, const CParentChain& parents, int32_t parentX,
                              int32_t parentY) {
  // What a memory layer made by MakeLayers would do in its draw: with
  // nothing transformed its matrix is a sum of whole-pixel moves, its image
  // is the surface itself and the blit is the straight one.
  if (glyph.xscale != kScaleOne || glyph.yscale != kScaleOne || glyph.rotate % 360 != 0) return false;
  if (!Exact(glyph.laidX) || !Exact(glyph.laidY)) return false;
  if (glyph.alpha < 1) return true;  // the layers would draw nothing
  const CLayerOffsets o = Offsets(glyph);
  const int opacity = EffectiveOpacity(glyph.alpha, parents);
  const CRect screen(0, 0, target->GetWidth(), target->GetHeight());
  auto blit = [&](ISurface* image, int32_t dx, int32_t dy) {
    if (!image) return;
    const int32_t w = image->GetWidth(), h = image->GetHeight();
    if (w < 1 || h < 1) return;
    const int32_t x = parentX + glyph.laidX + dx, y = parentY + glyph.laidY + dy;
    framestats::CountLayer();
    CBlitRect rect;
    if (x >= 0 && y >= 0 && int64_t(x) + w <= screen.GetWidth() && int64_t(y) + h <= screen.GetHeight()) {
      // Wholly on the target, as most text is: the clip would change nothing.
      rect.dstX = x;
      rect.dstY = y;
      rect.width = w;
      rect.height = h;
      rect.nonEmpty = true;
    } else {
      const CRect source(x, y, w, h);
      rect = ClipBlit(source, screen, &source, nullptr);
    }
    if (rect.nonEmpty) (void)BlendBlit(target, image, rect, glyph.layermode, image->GetFormat(), opacity);
  };
  blit(glyph.shadowImage, o.shadowX, o.shadowY);
  blit(glyph.outlineImage, 0, 0);
  blit(glyph.mainImage, o.mainX, o.mainY);
  return true;
}

void CTextRenderer::DrawLines(const std::vector<std::unique_ptr<CLine>>& lines, ISurface* target,
                              CParentChain& parents) {
  for (const auto& line : lines)
    for (const auto& cell : line->cells) {
      const size_t depth = parents.size();
      parents.push_back(&cell->property);
      if (cell->vertical) parents.push_back(cell->vertical);
      int32_t parentX = 0, parentY = 0;
      const bool blit = m_blitWithoutLayers && target && ChainOffset(parents, parentX, parentY);
      auto draw = [&](CGlyph& glyph) {
        if (!glyph.layered) {
          if (!glyph.mainImage) return;  // no image, no layers
          if (blit && BlitGlyph(glyph, target, parents, parentX, parentY)) return;
          MakeLayers(glyph);
        }
        DrawLayer(glyph.shadow.get(), target, parents);
        DrawLayer(glyph.outline.get(), target, parents);
        DrawLayer(glyph.main.get(), target, parents);
      };
      for (CGlyph& glyph : cell->ruby) draw(glyph);
      for (CGlyph& glyph : cell->base) draw(glyph);
      parents.resize(depth);
    }
}

void CTextRenderer::DrawWithParents(ISurface* target, CParentChain& parents) {
  if (!m_font.visible || m_hidden) return;
  Layout();
  const size_t depth = parents.size();
  parents.push_back(this);
  DrawLines(m_previousLines, target, parents);
  DrawLines(m_lines, target, parents);
  parents.resize(depth);
}

void CTextRenderer::Draw(ISurface* target) {
  CParentChain parents;
  DrawWithParents(target, parents);
}

namespace {

// a * b / 65536 in 64 bits, floored like a shift.
int64_t MulFixed(int64_t a, int64_t b) { return (a * b) >> 16; }

}  // namespace

bool CTextRenderer::GetCaretRect(int index, CRect& rect) {
  if (m_charCount <= 0) return false;
  Layout();
  // Only past the end is brought back to the last character: a negative
  // index names no character.
  index = std::min(index, m_charCount - 1);
  int32_t y = 0;
  const CCell* found = nullptr;
  int32_t foundY = 0;
  for (const auto& line : m_lines) {
    for (const auto& cell : line->cells) {
      const int32_t first = cell->FirstIndex(), last = cell->LastIndex();
      if (first >= 0 && first <= index && index <= last) {
        found = cell;
        foundY = y;
        break;
      }
    }
    if (found) break;
    y += line->height;
  }
  if (!found) return false;
  int64_t x0 = found->x, y0 = int64_t(foundY) + found->y;
  int64_t x1 = x0 + found->width, y1 = y0 + found->height;
  if (m_font.vertical) {
    // A quarter turn clockwise about the origin: (x, y) -> (-y, x).
    const int64_t nx0 = -y1, nx1 = -y0, ny0 = x0, ny1 = x1;
    x0 = nx0, x1 = nx1, y0 = ny0, y1 = ny1;
  }
  int64_t ax = m_font.entireanchorx, ay = m_font.entireanchory;
  if (m_font.entirexscale != kScaleOne || m_font.entireyscale != kScaleOne) {
    const int64_t xs = m_font.entirexscale, ys = m_font.entireyscale;
    x0 = ax + MulFixed(x0 - ax, xs);
    x1 = ax + MulFixed(x1 - ax, xs);
    y0 = ay + MulFixed(y0 - ay, ys);
    y1 = ay + MulFixed(y1 - ay, ys);
    if (x1 < x0) std::swap(x0, x1);
    if (y1 < y0) std::swap(y0, y1);
    ax = MulFixed(ax, xs);
    ay = MulFixed(ay, ys);
  }
  if (m_font.entirerotate != 0) {
    const double radians = double(m_font.entirerotate) * kPi / 180.0;
    const int64_t s = TruncatedFixed10(std::sin(radians)), c = TruncatedFixed10(std::cos(radians));
    const int64_t xs[4] = {x0, x1, x1, x0}, ys[4] = {y0, y0, y1, y1};
    int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
    for (int i = 0; i < 4; ++i) {
      const int64_t dx = xs[i] - ax, dy = ys[i] - ay;
      const int64_t rx = ax + ((dx * c - dy * s) >> 10), ry = ay + ((dx * s + dy * c) >> 10);
      minX = std::min(minX, rx), maxX = std::max(maxX, rx);
      minY = std::min(minY, ry), maxY = std::max(maxY, ry);
    }
    x0 = minX, x1 = maxX, y0 = minY, y1 = maxY;
  }
  auto clampInt = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN / 2, INT32_MAX / 2)); };
  rect = CRect(clampInt(x0 + m_font.left), clampInt(y0 + m_font.top), clampInt(x1 - x0), clampInt(y1 - y0));
  return true;
}

namespace {

void AppendPosition(std::string& out, const char* name, bool present, int32_t x, int32_t y) {
  out += ' ';
  out += name;
  if (!present) {
    out += " -";
    return;
  }
  out += ' ' + std::to_string(x) + ',' + std::to_string(y);
}

// A layer made shows where it stands now; one not made yet where it will
// be placed.
void AppendLayer(std::string& out, const char* name, const CTextRenderer::CGlyph& glyph, const ILayer* layer,
                 bool wouldExist, int32_t dx, int32_t dy) {
  if (glyph.layered)
    AppendPosition(out, name, layer != nullptr, layer ? layer->GetX() : 0, layer ? layer->GetY() : 0);
  else
    AppendPosition(out, name, wouldExist, glyph.laidX + dx, glyph.laidY + dy);
}

}  // namespace

std::string CTextRenderer::Quoted(const std::string& cp932) {
  std::string out = "\"";
  for (char c : platform::ConvertCp932ToUtf8(cp932)) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + '"';
}

void CTextRenderer::Dump(std::string& out) {
  Layout();
  int32_t y = 0;
  for (size_t l = 0; l < m_lines.size(); ++l) {
    const CLine& line = *m_lines[l];
    out += "  line " + std::to_string(l) + " y " + std::to_string(y) + " width " + std::to_string(line.width) +
           " height " + std::to_string(line.height) + '\n';
    for (const auto& cell : line.cells) {
      out += "    cell " + std::to_string(cell->FirstIndex()) + ' ' + Quoted(cell->text);
      if (!cell->rubyText.empty()) out += " ruby " + Quoted(cell->rubyText);
      out += " x " + std::to_string(cell->x) + " y " + std::to_string(cell->y) + " width " +
             std::to_string(cell->width) + " height " + std::to_string(cell->height) + " kinsoku " +
             std::to_string(cell->kinsoku) + '\n';
      auto dump = [&](const CGlyph& glyph, const char* kind) {
        out += "      glyph " + std::to_string(glyph.index) + kind;
        const CLayerOffsets o = Offsets(glyph);
        const bool layers = m_layerFactory != nullptr;
        AppendLayer(out, "main", glyph, glyph.main.get(), layers && glyph.mainImage, o.mainX, o.mainY);
        AppendLayer(out, "shadow", glyph, glyph.shadow.get(), layers && glyph.shadowImage, o.shadowX, o.shadowY);
        AppendLayer(out, "outline", glyph, glyph.outline.get(), layers && glyph.outlineImage, 0, 0);
        out += '\n';
      };
      for (const CGlyph& glyph : cell->ruby) dump(glyph, " ruby");
      for (const CGlyph& glyph : cell->base) dump(glyph, " base");
    }
    y += line.height;
  }
}
