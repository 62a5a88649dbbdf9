// A message window: characters arrive one at a time, each (or a ruby base
// with its ruby text) becomes a character cell, cells are broken into lines
// with Japanese line-breaking rules and optional hanging punctuation, lines
// are aligned, and every glyph draws as up to three images (shadow, outline,
// main). The renderer's own property block transforms the whole window; each
// cell carries the whole-text transform about one common pivot, so the text
// scales and turns as one.
//
// A glyph's image layers are made when something needs them: an effect, a
// draw through a transform or into a renderer of its own, a test. Until then
// a plain draw into a memory target blits the images where the layers would
// have drawn them, byte for byte the same, so that a long page costs neither
// a layer per image to write nor to clear.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Geometry.h"
#include "core/Serializer.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerProperty.h"
#include "text/FontProperty.h"
#include "text/TextEffect.h"

class CGlyphGenerator;
class CFontProperty;

class CTextRenderer : public CLayerProperty, public ISceneOverlay {
 public:
  // Base of the saved font settings.
  class CProperty : public ISerializable {};

  // Kinsoku classes of a cell.
  enum : int32_t { kKinsokuNone = 0, kKinsokuNoStart = 1, kKinsokuNoEnd = 2 };

  struct CGlyph {
    int32_t index = 0;
    int32_t x = 0, y = 0;  // within the cell
    int32_t advance = -1;  // -1: no image
    int32_t alpha = 255, xscale = kScaleOne, yscale = kScaleOne, rotate = 0, layermode = 0;
    int32_t style = 0;
    // Where Layout last put the glyph (cell x + glyph x, line y + glyph y);
    // effects on x and y move each layer from its own offset to it.
    int32_t laidX = 0, laidY = 0;
    uint16_t code = 0;
    // Whether the layers below were made (see MakeLayers).
    bool layered = false;
    // The images, owned by the glyph generator; none where the glyph has no
    // such layer.
    ISurface* mainImage = nullptr;
    ISurface* shadowImage = nullptr;
    ISurface* outlineImage = nullptr;
    std::unique_ptr<ILayer> main, shadow, outline;
  };

  // The glyphs of a cell as a vector holds them, the first inside the list:
  // a cell usually holds one character, and keeping its glyph beside the
  // cell saves a block of memory and a trip to it per character.
  class CGlyphList {
   public:
    CGlyphList() = default;
    CGlyphList(const CGlyphList&) = delete;
    CGlyphList& operator=(const CGlyphList&) = delete;
    ~CGlyphList();

    CGlyph* begin() { return m_data; }
    CGlyph* end() { return m_data + m_size; }
    const CGlyph* begin() const { return m_data; }
    const CGlyph* end() const { return m_data + m_size; }
    CGlyph* data() { return m_data; }
    const CGlyph* data() const { return m_data; }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    CGlyph& operator[](size_t i) { return m_data[i]; }
    const CGlyph& operator[](size_t i) const { return m_data[i]; }
    CGlyph& front() { return m_data[0]; }
    const CGlyph& front() const { return m_data[0]; }
    CGlyph& back() { return m_data[m_size - 1]; }
    const CGlyph& back() const { return m_data[m_size - 1]; }
    CGlyph& emplace_back();
    // Keeps the first glyph as it is (making one in an empty list) and
    // drops the rest: the caller overwrites it whole.
    CGlyph& KeepFirst();
    // Keeps the room for the next glyphs.
    void clear();

   private:
    CGlyph* Inline() { return reinterpret_cast<CGlyph*>(m_inline); }

    alignas(CGlyph) unsigned char m_inline[sizeof(CGlyph)];
    CGlyph* m_data = Inline();
    size_t m_size = 0;
    size_t m_capacity = 1;
  };

  struct CCell {
    int32_t x = 0, y = 0, width = 0, height = 0;
    CGlyphList base;
    std::vector<CGlyph> ruby;
    CLayerProperty property;
    int32_t kinsoku = kKinsokuNone;
    int32_t style = 0;
    const CLayerProperty* vertical = nullptr;
    std::string text;  // CP932, as handed to AddChar
    std::string rubyText;

    int32_t FirstIndex() const;
    int32_t LastIndex() const;
  };

  static constexpr int32_t kUnplaced = INT32_MIN;
  struct CLine {
    int32_t width = 0;
    int32_t height = 0;  // 0 until a cell arrives
    // The line's top where its glyphs were last placed; kUnplaced once its
    // cells moved since.
    int32_t placedY = kUnplaced;
    // The cells belong to the window's cell store.
    std::vector<CCell*> cells;
  };

  // Gives every glyph of both pages the image layers it does not have yet,
  // placed where the last layout put the glyph.
  void MakeLayers();

