// Message tags and text records: text reaches the current message window,
// fonts nest per window, ruby collects its base text until /ruby.
#include "script/tags/MessageTags.h"

#include <cstdlib>

#include "platform/TextCodec.h"
#include "scene/GraphicSystem.h"
#include "script/MainScript.h"
#include "script/tags/TagUtil.h"

CLinkableTextRenderer* CMessageTagState::FindWindow(CMainScript& script, const std::string& id) const {
  if (CGraphicSystem* graphics = script.GetGraphics())
    return dynamic_cast<CLinkableTextRenderer*>(graphics->FindMessageWindow(id));
  auto it = m_ownWindows.find(id);
  return it == m_ownWindows.end() ? nullptr : it->second.get();
}

CLinkableTextRenderer* CMessageTagState::SelectWindow(CMainScript& script, const std::string& id) {
  if (CLinkableTextRenderer* window = FindWindow(script, id)) return window;
  CGraphicSystem* graphics = script.GetGraphics();
  if (!graphics) {
    auto& slot = m_ownWindows[id];
    slot = std::make_unique<CLinkableTextRenderer>(nullptr, nullptr);
    return slot.get();
  }
  auto window = std::make_unique<CLinkableTextRenderer>(graphics->GetLayerFactory(), graphics->GetSurfaceFactory());
  CLinkableTextRenderer* raw = window.get();
  graphics->SetMessageWindow(id, std::move(window));
  return raw;
}

void CMessageTagState::OnEvent(CMainScript& script, ScriptEvent event) {
  switch (event) {
    case ScriptEvent::kBoot: {
      // The backlog's window is about to go.
      m_backlog->Close();
      std::unique_ptr<CBackLog> backlog = std::move(m_backlog);
      std::map<std::string, std::unique_ptr<CLinkableTextRenderer>> own;
      own.swap(m_ownWindows);
      *this = CMessageTagState();
      m_backlog = std::move(backlog);
      // Every window goes; the backlog's window and the main window (empty
      // name, current) are made again at once.
      if (CGraphicSystem* graphics = script.GetGraphics()) graphics->ClearMessageWindows();
      SelectWindow(script, "backlog");
      SelectWindow(script, "");
      break;
    }
    // The glyph layers named in m_glyphInfos are hidden and shown here once
    // the layer side of the click wait arrives.
    case ScriptEvent::kHideGlyphs: m_glyphShown = false; break;
    case ScriptEvent::kShowGlyph: m_glyphShown = true; break;
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

bool PageBreak(State& state, CMainScript& script, const CScriptBlock&, bool replay) {
  CLinkableTextRenderer* window = state.CurrentWindow(script);
  if (script.IsSkipping())
    window->Clear();
  else
    window->ClearWithEffects(state.CurrentVanishList());
  if (!replay) state.EndPage(script);
  return false;
}

bool ClickWait(State&, CMainScript& script, const CScriptBlock&, bool) {
  // The current window finishes its running effects and, unless skipping,
  // applies its appear list to the new text here once effects exist.
  script.SetState(CMainScript::kClickWait);
  return true;
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
  using tagutil::NotYet;
  const TagReplay kMessage = TagReplay::kMessage;
  const TagReplay kNone = TagReplay::kNone;
  tagutil::AddFamilyOrDie(
      registry, "message", &CreateFamilyState<State>,
      {
          TagRow<&ClickWait>("@", {}, kNone, "waits for a click, showing the current window's click-wait glyph"),
          TagRow<&NewLine>("rt", {}, kMessage, "starts a new line in the current message window"),
          TagRow<&PageBreak>("rp", {}, kNone, "starts a new page; the main window's page goes to the backlog"),
          TagRow<&NotYet<State>>("scein", {}, kMessage, "shows the current window with its appear effects"),
          TagRow<&NotYet<State>>("sceout", {}, kMessage, "hides the current window with its vanish effects"),
          TagRow<&FontInit>("fontinit", {}, kNone, "empties the current window's font stack"),
          TagRow<&Font>("font", {}, kMessage, "pushes a font (face, size, colours, outline, spacing)"),
          TagRow<&EndFont>("/font", {}, kMessage, "returns to the font before the last font tag"),
          TagRow<&NotYet<State>>("scetween", {"mode", "type"}, kNone, "edits the text effect lists of the window"),
          TagRow<&Ruby>("ruby", {"text"}, kMessage, "starts ruby text over the following characters"),
          TagRow<&EndRuby>("/ruby", {}, kMessage, "ends the ruby base"),
          TagRow<&NotYet<State>>("link", {}, kMessage, "starts a clickable link that jumps or calls"),
          TagRow<&NotYet<State>>("/link", {}, kMessage, "ends the link"),
          TagRow<&NotYet<State>>("linkreset", {}, kNone, "enables the window's links again"),
          TagRow<&NotYet<State>>("linkenable", {}, kNone, "enables the window's links again"),
          TagRow<&NotYet<State>>("linkdisable", {}, kNone, "disables the window's links"),
          TagRow<&NotYet<State>>("chgmsg", {}, kNone, "makes another message window current"),
          TagRow<&NotYet<State>>("/chgmsg", {}, kNone, "returns to the window before chgmsg"),
          TagRow<&NotYet<State>>("glyph", {}, kNone, "sets the click-wait glyphs of the current window"),
      });
  registry.SetTextHandler<&Text>("message");
}
