// The interpreter's per-frame cycle: housekeeping, the execution loop through
// the interpreter states, skip and auto modes, the right-click menu and the
// engine's own keys, and the saving done at flush points and on close.
#include <cstdint>
#include <utility>

#include "core/FrameStats.h"
#include "debug/DebugAids.h"
#include "platform/InputState.h"
#include "platform/TextCodec.h"
#include "platform/VirtualKeys.h"
#include "save/SaveData.h"
#include "scene/GraphicSystem.h"
#include "script/MainScript.h"
#include "vars/QelVariables.h"

namespace {

const char kRightClickFile[] = "rclick.iet";
const char kRightClickLeave[] = "leave";
const char kQuickSaveFile[] = "saveq.dat";
const char kAutosaveFile[] = "autosave.dat";

// Times wrap like a 32-bit millisecond counter: compare by difference.
bool IsBefore(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }

}  // namespace

// ---- States and modes ------------------------------------------------------

void CMainScript::SetState(int state) {
  if (m_cursor.m_state == kHalted) return;
  m_cursor.m_previousState = m_cursor.m_state;
  m_cursor.m_state = state;
  if (state == kSyncWait) {
    m_cursor.m_syncWaitId = NewSyncWaitId();
    m_cursor.m_syncWaitByTween = m_enteringTweenWait;
  }
  if ((state == kClickWait || state == kSyncWait) && !IsSkipping()) FlushChangedSaves();
  // A game that ends keeps what it set last: closing in the ended state
  // writes nothing more.
  if (state == kEnded) {
    if (m_variables->TakeGlobalChanged()) m_saveData->SaveGlobal();
    if (m_variables->TakeSystemChanged()) m_saveData->SaveSystem();
  }
}

void CMainScript::EnterTweenSyncWait() {
  m_enteringTweenWait = true;
  SetState(kSyncWait);
  m_enteringTweenWait = false;
}

bool CMainScript::EndSyncWait(uint64_t id) {
  if (id == 0) return false;
  CCaret* caret = m_cursor.m_syncWaitId == id ? &m_cursor : nullptr;
  for (auto it = m_callStack.rbegin(); !caret && it != m_callStack.rend(); ++it)
    if (it->m_syncWaitId == id) caret = &*it;
  if (!caret) return false;
  caret->m_syncWaitId = 0;
  caret->m_syncWaitByTween = false;
  if (caret->m_state == kSyncWait) {
    caret->m_state = kRunning;
  } else if (caret->m_previousState == kSyncWait) {
    caret->m_previousState = kRunning;
  } else {
    return false;
  }
  return true;
}

void CMainScript::EndTransitionWait() {
  if (m_cursor.m_state == kTransitionWait) return RestoreState();
  for (auto it = m_callStack.rbegin(); it != m_callStack.rend(); ++it) {
    if (it->m_state != kTransitionWait) continue;
    it->ReturnToPrevious();
    return;
  }
}

void CMainScript::RestoreState() { m_cursor.ReturnToPrevious(); }

bool CMainScript::FlushChangedSaves() {
  bool failed = false;
  if (m_variables->TakeGlobalChanged()) failed |= m_saveData->SaveGlobal();
  if (m_variables->TakeSystemChanged()) failed |= m_saveData->SaveSystem();
  if (m_autosaveMode == 2) m_saveData->SaveState(kAutosaveFile);
  return failed;
}

bool CMainScript::IsSkipping() const { return m_skipAllowed && (m_skipOn || m_input->IsDown(platform::VK_CONTROL)); }

void CMainScript::SetAutoMode(bool on) {
  if (!m_autoAllowed) return;
  if (!on && m_autoDeadline) {
    // A click wait that auto mode was timing waits for a click again.
    m_waitDeadline = 0;
    m_autoDeadline = false;
  }
  m_autoOn = on;
  m_variables->SetInt("s.status.automode", on ? 1 : 0);
  // The family that keeps the auto icons shows or hides them.
  Broadcast(on ? ScriptEvent::kAutoModeOn : ScriptEvent::kAutoModeOff);
}

void CMainScript::SetAutoAllowed(bool allowed) {
  if (!allowed) SetAutoMode(false);
  m_autoAllowed = allowed;
}

void CMainScript::SetSkip(bool on) {
  if (!m_skipAllowed) return;
  m_skipOn = on;
  m_variables->SetInt("s.status.commandskip", on ? 1 : 0);
}

