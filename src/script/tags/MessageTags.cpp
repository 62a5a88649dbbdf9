// Message tags and text records: text reaches the current message window,
// fonts nest per window, ruby collects its base text until /ruby.
#include "script/tags/MessageTags.h"

#include <cstdlib>

#include "platform/InputState.h"
#include "platform/TextCodec.h"
#include "scene/Easing.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "script/MainScript.h"
#include "script/tags/TagUtil.h"

namespace {

CTextRenderer::CTweenInfo MakeEntry(int32_t param, int32_t ease, int32_t diff, int32_t msec, int32_t delay,
                                    bool vanish) {
  CTextRenderer::CTweenInfo info;
  info.param = param;
  info.ease = ease;
  info.diff = diff;
  info.msec = msec;
  info.delay = delay;
  info.vanish = vanish;
  return info;
}

}  // namespace

CMessageTagState::CMessageTagState() : m_backlog(std::make_unique<CBackLog>()) {
  m_defaultAppear = {MakeEntry(1, kEaseOutSine, -16, 400, 20, false), MakeEntry(2, kEaseNone, -255, 400, 20, false)};
  m_defaultVanish = {MakeEntry(2, kEaseOutQuart, -255, 1000, 0, true), MakeEntry(1, kEaseInSine, 16, 400, 0, true)};
}

const CMessageTagState::CTweenList& CMessageTagState::AppearList() const {
  static const CTweenList none;
  auto it = m_appearLists.find(m_currentWindowId);
  return it == m_appearLists.end() ? none : it->second;
}

const CMessageTagState::CTweenList& CMessageTagState::VanishList() const {
  static const CTweenList none;
  auto it = m_vanishLists.find(m_currentWindowId);
  return it == m_vanishLists.end() ? none : it->second;
}

bool CMessageTagState::TextEffectsRunning(CMainScript& script) {
  CLinkableTextRenderer* window = FindWindow(script, m_currentWindowId);
  return window && !window->EffectsFinished();
}

void CMessageTagState::BeginWait(CMainScript& script, bool evenWhenSkipping) {
  CLinkableTextRenderer* window = CurrentWindow(script);
  window->FinishEffects();
  if (evenWhenSkipping || !script.IsSkipping()) window->StartEffects(AppearList(), true);
}

void BeginMessageWait(CMainScript& script, bool evenWhenSkipping) {
  if (CMessageTagState* state = script.FindFamily<CMessageTagState>()) state->BeginWait(script, evenWhenSkipping);
}

namespace {

IVirtualLayer* FindGlyphLayer(CMainScript& script, const std::string& id) {
  CGraphicSystem* graphics = script.GetGraphics();
  if (!graphics || id.empty()) return nullptr;
  if (IVirtualLayer* layer = graphics->GetFrontSet().Find(id)) return layer;
  return graphics->GetBackSet().Find(id);
}

}  // namespace

void CMessageTagState::HideGlyphLayers(CMainScript& script) {
  // Both sets: a scene rebuilt in the back set (a load) brings its glyph
  // layers back as they were made, shown.
  CGraphicSystem* graphics = script.GetGraphics();
  for (const auto& [id, info] : m_glyphInfos)
    for (const std::string* layerId : {&info.m_lineLayer, &info.m_pageLayer}) {
      if (!graphics || layerId->empty()) continue;
      for (CLayerSet* set : {&graphics->GetFrontSet(), &graphics->GetBackSet()})
        if (IVirtualLayer* layer = set->Find(*layerId)) layer->SetVisible(false);
    }
  m_glyphShown = false;
}

