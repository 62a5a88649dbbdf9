#include "text/LinkableTextRenderer.h"

#include <algorithm>

#include "graphics/Surface.h"
#include "platform/InputState.h"
#include "platform/VirtualKeys.h"
#include "scene/Layer.h"
#include "scene/Tween.h"

namespace {

// A highlight is never larger than this on either side: a window scaled
// far beyond the screen must not ask for a surface of any size.
constexpr int32_t kMaxAreaSide = 4096;
constexpr int32_t kPulseAlpha = 128;
constexpr int32_t kPulseMs = 500;

}  // namespace

CLinkableTextRenderer::~CLinkableTextRenderer() {
  // Pulses go before their layers do.
  DeleteLinks();
}

void CLinkableTextRenderer::DeleteArea(CLinkArea& area) {
  if (area.pulse >= 0) CTweenRegistry::Instance().Kill(area.pulse);
  area.pulse = -1;
  area.pulseTween = nullptr;
  area.layer.reset();
  area.surface.reset();
}

void CLinkableTextRenderer::DeleteLinks() {
  for (auto& link : m_links)
    for (auto& area : link->areas) DeleteArea(*area);
  m_links.clear();
}

void CLinkableTextRenderer::ClearWithEffects(const CTweenList& vanish) {
  CTextRenderer::ClearWithEffects(vanish);
  DeleteLinks();
  m_linkOpen = false;
  m_linksLocked = false;
}

void CLinkableTextRenderer::OpenLink(std::function<void()> action) {
  if (m_linkOpen) CloseLink();
  auto link = std::make_unique<CLink>();
  link->first = GetCharCount();
  link->action = std::move(action);
  m_links.push_back(std::move(link));
  m_linkOpen = true;
}

void CLinkableTextRenderer::CloseLink() {
  if (!m_linkOpen) {
    // The closing tag of a link that a layout closed early takes in the
    // text written since; any other stray closing tag must not stretch an
    // earlier link over later text.
    if (m_links.empty() || !m_links.back()->closedByLayout) return;
    CLink& link = *m_links.back();
    link.closedByLayout = false;
    const int32_t last = GetCharCount() - 1;
    if (last == link.last) return;
    link.last = last;
    if (IsLaidOut()) RebuildAreas(link);
    return;
  }
  m_linkOpen = false;
  if (m_links.empty()) return;
  m_links.back()->last = GetCharCount() - 1;
  m_links.back()->closed = true;
}

void CLinkableTextRenderer::Layout() {
  // Areas are rebuilt only when the text really moved: rebuilding restarts
  // the hover pulse, which every frame's draw would otherwise do.
  if (IsLaidOut()) return;
  if (m_linkOpen) {
    CloseLink();
    if (!m_links.empty()) m_links.back()->closedByLayout = true;
  }
  CTextRenderer::Layout();
  for (auto& link : m_links) RebuildAreas(*link);
}

void CLinkableTextRenderer::AddArea(CLink& link, const CRect& rect) {
  auto area = std::make_unique<CLinkArea>();
  area->rect = rect;
  const int32_t width = std::clamp(rect.GetWidth(), 0, kMaxAreaSide);
  const int32_t height = std::clamp(rect.GetHeight(), 0, kMaxAreaSide);
  ILayerFactory* layers = GetLayerFactory();
  ISurfaceFactory* surfaces = GetSurfaceFactory();
  if (layers && surfaces && width > 0 && height > 0) {
    std::unique_ptr<ISurface> surface(surfaces->Create());
    if (surface && !surface->Create(width, height, ISurface::PIXEL_BITS_32)) {
      surface->Fill(0xFFFFFFFF);
      std::unique_ptr<ILayer> layer(layers->Create());
      if (layer) {
        layer->SetSurface(surface.get());
        layer->SetX(rect.GetX());
        layer->SetY(rect.GetY());
        layer->SetAlpha(0);
        layer->SetLayerMode(1);
        area->layer = std::move(layer);
        area->surface = std::move(surface);
      }
    }
  }
  link.areas.push_back(std::move(area));
}

void CLinkableTextRenderer::RebuildAreas(CLink& link) {
  if (!link.closed) return;
  for (auto& area : link.areas) DeleteArea(*area);
  link.areas.clear();
  link.hover = false;
  // A link closed before any of its characters arrived covers nothing.
  if (link.last < link.first) return;
  bool haveRect = false;
  CRect r;
  for (int32_t index = link.first; index <= link.last; ++index) {
    CRect q;
    if (!GetCaretRect(index, q)) continue;
    if (!haveRect) {
      r = q;
      haveRect = true;
    } else if (q.GetY() == r.GetY()) {
      r.SetRight(q.GetRight(), false);
    } else {
      AddArea(link, r);
      r = q;
    }
  }
  if (haveRect) AddArea(link, r);
}