void CMainScript::SetSkipAllowed(bool allowed) {
  if (!allowed) SetSkip(false);
  m_skipAllowed = allowed;
}

bool CMainScript::AnyInput() {
  using namespace platform;
  static const int keys[] = {VK_LBUTTON, VK_RBUTTON, VK_DOWN,  VK_WHEEL_DOWN, VK_UP, VK_WHEEL_UP, VK_CONTROL,
                             VK_LSHIFT,  VK_RETURN,  VK_SPACE, VK_ESCAPE,     'A',   'S',         'L'};
  for (int key : keys) {
    if (m_input->IsDownEdge(key)) return true;
  }
  return false;
}

// The click-wait glyphs belong to the message family.
void CMainScript::HideGlyphs() { Broadcast(ScriptEvent::kHideGlyphs); }

void CMainScript::ShowGlyph() { Broadcast(ScriptEvent::kShowGlyph); }

// ---- The frame -------------------------------------------------------------

void CMainScript::Frame(uint32_t now) {
  m_now = now;
  ++m_frameNumber;
  m_autoOnAtFrameStart = m_autoOn;
  m_skipOnAtFrameStart = m_skipOn;
  // The debugging channel takes the lines collected since the last frame;
  // the server serves its clients.
  m_debug->Poll();
  // Made once: the name is too long for the short-string buffer.
  static const std::string controlSkip = "s.status.controlskip";
  m_variables->SetInt(controlSkip, m_input->IsDown(platform::VK_CONTROL) ? 1 : 0);
  // Presses taken this frame: a load in the Lua per-frame handler below
  // takes them as a load anywhere else does.
  m_rightClickHandled = false;
  m_leftPressTaken = std::exchange(m_leftPressTakenEarly, false);
  m_waitPressesTaken = false;
  // The families' own steps, in registry order: the music players and the
  // volume follow of the sound family, then the Lua per-frame handler.
  for (CTagFamilyState* family : Hooked(kHookFrame)) family->OnFrame(*this);

  int budget = m_recordBudget;
  const uint32_t frameStart = platform::UsesVirtualClock() ? 0 : platform::GetTimeMs();
  const RecordList* records = nullptr;
  std::set<int32_t>* marks = nullptr;
  std::string cachedFile;
  uint32_t cachedMarksVersion = 0;
  for (;;) {
    if (m_cursor.m_state != kRunning) {
      if (WaitTurn() == Turn::kEndFrame) return;
      continue;
    }
    // The current file's records and read marks, looked up again only when
    // the cursor changes files.
    if (!records || cachedFile != m_cursor.m_file || cachedMarksVersion != m_readMarksVersion) {
      auto it = m_scripts.find(m_cursor.m_file);
      records = it == m_scripts.end() ? nullptr : &it->second;
      marks = records ? &m_readMarks[m_cursor.m_file] : nullptr;
      cachedFile = m_cursor.m_file;
      cachedMarksVersion = m_readMarksVersion;
    }
    if (!records || m_cursor.m_index < 0 || static_cast<size_t>(m_cursor.m_index) >= records->size()) {
      records = nullptr;
      if (Return()) {
        SetState(kEnded);
        return;
      }
      continue;
    }
    // A script that loops without ever waiting still gives the engine its
    // frames; it goes on where it stopped in the next one. In a window the
    // frame also ends after kFrameTimeBudgetMs of dispatching, so that slow
    // records (an image loaded each turn) cannot freeze it; headless runs
    // count records only, so that they stay the same on any machine.
    if (--budget < 0) {
      ReportRunaway(m_recordBudget);
      return;
    }
    if (!platform::UsesVirtualClock() && (budget & 63) == 0 &&
        static_cast<uint32_t>(platform::GetTimeMs() - frameStart) > kFrameTimeBudgetMs) {
      ReportRunaway(m_recordBudget - budget);
      return;
    }
    int32_t index = m_cursor.m_index;
    if (marks->insert(index).second) {
      SetSkip(false);
      m_readMarksAdded = true;
    }
    m_cursor.m_index = index + 1;
    framestats::CountRecord();
    bool endFrame = DispatchStored((*records)[static_cast<size_t>(index)]);
    if (m_cursor.m_state == kEnded || endFrame) return;
  }
}

