// The message window as games see it: a text renderer with links, runs of
// characters that glow while the pointer is over them and run a script
// action when clicked. One click locks every link of the window until the
// script enables them again or the page is cleared.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Geometry.h"
#include "graphics/Surface.h"
#include "text/TextRenderer.h"

class CInputState;
template <typename T>
class TTween;

class CLinkableTextRenderer : public CTextRenderer {
 public:
  // One rectangle of a link (a link over two lines has two) with its white
  // highlight, drawn additively and pulsed while hovered.
  struct CLinkArea {
    CRect rect;
    std::unique_ptr<ISurface> surface;
    std::unique_ptr<ILayer> layer;
    int32_t pulse = -1;                     // tween handle, -1 for none
    TTween<int32_t>* pulseTween = nullptr;  // valid while the handle lives
  };

  struct CLink {
    int32_t first = 0;
    int32_t last = 0;  // 0 until the link is closed
    bool closed = false;
    // Closed by a layout (a click wait or the frame's end came before the
    // closing tag): the closing tag still ends the link where it stands.
    bool closedByLayout = false;
    std::vector<std::unique_ptr<CLinkArea>> areas;
    bool hover = false;
    std::function<void()> action;  // may be empty: a click only locks
  };

  CLinkableTextRenderer(ILayerFactory* layerFactory, ISurfaceFactory* surfaceFactory)
      : CTextRenderer(layerFactory, surfaceFactory) {}
  ~CLinkableTextRenderer() override;

  void Draw(ISurface* target) override;
  void ClearWithEffects(const CTweenList& vanish) override;
  void Layout() override;
  // Once per frame from the graphic system.
  void FrameUpdate() override;

  // Hover and click handling of every link with the given button.
  virtual void UpdateLinks(int button);
  virtual void OpenLink(std::function<void()> action);
  virtual void CloseLink();
  virtual void EnableLinks() { m_linksLocked = false; }
  virtual void DisableLinks() { m_linksLocked = true; }

  // Where the pointer and buttons come from (none: links never react).
  void SetInput(CInputState* input) { m_input = input; }
  // Asked before links react at all; false keeps them still (the message
  // is hidden or the backlog is open, and a jump from there would leave
  // the screen as it is).
  void SetLinkGate(std::function<bool()> gate) { m_gate = std::move(gate); }

  const std::vector<std::unique_ptr<CLink>>& GetLinks() const { return m_links; }
  bool IsLinkOpen() const { return m_linkOpen; }
  bool AreLinksLocked() const { return m_linksLocked; }
  // Appends the links (first, last, areas, hover) and the lock as text.
  void DumpLinks(std::string& out) const;

 private:
  void DeleteLinks();
  void RebuildAreas(CLink& link);
  void AddArea(CLink& link, const CRect& rect);
  static void DeleteArea(CLinkArea& area);
  static void StartPulse(CLinkArea& area);

  std::vector<std::unique_ptr<CLink>> m_links;
  bool m_linkOpen = false;
  bool m_linksLocked = false;
  CInputState* m_input = nullptr;
  std::function<bool()> m_gate;
};
