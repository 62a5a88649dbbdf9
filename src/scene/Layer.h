// Layers: everything drawn on screen. IVirtualLayer is anything with a
// property block and a rectangle that can draw itself; ILayer adds an image;
// CLayer is the image layer that composes into a memory render target.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/Geometry.h"
#include "graphics/Blend.h"
#include "scene/LayerProperty.h"

class ISurface;

// The property blocks of the enclosing layer sets, outermost first.
using CParentChain = std::vector<const ILayerProperty*>;

// Opacity after the parents' alphas: alpha alone without parents, else
// floor(alpha * product(parent alpha / 255) + 0.5).
int EffectiveOpacity(int alpha, const CParentChain& parents);

class IVirtualLayer : public virtual ILayerProperty, public IRect {
 public:
  int GetRight() const override = 0;
  int GetBottom() const override = 0;
  // Draws into the target (the render target as a surface, or none when the
  // renderer draws without one) inside the given parents.
  virtual void DrawWithParents(ISurface* target, CParentChain& parents) = 0;
  virtual void Draw(ISurface* target) = 0;
};

class ILayer : public IVirtualLayer {
 public:
  virtual ISurface* GetSurface() const = 0;
  virtual ISurface* GetMask() const = 0;
  virtual const CRect& GetSourceRect() const = 0;
  // The image pixel under a screen point, by the matrix of the last draw.
  virtual uint32_t GetPixel(const IPoint& point) = 0;
  virtual void SetSurface(ISurface* surface) = 0;
  virtual void SetMask(ISurface* mask) = 0;
  virtual void SetSourceRect(const IRect& rect) = 0;
};

class CLayer : public ILayer, public CLayerProperty {
 public:
  CLayer();
  CLayer(const CLayer&) = delete;
  CLayer& operator=(const CLayer&) = delete;
  ~CLayer() override;

  // Size of what the layer shows: the source rectangle when it has a width
  // (height), else the surface; 0 without a surface.
  int GetWidth() const override;
  int GetHeight() const override;
  int GetRight() const override;
  int GetBottom() const override;
  void DrawWithParents(ISurface* target, CParentChain& parents) override;
  void Draw(ISurface* target) override;

  ISurface* GetSurface() const override { return m_surface; }
  ISurface* GetMask() const override { return m_mask; }
  const CRect& GetSourceRect() const override { return m_sourceRect; }
  uint32_t GetPixel(const IPoint& point) override;
  // Neither the surface nor the mask is owned by the layer.
  void SetSurface(ISurface* surface) override;
  // Accepted only for a format-1 or format-2 surface and an 8-bit mask of
  // the same size; none removes the mask. A rejected mask changes nothing.
  void SetMask(ISurface* mask) override;
  void SetSourceRect(const IRect& rect) override;

  virtual uint32_t GetColorKey() const { return m_colorKey; }
  virtual void SetColorKey(uint32_t key);
  // Builds the layer matrix from the parents and the layer's own block.
  virtual void UpdateMatrix(const CParentChain& parents);
  virtual void PrepareWithParents(bool smooth, const CParentChain& parents);
  virtual void Prepare(bool smooth);

  const CMatrix2D& GetMatrix() const { return m_matrix; }
  const CRect& GetBounds() const { return m_bounds; }
  // The image the layer draws from: the surface, or the resampled part of
  // the bounding rectangle (see GetImageRegion); none when nothing draws.
  ISurface* GetDrawImage() const { return m_image; }
  // Where the resampled image lies inside the bounding rectangle (offsets
  // from its top-left corner and size).
  const CRect& GetImageRegion() const { return m_region; }
  // Whether the last preparation resampled the image.
  bool IsResampled() const { return m_image && m_image != m_surface; }
  // How many times the image was resampled since the layer was made (the
  // cache's effect is observable through it).
  uint64_t GetResampleCount() const { return m_resamples; }
  // Draws through the plain kernels only (per-pixel weights, resampling and
  // blending as two passes), which the fast ones must match byte for byte.
  static void UseReferenceKernels(bool on) { s_referenceKernels = on; }
  // Lets the fast paths use instructions wider than SSE2 where the
  // processor has them (the default); off, the narrower fast paths run, so
  // that they can be checked on such a processor too.
  static void UseWideKernels(bool on) { s_wideKernels = on; }

 protected:
  // Drops the prepared copy, if any.
  void ReleaseImage();

  ISurface* m_surface = nullptr;
  ISurface* m_mask = nullptr;
  uint32_t m_colorKey = 0;
  CRect m_sourceRect;
  CMatrix2D m_matrix;
  ISurface* m_image = nullptr;  // m_surface or m_ownedImage
  std::unique_ptr<ISurface> m_ownedImage;
  CRect m_bounds;

 private:
  // The source area: the source rectangle when it has a width and a
  // height, else the whole surface.
  CRect SourceArea() const;
  // Fills m_ownedImage with the part m_region of the bounding rectangle.
  // False when the values of the walk do not fit 16.16 fixed point.
  bool Resample(bool smooth, float minX, float minY);
  void DrawStraight(ISurface* target, int format, int opacity);
  void DrawResampled(ISurface* target, int format, int opacity);
  // Where resampled rows are blended: a draw that resamples blends each row
  // as soon as it is made.
  struct CRowSink {
    ISurface* target = nullptr;
    BlendRowFn row = nullptr;
    int opacity = 0;
    bool done = false;  // every row was blended
  };
  // Blends row j of the resampled image (its bytes s) into the sink's target.
  void BlendImageRow(const CRowSink& sink, int j, const uint8_t* s);
  static bool s_referenceKernels;
  static bool s_wideKernels;
  CRowSink* m_sink = nullptr;

  // The target's rectangle while a draw prepares the layer: only the part
  // of the bounding rectangle inside it is resampled.
  const CRect* m_clip = nullptr;
  CRect m_region;
  bool m_hasRegion = false;
  // Per row of the resampled image: the columns [first, second) that map
  // inside the image. Only those are drawn; the rest leave the target alone.
  std::vector<std::pair<int32_t, int32_t>> m_spans;
  uint64_t m_resamples = 0;
};

class ILayerFactory {
 public:
  virtual ~ILayerFactory() = default;
  // A new, empty layer owned by the caller.
  virtual ILayer* Create() = 0;
};

class CLayerFactory : public ILayerFactory {
 public:
  ILayer* Create() override { return new CLayer(); }
};