void CMainScript::ReportRunaway(int count) {
  // Told once: a loop that never waits would say it every frame.
  if (m_runawayReported) return;
  m_runawayReported = true;
  static const std::string head = Utf8ToCp932("スクリプトが待たずに実行を続けています（1フレームに");
  static const std::string tail = Utf8ToCp932("件）。");
  const RecordList* records = FindScript(m_cursor.m_file);
  const int line = records && m_cursor.m_index >= 0 && static_cast<size_t>(m_cursor.m_index) < records->size()
                       ? (*records)[static_cast<size_t>(m_cursor.m_index)].m_line
                       : 0;
  // A note for the author, not a fault of the script: a long finite loop
  // ends here too, and a strict run must not fail on it.
  Trace(m_cursor.m_file + "(" + std::to_string(line) + "): " + head + std::to_string(count) + tail);
}

CMainScript::Turn CMainScript::WaitTurn() {
  using namespace platform;
  CInputState& in = *m_input;
  switch (m_cursor.m_state) {
    case kTransitionWait:
      if (in.IsDownEdge(VK_LBUTTON) || in.IsDownEdge(VK_RETURN) || in.IsDownEdge(VK_WHEEL_DOWN) || IsSkipping()) {
        // The commit ends the transition's tween without its callback, so
        // the state is restored once, here.
        if (m_graphics) m_graphics->FinishTransition();
        RestoreState();
        return Turn::kRunOn;
      }
      return Turn::kEndFrame;
    case kHidden:
      if (AnyInput()) {
        RestoreState();
        // The hide layers fade back in and the window shows its text again.
        Broadcast(ScriptEvent::kMessagesShown);
      }
      return Turn::kEndFrame;
    case kBacklog: {
      bool close = in.IsDownEdge(VK_RBUTTON) || in.IsDownEdge(VK_ESCAPE);
      for (auto& family : m_families) {
        if (close) break;
        close = family->UpdateBacklog(*this);
      }
      if (close) {
        RestoreState();
        Broadcast(ScriptEvent::kBacklogClosed);
      }
      return Turn::kEndFrame;
    }
    case kVideoWait: {
      const bool stop =
          in.IsDownEdge(VK_LBUTTON) || in.IsDownEdge(VK_RETURN) || in.IsDownEdge(VK_WHEEL_DOWN) || IsSkipping();
      bool playing = false;
      for (CTagFamilyState* family : Hooked(kHookMovie)) playing = family->PollMovie(*this, stop) || playing;
      if (!playing) RestoreState();
      return Turn::kEndFrame;
    }
    case kClickWait:
    case kSyncWait:
    case kTimedWait: break;
    default:  // halted, ended, or a state no build knows
      return Turn::kEndFrame;
  }

  int state = m_cursor.m_state;
  // Input ends a mode that was on when it came: the click on a button (or
  // the menu entry) that switched it on does not also switch it off.
  if (m_autoOn && m_autoOnAtFrameStart && AnyInput()) {
    SetAutoMode(false);
    return Turn::kEndFrame;
  }
  if (m_skipOn && m_skipOnAtFrameStart && AnyInput()) {
    SetSkip(false);
    return Turn::kEndFrame;
  }

  if (state == kClickWait || state == kSyncWait) {
    bool handled = false;
    Turn turn = ClickAndSyncKeys(handled);
    if (handled) return turn;
    // A rollout handler may have moved the cursor: its target starts next
    // frame, and the steps below see the state it left.
    state = m_cursor.m_state;
  }

  if (state == kClickWait) {
    // A press that a click handler took (a button that calls and returns
    // to this wait) does not also end the wait.
    const bool press =
        (in.IsDownEdge(VK_LBUTTON) && !m_leftPressTaken) || in.IsDownEdge(VK_RETURN) || in.IsDownEdge(VK_WHEEL_DOWN);
    if ((press && !m_waitPressesTaken) || IsSkipping()) {
      m_waitDeadline = 0;
      m_autoDeadline = false;
      HideGlyphs();
      SetState(kRunning);
      return Turn::kRunOn;
    }
    // The glyph and the auto-mode clock wait for the text to finish appearing.
    if (TextEffectsFinished()) {
      ShowGlyph();
      if (m_waitDeadline == 0 && m_autoOn) {
        m_waitDeadline = m_now + static_cast<uint32_t>(m_variables->GetInt("s.automodewait"));
        if (m_waitDeadline == 0) m_waitDeadline = 1;
        m_autoDeadline = true;
      }
    }
  }

  if (m_waitDeadline != 0 && IsBefore(m_waitDeadline, m_now) && !AutoWaitHeld()) {
    m_waitDeadline = 0;
    m_autoDeadline = false;
    m_cursor.m_waitTextEffects = false;
    HideGlyphs();
    SetState(kRunning);
    return Turn::kRunOn;
  }

  if (m_cursor.m_waitTextEffects && TextEffectsFinished()) {
    m_waitDeadline = 0;
    m_autoDeadline = false;
    m_cursor.m_waitTextEffects = false;
    SetState(kRunning);
    return Turn::kRunOn;
  }
  return Turn::kEndFrame;
}

