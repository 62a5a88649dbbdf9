#include "scene/GraphicSystem.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/FrameStats.h"
#include "files/Config.h"
#include "platform/Log.h"
#include "platform/Platform.h"
#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"
#include "scene/AnimationLayer.h"
#include "scene/GraphicRenderer.h"
#include "graphics/Jpg.h"
#include "graphics/Png.h"
#include "graphics/SoftwareRenderer.h"
#include "graphics/Surface.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "scene/Tween.h"

int32_t ScaleToPercent(int32_t scale) {
  const int64_t v = scale;
  return v >= 0 ? int32_t(v * 100 / 65536) : -int32_t(-v * 100 / 65536);
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
    : windowHandle_(window), width_(sceneWidth), height_(sceneHeight) {
  // Renderers in order of preference; the first that starts is used. A
  // hardware renderer would be registered ahead of the software one unless
  // softwareForced_ is set; the software renderer is always the last resort.
  renderer_ = std::make_unique<CGraphicRenderer>();
  softwareForced_ = IsSoftwareRendererForced();
  if (!softwareForced_ && s_hardwareRenderers) s_hardwareRenderers(*this, *renderer_);
  renderer_->AddRenderer(new CSoftwareRenderer(), new CLayerFactory(), new CSurfaceFactory());
  if (renderer_->Init(windowHandle_, width_, height_, ISurface::PIXEL_BITS_32))
    LogWrite("CGraphicSystem: no renderer could be started");
  layerFactory_ = renderer_->GetLayerFactory();
  surfaceFactory_ = renderer_->GetSurfaceFactory();

  fileFactory_ = std::make_unique<CPackFileFactory>();
  loaders_ = std::make_unique<CGraphicLoaders>(fileFactory_.get());
  loaders_->AddLoader(new CPng());
  loaders_->AddLoader(new CJpg());
  CGraphicLoaders::SetGlobal(loaders_.get());

  front_ = std::make_unique<CLayerSet>();
  back_ = std::make_unique<CLayerSet>();
  backNeedsDrawing_ = true;
  self_ = std::make_shared<CGraphicSystem*>(this);

  if (layerFactory_ && surfaceFactory_) {
    canvasSurface_.reset(surfaceFactory_->CreateTarget());
    mask_.reset(surfaceFactory_->Create());
    if (canvasSurface_->Create(width_, height_, ISurface::PIXEL_BITS_32) ||
        mask_->Create(width_, height_, ISurface::PIXEL_BITS_8)) {
      LogWrite("CGraphicSystem: no transition canvas");
      canvasSurface_.reset();
      mask_.reset();
    } else {
      canvas_.reset(layerFactory_->Create());
      canvas_->SetSurface(canvasSurface_.get());
    }
  }
}

CGraphicSystem::~CGraphicSystem() {
  // Overlays and layers may hold surfaces of the renderer's factory: they go
  // before the renderer.
  messageWindows_.clear();
  widgets_.clear();
  // Hooks may hold surfaces of the renderer too (a movie's frame).
  movieCheck_ = nullptr;
  transitionStep_ = nullptr;
  *self_ = nullptr;
  pending_.clear();
  canvas_.reset();
  canvasSurface_.reset();
  mask_.reset();
  front_.reset();
  back_.reset();
  if (CGraphicLoaders::GetGlobal() == loaders_.get()) CGraphicLoaders::SetGlobal(nullptr);
  loaders_.reset();
  fileFactory_.reset();
  renderer_.reset();
}

bool CGraphicSystem::HasRenderer() const { return renderer_ && renderer_->GetActiveRenderer() != nullptr; }

void CGraphicSystem::Update() {
  for (auto& [name, widget] : widgets_) widget->FrameUpdate();
  for (auto& [name, window] : messageWindows_) window->FrameUpdate();
}

void CGraphicSystem::KeepPictureUnderMovie() {
  // While a movie shows, the screen holds its picture, not the scene's.
  if (movieShown_ || !HasRenderer()) return;
  underMovie_.clear();
  const size_t rowBytes = size_t(width_) * 4;
  if (ISurface* target = renderer_->GetRenderTarget()) {
    if (target->GetFormat() == ISurface::PIXEL_BITS_8 || target->GetWidth() != width_ || target->GetHeight() != height_)
      return;
    underMovie_.resize(rowBytes * height_);
    target->Lock();
    for (int y = 0; y < height_; ++y)
      if (const uint8_t* line = target->GetLine(y)) std::memcpy(underMovie_.data() + rowBytes * y, line, rowBytes);
    target->Unlock();
    return;
  }
  // A GPU renderer keeps its frame to itself: read it back. A back buffer
  // of another size (full screen) keeps nothing.
  int width = 0, height = 0;
  if (platform::GetLastFrame(underMovie_, width, height) || width != width_ || height != height_ ||
      underMovie_.size() != rowBytes * height_)
    underMovie_.clear();
}

void CGraphicSystem::DrawPictureUnderMovie(ISurface* target) {
  std::vector<uint8_t> picture = std::move(underMovie_);
  underMovie_.clear();
  const size_t rowBytes = size_t(width_) * 4;
  if (picture.size() != rowBytes * height_) return;
  ISurface* into = target;
  std::unique_ptr<ISurface> surface;
  std::unique_ptr<ILayer> layer;
  if (!into) {
    if (!surfaceFactory_ || !layerFactory_) return;
    surface.reset(surfaceFactory_->Create());
    layer.reset(layerFactory_->Create());
    if (!surface || !layer || surface->Create(width_, height_, ISurface::PIXEL_BITS_32)) return;
    // Drawn as a layer: the picture is opaque whatever its alpha bytes say.
    for (size_t i = 3; i < picture.size(); i += 4) picture[i] = 0xFF;
    into = surface.get();
  }
  if (into->GetWidth() < width_ || into->GetHeight() < height_) return;
  into->Lock();
  for (int y = 0; y < height_; ++y)
    if (uint8_t* line = into->GetLine(y)) std::memcpy(line, picture.data() + rowBytes * y, rowBytes);
  into->Unlock();
  if (layer) {
    layer->SetSurface(surface.get());
    layer->Draw(nullptr);
  }
}

void CGraphicSystem::Render() {
  if (movieCheck_ && movieCheck_()) {
    movieShown_ = true;
    return;
  }
  // A movie that never showed (it could not play) needs no picture kept.
  if (!movieShown_) underMovie_.clear();
  if (!HasRenderer()) return;
  renderer_->RenderStart();
  ISurface* target = renderer_->GetRenderTarget();
  // The movie's pictures went where the scene is drawn: the first frame
  // after it starts from the picture before it, or its last picture would
  // stay wherever no layer covers it.
  if (front_->GetCount() == 0 || movieShown_) renderer_->Clear();
  if (movieShown_ && front_->GetCount() != 0) DrawPictureUnderMovie(target);
  underMovie_.clear();
  movieShown_ = false;
  front_->Draw(target);
  if (transitionRunning_) {
    if (transitionStep_)
      transitionStep_(target);
    else
      DrawTransition(target);
  }
  for (auto& [name, widget] : widgets_) widget->Draw(target);
  for (auto& [name, window] : messageWindows_) window->Draw(target);
  framestats::Scope present(framestats::kPresent);
  renderer_->RenderEnd();
}

void CGraphicSystem::ToggleFullscreen() {
  // Only a hardware renderer switches to full screen; the software one ignores it.
}

// ---- Pending property changes and the commit ----

bool CGraphicSystem::IsCurrent(IVirtualLayer* layer, const CPending& pending) const {
  // Requests may be queued for a fresh layer before a set holds it (a frame
  // of an animation); they apply once it is held.
  const uint64_t serial = CLayerSet::GetHoldSerial(layer);
  return serial != 0 && (pending.serial == 0 || serial == pending.serial);
}

void CGraphicSystem::QueueProperty(IVirtualLayer* layer, int index, std::any value) {
  if (!layer) return;
  CPending& pending = pending_[layer];
  const uint64_t serial = CLayerSet::GetHoldSerial(layer);
  if (pending.serial != serial && !(pending.serial == 0 && !pending.requests.empty())) {
    // The address belongs to a new object now: the old requests were for
    // a layer that is gone.
    pending = CPending();
    pending.serial = serial;
  }
  pending.requests.emplace_back(index, std::move(value));
}

void CGraphicSystem::ForgetLayer(IVirtualLayer* layer) {
  // An animation takes its frames with it: what was queued for a frame must
  // not outlive it (and land on whatever is made at its address later).
  if (auto* animation = dynamic_cast<CAnimationLayer*>(layer))
    for (const auto& [time, frame] : animation->GetFrames())
      if (frame) pending_.erase(frame);
  pending_.erase(layer);
}

void CGraphicSystem::ApplyPending() {
  for (auto& [layer, pending] : pending_) pending.oldValues.clear();
  for (auto it = pending_.begin(); it != pending_.end();) {
    // A layer deleted without being forgotten is never touched.
    if (!IsCurrent(it->first, it->second)) {
      it = pending_.erase(it);
      continue;
    }
    for (const auto& [index, value] : it->second.requests) SetProperty(*it->first, index, value, &it->second.oldValues);
    ++it;
  }
}

void CGraphicSystem::RevertPending() {
  for (auto& [layer, pending] : pending_) {
    if (IsCurrent(layer, pending))
      for (auto old = pending.oldValues.rbegin(); old != pending.oldValues.rend(); ++old)
        SetProperty(*layer, old->first, old->second);
    pending.oldValues.clear();
  }
}

size_t CGraphicSystem::GetPendingCount() const {
  size_t count = 0;
  for (const auto& [layer, pending] : pending_) count += pending.requests.size();
  return count;
}

void CGraphicSystem::Commit() {
  transitionRunning_ = false;
  backNeedsDrawing_ = true;
  // A commit while a transition's tween still runs (a flip from a Lua
  // handler) leaves the tween alone: when it ends it commits again and
  // resumes the script, which waits for it.
  rule_.clear();
  if (canvas_) canvas_->SetMask(nullptr);
  if (commitHook_) commitHook_();
  ApplyPending();
  for (auto it = pending_.begin(); it != pending_.end();) {
    it->second.requests.clear();
    if (it->second.oldValues.empty())
      it = pending_.erase(it);
    else
      ++it;
  }
  // The new back set shares every child with the new front set, so the old
  // front set lets go only of what the back set dropped.
  auto copy = std::make_unique<CLayerSet>(*back_);
  front_ = std::move(back_);
  back_ = std::move(copy);
}

// ---- Overlays and tweens ----

void CGraphicSystem::SetWidget(const std::string& name, std::unique_ptr<ISceneOverlay> widget) {
  if (widget)
    widgets_[name] = std::move(widget);
  else
    widgets_.erase(name);
}

ISceneOverlay* CGraphicSystem::FindWidget(const std::string& name) const {
  auto it = widgets_.find(name);
  return it == widgets_.end() ? nullptr : it->second.get();
}

void CGraphicSystem::SetMessageWindow(const std::string& name, std::unique_ptr<ISceneOverlay> window) {
  if (window)
    messageWindows_[name] = std::move(window);
  else
    messageWindows_.erase(name);
}

ISceneOverlay* CGraphicSystem::FindMessageWindow(const std::string& name) const {
  auto it = messageWindows_.find(name);
  return it == messageWindows_.end() ? nullptr : it->second.get();
}

void CGraphicSystem::ResetScene() {
  // Queued changes are dropped, not reverted: what the last commit set
  // stays on the scene that is still shown.
  pending_.clear();
  while (!layerTweens_.empty()) KillLayerTweens(layerTweens_.begin()->first);
  // A transition's tween ends without its callback: the script it would
  // resume is gone.
  (void)KillTransitionTween();
  back_ = std::make_unique<CLayerSet>();
  backNeedsDrawing_ = true;
  widgets_.clear();
}

void CGraphicSystem::KillLayerTweens(const std::string& id) {
  auto it = layerTweens_.find(id);
  if (it == layerTweens_.end()) return;
  const std::set<int32_t> handles = std::move(it->second);
  layerTweens_.erase(it);
  for (const int32_t handle : handles) CTweenRegistry::Instance().Kill(handle);
}

// ---- Queries ----

std::vector<CLayerInfoValue> CGraphicSystem::GetLayerInfo() {
  std::vector<std::pair<std::string, IVirtualLayer*>> layers;
  front_->List(layers);
  std::vector<CLayerInfoValue> out;
  const auto number = [&](std::string name, int32_t value) {
    CLayerInfoValue v;
    v.name = std::move(name);
    v.number = value;
    out.push_back(std::move(v));
  };
  number("size", int32_t(layers.size()));
  for (size_t i = 0; i < layers.size(); ++i) {
    const std::string prefix = std::to_string(i) + ".";
    const IVirtualLayer& layer = *layers[i].second;
    CLayerInfoValue id;
    id.name = prefix + "id";
    id.isText = true;
    id.text = layers[i].first;
    out.push_back(std::move(id));
    number(prefix + "left", layer.GetX());
    number(prefix + "top", layer.GetY());
    number(prefix + "width", layer.GetWidth());
    number(prefix + "height", layer.GetHeight());
    number(prefix + "alpha", layer.GetAlpha());
    number(prefix + "xscale", ScaleToPercent(layer.GetXScale()));
    number(prefix + "yscale", ScaleToPercent(layer.GetYScale()));
    number(prefix + "rotate", layer.GetRotate());
    number(prefix + "layermode", layer.GetLayerMode());
    number(prefix + "visible", layer.GetVisible() ? 1 : 0);
  }
  return out;
}

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

void DumpSet(CLayerSet& set, const CParentChain& parents, int depth, std::string& out) {
  set.UpdateBounds(parents);
  const std::string indent(size_t(depth) * 2, ' ');
  int index = 0;
  for (const auto& [name, child] : set.GetChildren()) {
    const bool occluded = index++ < set.GetFirstDrawnIndex();
    const char* state = occluded ? "occluded" : !child->GetVisible() ? "hidden" : "drawn";
    out += indent + name;
    out += Format(
        " %s %s pos=%d,%d size=%dx%d right=%d bottom=%d alpha=%d anchor=%d,%d scale=%d,%d rotate=%d "
        "flip=%d,%d mode=%d visible=%d",
        LayerKindName(child), state, child->GetX(), child->GetY(), child->GetWidth(), child->GetHeight(),
        child->GetRight(), child->GetBottom(), child->GetAlpha(), child->GetAnchorX(), child->GetAnchorY(),
        child->GetXScale(), child->GetYScale(), child->GetRotate(), child->GetFlipX() ? 1 : 0,
        child->GetFlipY() ? 1 : 0, child->GetLayerMode(), child->GetVisible() ? 1 : 0);
    if (auto* image = dynamic_cast<ILayer*>(child)) {
      const ISurface* surface = image->GetSurface();
      if (surface) out += Format(" image=%dx%d/%d", surface->GetWidth(), surface->GetHeight(), surface->GetFormat());
      if (image->GetMask()) out += " mask";
      const CRect& source = image->GetSourceRect();
      if (source.GetWidth() || source.GetHeight())
        out += Format(" source=%d,%d,%dx%d", source.GetX(), source.GetY(), source.GetWidth(), source.GetHeight());
    }
    if (auto* animation = dynamic_cast<CAnimationLayer*>(child))
      out += Format(" frames=%zu shown=%lld", animation->GetFrameCount(),
                    static_cast<long long>(animation->GetShownTime(animation->Now())));
    out += "\n";
    if (auto* nested = dynamic_cast<CLayerSet*>(child)) {
      CParentChain chain = parents;
      chain.push_back(&set);
      DumpSet(*nested, chain, depth + 1, out);
    }
  }
}

}  // namespace

