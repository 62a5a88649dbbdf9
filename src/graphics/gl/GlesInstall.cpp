#include "graphics/gl/GlesInstall.h"

#include <cmath>

#include "graphics/gl/GlesLayer.h"
#include "graphics/gl/GlesRenderer.h"
#include "scene/GraphicRenderer.h"
#include "platform/Log.h"
#include "scene/GraphicSystem.h"

namespace {

void AddGlesRenderer(CGraphicSystem& graphics, CGraphicRenderer& renderers) {
  auto* renderer = new CGlesRenderer();
  if (renderers.AddRenderer(renderer, new CGlesLayerFactory(renderer), new CGlesSurfaceFactory(renderer))) return;
  // A render target comes back empty after a reset: the transition canvas
  // must be drawn again, or it would show black.
  renderer->SetAfterRestore([&graphics] { graphics.SetBackNeedsDrawing(true); });
  graphics.SetWindowScaleHook(
      [&graphics, renderer](float scale) {
        const int w = int(std::floor(float(graphics.GetWidth()) * scale));
        const int h = int(std::floor(float(graphics.GetHeight()) * scale));
        // A failed change leaves the renderer lost: frames skip until a reset works.
        if (renderer->ChangeMode(graphics.GetWindowHandle(), w, h, 1, true)) LogWrite(renderer->GetLastError());
        renderer->SetWindowScale(scale);
      },
      [&graphics, renderer] { return GetActiveGlesRenderer(graphics) == renderer; });
}

}  // namespace

void RegisterGlesRenderer() { CGraphicSystem::SetHardwareRenderers(&AddGlesRenderer); }

CGlesRenderer* GetActiveGlesRenderer(const CGraphicSystem& graphics) {
  CGraphicRenderer* renderers = graphics.GetRenderer();
  return renderers ? dynamic_cast<CGlesRenderer*>(renderers->GetActiveRenderer()) : nullptr;
}
