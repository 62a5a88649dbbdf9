// Layer tags: lyc, lyprop and lydel on the graphic system's image layers.
// Until layer sets exist, layers are drawn as soon as they are made (there is
// no back set to flip) and property changes apply at once.
#include <cstdlib>
#include <string>

#include "platform/TextCodec.h"
#include "graphics/Surface.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerProperty.h"
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"
#include "script/tags/TagUtil.h"

namespace {

void ReportMissingLayer(CMainScript& script, const CScriptBlock& record) {
  static const std::string message = Utf8ToCp932("指定されたレイヤーが見つかりません。");
  script.ReportTag(record, record.m_text + " id=\"" + record.GetAttribute("id") + "\"", message);
}

// Property attributes in the order they are applied, with their indices.
struct PropertyAttribute {
  const char* name;
  int index;
};
constexpr PropertyAttribute kPropertyAttributes[] = {{"left", 0},    {"top", 1},      {"alpha", 2},  {"anchorx", 3},
                                                     {"anchory", 4}, {"xscale", 5},   {"yscale", 6}, {"rotate", 7},
                                                     {"visible", 8}, {"layermode", 9}};

using State = CStatelessFamily;

bool LayerCreate(State&, CMainScript& script, const CScriptBlock& record, bool) {
  CGraphicSystem* graphics = script.GetGraphics();
  if (!graphics) return false;
  const std::string& id = record.GetAttribute("id");
  // A file that does not load leaves the scene as it was; nothing is reported.
  if (graphics->ShowImage(id, record.GetAttribute("file"), 0, 0)) return false;
  if (ILayer* layer = graphics->FindImage(id)) {
    if (ISurface* surface = layer->GetSurface()) {
      layer->SetAnchorX(surface->GetWidth() / 2);
      layer->SetAnchorY(surface->GetHeight() / 2);
    }
  }
  return false;
}

bool LayerProperty(State&, CMainScript& script, const CScriptBlock& record, bool) {
  CGraphicSystem* graphics = script.GetGraphics();
  ILayer* layer = graphics ? graphics->FindImage(record.GetAttribute("id")) : nullptr;
  if (!layer) {
    ReportMissingLayer(script, record);
    return false;
  }
  for (const PropertyAttribute& p : kPropertyAttributes) {
    if (!record.HasAttribute(p.name)) continue;
    const std::string& text = record.GetAttribute(p.name);
    if (p.index == 8) {
      SetProperty(*layer, 8, text != "0");
    } else if (p.index == 9) {
      int mode = 0;
      if (!LayerModeFromName(text, mode)) SetProperty(*layer, 9, mode);
    } else if (p.index == 5 || p.index == 6) {
      SetProperty(*layer, p.index, static_cast<int>(PercentToScale(std::atoi(text.c_str()))));
    } else {
      SetProperty(*layer, p.index, std::atoi(text.c_str()));
    }
  }
  return false;
}

bool LayerDelete(State&, CMainScript& script, const CScriptBlock& record, bool) {
  if (CGraphicSystem* graphics = script.GetGraphics()) graphics->HideImage(record.GetAttribute("id"));
  return false;
}

}  // namespace

void AddLayerTags(CTagRegistry& registry) {
  using tagutil::NotYet;
  const TagReplay kNone = TagReplay::kNone;
  const TagReplay kLayer = TagReplay::kLayer;
  const TagReplay kAnimation = TagReplay::kAnimation;
  const std::vector<std::string> id = {"id"};
  tagutil::AddFamilyOrDie(
      registry, "layer", &CreateFamilyState<State>,
      {
          TagRow<&LayerCreate>("lyc", {"id", "file"}, kLayer, "creates an image layer from a file"),
          TagRow<&LayerDelete>("lydel", id, kNone, "deletes a layer and its children"),
          TagRow<&LayerProperty>("lyprop", id, kLayer, "changes layer properties (position, alpha, scale, ...)"),
          TagRow<&NotYet<State>>("lytween", {"id", "from", "to", "msec", "param"}, kLayer,
                                 "moves a layer property over time along an easing curve"),
          TagRow<&NotYet<State>>("lytweendel", id, kLayer, "finishes a layer's tweens at their end values"),
          TagRow<&NotYet<State>>("tweenset", {}, kNone, "starts a queue of tweens that run one after another"),
          TagRow<&NotYet<State>>("/tweenset", {}, kNone, "ends and starts the tween queue"),
          TagRow<&NotYet<State>>("anime", {"id", "mode"}, kAnimation, "builds and plays a frame animation"),
          TagRow<&LayerDelete>("animedel", id, kNone, "deletes an animation"),
          TagRow<&NotYet<State>>("setonclick", id, kNone, "runs a label when a layer is clicked"),
          TagRow<&NotYet<State>>("delonclick", id, kNone, "removes a layer's click handler"),
          TagRow<&NotYet<State>>("setonrollover", id, kNone, "runs a label when the pointer enters a layer"),
          TagRow<&NotYet<State>>("delonrollover", id, kNone, "removes a layer's rollover handler"),
          TagRow<&NotYet<State>>("setonrollout", id, kNone, "runs a label when the pointer leaves a layer"),
          TagRow<&NotYet<State>>("delonrollout", id, kNone, "removes a layer's rollout handler"),
          TagRow<&NotYet<State>>("flip", {}, kNone, "shows the layer changes made since the last flip at once"),
          TagRow<&NotYet<State>>("trans", {"type"}, kNone, "shows the layer changes through a fade or rule wipe"),
      });
}
