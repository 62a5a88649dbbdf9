// The font settings of a message window: faces, text area, whole-text and
// per-glyph transforms, sizes, spacing, colours, alignment and style. New
// character cells take the values current when they are made; the script
// replaces them as a whole.
#pragma once

#include <cstdint>
#include <string>

#include "scene/LayerProperty.h"

class CScriptBlock;

// Style bits.
enum TextStyle : int32_t {
  kStyleSingle = 1,  // neither shadow nor outline
  kStyleShadow = 2,
  kStyleOutline = 4,
  kStyleBold = 8,
  kStyleItalic = 16,
  kStyleUnderline = 32,
  kStyleStrikeout = 64,
};

enum TextAlign : int32_t {
  kAlignLeft = 0,
  kAlignCenter = 1,
  kAlignRight = 2,
  kAlignEqualize = 3,
};

// The values alone; scales are 16.16 fixed point, angles degrees, colours
// 0xRRGGBB. Faces are CP932.
struct CFontValues {
  CFontValues();

  std::string face;
  std::string rubyface;
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 640;
  int32_t height = 480;
  int32_t entireanchorx = 0;
  int32_t entireanchory = 0;
  bool anchorcenter = true;
  int32_t entirealpha = 255;
  int32_t entirexscale = kScaleOne;
  int32_t entireyscale = kScaleOne;
  int32_t entirerotate = 0;
  int32_t layermode = 0;
  bool visible = true;
  int32_t alpha = 255;
  int32_t xscale = kScaleOne;
  int32_t yscale = kScaleOne;
  int32_t rotate = 0;
  int32_t size = 24;
  int32_t rubysize = 8;
  int32_t spacetop = 0;
  int32_t spacemiddle = 0;
  int32_t spacebottom = 0;
  uint32_t color = 0xFFFFFF;
  uint32_t shadowcolor = 0;
  uint32_t outlinecolor = 0;
  int32_t align = kAlignLeft;
  int32_t style = 0;
  bool vertical = false;
  bool hung = true;
  bool rendered = false;

  // Height of a cell with these values: the ruby row counts even without
  // ruby text, and shadow and outline add their pixels.
  int32_t CellHeight() const;
  // Height of a line that got no cell (an empty line): the rows alone,
  // without the style's pixels.
  int32_t EmptyLineHeight() const;
  // The size as the glyph generator and the cell height use it: one byte,
  // at least 1 (a plain byte cast would give 256 no glyphs in tall cells).
  int32_t ClampedSize() const;
  int32_t ClampedRubySize() const;
  // The offset shadow (1) and outline (2) add to advances and base rows.
  int32_t StyleExtra() const { return (style >> 1) & 3; }

  bool operator==(const CFontValues&) const = default;
};

// The default face ("ＭＳ ゴシック" as CP932 bytes).
const std::string& DefaultFontFace();

// Applies the attributes of a font tag to the values (unknown names of the
// enumerated attributes leave them). The tag and the backlog's replay of a
// page share it, so a page reads back as it was written.
void ApplyFontAttributes(const CScriptBlock& record, CFontValues& font);
