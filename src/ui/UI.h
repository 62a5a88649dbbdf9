// Widgets: things the player handles directly on screen (the slider). They
// live in the graphic system's widget table by id, are updated once per
// frame before the script runs and are drawn after the scene.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "scene/GraphicSystem.h"

class ISurface;

// A widget's parameters by name: int32_t numbers, std::string texts and
// std::function callbacks.
using CUIParams = std::map<std::string, std::any>;

class IUI : public ISceneOverlay {
 public:
  ~IUI() override = default;
  // True on failure (missing or unusable parameters, images that do not load).
  [[nodiscard]] virtual bool Setup(const CUIParams& params) = 0;
  virtual void Update() = 0;
  void Draw(ISurface* target) override = 0;

  void FrameUpdate() override { Update(); }
};
