#include "graphics/gl/GlesInstall.h"

#include "graphics/gl/GlesLayer.h"
#include "graphics/gl/GlesRenderer.h"
#include "scene/GraphicRenderer.h"
#include "scene/GraphicSystem.h"

namespace {

void AddGlesRenderer(CGraphicSystem& graphics, CGraphicRenderer& renderers) {
  auto* renderer = new CGlesRenderer();
  if (renderers.AddRenderer(renderer, new CGlesLayerFactory(renderer), new CGlesSurfaceFactory(renderer))) return;
  // A render target comes back empty after a reset: the transition canvas
  // must be drawn again, or it would show black.
  renderer->SetAfterRestore([&graphics] { graphics.SetBackNeedsDrawing(true); });
}

}  // namespace

void RegisterGlesRenderer() { CGraphicSystem::SetHardwareRenderers(&AddGlesRenderer); }

CGlesRenderer* GetActiveGlesRenderer(const CGraphicSystem& graphics) {
  CGraphicRenderer* renderers = graphics.GetRenderer();
  return renderers ? dynamic_cast<CGlesRenderer*>(renderers->GetActiveRenderer()) : nullptr;
}
