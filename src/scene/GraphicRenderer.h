// The composite CGraphicRenderer holds every renderer kind the engine knows, each
// with its layer and surface factory, starts the first that comes up and
// forwards to it, so the rest of the engine never names a backend.
#pragma once

#include <memory>
#include <vector>

#include "graphics/IGraphicRenderer.h"
#include "platform/Platform.h"

class ILayerFactory;
class ISurfaceFactory;
class ISurface;

class CGraphicRenderer : public IGraphicRenderer {
 public:
  CGraphicRenderer() = default;
  CGraphicRenderer(const CGraphicRenderer&) = delete;
  CGraphicRenderer& operator=(const CGraphicRenderer&) = delete;
  ~CGraphicRenderer() override;

  bool Init(platform::WindowHandle window, int width, int height, int format) override;
  void RenderStart() override;
  void RenderEnd() override;
  void Clear() override;
  ISurface* GetRenderTarget() override;

  // Appends the triple and takes ownership of it. True when one of the three
  // is missing; false with nothing changed when the renderer is already
  // registered. Only an appended triple changes owner: in the other two
  // cases the caller keeps what it passed.
  virtual bool AddRenderer(IGraphicRenderer* renderer, ILayerFactory* layerFactory, ISurfaceFactory* surfaceFactory);
  virtual int GetActiveIndex() const { return m_active; }
  virtual IGraphicRenderer* GetActiveRenderer() const;
  virtual ILayerFactory* GetLayerFactory() const;
  virtual ISurfaceFactory* GetSurfaceFactory() const;

  int GetCount() const { return int(m_renderers.size()); }

 private:
  std::vector<std::unique_ptr<IGraphicRenderer>> m_renderers;
  std::vector<std::unique_ptr<ILayerFactory>> m_layerFactories;
  std::vector<std::unique_ptr<ISurfaceFactory>> m_surfaceFactories;
  int m_active = -1;
};
