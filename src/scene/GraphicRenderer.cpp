#include "scene/GraphicRenderer.h"

#include "graphics/Surface.h"
#include "scene/Layer.h"

CGraphicRenderer::~CGraphicRenderer() {
  // Factories may refer to their renderer: let them go first.
  m_layerFactories.clear();
  m_surfaceFactories.clear();
  m_renderers.clear();
}

bool CGraphicRenderer::AddRenderer(IGraphicRenderer* renderer, ILayerFactory* layerFactory,
                                   ISurfaceFactory* surfaceFactory) {
  if (!renderer || !layerFactory || !surfaceFactory) return true;
  for (const auto& known : m_renderers)
    if (known.get() == renderer) return false;
  m_renderers.emplace_back(renderer);
  m_layerFactories.emplace_back(layerFactory);
  m_surfaceFactories.emplace_back(surfaceFactory);
  return false;
}

bool CGraphicRenderer::Init(platform::WindowHandle window, int width, int height, int format) {
  m_active = -1;
  for (size_t i = 0; i < m_renderers.size(); ++i) {
    if (!m_renderers[i]->Init(window, width, height, format)) {
      m_active = int(i);
      return false;
    }
  }
  return true;
}

IGraphicRenderer* CGraphicRenderer::GetActiveRenderer() const {
  return m_active < 0 ? nullptr : m_renderers[size_t(m_active)].get();
}

ILayerFactory* CGraphicRenderer::GetLayerFactory() const {
  return m_active < 0 ? nullptr : m_layerFactories[size_t(m_active)].get();
}

ISurfaceFactory* CGraphicRenderer::GetSurfaceFactory() const {
  return m_active < 0 ? nullptr : m_surfaceFactories[size_t(m_active)].get();
}

void CGraphicRenderer::RenderStart() {
  if (IGraphicRenderer* active = GetActiveRenderer()) active->RenderStart();
}

void CGraphicRenderer::RenderEnd() {
  if (IGraphicRenderer* active = GetActiveRenderer()) active->RenderEnd();
}

void CGraphicRenderer::Clear() {
  if (IGraphicRenderer* active = GetActiveRenderer()) active->Clear();
}

ISurface* CGraphicRenderer::GetRenderTarget() {
  IGraphicRenderer* active = GetActiveRenderer();
  return active ? active->GetRenderTarget() : nullptr;
}
