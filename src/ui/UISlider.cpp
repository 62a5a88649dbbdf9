#include "ui/UISlider.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "graphics/GraphicLoader.h"
#include "graphics/Surface.h"
#include "platform/InputState.h"
#include "platform/VirtualKeys.h"
#include "scene/Layer.h"

namespace {

template <class T>
const T* Get(const CUIParams& params, const char* name) {
  auto it = params.find(name);
  return it == params.end() ? nullptr : std::any_cast<T>(&it->second);
}

int32_t Saturate(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

CUISlider::CUISlider(ILayerFactory* layers, ISurfaceFactory* surfaces, CGraphicLoaders* loaders, CInputState* input)
    : layerFactory_(layers), surfaceFactory_(surfaces), loaders_(loaders), input_(input) {
  if (layerFactory_) {
    background_ = layerFactory_->Create();
    controller_ = layerFactory_->Create();
  }
}

CUISlider::~CUISlider() {
  // The layers go before the surfaces they show.
  delete background_;
  delete controller_;
}

int32_t CUISlider::OffsetForValue(int64_t value, int64_t minimum, int64_t range, int64_t trackLength) {
  if (range == 0) return 0;
  // Values are int32, the track under 2^32: the product fits in 64 bits.
  return Saturate((value - minimum) * trackLength / range);
}

int32_t CUISlider::ValueForOffset(int64_t offset, int64_t minimum, int64_t range, int64_t trackLength) {
  if (trackLength == 0) return Saturate(minimum);
  return Saturate(offset * range / trackLength + minimum);
}

bool CUISlider::Setup(const CUIParams& params) {
  const int32_t* x = Get<int32_t>(params, "x");
  const int32_t* y = Get<int32_t>(params, "y");
  const int32_t* width = Get<int32_t>(params, "width");
  const int32_t* height = Get<int32_t>(params, "height");
  int64_t length = 0;
  if (width) {
    vertical_ = false;
    length = *width;
  } else if (height) {
    vertical_ = true;
    length = *height;
  } else {
    return true;
  }
  const std::string* backgroundPath = Get<std::string>(params, "background_path");
  const std::string* controllerPath = Get<std::string>(params, "controller_path");
  const int32_t* varMin = Get<int32_t>(params, "var_min");
  const int32_t* varMax = Get<int32_t>(params, "var_max");
  const int32_t* varNow = Get<int32_t>(params, "var_now");
  const SlideCallback* onSlide = Get<SlideCallback>(params, "onslide");
  if (!x || !y || !backgroundPath || !controllerPath || !varMin || !varMax || !varNow || !onSlide || !*onSlide)
    return true;
  // A track of one pixel, or a range without values, would divide by zero.
  // A shorter one (0 or less) has no place the knob can move to: it stays.
  if (length == 1 || *varMax == *varMin) return true;
  if (!background_ || !controller_ || !surfaceFactory_ || !loaders_) return true;

  const int64_t start = vertical_ ? *y : *x;
  const int64_t end = start + length - 1;
  if (end > std::numeric_limits<int32_t>::max()) return true;
  start_ = static_cast<int32_t>(start);
  end_ = static_cast<int32_t>(end);
  trackLength_ = end - start;
  minimum_ = *varMin;
  range_ = static_cast<int64_t>(*varMax) - *varMin;
  onSlide_ = *onSlide;

  std::unique_ptr<ISurface> backgroundSurface(surfaceFactory_->Create());
  if (!backgroundSurface || loaders_->LoadFile(backgroundSurface.get(), backgroundPath->c_str())) return true;
  std::unique_ptr<ISurface> controllerSurface(surfaceFactory_->Create());
  if (!controllerSurface || loaders_->LoadFile(controllerSurface.get(), controllerPath->c_str())) return true;

  background_->SetX(*x);
  background_->SetY(*y);
  background_->SetSurface(backgroundSurface.get());
  backgroundSurface_ = std::move(backgroundSurface);
  // A value outside the range puts the knob off the track, as given.
  const int32_t offset = OffsetForValue(*varNow, minimum_, range_, trackLength_);
  controller_->SetX(vertical_ ? *x : Saturate(int64_t(*x) + offset));
  controller_->SetY(vertical_ ? Saturate(int64_t(*y) + offset) : *y);
  controller_->SetSurface(controllerSurface.get());
  controllerSurface_ = std::move(controllerSurface);
  return false;
}

// In full screen the knob follows the pointer: the pointer's pixels are
// divided by the scale the scene is shown at, as the knob's own are.
int32_t CUISlider::PointerOnAxis() const {
  const platform::Point p = input_->GetPointer();
  const float scale = input_->GetScale() > 0 ? input_->GetScale() : 1.0f;
  return static_cast<int32_t>(std::floor((vertical_ ? p.y : p.x) / scale));
}

void CUISlider::Update() {
  if (!input_) input_ = CInputState::Instance();
  if (!input_ || !controller_ || !controllerSurface_) return;
  // Held, not pressed: a drag may start with the button already down.
  if (!input_->IsDown(platform::VK_LBUTTON)) {
    dragging_ = false;
    return;
  }
  if (!dragging_) {
    if (input_->IsPointInRect(controller_->GetX(), controller_->GetY(), controller_->GetRight(),
                              controller_->GetBottom())) {
      dragging_ = true;
      last_ = PointerOnAxis();
    }
    return;
  }
  const int32_t p = PointerOnAxis();
  if (p == last_) return;
  const int64_t n = int64_t(vertical_ ? controller_->GetY() : controller_->GetX()) + (int64_t(p) - last_);
  // Past either end nothing moves and the last accepted position stays.
  if (n < start_ || n > end_) return;
  if (vertical_) {
    controller_->SetY(static_cast<int32_t>(n));
  } else {
    controller_->SetX(static_cast<int32_t>(n));
  }
  last_ = p;
  if (onSlide_) onSlide_(ValueForOffset(n - start_, minimum_, range_, trackLength_));
}

void CUISlider::Draw(ISurface* target) {
  CParentChain none;
  if (backgroundSurface_) background_->DrawWithParents(target, none);
  if (controllerSurface_) controller_->DrawWithParents(target, none);
}
