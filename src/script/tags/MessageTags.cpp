// Message tags and text records. The click wait is here now; the text tags
// join it with the message windows.
#include "script/tags/MessageTags.h"

#include "script/MainScript.h"
#include "script/tags/TagUtil.h"

void CMessageTagState::OnEvent(CMainScript&, ScriptEvent event) {
  switch (event) {
    case ScriptEvent::kBoot: *this = CMessageTagState(); break;
    // The glyph layers named in m_glyphInfos are hidden and shown here once
    // layers and message windows exist.
    case ScriptEvent::kHideGlyphs: m_glyphShown = false; break;
    case ScriptEvent::kShowGlyph: m_glyphShown = true; break;
    default: break;
  }
}

namespace {

using State = CMessageTagState;

bool Text(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  if (state.m_rubyOn) {
    state.m_rubyBase += record.m_text;
  } else {
    // The current message window takes the text once windows exist.
  }
  if (!replay) script.RecordForReplay(state.m_currentWindowId, record);
  return false;
}

bool ClickWait(State&, CMainScript& script, const CScriptBlock&, bool) {
  // The current window finishes its running effects and, unless skipping,
  // applies its appear list to the new text here once message windows exist.
  script.SetState(CMainScript::kClickWait);
  return true;
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
          TagRow<&NotYet<State>>("rt", {}, kMessage, "starts a new line in the current message window"),
          TagRow<&NotYet<State>>("rp", {}, kNone, "waits for a click, then starts a new page"),
          TagRow<&NotYet<State>>("scein", {}, kMessage, "shows the current window with its appear effects"),
          TagRow<&NotYet<State>>("sceout", {}, kMessage, "hides the current window with its vanish effects"),
          TagRow<&NotYet<State>>("fontinit", {}, kNone, "empties the current window's font stack"),
          TagRow<&NotYet<State>>("font", {}, kMessage, "pushes a font (face, size, colours, outline, spacing)"),
          TagRow<&NotYet<State>>("/font", {}, kMessage, "returns to the font before the last font tag"),
          TagRow<&NotYet<State>>("scetween", {"mode", "type"}, kNone, "edits the text effect lists of the window"),
          TagRow<&NotYet<State>>("ruby", {"text"}, kMessage, "starts ruby text over the following characters"),
          TagRow<&NotYet<State>>("/ruby", {}, kMessage, "ends the ruby base"),
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