void CGraphicSystem::DumpLayers(std::string& out) {
  out += Format("front count=%d\n", front_->GetCount());
  DumpSet(*front_, {}, 1, out);
  out += Format("back count=%d\n", back_->GetCount());
  DumpSet(*back_, {}, 1, out);
  // Pending changes are listed by the back set's ids (addresses would not
  // be stable between runs).
  out += Format("pending count=%zu\n", GetPendingCount());
  for (const auto& [name, child] : back_->GetChildren()) {
    auto it = pending_.find(child);
    if (it == pending_.end() || it->second.requests.empty() || !IsCurrent(child, it->second)) continue;
    out += "  " + name;
    for (const auto& [index, value] : it->second.requests) {
      int number = 0;
      if (const int* i = std::any_cast<int>(&value))
        number = *i;
      else if (const bool* b = std::any_cast<bool>(&value))
        number = *b ? 1 : 0;
      out += Format(" %d=%d", index, number);
    }
    out += "\n";
  }
  CTweenRegistry& registry = CTweenRegistry::Instance();
  out += Format("tweens live=%zu\n", registry.GetCount());
  for (const auto& [id, handles] : layerTweens_) {
    std::string alive;
    for (const int32_t handle : handles)
      if (registry.IsAlive(handle)) alive += Format(" %d", handle);
    if (!alive.empty()) out += "  " + id + alive + "\n";
  }
  out += Format("transition=%d", transitionRunning_ ? 1 : 0);
  if (transitionRunning_ && canvas_) {
    if (rule_.empty())
      out += Format(" kind=fade alpha=%d", canvas_->GetAlpha());
    else
      out += Format(" kind=rule alpha=%d threshold=%lld vague=%lld", canvas_->GetAlpha(),
                    static_cast<long long>(threshold_), static_cast<long long>(vague_));
  }
  out += "\n";
}
