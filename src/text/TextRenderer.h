// A message window: characters arrive one at a time, each (or a ruby base
// with its ruby text) becomes a character cell, cells are broken into lines
// with Japanese line-breaking rules and optional hanging punctuation, lines
// are aligned, and every glyph draws as up to three image layers (shadow,
// outline, main). The renderer's own property block transforms the whole
// window; each cell carries the whole-text transform about one common pivot,
// so the text scales and turns as one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
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
    uint16_t code = 0;
    std::unique_ptr<ILayer> main, shadow, outline;
  };

  struct CCell {
    int32_t x = 0, y = 0, width = 0, height = 0;
    std::vector<CGlyph> base, ruby;
    CLayerProperty property;
    int32_t kinsoku = kKinsokuNone;
    int32_t style = 0;
    const CLayerProperty* vertical = nullptr;
    std::string text;  // CP932, as handed to AddChar
    std::string rubyText;

    int32_t FirstIndex() const;
    int32_t LastIndex() const;
  };

  struct CLine {
    int32_t width = 0;
    int32_t height = 0;  // 0 until a cell arrives
    std::vector<std::unique_ptr<CCell>> cells;
  };

  CTextRenderer(ILayerFactory* layerFactory, ISurfaceFactory* surfaceFactory);
  ~CTextRenderer() override;
  CTextRenderer(const CTextRenderer&) = delete;
  CTextRenderer& operator=(const CTextRenderer&) = delete;

  virtual void DrawWithParents(ISurface* target, CParentChain& parents);
  void Draw(ISurface* target) override;
  // Starts a new page; the vanish effects of the old one come with the
  // effect lists, so for now this is Clear.
  virtual void ClearWithEffects();
  virtual void Clear();
  virtual void Layout();

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

  // Line-start and line-end forbidden characters, CP932.
  static const std::vector<std::string>& NoStartChars();
  static const std::vector<std::string>& NoEndChars();
  static int32_t KinsokuClass(const std::string& text);

 protected:
  // Layout state is stale once anything changes.
  void Invalidate() { m_laidOut = false; }
  void DrawLines(const std::vector<std::unique_ptr<CLine>>& lines, ISurface* target, CParentChain& parents);

 private:
  std::unique_ptr<CCell> MakeCell(const std::string& text, const std::string& ruby);
  // Makes the glyphs of text with the font already selected; returns the
  // sum of their advances.
  int32_t MakeGlyphs(const std::string& text, std::vector<CGlyph>& out);
  void MakeGlyph(uint16_t code, CGlyph& glyph);
  bool SelectFont(const std::string& face, int32_t size);
  void PlaceCell(std::unique_ptr<CCell> cell);
  void AlignLine(CLine& line);
  void OpenLine();
  CLine* PreviousLine();
  static void Spread(std::vector<CGlyph>& glyphs, int32_t total, int32_t own);
  static void Follow(std::vector<CGlyph>& glyphs);

  ILayerFactory* m_layerFactory;
  ISurfaceFactory* m_surfaceFactory;
  int32_t m_charCount = 0;
  int32_t m_effectMark = 0;
  CFontValues m_font;
  CLayerProperty m_verticalBlock;
  bool m_laidOut = false;
  bool m_hangRetry = false;
  int32_t m_currentLine = 0;
  int32_t m_usedHeight = 0;
  std::vector<std::unique_ptr<CLine>> m_lines;
  std::vector<std::unique_ptr<CLine>> m_previousLines;

 public:
  // ---- Effect lists and the hide and backlog paths (interim) ----
  // The entries are taken and handed on, but no effect tweens run yet:
  // effects count as finished at once, and a clear with a vanish list is a
  // plain clear.
  using CTweenInfo = CTextTweenInfo;
  using CTweenList = CTextTweenList;
  void ClearWithEffects(const CTweenList& vanish);
  // Moves the effect mark to the end of the text (from 0 unless keepMark);
  // returns it.
  int32_t StartEffects(const CTweenList& list, bool keepMark);
  void FinishEffects();
  bool EffectsFinished() const { return true; }
  // Ends the pending appearance: every running effect jumps to its end.
  void EndAppearance() { FinishEffects(); }
  // Applies a list to the whole page (the mark restarts at 0).
  void ApplyEffectList(const CTweenList& list) { (void)StartEffects(list, false); }
  // Stops or resumes drawing the window (its text stays). Kept apart from
  // the font's visible flag, which belongs to the script: showing the window
  // again must not undo a [font visible=0].
  void Hide() { m_hidden = true; }
  void Show() { m_hidden = false; }
  bool IsHidden() const { return m_hidden; }

 private:
  bool m_hidden = false;
};

// Every message window of the graphic system in name order, as Dump gives
// each.
std::string DumpMessageWindows(const CGraphicSystem& graphics);

// Links and text effects arrive with the effect lists; until then a message
// window is a text renderer by this name.
class CLinkableTextRenderer : public CTextRenderer {
 public:
  using CTextRenderer::CTextRenderer;
};

// The saved form of the font settings (field tags 1 to 32 in table order).
class CFontProperty : public CTextRenderer::CProperty, public CFontValues {
 public:
  CFontProperty() = default;
  explicit CFontProperty(const CFontValues& values) : CFontValues(values) {}
  void Serialize(CSerializer& stream) const override;
  void Deserialize(CSerializer& stream) override;
};
