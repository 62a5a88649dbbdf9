// Draws a small scene built from the input: image layers with arbitrary
// property blocks (int32 extremes included), source rectangles, colour keys
// and masks over small images, nested sets, then hit tests and a commit.
// Nothing may read outside a surface, and allocation stays bounded by the
// target, whatever the scale.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "graphics/Surface.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "scene/PointerEvents.h"

namespace {

// Masks are not owned by layers; they live until the input is done.
std::vector<CSurface*> g_masks;

class CReader {
 public:
  CReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  int32_t Int() {
    // One selector byte picks a telling value or four raw bytes.
    switch (Byte() & 7) {
      case 0: return 0;
      case 1: return INT32_MAX;
      case 2: return INT32_MIN;
      case 3: return 65536;
      case 4: return int32_t(int8_t(Byte()));
      case 5: return int32_t(Byte()) << 12;
      default: {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(Byte()) << (8 * i);
        return int32_t(v);
      }
    }
  }
  bool More() const { return m_pos < m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

void Properties(CReader& in, ILayerProperty& p) {
  const uint8_t which = in.Byte();
  if (which & 1) p.SetX(in.Int());
  if (which & 2) p.SetY(in.Int());
  if (which & 4) p.SetAlpha(in.Int());
  if (which & 8) {
    p.SetAnchorX(in.Int());
    p.SetAnchorY(in.Int());
  }
  if (which & 16) {
    p.SetXScale(in.Int());
    p.SetYScale(in.Int());
  }
  if (which & 32) p.SetRotate(in.Int());
  if (which & 64) {
    p.SetFlipX(in.Byte() & 1);
    p.SetFlipY(in.Byte() & 1);
  }
  if (which & 128) p.SetLayerMode(int(in.Byte() % 6));
  p.SetVisible((in.Byte() & 15) != 0);
}

CLayer* MakeLayer(CReader& in) {
  const int w = 1 + in.Byte() % 12, h = 1 + in.Byte() % 12;
  const int format = in.Byte() % 3;
  auto* surface = new CSurface();
  surface->Create(w, h, format);
  surface->Lock();
  for (int y = 0; y < h; ++y) {
    uint8_t* row = surface->GetLine(y);
    for (int x = 0; x < surface->GetPitch(); ++x) row[x] = in.Byte();
  }
  surface->Unlock();
  auto* layer = new CLayer();
  layer->SetSurface(surface);
  Properties(in, *layer);
  const uint8_t extras = in.Byte();
  if (extras & 1) layer->SetSourceRect(CRect(in.Int() % 16, in.Int() % 16, in.Int() % 20, in.Int() % 20));
  if (extras & 2) layer->SetColorKey(uint32_t(in.Int()));
  if (extras & 4) {
    // Usually a fitting mask; sometimes one the layer must refuse.
    auto* mask = new CSurface();
    const bool fits = (extras & 8) == 0;
    mask->Create(fits ? w : w + 1, h, fits ? 0 : 2);
    for (int y = 0; y < mask->GetHeight(); ++y) std::memset(mask->GetLine(y), in.Byte(), size_t(mask->GetPitch()));
    layer->SetMask(mask);
    if (layer->GetMask() != mask)
      delete mask;
    else
      g_masks.push_back(mask);
  }
  return layer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CReader in(data, size);
  CSurface target;
  target.Create(48, 32, 1);
  target.Fill(0xFF203040);
  {
    CLayerSet scene;
    Properties(in, scene);
    CLayerSet* nested = nullptr;
    for (int i = 0; i < 8 && in.More(); ++i) {
      const uint8_t op = in.Byte();
      const std::string name(1, char('a' + (op >> 4) % 6));
      if ((op & 3) == 3 && !nested) {
        nested = new CLayerSet();
        Properties(in, *nested);
        scene.Add("set", nested);
      } else if ((op & 3) == 2 && nested) {
        nested->Add(name, MakeLayer(in));
      } else if ((op & 3) == 1) {
        scene.Remove(name);
        if (!scene.Find("set")) nested = nullptr;
      } else {
        scene.Add(name, MakeLayer(in));
      }
      if (op & 4) scene.Draw(&target);
    }
    scene.Draw(&target);
    CLayerSet copy(scene);
    scene.RemoveAll();
    copy.Draw(&target);
    CPointerEvents events;
    events.SetThreshold("a", in.Byte());
    events.SetClick("a", {});
    events.SetRollover("b", {});
    events.SetRollout("c", {});
    CPointerEvents::Input input;
    input.x = in.Int();
    input.y = in.Int();
    input.pressEdge = in.Byte() & 1;
    events.Run(1, input, copy);
    for (const auto& [name, child] : copy.GetChildren())
      if (auto* image = dynamic_cast<ILayer*>(child)) image->GetPixel(CPoint(in.Int(), in.Int()));
  }
  for (CSurface* mask : g_masks) delete mask;
  g_masks.clear();
  return 0;
}
