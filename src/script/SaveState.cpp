// Game-state saves on the interpreter's side: its fields in the state
// stream, the checks a loaded state must pass, and the restart that rebuilds
// the scene by replaying the saved tag records.
#include <memory>
#include <utility>

#include "debug/DebugAids.h"
#include "platform/Log.h"
#include "platform/Platform.h"
#include "save/SaveData.h"
#include "scene/GraphicSystem.h"
#include "script/MainScript.h"
#include "script/SavedState.h"
#include "vars/QelVariables.h"

namespace {

// Field tags of the interpreter's share; see the compatibility rule in
// save/SaveData.h before adding one.
enum : uint32_t {
  kTagAutoAllowed = 1,
  kTagSkipAllowed = 2,
  kTagCursor = 3,
  kTagCallStack = 4,
  kTagAutosaveMode = 5,
  kTagRightClickEnabled = 6,
  kTagRightClickMenu = 7,
  kTagRightClickDepth = 8,
  kTagErrorMode = 9,
  kTagWaitDeadline = 10,
  kTagCurrentWindow = 11,
  kTagWindowStack = 12,
  kTagAppearLists = 13,
  kTagVanishLists = 14,
  kTagHideAllowed = 15,
  kTagHideLayers = 16,
  kTagBacklogAllowed = 17,
  kTagGlyphs = 18,
  kTagAutoIcons = 19,
  kTagBacklogIcons = 20,
  kTagClicks = 21,
  kTagRollovers = 22,
  kTagRollouts = 23,
  kTagFontStacks = 25,
  kTagFrameFunction = 34,
  kTagAutoSyncList = 35,
  kTagMacroFiles = 36,
  kTagBacklogHideLayers = 37,
  kTagTimeLeft = 38,
  kTagPageStartFonts = 39,
};

template <class T>
bool ReadPresent(CSerializer& stream, uint32_t tag, T& value, std::string& why) {
  if (!stream.HasTag(tag)) return false;
  if (!stream.Read(tag, value)) return false;
  why = "field " + std::to_string(tag) + " is damaged";
  return true;
}

// Halted belongs to the loader alone: a file cannot put the game there, as
// nothing would ever leave it.
bool IsState(int32_t state) {
  return state >= CMainScript::kRunning && state <= CMainScript::kEnded && state != CMainScript::kHalted;
}

}  // namespace

// ---- The stream --------------------------------------------------------------

void CSavedState::Write(CSerializer& stream, Part part) const {
  switch (part) {
    case Part::kHead:
      stream.Write(kTagMacroFiles, macroFiles);
      stream.Write(kTagAutoAllowed, autoAllowed);
      stream.Write(kTagSkipAllowed, skipAllowed);
      stream.Write(kTagCursor, cursor);
      stream.Write(kTagCallStack, callStack);
      stream.Write(kTagAutosaveMode, autosaveMode);
      stream.Write(kTagRightClickEnabled, rightClickEnabled);
      stream.Write(kTagRightClickMenu, rightClickMenu);
      stream.Write(kTagRightClickDepth, rightClickDepth);
      stream.Write(kTagErrorMode, errorMode);
      stream.Write(kTagWaitDeadline, waitDeadline);
      stream.Write(kTagAutoSyncList, autoSyncList);
      stream.Write(kTagCurrentWindow, currentWindow);
      stream.Write(kTagWindowStack, windowStack);
      // Effect entries go through the save data's serializer extension.
      stream.Write(kTagAppearLists, appearLists);
      stream.Write(kTagVanishLists, vanishLists);
      stream.Write(kTagHideAllowed, hideAllowed);
      stream.Write(kTagHideLayers, hideLayers);
      stream.Write(kTagBacklogAllowed, backlogAllowed);
      stream.Write(kTagBacklogHideLayers, backlogHideLayers);
      stream.Write(kTagGlyphs, glyphs);
      stream.Write(kTagAutoIcons, autoIcons);
      stream.Write(kTagBacklogIcons, backlogIcons);
      stream.Write(kTagClicks, clicks);
      stream.Write(kTagRollovers, rollovers);
      stream.Write(kTagRollouts, rollouts);
      break;
    case Part::kFonts: stream.Write(kTagFontStacks, fontStacks); break;
    case Part::kTail:
      stream.Write(kTagFrameFunction, frameFunction);
      // Fields of later builds come last, each under a tag of its own.
      stream.Write(kTagPageStartFonts, pageStartFonts);
      if (hasTimeLeft) stream.Write(kTagTimeLeft, timeLeft);
      break;
  }
}

