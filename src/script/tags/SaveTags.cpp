// Save tags: save, load and reset, and the family that carries the other
// families' saved fields (message windows, icons, pointer handlers, the Lua
// frame handler) into game states and back.
#include <string>

#include "core/Cp932.h"
#include "platform/TextCodec.h"
#include "save/SaveData.h"
#include "scene/GraphicSystem.h"
#include "script/MainScript.h"
#include "script/SavedState.h"
#include "script/tags/LayerTags.h"
#include "script/tags/LuaTags.h"
#include "script/tags/MessageTags.h"
#include "script/tags/SystemTags.h"
#include "script/tags/TagFamilies.h"
#include "script/tags/TagUtil.h"
#include "vars/QelVariables.h"

namespace {

class CSaveTagState : public CTagFamilyState {
 public:
  void CaptureSaved(CMainScript& script, CSavedState& saved) override;
  void ApplySaved(CMainScript& script, const CSavedState& saved, RestoreStep step) override;

 private:
  void ApplyMessages(CMainScript& script, const CSavedState& saved);
};

using State = CSaveTagState;
using Kind = CPointerEvents::Kind;

const char* const kHandlerTags[] = {"setonclick", "setonrollover", "setonrollout"};

CSavedState::EventTable& TableOf(CSavedState& saved, Kind kind) {
  return kind == Kind::kClick ? saved.clicks : kind == Kind::kRollover ? saved.rollovers : saved.rollouts;
}
const CSavedState::EventTable& TableOf(const CSavedState& saved, Kind kind) {
  return kind == Kind::kClick ? saved.clicks : kind == Kind::kRollover ? saved.rollovers : saved.rollouts;
}

void CSaveTagState::CaptureSaved(CMainScript& script, CSavedState& saved) {
  if (const auto* message = script.FindFamily<CMessageTagState>()) {
    saved.currentWindow = message->m_currentWindowId;
    saved.windowStack = message->m_windowIdStack;
    saved.glyphs = message->m_glyphInfos;
    saved.appearLists = message->m_appearLists;
    saved.vanishLists = message->m_vanishLists;
  }
  // The stacks as each page began: replaying the page's own font records on
  // top of them gives the stacks of now.
  saved.fontStacks = script.GetSaveData().GetFontStacks();
  saved.pageStartFonts = script.GetSaveData().GetPageStartFonts();
  if (const auto* system = script.FindFamily<CSystemTagState>()) {
    saved.autoSyncList = system->m_autoSyncList;
    saved.hideLayers = system->m_hideLayers;
    saved.backlogHideLayers = system->m_backlogHideLayers;
    saved.autoIcons = system->m_autoIcons;
    saved.backlogIcons = system->m_backlogIcons;
  }
  if (const auto* layer = script.FindFamily<CLayerTagState>()) {
    for (Kind kind : {Kind::kClick, Kind::kRollover, Kind::kRollout}) {
      CSavedState::EventTable& table = TableOf(saved, kind);
      const auto& lines = layer->m_handlerLines[static_cast<int>(kind)];
      for (const auto& [id, attributes] : layer->m_pointer.GetHandlers(kind)) {
        auto line = lines.find(id);
        table[id] = CScriptBlock(CScriptBlock::kTag, line == lines.end() ? 0 : line->second,
                                 kHandlerTags[static_cast<int>(kind)], attributes);
      }
    }
  }
  if (const auto* lua = script.FindFamily<CLuaTagState>()) saved.frameFunction = lua->m_frameFunction;
}

void CSaveTagState::ApplySaved(CMainScript& script, const CSavedState& saved, RestoreStep step) {
  if (step == RestoreStep::kMessages) {
    ApplyMessages(script, saved);
    return;
  }
  if (auto* message = script.FindFamily<CMessageTagState>()) {
    message->m_windowIdStack = saved.windowStack;
    message->m_glyphInfos = saved.glyphs;
    message->m_appearLists = saved.appearLists;
    message->m_vanishLists = saved.vanishLists;
  }
  if (auto* system = script.FindFamily<CSystemTagState>()) {
    system->m_autoSyncList = saved.autoSyncList;
    system->m_hideLayers = saved.hideLayers;
    system->m_backlogHideLayers = saved.backlogHideLayers;
    system->m_autoIcons = saved.autoIcons;
    system->m_backlogIcons = saved.backlogIcons;
  }
  if (auto* layer = script.FindFamily<CLayerTagState>()) {
    layer->m_pointer.Clear();
    for (auto& lines : layer->m_handlerLines) lines.clear();
    for (const auto& [id, record] : saved.clicks) layer->m_pointer.SetClick(id, record.m_attributes);
    for (const auto& [id, record] : saved.rollovers) layer->m_pointer.SetRollover(id, record.m_attributes);
    for (const auto& [id, record] : saved.rollouts) layer->m_pointer.SetRollout(id, record.m_attributes);
    for (Kind kind : {Kind::kClick, Kind::kRollover, Kind::kRollout})
      for (const auto& [id, record] : TableOf(saved, kind))
        layer->m_handlerLines[static_cast<int>(kind)][id] = record.m_line;
  }
  if (auto* lua = script.FindFamily<CLuaTagState>()) lua->m_frameFunction = saved.frameFunction;
}

void CSaveTagState::ApplyMessages(CMainScript& script, const CSavedState& saved) {
  auto* message = script.FindFamily<CMessageTagState>();
  if (!message) return;
  // Each window first gets the font its stack ended with as its page began.
  script.GetSaveData().GetFontStacks() = saved.fontStacks;
  script.GetSaveData().GetPageStartFonts() = saved.pageStartFonts;
  message->m_fontStacks = saved.fontStacks;
  for (const auto& [id, stack] : saved.fontStacks) {
    CLinkableTextRenderer* window = message->SelectWindow(script, id);
    if (!stack.empty()) {
      window->SetFont(stack.back());
    } else if (auto font = saved.pageStartFonts.find(id); font != saved.pageStartFonts.end()) {
      // A [fontinit] emptied the stack but kept the font the page stood on.
      window->SetFont(font->second);
    }
  }
  // Then each window's page is written again by its own records. The
  // current window shows unless its page hid it last.
  // An open ruby belongs to the page it stands on: each page starts without
  // one, and the current window's page comes last, so that its ruby is the
  // one left open.
  bool sceneIn = true;
  const CSaveData::ReplayMap pages = script.GetSaveData().GetMessageReplay();
  std::vector<const CSaveData::ReplayMap::value_type*> order;
  for (const auto& page : pages)
    if (page.first != saved.currentWindow) order.push_back(&page);
  if (auto current = pages.find(saved.currentWindow); current != pages.end()) order.push_back(&*current);
  for (const auto* page : order) {
    const std::string& id = page->first;
    const std::vector<CScriptBlock>& records = page->second;
    CLinkableTextRenderer* window = message->SelectWindow(script, id);
    message->m_currentWindowId = id;
    message->m_rubyOn = false;
    message->m_rubyBase.clear();
    message->m_rubyText.clear();
    window->Clear();
    for (const CScriptBlock& record : records) {
      if (id == saved.currentWindow && record.m_type == CScriptBlock::kTag) {
        if (record.m_text == "scein") sceneIn = true;
        if (record.m_text == "sceout") sceneIn = false;
      }
      script.Dispatch(record, true);
    }
    // The page is shown as it stood, not appearing again: the next click
    // wait's effects start after it.
    window->FinishEffects();
    (void)window->StartEffects(CTextRenderer::CTweenList(), false);
  }
  message->SelectWindow(script, saved.currentWindow);
  message->m_currentWindowId = saved.currentWindow;
  if (sceneIn) script.Dispatch(CScriptBlock(CScriptBlock::kTag, 0, "scein"), true);
}

// A `file` attribute names a save in the game folder: a relative name that
// never climbs out of it.
bool IsSafeSaveName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
  if (name.size() >= 2 && name[1] == ':') return false;  // a drive letter
  std::string component;
  auto climbs = [&] { return component == ".."; };
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20) return false;
    if (cp932::IsLeadByte(c) && i + 1 < name.size()) {
      component += name[i];
      component += name[++i];
      continue;
    }
    if (c == '/' || c == '\\') {
      if (climbs()) return false;
      component.clear();
      continue;
    }
    component += name[i];
  }
  return !climbs() && !component.empty();
}