bool CMainScript::TextEffectsFinished() {
  for (auto& family : m_families)
    if (family->TextEffectsRunning(*this)) return false;
  return true;
}

bool CMainScript::AutoWaitHeld() {
  // Auto mode also waits for the sounds of the auto sync list.
  if (!m_autoOn) return false;
  for (CTagFamilyState* family : Hooked(kHookAutoWait)) {
    if (family->HoldsAutoWait(*this)) return true;
  }
  return false;
}

CMainScript::Turn CMainScript::ClickAndSyncKeys(bool& handled) {
  using namespace platform;
  CInputState& in = *m_input;
  handled = true;

  // Pointer events: a click or rollover handler moved the cursor.
  for (CTagFamilyState* family : Hooked(kHookWaitFrame))
    if (family->OnWaitFrame(*this, m_now)) return Turn::kRunOn;

  // One press acts once: leaving the menu returns to this wait in the same
  // frame, where the same press must not open the menu again.
  if (m_rightClickEnabled && !m_rightClickHandled &&
      (in.IsDownEdge(VK_RBUTTON) || in.IsDownEdge(VK_ESCAPE) || m_requestRightClick)) {
    m_requestRightClick = false;
    m_rightClickHandled = true;
    if (m_rightClickMenu) {
      for (int n = m_rightClickDepth; n > 0; --n) Return();
      Jump(kRightClickFile, kRightClickLeave);
      return Turn::kRunOn;
    }
    if (m_cursor.m_file != kRightClickFile) {
      // The menu flag is only set when the menu really started; a game
      // without rclick.iet keeps running as if nothing was pressed.
      if (!Call(kRightClickFile, "")) {
        m_rightClickMenu = true;
        m_rightClickDepth = 0;
        return Turn::kRunOn;
      }
    }
  }

  if (m_hideAllowed && (in.IsDownEdge(VK_SPACE) || m_requestHide) && !m_rightClickMenu) {
    m_requestHide = false;
    SetState(kHidden);
    Broadcast(ScriptEvent::kMessagesHidden);
    HideGlyphs();
    return Turn::kEndFrame;
  }

  if (m_backlogAllowed && (in.IsDownEdge(VK_UP) || in.IsDownEdge(VK_WHEEL_UP) || m_requestBacklog) &&
      !m_rightClickMenu) {
    m_requestBacklog = false;
    bool opened = false;
    for (auto& family : m_families) {
      if (!family->OpenBacklog(*this)) {
        opened = true;
        break;
      }
    }
    // With no page to show the wait goes on as before.
    if (!opened) return Turn::kEndFrame;
    SetState(kBacklog);
    Broadcast(ScriptEvent::kBacklogOpened);
    HideGlyphs();
    return Turn::kEndFrame;
  }

  if (in.IsDownEdge('A')) SetAutoMode(true);
  if (in.IsDownEdge(VK_LSHIFT)) SetSkip(true);
  if (in.IsDownEdge('S')) {
    m_saveData->SaveState(kQuickSaveFile);
    return Turn::kEndFrame;
  }
  if (in.IsDownEdge('L')) {
    // No transition follows a quick load: the rebuilt scene is shown at once.
    if (!m_saveData->LoadFile(kQuickSaveFile, CSaveData::kKindState) && m_graphics) m_graphics->Commit();
    return Turn::kEndFrame;
  }
  handled = false;
  return Turn::kRunOn;
}

void CMainScript::OnClose() {
  if (m_autosaveMode != 0) {
    int state = m_cursor.m_state;
    if (state == kTransitionWait || state == kHidden || state == kBacklog || state == kVideoWait) RestoreState();
    m_saveData->SaveState(kAutosaveFile);
  }
  m_saveData->SaveGlobal();
  if (m_variables->TakeSystemChanged()) m_saveData->SaveSystem();
}