void CMessageTagState::ShowGlyphLayer(CMainScript& script) {
  if (m_glyphShown) return;
  HideGlyphLayers(script);
  auto it = m_glyphInfos.find(m_currentWindowId);
  if (it != m_glyphInfos.end()) {
    const CMainScript::CGlyphInfo& info = it->second;
    // The glyph of a page break before the next record, else of a line.
    const CMainScript::RecordList* records = script.FindScript(script.GetCursor().m_file);
    const int32_t next = script.GetCursor().m_index;
    // Only the record's text is compared, whatever its kind: a text or a
    // label reading "rp" ends a page as far as the glyph can tell.
    const bool page = records && next >= 0 && size_t(next) < records->size() && (*records)[size_t(next)].m_text == "rp";
    const bool present = page ? info.m_hasPageGlyph : info.m_hasLineGlyph;
    const std::string& layerId = page ? info.m_pageLayer : info.m_lineLayer;
    const int32_t dx = page ? info.m_pageX : info.m_lineX, dy = page ? info.m_pageY : info.m_lineY;
    IVirtualLayer* layer = present ? FindGlyphLayer(script, layerId) : nullptr;
    if (layer) {
      CLinkableTextRenderer* window = FindWindow(script, m_currentWindowId);
      CRect caret;
      if (info.m_homing && window && window->GetCharCount() > 0 &&
          window->GetCaretRect(window->GetCharCount() - 1, caret)) {
        // Beside the last character, or below it in vertical writing.
        if (window->GetFont().vertical) {
          layer->SetX(caret.GetX() + dx);
          layer->SetY(caret.GetY() + caret.GetHeight() + dy);
        } else {
          layer->SetX(caret.GetX() + caret.GetWidth() + dx);
          layer->SetY(caret.GetY() + dy);
        }
      }
      layer->SetVisible(true);
    }
  }
  m_glyphShown = true;
}

CLinkableTextRenderer* CMessageTagState::FindWindow(CMainScript& script, const std::string& id) const {
  if (CGraphicSystem* graphics = script.GetGraphics())
    return dynamic_cast<CLinkableTextRenderer*>(graphics->FindMessageWindow(id));
  auto it = m_ownWindows.find(id);
  return it == m_ownWindows.end() ? nullptr : it->second.get();
}

CLinkableTextRenderer* CMessageTagState::SelectWindow(CMainScript& script, const std::string& id) {
  if (CLinkableTextRenderer* window = FindWindow(script, id)) return window;
  CGraphicSystem* graphics = script.GetGraphics();
  std::unique_ptr<CLinkableTextRenderer> window;
  if (graphics)
    window = std::make_unique<CLinkableTextRenderer>(graphics->GetLayerFactory(), graphics->GetSurfaceFactory());
  else
    window = std::make_unique<CLinkableTextRenderer>(nullptr, nullptr);
  window->SetInput(script.GetInput());
  // Links stay still while the message is hidden, the backlog is shown or a
  // movie plays: a jump from there would leave the hidden layers, the
  // backlog or the movie up (a click on a movie is there to stop it).
  std::weak_ptr<CMainScript*> token = Token(script);
  window->SetLinkGate([token]() {
    auto live = token.lock();
    if (!live) return false;
    const int state = (*live)->GetState();
    return state != CMainScript::kHidden && state != CMainScript::kBacklog && state != CMainScript::kVideoWait;
  });
  CLinkableTextRenderer* raw = window.get();
  if (graphics)
    graphics->SetMessageWindow(id, std::move(window));
  else
    m_ownWindows[id] = std::move(window);
  return raw;
}

void CMessageTagState::OnEvent(CMainScript& script, ScriptEvent event) {
  switch (event) {
    case ScriptEvent::kBoot: {
      // The backlog's window is about to go.
      m_backlog->Close();
      m_backlog->ForgetWindowFont();
      std::unique_ptr<CBackLog> backlog = std::move(m_backlog);
      std::map<std::string, std::unique_ptr<CLinkableTextRenderer>> own;
      own.swap(m_ownWindows);
      // A restart keeps the window id stack, the font stacks and the effect
      // lists of every window id; the rest starts over.
      std::vector<std::string> windowIdStack = std::move(m_windowIdStack);
      std::map<std::string, std::vector<CFontProperty>> fontStacks = std::move(m_fontStacks);
      std::map<std::string, CTweenList> appearLists = std::move(m_appearLists);
      std::map<std::string, CTweenList> vanishLists = std::move(m_vanishLists);
      *this = CMessageTagState();
      m_backlog = std::move(backlog);
      m_windowIdStack = std::move(windowIdStack);
      m_fontStacks = std::move(fontStacks);
      m_appearLists = std::move(appearLists);
      m_vanishLists = std::move(vanishLists);
      // Every window goes; the backlog's window and the main window (empty
      // name, current) are made again at once.
      if (CGraphicSystem* graphics = script.GetGraphics()) graphics->ClearMessageWindows();
      SelectWindow(script, "backlog");
      SelectWindow(script, "");
      break;
    }
    case ScriptEvent::kHideGlyphs: HideGlyphLayers(script); break;
    case ScriptEvent::kShowGlyph: ShowGlyphLayer(script); break;
    default: OnHidePathEvent(script, event); break;
  }
}

