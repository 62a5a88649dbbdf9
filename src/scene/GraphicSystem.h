// The owner of everything drawn: the renderer set with the layer and surface
// factories of the renderer that came up, the file factory and image
// loaders, and the scene: the front layer set that is drawn and hit-tested,
// the back set that layer tags edit, the property changes waiting for the
// next commit, the tweens started on each layer, and the widgets and
// message windows drawn over the scene.
#pragma once

#include <any>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "scene/LayerProperty.h"

#include "platform/Platform.h"

class CGraphicRenderer;
class CGraphicLoaders;
class CFileFactory;
class CLayerSet;
class ILayer;
class ILayerFactory;
class ISurface;
class ISurfaceFactory;
class IVirtualLayer;

// Something drawn over the scene each frame: a widget or a message window.
class ISceneOverlay {
 public:
  virtual ~ISceneOverlay() = default;
  // Once per frame before the script runs.
  virtual void FrameUpdate() {}
  // Draws into the render target (none when the renderer draws without one).
  virtual void Draw(ISurface* target) = 0;
};

// One variable get_layer_info stores: a name below the requested prefix
// ("size", "0.id", "0.left", ...) with an integer or a text value.
struct CLayerInfoValue {
  std::string name;
  bool isText = false;
  int32_t number = 0;
  std::string text;
};

// 16.16 scale back to script percent: the whole part of v * 100 / 65536,
// symmetric about 0 (98304 -> 150, -98304 -> -150).
int32_t ScaleToPercent(int32_t scale);

class CGraphicSystem {
 public:
  // window is the game window the renderer presents into (0: none).
  CGraphicSystem(platform::WindowHandle window, int sceneWidth, int sceneHeight);
  CGraphicSystem(std::nullptr_t, int sceneWidth, int sceneHeight)
      : CGraphicSystem(platform::WindowHandle(0), sceneWidth, sceneHeight) {}
  ~CGraphicSystem();
  CGraphicSystem(const CGraphicSystem&) = delete;
  CGraphicSystem& operator=(const CGraphicSystem&) = delete;

  // Per-frame update: every widget, then every message window, in name order.
  void Update();
  // Composes one frame through the active renderer.
  void Render();
  // Alt+Enter: switches between window and full screen where the renderer allows it.
  void ToggleFullscreen();
  // Whether the active renderer draws at a window scale (full screen); the
  // software renderer does not.
  bool CanScaleWindow() const {
    return HasRenderer() && windowScaleHook_ != nullptr && (!windowScaleActive_ || windowScaleActive_());
  }
  // The back buffer becomes the scene size times scale (rounded down) and
  // layers draw scaled into it.
  void SetWindowScale(float scale) {
    if (CanScaleWindow()) windowScaleHook_(scale);
  }
  // hook scales the window's drawing; active tells whether the renderer that
  // set it is the one drawing (a GPU renderer that declined leaves the
  // software one, which does not scale).
  void SetWindowScaleHook(std::function<void(float)> hook, std::function<bool()> active = nullptr) {
    windowScaleHook_ = std::move(hook);
    windowScaleActive_ = std::move(active);
  }

  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  platform::WindowHandle GetWindowHandle() const { return windowHandle_; }

  // False when no renderer started (nothing will be drawn).
  bool HasRenderer() const;
  CGraphicRenderer* GetRenderer() const { return renderer_.get(); }
  // Factories of the active renderer, for every layer and surface made.
  ILayerFactory* GetLayerFactory() const { return layerFactory_; }
  ISurfaceFactory* GetSurfaceFactory() const { return surfaceFactory_; }
  CFileFactory* GetFileFactory() const { return fileFactory_.get(); }
  CGraphicLoaders* GetLoaders() const { return loaders_.get(); }

  // Hardware renderers, registered by each new graphic system ahead of the
  // software one unless software is forced. The GPU library sits above this
  // one and installs itself here.
  using HardwareRenderers = void (*)(CGraphicSystem& graphics, CGraphicRenderer& renderers);
  static void SetHardwareRenderers(HardwareRenderers add) { s_hardwareRenderers = add; }