bool CSavedState::Read(CSerializer& stream, std::string& why) {
  if (ReadPresent(stream, kTagMacroFiles, macroFiles, why) || ReadPresent(stream, kTagAutoAllowed, autoAllowed, why) ||
      ReadPresent(stream, kTagSkipAllowed, skipAllowed, why) || ReadPresent(stream, kTagCursor, cursor, why) ||
      ReadPresent(stream, kTagCallStack, callStack, why) || ReadPresent(stream, kTagAutosaveMode, autosaveMode, why) ||
      ReadPresent(stream, kTagRightClickEnabled, rightClickEnabled, why) ||
      ReadPresent(stream, kTagRightClickMenu, rightClickMenu, why) ||
      ReadPresent(stream, kTagRightClickDepth, rightClickDepth, why) ||
      ReadPresent(stream, kTagErrorMode, errorMode, why) || ReadPresent(stream, kTagWaitDeadline, waitDeadline, why) ||
      ReadPresent(stream, kTagAutoSyncList, autoSyncList, why) ||
      ReadPresent(stream, kTagCurrentWindow, currentWindow, why) ||
      ReadPresent(stream, kTagWindowStack, windowStack, why) ||
      ReadPresent(stream, kTagAppearLists, appearLists, why) ||
      ReadPresent(stream, kTagVanishLists, vanishLists, why) ||
      ReadPresent(stream, kTagHideAllowed, hideAllowed, why) || ReadPresent(stream, kTagHideLayers, hideLayers, why) ||
      ReadPresent(stream, kTagBacklogAllowed, backlogAllowed, why) ||
      ReadPresent(stream, kTagBacklogHideLayers, backlogHideLayers, why) ||
      ReadPresent(stream, kTagGlyphs, glyphs, why) || ReadPresent(stream, kTagAutoIcons, autoIcons, why) ||
      ReadPresent(stream, kTagBacklogIcons, backlogIcons, why) || ReadPresent(stream, kTagClicks, clicks, why) ||
      ReadPresent(stream, kTagRollovers, rollovers, why) || ReadPresent(stream, kTagRollouts, rollouts, why) ||
      ReadPresent(stream, kTagFontStacks, fontStacks, why) ||
      ReadPresent(stream, kTagPageStartFonts, pageStartFonts, why) ||
      ReadPresent(stream, kTagFrameFunction, frameFunction, why))
    return true;
  hasTimeLeft = stream.HasTag(kTagTimeLeft);
  if (ReadPresent(stream, kTagTimeLeft, timeLeft, why)) return true;

  if (autosaveMode < 0 || autosaveMode > 2) {
    why = "autosave mode " + std::to_string(autosaveMode) + " is out of range";
    return true;
  }
  if (callStack.size() > CMainScript::kMaxCallDepth) {
    why = "the call stack is deeper than " + std::to_string(CMainScript::kMaxCallDepth);
    return true;
  }
  if (rightClickDepth < 0 || static_cast<size_t>(rightClickDepth) > callStack.size()) {
    why = "the right-click call depth does not match the call stack";
    return true;
  }
  if (CheckCaret(cursor, "the cursor", why)) return true;
  for (CMainScript::CCaret& caret : callStack)
    if (CheckCaret(caret, "a caller on the call stack", why)) return true;
  return false;
}

bool CSavedState::CheckCaret(CMainScript::CCaret& caret, const char* what, std::string& why) {
  if (!IsState(caret.m_state) || !IsState(caret.m_previousState)) {
    why = std::string(what) + " has the state " + std::to_string(caret.m_state) + "/" +
          std::to_string(caret.m_previousState) + ", not one of 0 to 7 or 9";
    return true;
  }
  std::string name = caret.m_file;
  const CMainScript::RecordList* records = name.empty() ? nullptr : m_lookup(name);
  if (!records) {
    why = std::string(what) + " is in the script \"" + caret.m_file + "\", which this game does not have";
    return true;
  }
  if (caret.m_index < 0 || static_cast<size_t>(caret.m_index) > records->size()) {
    why = std::string(what) + " is at record " + std::to_string(caret.m_index) + " of \"" + name + "\", which has " +
          std::to_string(records ? records->size() : 0) + " (the script has changed)";
    return true;
  }
  caret.m_file = name;
  return false;
}

// ---- The interpreter ---------------------------------------------------------

void CMainScript::OnSaveEvent(const std::string& text) { LogWrite(text); }