namespace {

using State = CMessageTagState;

void ReportPair(CMainScript& script, const CScriptBlock& record, const char* utf8) {
  script.ReportTag(record, Utf8ToCp932(utf8));
}

bool Text(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  if (state.m_rubyOn)
    state.m_rubyBase += record.m_text;
  else
    state.CurrentWindow(script)->AddText(record.m_text);
  if (!replay) script.RecordForReplay(state.m_currentWindowId, record);
  return false;
}

bool ClickWait(State& state, CMainScript& script, const CScriptBlock&, bool) {
  state.BeginWait(script);
  script.SetState(CMainScript::kClickWait);
  return true;
}

bool PageBreak(State& state, CMainScript& script, const CScriptBlock&, bool replay) {
  CLinkableTextRenderer* window = state.CurrentWindow(script);
  if (script.IsSkipping())
    window->Clear();
  else
    window->ClearWithEffects(state.VanishList());
  if (!replay) state.EndPage(script);
  return false;
}

bool SceneIn(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  CLinkableTextRenderer* window = state.CurrentWindow(script);
  window->FinishEffects();
  window->StartEffects(state.AppearList(), false);
  if (!replay) script.RecordForReplay(state.m_currentWindowId, record);
  return false;
}

bool SceneOut(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  CLinkableTextRenderer* window = state.CurrentWindow(script);
  window->FinishEffects();
  window->StartEffects(state.VanishList(), false);
  if (!replay) script.RecordForReplay(state.m_currentWindowId, record);
  return false;
}

bool Link(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  const std::string file = record.GetAttribute("file"), label = record.GetAttribute("label");
  const bool call = record.HasAttribute("call") && record.GetAttribute("call") != "0";
  CScriptBlock shown(CScriptBlock::kTag, record.m_line, record.m_text);
  std::weak_ptr<CMainScript*> token = state.Token(script);
  state.CurrentWindow(script)->OpenLink([token, file, label, call, shown]() {
    auto live = token.lock();
    if (!live) return;
    CMainScript& target = **live;
    const bool tooDeep = call && target.IsCallStackFull();
    if (!(call ? target.Call(file, label) : target.Jump(file, label))) {
      // A called subroutine returns to the wait the click came from: the
      // click is the link's and does not also end that wait.
      if (call) target.TakeLeftPressBeforeFrame();
      return;
    }
    static const std::string message = Utf8ToCp932("指定された場所は見つかりません。");
    target.ReportTag(shown, shown.m_text + " file=\"" + file + "\" label=\"" + label + "\"",
                     CMainScript::CallFailureText(tooDeep, message));
  });
  if (!replay) script.RecordForReplay(state.m_currentWindowId, record);
  return false;
}

bool EndLink(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  state.CurrentWindow(script)->CloseLink();
  if (!replay) script.RecordForReplay(state.m_currentWindowId, record);
  return false;
}

bool LinkEnable(State& state, CMainScript& script, const CScriptBlock&, bool) {
  state.CurrentWindow(script)->EnableLinks();
  return false;
}

bool LinkDisable(State& state, CMainScript& script, const CScriptBlock&, bool) {
  state.CurrentWindow(script)->DisableLinks();
  return false;
}

bool ChangeWindow(State& state, CMainScript& script, const CScriptBlock& record, bool) {
  state.m_windowIdStack.push_back(state.m_currentWindowId);
  const std::string id = record.HasAttribute("id") ? record.GetAttribute("id") : std::to_string(script.NextRandom());
  state.m_currentWindowId = id;
  state.SelectWindow(script, id);
  if (!state.m_appearLists.count(id)) state.m_appearLists[id] = state.m_defaultAppear;
  if (!state.m_vanishLists.count(id)) state.m_vanishLists[id] = state.m_defaultVanish;
  script.HideGlyphs();
  return false;
}

bool EndChangeWindow(State& state, CMainScript& script, const CScriptBlock& record, bool) {
  if (state.m_windowIdStack.empty()) {
    ReportPair(script, record, "対になるchgmsgタグが見つかりません。");
    return false;
  }
  state.m_currentWindowId = state.m_windowIdStack.back();
  state.m_windowIdStack.pop_back();
  state.SelectWindow(script, state.m_currentWindowId);
  script.HideGlyphs();
  return false;
}

bool Glyph(State& state, CMainScript& script, const CScriptBlock& record, bool) {
  script.HideGlyphs();
  CMainScript::CGlyphInfo& info = state.m_glyphInfos[state.m_currentWindowId];
  info.m_hasLineGlyph = record.HasAttribute("layer");
  if (info.m_hasLineGlyph) info.m_lineLayer = record.GetAttribute("layer");
  if (record.HasAttribute("left")) info.m_lineX = tagutil::Atoi(record.GetAttribute("left"));
  if (record.HasAttribute("top")) info.m_lineY = tagutil::Atoi(record.GetAttribute("top"));
  if (!record.HasAttribute("rplayer")) {
    info.m_hasPageGlyph = info.m_hasLineGlyph;
    info.m_pageLayer = info.m_lineLayer;
    info.m_pageX = info.m_lineX;
    info.m_pageY = info.m_lineY;
  } else {
    info.m_hasPageGlyph = true;
    info.m_pageLayer = record.GetAttribute("rplayer");
    if (record.HasAttribute("rpleft")) info.m_pageX = tagutil::Atoi(record.GetAttribute("rpleft"));
    if (record.HasAttribute("rptop")) info.m_pageY = tagutil::Atoi(record.GetAttribute("rptop"));
  }
  if (record.HasAttribute("homing")) info.m_homing = record.GetAttribute("homing") != "0";
  script.HideGlyphs();
  return false;
}

}  // namespace

