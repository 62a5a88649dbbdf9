// The image layer of the GPU renderer: one textured quad whose corners go
// through the layer matrix, with the blend mode as GL blend factors that keep
// the destination's alpha, as the software kernels do.
#pragma once

#include <cstdint>
#include <memory>

#include "graphics/gl/GlesApi.h"
#include "scene/Layer.h"

class CGlesRenderer;
class CGlesSurface;

class CGlesLayer : public CLayer {
 public:
  explicit CGlesLayer(CGlesRenderer* renderer);
  ~CGlesLayer() override;

  // Into the back buffer (no target) or a render-target surface; a memory
  // target gets the software composition.
  void DrawWithParents(ISurface* target, CParentChain& parents) override;
  // Nothing is resampled on the CPU.
  void PrepareWithParents(bool smooth, const CParentChain& parents) override {}
  void Prepare(bool smooth) override {}

  // The corners of the last draw in target pixels (top-left, top-right,
  // bottom-right, bottom-left), for tests.
  const float* GetLastCorners() const { return m_corners; }
  // Whether the last draw sampled linearly and blended.
  bool GetLastLinear() const { return m_lastLinear; }
  bool GetLastBlended() const { return m_lastBlended; }

 private:
  // A texture the layer owns: the colour-keyed copy of its image, or an
  // upload of a memory surface that is not one of the renderer's.
  struct COwnedTexture {
    GLuint name = 0;
    uint64_t generation = 0;
    int width = 0, height = 0;
  };
  GLuint Upload(COwnedTexture& texture, ISurface* surface, bool keyed);
  void Release(COwnedTexture& texture);

  CGlesRenderer* m_renderer;
  std::weak_ptr<CGlesRenderer*> m_token;
  COwnedTexture m_keyed;
  COwnedTexture m_foreign;
  COwnedTexture m_foreignMask;
  uint64_t m_keyedUploads = UINT64_MAX;
  float m_corners[8] = {};
  bool m_lastLinear = false;
  bool m_lastBlended = false;
};

class CGlesLayerFactory : public ILayerFactory {
 public:
  explicit CGlesLayerFactory(CGlesRenderer* renderer) : m_renderer(renderer) {}
  ILayer* Create() override { return new CGlesLayer(m_renderer); }

 private:
  CGlesRenderer* m_renderer;
};