void CMainScript::CaptureOwnFields(CSavedState& saved) const {
  saved.macroFiles = m_macroFiles;
  saved.autoAllowed = m_autoAllowed;
  saved.skipAllowed = m_skipAllowed;
  saved.cursor = m_cursor;
  saved.callStack = m_callStack;
  // A wait for a tween is stored as over: the loaded game shows the tween at
  // its end and has nothing left that would end the wait.
  auto passTweenWait = [](CCaret& caret) {
    if (!caret.m_syncWaitByTween) return;
    if (caret.m_state == kSyncWait) {
      caret.m_state = kRunning;
    } else if (caret.m_previousState == kSyncWait) {
      caret.m_previousState = kRunning;
    }
  };
  passTweenWait(saved.cursor);
  for (CCaret& caret : saved.callStack) passTweenWait(caret);
  // A transition, the hidden messages, the backlog view or a movie last only
  // as long as this session's scene: the game is saved in the state they
  // interrupted (as closing the window saves it), since a loaded game shows
  // none of them.
  auto passInterruption = [](CCaret& caret) {
    if (caret.m_state == kTransitionWait || caret.m_state == kHidden || caret.m_state == kBacklog ||
        caret.m_state == kVideoWait)
      caret.ReturnToPrevious();
  };
  passInterruption(saved.cursor);
  for (CCaret& caret : saved.callStack) passInterruption(caret);
  saved.autosaveMode = m_autosaveMode;
  saved.rightClickEnabled = m_rightClickEnabled;
  saved.rightClickMenu = m_rightClickMenu;
  saved.rightClickDepth = m_rightClickDepth;
  saved.errorMode = m_errorMode;
  // Auto mode is not saved, so neither is the wait it was timing.
  if (m_waitDeadline != 0 && !m_autoDeadline) {
    saved.waitDeadline = m_waitDeadline;
    saved.hasTimeLeft = true;
    const int32_t left = static_cast<int32_t>(m_waitDeadline - platform::GetTimeMs());
    saved.timeLeft = left < 0 ? 0 : left;
  }
  saved.hideAllowed = m_hideAllowed;
  saved.backlogAllowed = m_backlogAllowed;
}

bool CMainScript::RefusesSave(std::string& why) {
  // The carets as a save would hold them.
  CSavedState saved(CaretLookup());
  CaptureOwnFields(saved);
  auto held = [](const CCaret& caret) { return IsState(caret.m_state) && IsState(caret.m_previousState); };
  bool ok = held(saved.cursor);
  for (const CCaret& caret : saved.callStack) ok = ok && held(caret);
  if (ok) return false;
  why = "the game is in a state of its own (" + std::to_string(m_cursor.m_state) + "), which a saved game cannot hold";
  return true;
}

std::unique_ptr<ISaveSubject::IStateStage> CMainScript::CaptureState() {
  auto saved = std::make_unique<CSavedState>(CaretLookup());
  CaptureOwnFields(*saved);
  for (auto& family : m_families) family->CaptureSaved(*this, *saved);
  return saved;
}

CSavedState::ScriptLookup CMainScript::CaretLookup() {
  return [this](std::string& name) -> const RecordList* { return LoadScript(name) ? nullptr : FindScript(name); };
}

std::unique_ptr<ISaveSubject::IStateStage> CMainScript::NewStateStage() {
  return std::make_unique<CSavedState>(CaretLookup());
}

bool CMainScript::AcceptsReplay(ReplayList list, const CScriptBlock& record) {
  if (record.m_type == CScriptBlock::kText) return list == ReplayList::kMessage;
  if (record.m_type != CScriptBlock::kTag) return false;
  const CTagRow* row = m_tags.Find(record.m_text);
  if (!row) return false;
  switch (list) {
    case ReplayList::kMessage: return row->replay == TagReplay::kMessage;
    case ReplayList::kLayer: return row->replay == TagReplay::kLayer;
    // Property changes and tweens of an animation's id land in its list.
    case ReplayList::kAnimation: return row->replay == TagReplay::kAnimation || row->replay == TagReplay::kLayer;
    case ReplayList::kMusic: return row->replay == TagReplay::kMusic;
  }
  return false;
}

void CMainScript::FlushGlobalAndSystem() {
  // The read marks live in the global data too: a restart that read back an
  // older copy would forget what the player has read since (and skipping
  // would stop at it).
  const bool marksAdded = std::exchange(m_readMarksAdded, false);
  if (m_variables->TakeGlobalChanged() || marksAdded) m_saveData->SaveGlobal();
  if (m_variables->TakeSystemChanged()) m_saveData->SaveSystem();
}