bool ParseEffectParam(const std::string& name, int32_t& param) {
  static const char* const kNames[] = {"left",        "top",          "alpha",        "xscale",
                                       "yscale",      "rotate",       "entireleft",   "entiretop",
                                       "entirealpha", "entirexscale", "entireyscale", "entirerotate"};
  for (int32_t i = 0; i < 12; ++i)
    if (name == kNames[i]) {
      param = i;
      return true;
    }
  return false;
}

bool IsEffectListType(const std::string& type) {
  return type == "in" || type == "out" || type == "backlog_down_in" || type == "backlog_down_out" ||
         type == "backlog_up_in" || type == "backlog_up_out";
}

CTextRenderer::CTweenInfo MakeEffectEntry(const CScriptBlock& record) {
  CTextRenderer::CTweenInfo info;
  const std::string& type = record.GetAttribute("type");
  info.vanish = !(type == "in" || type == "backlog_down_in" || type == "backlog_up_in");
  if (record.HasAttribute("param")) (void)ParseEffectParam(record.GetAttribute("param"), info.param);
  if (record.HasAttribute("ease")) {
    int kind = info.ease;
    if (EaseKindFromName(record.GetAttribute("ease"), kind)) info.ease = kind;
  }
  info.diff = tagutil::Atoi(record.GetAttribute("diff"));
  info.msec = tagutil::Atoi(record.GetAttribute("msec"));
  info.delay = tagutil::Atoi(record.GetAttribute("delay"));
  // Scales are given in percent and kept in 16.16 fixed point.
  if (info.param == 3 || info.param == 4 || info.param == 9 || info.param == 10)
    info.diff = int32_t(int64_t(info.diff) * 65536 / 100);
  return info;
}

