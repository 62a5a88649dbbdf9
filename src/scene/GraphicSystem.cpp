#include "scene/GraphicSystem.h"

#include "files/Config.h"
#include "platform/Log.h"
#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"
#include "scene/GraphicRenderer.h"
#include "graphics/Jpg.h"
#include "graphics/Png.h"
#include "graphics/SoftwareRenderer.h"
#include "graphics/Surface.h"
#include "scene/Layer.h"

CGraphicSystem::CImageLayer::~CImageLayer() {
  // The layer refers to the surface: let it go first.
  layer.reset();
  surface.reset();
}

bool CGraphicSystem::IsSoftwareRendererForced() {
  CDynamicVariables* vars = CDynamicVariables::Instance();
  ArgumentMap arguments;
  if (!vars->Get("ApplicationArguments", arguments) && arguments.count("fsr")) return true;
  CIni* ini = nullptr;
  if (!vars->Get("system.ini", ini) && ini) return ini->GetBool("SYSTEM", "FORCE_SOFTWARE_RENDER", false);
  return false;
}

CGraphicSystem::CGraphicSystem(platform::WindowHandle window, int sceneWidth, int sceneHeight)
    : window_(window), width_(sceneWidth), height_(sceneHeight) {
  // Renderers in order of preference; the first that starts is used. A
  // hardware renderer would be registered ahead of the software one unless
  // softwareForced_ is set; the software renderer is always the last resort.
  renderer_ = std::make_unique<CGraphicRenderer>();
  softwareForced_ = IsSoftwareRendererForced();
  renderer_->AddRenderer(new CSoftwareRenderer(), new CLayerFactory(), new CSurfaceFactory());
  if (renderer_->Init(window_, width_, height_, ISurface::PIXEL_BITS_32))
    LogWrite("CGraphicSystem: no renderer could be started");
  layerFactory_ = renderer_->GetLayerFactory();
  surfaceFactory_ = renderer_->GetSurfaceFactory();

  fileFactory_ = std::make_unique<CPackFileFactory>();
  loaders_ = std::make_unique<CGraphicLoaders>(fileFactory_.get());
  loaders_->AddLoader(new CPng());
  loaders_->AddLoader(new CJpg());
  CGraphicLoaders::SetGlobal(loaders_.get());
}

CGraphicSystem::~CGraphicSystem() {
  images_.clear();
  if (CGraphicLoaders::GetGlobal() == loaders_.get()) CGraphicLoaders::SetGlobal(nullptr);
  loaders_.reset();
  fileFactory_.reset();
  renderer_.reset();
}

bool CGraphicSystem::HasRenderer() const { return renderer_ && renderer_->GetActiveRenderer() != nullptr; }

void CGraphicSystem::Update() {}

void CGraphicSystem::Render() {
  if (!HasRenderer()) return;
  renderer_->RenderStart();
  // Layers are expected to cover the screen; only an empty scene is cleared.
  if (images_.empty()) renderer_->Clear();
  ISurface* target = renderer_->GetRenderTarget();
  for (auto& [id, image] : images_) image.layer->Draw(target);
  renderer_->RenderEnd();
}

void CGraphicSystem::ToggleFullscreen() {
  // Only a hardware renderer switches to full screen; the software one ignores it.
}

bool CGraphicSystem::ShowImage(const std::string& id, const std::string& file, int x, int y) {
  if (!layerFactory_ || !surfaceFactory_ || !loaders_) return true;
  std::unique_ptr<ISurface> surface(surfaceFactory_->Create());
  if (!surface || loaders_->LoadFile(surface.get(), file.c_str())) return true;
  std::unique_ptr<ILayer> layer(layerFactory_->Create());
  if (!layer) return true;
  layer->SetSurface(surface.get());
  layer->SetX(x);
  layer->SetY(y);
  images_.erase(id);
  CImageLayer& entry = images_[id];
  entry.surface = std::move(surface);
  entry.layer = std::move(layer);
  return false;
}

void CGraphicSystem::HideImage(const std::string& id) { images_.erase(id); }

ILayer* CGraphicSystem::FindImage(const std::string& id) const {
  auto it = images_.find(id);
  return it == images_.end() ? nullptr : it->second.layer.get();
}
