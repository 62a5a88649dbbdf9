// A slider: a track image and a knob image; the left mouse button drags the
// knob along one axis and every accepted move reports a value between the
// minimum and the maximum through the slide callback.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "ui/UI.h"

class CGraphicLoaders;
class CInputState;
class ILayer;
class ILayerFactory;
class ISurfaceFactory;

class CUISlider : public IUI {
 public:
  using SlideCallback = std::function<void(int32_t)>;

  // None of the three is owned; input defaults to the process-wide state.
  CUISlider(ILayerFactory* layers, ISurfaceFactory* surfaces, CGraphicLoaders* loaders, CInputState* input = nullptr);
  ~CUISlider() override;
  CUISlider(const CUISlider&) = delete;
  CUISlider& operator=(const CUISlider&) = delete;

  // "x", "y", "width" (horizontal) or "height" (vertical), "var_min",
  // "var_max", "var_now" as int32_t; "background_path", "controller_path"
  // as std::string; "onslide" as SlideCallback. Fails for a one-pixel
  // track or an empty value range, which would divide by zero; a track of
  // zero or fewer pixels is taken, and its knob cannot move.
  [[nodiscard]] bool Setup(const CUIParams& params) override;
  void Update() override;
  void Draw(ISurface* target) override;

  bool IsVertical() const { return vertical_; }
  bool IsDragging() const { return dragging_; }
  ILayer* GetBackground() const { return background_; }
  ILayer* GetController() const { return controller_; }

  // Knob offset on the track for a value, and value for an offset (64-bit
  // products, truncated toward zero, saturated to 32 bits).
  static int32_t OffsetForValue(int64_t value, int64_t minimum, int64_t range, int64_t trackLength);
  static int32_t ValueForOffset(int64_t offset, int64_t minimum, int64_t range, int64_t trackLength);

 private:
  int32_t PointerOnAxis() const;

  ILayerFactory* layerFactory_;
  ISurfaceFactory* surfaceFactory_;
  CGraphicLoaders* loaders_;
  CInputState* input_;
  bool vertical_ = false;
  int32_t start_ = 0;
  int32_t end_ = 0;
  int64_t trackLength_ = 0;
  int32_t minimum_ = 0;
  int64_t range_ = 0;
  SlideCallback onSlide_;
  ILayer* background_ = nullptr;
  ILayer* controller_ = nullptr;
  std::unique_ptr<ISurface> backgroundSurface_;
  std::unique_ptr<ISurface> controllerSurface_;
  bool dragging_ = false;
  int32_t last_ = 0;
};