// True (reported) when the tag's file cannot be a save.
bool RefuseName(CMainScript& script, const CScriptBlock& record, const std::string& file) {
  const char* message = nullptr;
  if (!IsSafeSaveName(file)) {
    message = "セーブファイル名には、ゲームフォルダの中を指す相対パスを指定してください。";
  } else if (CSaveData::IsReservedName(file)) {
    message = "この名前は共通データとシステムデータのファイル名です。";
  } else {
    return false;
  }
  script.ReportTag(record, record.m_text + " file=\"" + file + "\"", Utf8ToCp932(message));
  return true;
}

bool Save(State&, CMainScript& script, const CScriptBlock& record, bool) {
  const std::string file = record.GetAttribute("file");
  CSaveData& save = script.GetSaveData();
  // A refused name skips only the game state: the global and system data
  // are written as after any save.
  if (!RefuseName(script, record, file)) save.SaveState(file);
  save.SaveGlobal();
  if (script.GetVariables().TakeSystemChanged()) save.SaveSystem();
  return false;
}

bool Load(State&, CMainScript& script, const CScriptBlock& record, bool) {
  const std::string file = record.GetAttribute("file");
  const bool hasType = record.HasAttribute("type");
  CScriptBlock trans = record;
  bool loaded = false;
  if (!RefuseName(script, record, file)) loaded = !script.GetSaveData().LoadFile(file, CSaveData::kKindState);
  // The transition runs even when nothing loaded.
  if (hasType) {
    trans.m_text = "trans";
    trans.m_attributes.erase("file");
    return script.Dispatch(std::move(trans), true);
  }
  // Without a transition the rebuilt scene is shown at once, as flip would,
  // and the script runs on in this frame: but the press that led here does
  // not also end the click wait the load restored.
  if (loaded) {
    if (script.GetGraphics()) script.GetGraphics()->Commit();
    script.TakeWaitPresses();
  }
  return false;
}

bool Reset(State&, CMainScript& script, const CScriptBlock& record, bool) {
  script.FlushGlobalAndSystem();
  if (script.Boot()) script.ReportTag(record, Utf8ToCp932("起動スクリプトを読み込めません。"));
  script.Dispatch(CScriptBlock(CScriptBlock::kTag, record.m_line, "trans", {{"type", "1"}, {"time", "1000"}}), true);
  return true;
}

}  // namespace

void AddSaveTags(CTagRegistry& registry) {
  const TagReplay kNone = TagReplay::kNone;
  const std::vector<std::string> file = {"file"};
  tagutil::AddFamilyOrDie(registry, "save", &CreateFamilyState<State>,
                          {
                              TagRow<&Save>("save", file, kNone, "saves the game state to a file"),
                              TagRow<&Load>("load", file, kNone, "loads a game state, optionally with a transition"),
                              TagRow<&Reset>("reset", {}, kNone, "restarts the game from the boot script"),
                          });
}