  // Whether the command line ("fsr") or system.ini ([SYSTEM]
  // FORCE_SOFTWARE_RENDER) asks for the software renderer.
  static bool IsSoftwareRendererForced();
  // That choice, as made when this graphic system was built.
  bool IsSoftwareForced() const { return softwareForced_; }

  // ---- Scene ----
  CLayerSet& GetFrontSet() { return *front_; }
  CLayerSet& GetBackSet() { return *back_; }

  // Pending property changes, applied at the next commit.
  void QueueProperty(IVirtualLayer* layer, int index, std::any value);
  // Drops the layer's requests and recorded old values (a tag replaced or
  // deleted it).
  void ForgetLayer(IVirtualLayer* layer);
  // Applies every request in order, recording each previous value.
  void ApplyPending();
  // Puts the recorded previous values back, last first.
  void RevertPending();
  size_t GetPendingCount() const;

  // A restart of the game: an empty back set, no pending changes, every
  // layer tween finished and removed, no widgets. The front set stays shown
  // until the next commit.
  void ResetScene();

  // The scene commit: the back set becomes the front set and a copy of it
  // the new back set, with the pending changes applied.
  void Commit();
  // Run at a commit before the changes apply; the transition deletes its
  // rule image there.
  void SetCommitHook(std::function<void()> hook) { commitHook_ = std::move(hook); }

  // ---- Transitions ----
  enum class TransitionStart {
    kStarted,      // a transition runs; the script waits for it
    kNone,         // committed at once, or nothing to do
    kRuleMissing,  // the rule image did not load; nothing changed
  };
  // The one way into a transition (the trans tag, reset, loading with a
  // type): 0 commits at once, 1 cross-fades over time ms, 2 wipes through
  // the rule image with a soft edge of vague threshold steps. onDone runs
  // after the commit that ends a started transition.
  TransitionStart StartTransition(int type, int32_t time, const std::string& rule, int32_t vague,
                                  std::function<void()> onDone);
  // Ends a running transition at once: its tween jumps to its end without
  // the callback and the scene commits once. True when none was running.
  bool FinishTransition();
  int32_t GetTransitionTween() const { return transitionTween_; }
  ILayer* GetCanvas() const { return canvas_.get(); }
  ISurface* GetMaskSurface() const { return mask_.get(); }
  bool HasRule() const { return !rule_.empty(); }
  int64_t GetThreshold() const { return threshold_; }
  int64_t GetVague() const { return vague_; }
  // The mask value of a rule pixel p at threshold t with the soft edge v.
  static uint8_t RuleMask(int64_t p, int64_t t, int64_t v);
  // The transition step: the back set into the canvas when it changed, the
  // rule mask, then the canvas over the target.
  void DrawTransition(ISurface* target);

  bool IsTransitionRunning() const { return transitionRunning_; }
  void SetTransitionRunning(bool running) { transitionRunning_ = running; }
  bool GetBackNeedsDrawing() const { return backNeedsDrawing_; }
  void SetBackNeedsDrawing(bool value) { backNeedsDrawing_ = value; }
  // The transition step, drawn after the front set while a transition runs.
  void SetTransitionStep(std::function<void(ISurface* target)> step) { transitionStep_ = std::move(step); }
  // While it returns true (a movie plays, after its own completion check),
  // nothing else is composed.
  void SetMovieCheck(std::function<bool()> check) { movieCheck_ = std::move(check); }
  // Called as a movie starts: keeps the picture on the screen now, which
  // the first scene frame after the movie starts from (the movie's own
  // pictures went where the scene is drawn). A movie that follows another
  // keeps the picture from before the first.
  void KeepPictureUnderMovie();

