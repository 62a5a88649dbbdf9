// Layer tags: lyc, lyprop and lydel on the graphic system's image layers.
// Until layer sets exist, layers are drawn as soon as they are made (there is
// no back set to flip) and property changes apply at once.
#include <cstdlib>
#include <string>

#include "core/Cp932.h"
#include "graphics/Surface.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerProperty.h"
#include "script/MainScript.h"

namespace {

void ReportMissingLayer(CMainScript& script, const std::string& file, const CScriptBlock& record) {
  static const std::string format = Utf8ToCp932("%s(%d): [%s id=\"%s\"] 指定されたレイヤーが見つかりません。");
  script.ReportFormat(format.c_str(), file.c_str(), record.GetLine(), record.GetText().c_str(),
                      record.GetAttribute("id").c_str());
}

// Property attributes in the order they are applied, with their indices.
struct PropertyAttribute {
  const char* name;
  int index;
};
constexpr PropertyAttribute kPropertyAttributes[] = {{"left", 0},    {"top", 1},      {"alpha", 2},  {"anchorx", 3},
                                                     {"anchory", 4}, {"xscale", 5},   {"yscale", 6}, {"rotate", 7},
                                                     {"visible", 8}, {"layermode", 9}};

}  // namespace

bool CMainScript::TagLayerCreate(const CScriptBlock& record, bool) {
  if (!m_graphics) return false;
  const std::string& id = record.GetAttribute("id");
  // A file that does not load leaves the scene as it was; nothing is reported.
  if (m_graphics->ShowImage(id, record.GetAttribute("file"), 0, 0)) return false;
  if (ILayer* layer = m_graphics->FindImage(id)) {
    if (ISurface* surface = layer->GetSurface()) {
      layer->SetAnchorX(surface->GetWidth() / 2);
      layer->SetAnchorY(surface->GetHeight() / 2);
    }
  }
  return false;
}

bool CMainScript::TagLayerProperty(const CScriptBlock& record, bool) {
  ILayer* layer = m_graphics ? m_graphics->FindImage(record.GetAttribute("id")) : nullptr;
  if (!layer) {
    ReportMissingLayer(*this, m_cursor.m_file, record);
    return false;
  }
  for (const PropertyAttribute& p : kPropertyAttributes) {
    if (!record.HasAttribute(p.name)) continue;
    const std::string& text = record.GetAttribute(p.name);
    if (p.index == 8) {
      SetProperty(*layer, 8, text != "0");
    } else if (p.index == 9) {
      int mode = 0;
      if (LayerModeFromName(text, mode)) SetProperty(*layer, 9, mode);
    } else if (p.index == 5 || p.index == 6) {
      SetProperty(*layer, p.index, static_cast<int>(PercentToScale(std::atoi(text.c_str()))));
    } else {
      SetProperty(*layer, p.index, std::atoi(text.c_str()));
    }
  }
  return false;
}

bool CMainScript::TagLayerDelete(const CScriptBlock& record, bool) {
  if (m_graphics) m_graphics->HideImage(record.GetAttribute("id"));
  return false;
}