void CLinkableTextRenderer::Draw(ISurface* target) {
  CTextRenderer::Draw(target);
  // A window hidden by the engine (the backlog open over it) shows no glow
  // either. A font made invisible by the script keeps its glow: its links
  // are hot spots over whatever lies below.
  if (IsHidden()) return;
  for (const auto& link : m_links)
    for (const auto& area : link->areas)
      if (area->layer) {
        CParentChain none;
        area->layer->DrawWithParents(target, none);
      }
}

void CLinkableTextRenderer::FrameUpdate() { UpdateLinks(platform::VK_LBUTTON); }

void CLinkableTextRenderer::StartPulse(CLinkArea& area) {
  CTweenRegistry& registry = CTweenRegistry::Instance();
  if (area.pulse >= 0) registry.Kill(area.pulse);
  area.pulse = -1;
  area.pulseTween = nullptr;
  if (!area.layer) return;
  ILayer* layer = area.layer.get();
  auto tween = std::make_unique<CIntTween>([layer](int32_t v) { layer->SetAlpha(v); }, 0, kPulseAlpha, kPulseMs, 0);
  tween->SetEase(kEaseNone);
  tween->SetYoyo(-1);
  area.pulseTween = tween.get();
  area.pulse = registry.Register(std::move(tween));
}

void CLinkableTextRenderer::UpdateLinks(int button) {
  if (!m_input || m_links.empty()) return;
  if (m_gate && !m_gate()) return;
  CTweenRegistry& registry = CTweenRegistry::Instance();
  for (size_t i = 0; i < m_links.size(); ++i) {
    CLink& link = *m_links[i];
    if (m_linksLocked) continue;
    bool hovered = false;
    for (auto& area : link.areas) {
      const CRect& rc = area->rect;
      if (!m_input->IsPointInRect(rc.GetX(), rc.GetY(), rc.GetRight(), rc.GetBottom())) continue;
      hovered = true;
      if (m_input->IsDownEdge(button)) m_linksLocked = true;
    }
    if (m_linksLocked) {
      if (link.hover) {
        for (auto& area : link.areas) {
          if (area->pulse >= 0) registry.Kill(area->pulse);
          area->pulse = -1;
          area->pulseTween = nullptr;
          if (area->layer) area->layer->SetAlpha(0);
        }
        link.hover = false;
      }
      // The action may change the script, never this window's links; a
      // copy still keeps it alive while it runs.
      if (std::function<void()> action = link.action) action();
      return;
    }
    if (hovered) {
      if (link.hover) continue;
      for (auto& area : link.areas) StartPulse(*area);
      link.hover = true;
    } else if (link.hover) {
      // The glow finishes its rise (if rising) and falls back to dark.
      for (auto& area : link.areas)
        if (area->pulse >= 0 && registry.IsAlive(area->pulse) && area->pulseTween)
          area->pulseTween->SetYoyo(area->pulseTween->GetTo() > area->pulseTween->GetFrom() ? 1 : 0);
      link.hover = false;
    }
  }
}

void CLinkableTextRenderer::DumpLinks(std::string& out) const {
  out += "  links " + std::to_string(m_links.size()) + (m_linkOpen ? " open" : "") + (m_linksLocked ? " locked" : "") +
         '\n';
  const CTweenRegistry& registry = CTweenRegistry::Instance();
  for (const auto& link : m_links) {
    out += "    link " + std::to_string(link->first) + ".." + std::to_string(link->last) + " areas " +
           std::to_string(link->areas.size()) + (link->hover ? " hover" : "") + '\n';
    for (const auto& area : link->areas) {
      const CRect& rc = area->rect;
      out += "      area " + std::to_string(rc.GetX()) + ',' + std::to_string(rc.GetY()) + ' ' +
             std::to_string(rc.GetWidth()) + 'x' + std::to_string(rc.GetHeight()) + " alpha " +
             std::to_string(area->layer ? area->layer->GetAlpha() : 0) +
             (area->pulse >= 0 && registry.IsAlive(area->pulse) ? " pulse" : "") + '\n';
    }
  }
}

std::string DumpMessageWindows(const CGraphicSystem& graphics) {
  std::string out;
  for (const auto& [name, overlay] : graphics.GetMessageWindows()) {
    auto* window = dynamic_cast<CTextRenderer*>(overlay.get());
    if (!window) continue;
    out += "window " + CTextRenderer::Quoted(name) + " chars " + std::to_string(window->GetCharCount()) + " mark " +
           std::to_string(window->GetEffectMark()) + " tweens " + std::to_string(window->GetLiveEffectCount()) +
           (window->GetFont().visible ? "" : " hidden") + '\n';
    window->Dump(out);
    if (auto* linkable = dynamic_cast<CLinkableTextRenderer*>(window)) linkable->DumpLinks(out);
  }
  return out;
}