  // Widgets and message windows, by name; drawn after the scene in name
  // order, widgets first. Adding under a taken name replaces.
  void SetWidget(const std::string& name, std::unique_ptr<ISceneOverlay> widget);
  void RemoveWidget(const std::string& name) { widgets_.erase(name); }
  ISceneOverlay* FindWidget(const std::string& name) const;
  void SetMessageWindow(const std::string& name, std::unique_ptr<ISceneOverlay> window);
  void RemoveMessageWindow(const std::string& name) { messageWindows_.erase(name); }
  ISceneOverlay* FindMessageWindow(const std::string& name) const;
  const std::map<std::string, std::unique_ptr<ISceneOverlay>>& GetMessageWindows() const { return messageWindows_; }
  void ClearMessageWindows() { messageWindows_.clear(); }

  // Tweens started on each layer id, by handle.
  void AddLayerTween(const std::string& id, int32_t handle) { layerTweens_[id].insert(handle); }
  // Kills the tweens of the id (their properties jump to the end values)
  // and forgets the entry.
  void KillLayerTweens(const std::string& id);
  const std::map<std::string, std::set<int32_t>>& GetLayerTweens() const { return layerTweens_; }

  // The variables get_layer_info stores for the front set.
  std::vector<CLayerInfoValue> GetLayerInfo();
  // Both sets (each layer's id, kind, geometry, properties, and whether
  // it draws or is occluded), pending changes and live tweens, as stable
  // text: the same scene always gives the same bytes.
  void DumpLayers(std::string& out);

 private:
  // Ends the transition's tween, if any, without its callback (it jumps to
  // its end value). True when there was one.
  bool KillTransitionTween();
  struct CPending {
    uint64_t serial = 0;  // the hold it was queued for
    std::vector<std::pair<int, std::any>> requests;
    CPropertyOldValues oldValues;
  };
  // The pending entry of a layer still held as when it was queued.
  bool IsCurrent(IVirtualLayer* layer, const CPending& pending) const;

  // Whether the back set must be drawn into the canvas again this frame.
  bool BackSetMoves() const;
  // Reads the rule file as one byte per screen pixel (the green byte of a
  // 32-bit image; other sizes stretched, nearest). True when it fails.
  bool LoadRule(const std::string& file);

  static inline HardwareRenderers s_hardwareRenderers = nullptr;
  platform::WindowHandle windowHandle_ = 0;
  int width_, height_;
  bool softwareForced_ = false;
  std::unique_ptr<CGraphicRenderer> renderer_;
  ILayerFactory* layerFactory_ = nullptr;
  ISurfaceFactory* surfaceFactory_ = nullptr;
  std::unique_ptr<CFileFactory> fileFactory_;
  std::unique_ptr<CGraphicLoaders> loaders_;

  std::unique_ptr<CLayerSet> front_;
  std::unique_ptr<CLayerSet> back_;
  std::map<IVirtualLayer*, CPending> pending_;
  bool transitionRunning_ = false;
  bool backNeedsDrawing_ = false;
  std::function<void()> commitHook_;
  std::function<void(ISurface*)> transitionStep_;
  std::function<bool()> movieCheck_;
  // A movie drew the last frame: the next scene frame starts from the
  // picture kept under it (black when none could be kept).
  bool movieShown_ = false;
  std::vector<uint8_t> underMovie_;  // width_ x height_ BGRA, or empty
  void DrawPictureUnderMovie(ISurface* target);
  std::function<void(float)> windowScaleHook_;
  std::function<bool()> windowScaleActive_;
  std::map<std::string, std::set<int32_t>> layerTweens_;
  std::unique_ptr<ISurface> canvasSurface_;
  std::unique_ptr<ILayer> canvas_;
  std::unique_ptr<ISurface> mask_;
  std::vector<uint8_t> rule_;  // width_ * height_ bytes, or empty
  int64_t threshold_ = 0;
  int64_t vague_ = 32;
  int32_t transitionTween_ = -1;
  // Tween setters and callbacks outlive nothing: they reach the system
  // through this and do nothing once it is gone.
  std::shared_ptr<CGraphicSystem*> self_;
  std::map<std::string, std::unique_ptr<ISceneOverlay>> widgets_;
  std::map<std::string, std::unique_ptr<ISceneOverlay>> messageWindows_;
};