  // One entry of an effect list: what it animates, how and when.
  // One entry of an effect list (its saved form lives beside it).
  using CTweenInfo = CTextTweenInfo;
  using CTweenList = CTextTweenList;
  enum : int32_t { kParamGlyphFirst = 0, kParamCellFirst = 6, kParamUnset = 12, kEaseUnset = 31 };

  CTextRenderer(ILayerFactory* layerFactory, ISurfaceFactory* surfaceFactory);
  ~CTextRenderer() override;
  CTextRenderer(const CTextRenderer&) = delete;
  CTextRenderer& operator=(const CTextRenderer&) = delete;

  virtual void DrawWithParents(ISurface* target, CParentChain& parents);
  void Draw(ISurface* target) override;
  // Starts a new page. With a non-empty list the old page runs it while it
  // stays drawn behind the new text until the next clear.
  virtual void ClearWithEffects(const CTweenList& vanish);
  virtual void Clear();
  virtual void Layout();

  // Runs every entry of the list on the current page: on the characters
  // written since the effect mark with keepMark, else on all of them. The
  // mark then stands at the end of the text; returns it.
  int32_t StartEffects(const CTweenList& list, bool keepMark);
  // Every running effect of the page jumps to its end.
  void FinishEffects();
  // Whether no effect of the current page still runs.
  bool EffectsFinished();
  // Effect tweens still alive, of the current and of the previous page.
  size_t GetLiveEffectCount() const;
  size_t GetEffectSetSize() const { return m_pageTweens.size(); }

  // Line index of the placed cell, or -1 when the cell is wider than the
  // text area (it is then discarded).
  int AddChar(const std::string& text, const std::string& ruby);
  void AddText(const std::string& text);
  void NewLine();
  // The rectangle of the cell holding the character (clamped to the last),
  // in window coordinates; false when there is no such cell.
  bool GetCaretRect(int index, CRect& rect);

  // Lays the text out and appends every line (y, width, height) and cell
  // (first index, UTF-8 text, position, size, kinsoku class, glyph layer
  // positions) as stable text.
  void Dump(std::string& out);
  // CP932 text as a quoted UTF-8 string for dumps.
  static std::string Quoted(const std::string& cp932);

  const CFontValues& GetFont() const { return m_font; }
  void SetFont(const CFontValues& font) { m_font = font; }

  int32_t GetCharCount() const { return m_charCount; }
  int32_t GetEffectMark() const { return m_effectMark; }
  int32_t GetCurrentLine() const { return m_currentLine; }
  int32_t GetUsedHeight() const { return m_usedHeight; }
  bool IsLaidOut() const { return m_laidOut; }
  // Whether the window holds text or an open line with cells.
  bool HasText() const { return m_charCount > 0; }
  bool HasPendingLine() const;
  const std::vector<std::unique_ptr<CLine>>& GetLines() const { return m_lines; }
  // Cells the window keeps for its pages, in use or not.
  size_t GetStoredCellCount() const { return m_cells.cells.size() + m_previousCells.cells.size(); }
  // The page cleared last with a vanish list, drawn until the next clear.
  const std::vector<std::unique_ptr<CLine>>& GetPreviousLines() const { return m_previousLines; }

  // Line-start and line-end forbidden characters, CP932.
  static const std::vector<std::string>& NoStartChars();
  static const std::vector<std::string>& NoEndChars();
  static int32_t KinsokuClass(const std::string& text);
  // The class of one character code (lead | trail << 8 for two bytes).
  static int32_t KinsokuClassOf(uint16_t code);

 protected:
  // Layout state is stale once anything changes: every glyph is placed
  // again (effects may have moved their layers).
  void Invalidate() {
    m_laidOut = false;
    m_placeAll = true;
  }
  void DrawLines(const std::vector<std::unique_ptr<CLine>>& lines, ISurface* target, CParentChain& parents);
  // Kills the tweens of both pages; every animated value jumps to its end
  // first, so nothing is left writing into lines about to go.
  void KillAllEffects();
  ILayerFactory* GetLayerFactory() const { return m_layerFactory; }
  ISurfaceFactory* GetSurfaceFactory() const { return m_surfaceFactory; }