namespace {

bool SceneTween(State& state, CMainScript&, const CScriptBlock& record, bool) {
  const std::string& mode = record.GetAttribute("mode");
  const std::string& type = record.GetAttribute("type");
  if ((mode != "init" && mode != "add") || !IsEffectListType(type)) return false;
  CTextRenderer::CTweenList* list = nullptr;
  if (type == "in")
    list = &state.m_appearLists[state.m_currentWindowId];
  else if (type == "out")
    list = &state.m_vanishLists[state.m_currentWindowId];
  else if (type == "backlog_down_in")
    list = &state.GetBacklog().GetList(CBackLog::List::kOlderAppear);
  else if (type == "backlog_down_out")
    list = &state.GetBacklog().GetList(CBackLog::List::kOlderVanish);
  else if (type == "backlog_up_in")
    list = &state.GetBacklog().GetList(CBackLog::List::kNewerAppear);
  else if (type == "backlog_up_out")
    list = &state.GetBacklog().GetList(CBackLog::List::kNewerVanish);
  if (!list) return false;
  if (mode == "init")
    list->clear();
  else
    list->push_back(MakeEffectEntry(record));
  return false;
}

bool NewLine(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  state.CurrentWindow(script)->NewLine();
  if (!replay) script.RecordForReplay(state.m_currentWindowId, record);
  return false;
}

bool Font(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  CLinkableTextRenderer* window = state.CurrentWindow(script);
  if ((record.HasAttribute("width") || record.HasAttribute("height")) &&
      (window->HasText() || window->HasPendingLine()))
    window->Clear();
  CFontValues font = window->GetFont();
  ApplyFontAttributes(record, font);
  if (record.HasAttribute("align") && window->HasPendingLine()) window->NewLine();
  window->SetFont(font);
  state.m_fontStacks[state.m_currentWindowId].emplace_back(font);
  if (!replay) script.RecordForReplay(state.m_currentWindowId, record);
  return false;
}

bool EndFont(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  std::vector<CFontProperty>& stack = state.m_fontStacks[state.m_currentWindowId];
  if (stack.size() <= 1) {
    ReportPair(script, record, "対になるfontタグが見つかりません。");
    return false;
  }
  stack.pop_back();
  state.CurrentWindow(script)->SetFont(stack.back());
  if (!replay) script.RecordForReplay(state.m_currentWindowId, record);
  return false;
}

bool FontInit(State& state, CMainScript&, const CScriptBlock&, bool) {
  state.m_fontStacks[state.m_currentWindowId].clear();
  return false;
}

bool Ruby(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  if (!state.m_rubyOn) {
    state.m_rubyOn = true;
    state.m_rubyBase.clear();
    state.m_rubyText = record.GetAttribute("text");
  } else {
    ReportPair(script, record, "rubyタグは二重にできません。");
  }
  if (!replay) script.RecordForReplay(state.m_currentWindowId, record);
  return false;
}

bool EndRuby(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  if (!state.m_rubyOn) {
    ReportPair(script, record, "対になるrubyタグが見つかりません。");
    return false;
  }
  state.m_rubyOn = false;
  state.CurrentWindow(script)->AddChar(state.m_rubyBase, state.m_rubyText);
  if (!replay) script.RecordForReplay(state.m_currentWindowId, record);
  return false;
}

}  // namespace

void AddMessageTags(CTagRegistry& registry) {
  const TagReplay kMessage = TagReplay::kMessage;
  const TagReplay kNone = TagReplay::kNone;
  tagutil::AddFamilyOrDie(
      registry, "message", &CreateFamilyState<State>,
      {
          TagRow<&ClickWait>("@", {}, kNone, "waits for a click, showing the current window's click-wait glyph"),
          TagRow<&NewLine>("rt", {}, kMessage, "starts a new line in the current message window"),
          TagRow<&PageBreak>("rp", {}, kNone, "starts a new page; the old one vanishes with the window's effects"),
          TagRow<&SceneIn>("scein", {}, kMessage, "shows the current window with its appear effects"),
          TagRow<&SceneOut>("sceout", {}, kMessage, "hides the current window with its vanish effects"),
          TagRow<&FontInit>("fontinit", {}, kNone, "empties the current window's font stack"),
          TagRow<&Font>("font", {}, kMessage, "pushes a font (face, size, colours, outline, spacing)"),
          TagRow<&EndFont>("/font", {}, kMessage, "returns to the font before the last font tag"),
          TagRow<&SceneTween>("scetween", {"mode", "type"}, kNone, "edits the text effect lists of the window"),
          TagRow<&Ruby>("ruby", {"text"}, kMessage, "starts ruby text over the following characters"),
          TagRow<&EndRuby>("/ruby", {}, kMessage, "ends the ruby base"),
          TagRow<&Link>("link", {}, kMessage, "starts a clickable link that jumps or calls"),
          TagRow<&EndLink>("/link", {}, kMessage, "ends the link"),
          TagRow<&LinkEnable>("linkreset", {}, kNone, "enables the window's links again"),
          TagRow<&LinkEnable>("linkenable", {}, kNone, "enables the window's links again"),
          TagRow<&LinkDisable>("linkdisable", {}, kNone, "disables the window's links"),
          TagRow<&ChangeWindow>("chgmsg", {}, kNone, "makes another message window current"),
          TagRow<&EndChangeWindow>("/chgmsg", {}, kNone, "returns to the window before chgmsg"),
          TagRow<&Glyph>("glyph", {}, kNone, "sets the click-wait glyphs of the current window"),
      });
  registry.SetTextHandler<&Text>("message");
}