void CMainScript::ApplyOwnFields(const CSavedState& saved) {
  m_macroFiles = saved.macroFiles;
  m_autoAllowed = saved.autoAllowed;
  // Forbidding skip also ends it, as the skip tag does.
  SetSkipAllowed(saved.skipAllowed);
  m_autosaveMode = saved.autosaveMode;
  m_rightClickEnabled = saved.rightClickEnabled;
  m_rightClickMenu = saved.rightClickMenu;
  m_rightClickDepth = saved.rightClickDepth;
  // The mode only: a save file does not open the debugging channel or server
  // (the [debug] tag does). Any number [debug] accepts loads back.
  m_errorMode = saved.errorMode;
  m_debug->SetMode(saved.errorMode, false);
  // A deadline of another session's timer could lie hours away: the time
  // that was left counts from now.
  m_waitDeadline = saved.waitDeadline;
  if (m_waitDeadline != 0 && saved.hasTimeLeft) {
    m_waitDeadline = platform::GetTimeMs() + static_cast<uint32_t>(saved.timeLeft < 0 ? 0 : saved.timeLeft);
    if (m_waitDeadline == 0) m_waitDeadline = 1;
  }
  m_autoDeadline = false;
  m_hideAllowed = saved.hideAllowed;
  m_backlogAllowed = saved.backlogAllowed;
}

void CMainScript::ApplyLoadedGame(CLoadedGame& game) {
  const CSavedState& saved = static_cast<const CSavedState&>(*game.interpreter);
  // The restart reads the global and system data back from disk: what
  // changed since the last flush (a volume set just now) must be there.
  FlushGlobalAndSystem();
  Boot();
  ApplyOwnFields(saved);
  for (auto& family : m_families) family->ApplySaved(*this, saved, RestoreStep::kFields);

  // The slot's game variables; the global and system ones stay as they are
  // now (the store just read them from disk), not as the slot had them.
  std::unique_ptr<CQelVariables> current = std::move(m_variables);
  m_variables = game.variables ? std::move(game.variables) : std::make_unique<CQelVariables>();
  {
    CSerializer out;
    current->WritePrefixed(out, "g.", 1);
    current->WritePrefixed(out, "s.", 2);
    std::vector<uint8_t> bytes = out.Finish();
    CSerializer in;
    if (!in.Load(bytes.data(), bytes.size())) {
      m_variables->ReadPrefixed(in, 1);
      m_variables->ReadPrefixed(in, 2);
    }
  }
  // The slot's backlog replaces the session's.
  if (game.backlog)
    for (auto& family : m_families)
      if (family->AdoptBacklog(game.backlog)) break;

  // The cursor and callers are in place (halted) while the scene is
  // rebuilt, so reports and handlers of the replayed records see the loaded
  // game's script; the state the cursor held comes back after.
  m_callStack = saved.callStack;
  m_cursor = saved.cursor;
  m_saveData->AdoptReplayLists(game);
  ReplayLoadedScene(game, saved);
  m_cursor = saved.cursor;
  // The loader halts the game while it rebuilds the scene and then goes back
  // to the state it interrupted, which leaves that state as the previous one
  // too. A state that is itself left by going back (a transition, hidden
  // messages, the backlog, a video) keeps the saved previous state: it would
  // otherwise never be left.
  switch (m_cursor.m_state) {
    case kTransitionWait:
    case kHidden:
    case kBacklog:
    case kVideoWait: break;
    default: m_cursor.m_previousState = m_cursor.m_state;
  }
  m_runawayReported = false;
}

const ISerializable* CMainScript::GetBacklog() {
  for (auto& family : m_families)
    if (const ISerializable* backlog = family->SavedBacklog()) return backlog;
  return nullptr;
}

std::unique_ptr<ISerializable> CMainScript::NewBacklog() {
  for (auto& family : m_families)
    if (std::unique_ptr<ISerializable> backlog = family->NewSavedBacklog()) return backlog;
  return nullptr;
}

void CMainScript::ReplayLoadedScene(CLoadedGame&, const CSavedState& saved) {
  m_cursor.m_state = kHalted;
  // Copies: a replayed tag may touch the lists it came from.
  const CSaveData::ReplayMap layers = m_saveData->GetLayerReplay();
  const CSaveData::ReplayMap animations = m_saveData->GetAnimationReplay();
  auto replay = [this](CScriptBlock record) {
    // A tween that resumed the script when it ended must not resume the
    // loaded game from its wait.
    if (record.m_type == CScriptBlock::kTag && record.m_text == "lytween") record.m_attributes.erase("sync");
    Dispatch(std::move(record), true);
  };
  for (const auto& [id, records] : layers)
    for (const CScriptBlock& record : records) replay(record);
  for (const auto& [id, records] : animations)
    for (const CScriptBlock& record : records) replay(record);
  if (m_saveData->IsMusicPlaying()) replay(m_saveData->GetMusicRecord());
  for (auto& family : m_families) family->ApplySaved(*this, saved, RestoreStep::kMessages);
  // The glyph layers came back with the scene as they were made (shown): a
  // glyph shows only at a click wait once the text has appeared.
  HideGlyphs();
}