 private:
  // What every cell made with the current font starts from.
  struct CCellStart;
  void StartCells(CCellStart& start) const;
  // A cell for the text and ruby; baseSelected tells that the generator
  // already has the base font selected.
  CCell* MakeCell(std::string_view text, std::string_view ruby, const CCellStart& start, bool baseSelected);
  // A blank cell, the next of the page's store.
  // With keepGlyph the cell's glyph list keeps its first glyph for the
  // caller to overwrite (MakeGlyph sets every field).
  CCell* NewCell(bool keepGlyph = false);
  // A cell that went to no line: the store takes it back when it was the
  // last one taken (else it waits for the page to go).
  void DropCell(CCell* cell);
  // Keeps the lines of a page that goes away for the next pages.
  void Recycle(std::vector<std::unique_ptr<CLine>>& lines);
  // Makes the glyphs of text with the font already selected; returns the
  // sum of their advances.
  template <typename List>
  int32_t MakeGlyphs(std::string_view text, List& out);
  void MakeGlyph(uint16_t code, CGlyph& glyph);
  // The main image of the code in the font's colour and its width, the
  // outline switch off; null when the character has no glyph.
  ISurface* MainImage(CGlyphGenerator* generator, uint16_t code, int32_t& width);
  // Makes the glyph's missing layers (placed at its laid position).
  void MakeLayers(CGlyph& glyph);
  // Draws the glyph's images as its layers would, without them; false when
  // that is not possible (transforms, a renderer of its own).
  bool BlitGlyph(const CGlyph& glyph, ISurface* target, const CParentChain& parents, int32_t parentX, int32_t parentY);

  bool SelectFont(const std::string& face, int32_t size);
  void PlaceCell(CCell* cell);
  void AlignLine(CLine& line);
  // Gives the line's glyphs their places below a top of y, and its cells
  // the pivot.
  void PlaceLine(CLine& line, int32_t y);
  // A line was closed at the bottom of the page: aligned and, while its
  // cells are at hand, placed where the next layout will want it.
  void CloseLine(CLine& line);
  void OpenLine();
  CLine* PreviousLine();
  void RunEntry(const CTweenInfo& entry, CLine& line, int32_t mark, int32_t& delay, std::vector<int32_t>& set);
  static void KillSet(std::vector<int32_t>& set);

  ILayerFactory* m_layerFactory;
  ISurfaceFactory* m_surfaceFactory;
  // The main images met last, by code (a page meets the same few hundred
  // characters again and again): a look in here instead of the generator's
  // maps, and the width without a trip to the image. Made on first use.
  struct CFrontGlyph {
    uint64_t serial = 0;  // the generator's, when the entry was made
    ISurface* image = nullptr;
    uint32_t colour = 0;
    uint16_t code = 0;
    int32_t width = 0;
  };
  static constexpr size_t kFrontGlyphs = 1024;
  std::vector<CFrontGlyph> m_frontGlyphs;
  int32_t m_charCount = 0;
  int32_t m_effectMark = 0;
  CFontValues m_font;
  CLayerProperty m_verticalBlock;
  bool m_laidOut = false;
  // Whether the next layout places every line, not only those that moved.
  bool m_placeAll = true;
  // The pivot the placed cells hold.
  int32_t m_placedAnchorX = 0, m_placedAnchorY = 0;
  bool m_hangRetry = false;
  int32_t m_currentLine = 0;
  int32_t m_usedHeight = 0;
  std::vector<std::unique_ptr<CLine>> m_lines;
  std::vector<std::unique_ptr<CLine>> m_previousLines;
  std::vector<int32_t> m_pageTweens;
  std::vector<int32_t> m_previousTweens;
  // The cells of a page: handed out in order, and all back at once when
  // the page goes, so that a page of any length costs no walk through its
  // cells to give them back. The previous page (drawn while it vanishes)
  // keeps its own store.
  struct CCellStore {
    std::vector<std::unique_ptr<CCell>> cells;
    size_t used = 0;
  };
  CCellStore m_cells;
  CCellStore m_previousCells;
  // Lines of pages gone, kept for the next pages.
  std::vector<std::unique_ptr<CLine>> m_spareLines;
  // Whether glyph images may be blitted without their layers: the layers
  // would be plain memory layers.
  bool m_blitWithoutLayers = false;

 public:
  // ---- Operations of the hide and backlog paths ----
  // Ends the pending appearance: every running effect jumps to its end.
  void EndAppearance() { FinishEffects(); }
  // Applies a list to the page: to all of it, or with keepMark only to the
  // characters written since the effect mark.
  void ApplyEffectList(const CTweenList& list, bool keepMark = false) { (void)StartEffects(list, keepMark); }
  // Stops or resumes drawing the window (its text and effects stay). Kept
  // apart from the font's visible flag, which belongs to the script: showing
  // the window again must not undo a [font visible=0].
  void Hide() { m_hidden = true; }
  void Show() { m_hidden = false; }
  bool IsHidden() const { return m_hidden; }

 private:
  bool m_hidden = false;
};

// Every message window of the graphic system in name order: its character
// count, effect mark and live effect tweens, then its lines as Dump gives
// them and its links.
std::string DumpMessageWindows(const CGraphicSystem& graphics);

// The saved form of the font settings (field tags 1 to 32 in table order).
class CFontProperty : public CTextRenderer::CProperty, public CFontValues {
 public:
  CFontProperty() = default;
  explicit CFontProperty(const CFontValues& values) : CFontValues(values) {}
  void Serialize(CSerializer& stream) const override;
  void Deserialize(CSerializer& stream) override;
};
