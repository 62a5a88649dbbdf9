// The script interpreter: loads scenario scripts, keeps the execution cursor
// and call stack, dispatches records to the tag handlers and runs the
// per-frame cycle (waits, skip and auto modes, the engine's own keys).
//
// The tags themselves live in families (src/script/tags/) that the tag
// registry lists; the interpreter finds a record's row there, hands it to the
// family's handler with that family's state, and keeps only what is its own:
// the scripts, the cursor and call stack, scopes, waits, modes and reports.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/ScriptBlock.h"
#include "core/Serializer.h"
#include "save/SaveData.h"
#include "script/TagRegistry.h"

class CGraphicSystem;
class CInputState;
class CDebugAids;
class CQelVariables;
class CSavedState;

class CMainScript : public ISaveSubject {
 public:
  // Interpreter states.
  enum State : int {
    kRunning = 0,
    kClickWait = 1,
    kTransitionWait = 2,
    kSyncWait = 3,
    kTimedWait = 4,
    kHidden = 5,
    kBacklog = 6,
    kVideoWait = 7,
    kHalted = 8,
    kEnded = 9,
  };

  // Error modes set by [debug mode=n].
  enum ErrorMode : int {
    kErrorNone = 0,
    kErrorLogWindow = 1,
    kErrorChannel = 2,
    kErrorServer = 3,
  };

  // The execution cursor. Stream fields: 1 state, 2 previous state, 3 file,
  // 4 index.
  class CCaret : public ISerializable {
   public:
    void Serialize(CSerializer& stream) const override;
    void Deserialize(CSerializer& stream) override;
    // Leaves the state for the previous one; a wait whose previous state is
    // itself (set so from Lua, or read from a file) would never be left, so
    // it leaves to running instead.
    void ReturnToPrevious() { m_state = m_previousState == m_state ? int32_t(kRunning) : m_previousState; }

    std::string m_file;
    int32_t m_index = 0;
    int32_t m_state = kRunning;
    int32_t m_previousState = kRunning;
    // This sync wait also waits for the current window's text effects
    // ([wait scenario]). It belongs to the wait the caret stands at: a call
    // from there (the right-click menu) leaves it with the caller, a jump
    // drops it, and a save keeps it (under its own tag, written only when
    // set).
    bool m_waitTextEffects = false;
    // The sync wait the caret stands at (0 for none; not saved). A sync
    // tween ends only the wait it was made for, on this caret or on one a
    // call put on the stack; a jump leaves the wait and drops it.
    uint64_t m_syncWaitId = 0;
    // The sync wait ends when a tween the replay lists hold at its end value
    // finishes (not saved): a save stores the wait as already over, since
    // the loaded game has no such tween left to end it.
    bool m_syncWaitByTween = false;
    // A caller's timed deadline (0 for none; not saved): the wait a call
    // took the script from keeps its timer for when the call returns.
    uint32_t m_callerDeadline = 0;
  };

  // Click-wait glyph settings of one message window.
  class CGlyphInfo : public ISerializable {
   public:
    void Serialize(CSerializer& stream) const override;
    void Deserialize(CSerializer& stream) override;

    bool m_homing = false;
    bool m_hasLineGlyph = false;
    bool m_hasPageGlyph = false;
    std::string m_lineLayer;
    std::string m_pageLayer;
    int32_t m_lineX = 0, m_lineY = 0;
    int32_t m_pageX = 0, m_pageY = 0;
  };

  // An icon shown for a mode (auto icon, backlog icon) of one message window.
  class CIconInfo : public ISerializable {
   public:
    void Serialize(CSerializer& stream) const override;
    void Deserialize(CSerializer& stream) override;

    bool m_on = false;
    std::string m_layer;
  };

  using ReadMarks = ISaveSubject::ReadMarks;
  using RecordList = std::vector<CScriptBlock>;

  // Records one frame may run before the frame is ended anyway, so that a
  // script looping without a wait cannot freeze the engine; it goes on in the
  // next frame. Large enough that the finite loops games run (filling tables
  // of variables) end in their frame.
  static constexpr int kDefaultRecordBudget = 250000;
  // Deepest call nesting (calls and macros). A script that recurses without
  // end gets failing calls instead of eating all memory.
  static constexpr size_t kMaxCallDepth = 10000;
  // The one tag outside the tag table: dispatch turns it into a text record
  // holding its data attribute.
  static constexpr const char* kPrintTag = "print";
  // Wall-clock time one frame may spend running records in a window.
  static constexpr uint32_t kFrameTimeBudgetMs = 200;

  // tags: the registry whose families handle the tags (it must outlive the
  // interpreter); graphics may be null (no scene).
  CMainScript(const CTagRegistry& tags, CGraphicSystem* graphics);
  ~CMainScript() override;
  CMainScript(const CMainScript&) = delete;
  CMainScript& operator=(const CMainScript&) = delete;

  // ---- Execution ---------------------------------------------------------
  // Loads a script once (trying name, then name + ".iet"); name becomes the
  // resolved name. True on failure.
  bool LoadScript(std::string& name);
  bool Jump(const std::string& file, const std::string& label);
  // Fails without a report when the call nesting is at its deepest (see
  // CallTooDeep); the caller reports.
  bool Call(const std::string& file, const std::string& label);
  bool IsCallStackFull() const { return m_callStack.size() >= kMaxCallDepth; }
  // A click handler used this frame's press of the left button: it does not
  // also end a click wait.
  void TakeLeftPress() { m_leftPressTaken = true; }
  // The same, for a press taken before the frame runs (a link's action runs
  // in the scene's update): it counts in the coming frame.
  void TakeLeftPressBeforeFrame() { m_leftPressTakenEarly = true; }
  // A load used this frame's presses: the click wait it restored stays until
  // the next one, or the player would never see the page they saved at.
  void TakeWaitPresses() { m_waitPressesTaken = true; }
  // The report for a call refused because the nesting is at its deepest
  // (CP932), or, when it is not, notFound.
  static const std::string& CallFailureText(bool tooDeep, const std::string& notFound);
  // True when the call stack was empty.
  bool Return();
  // Restarts the interpreter and loads the boot script; true on failure.
  bool Boot();
  // Runs one record (a copy); true ends the frame's execution.
  bool Dispatch(CScriptBlock record, bool replay);
  // Sends a report (CP932) where the error mode says.
  void Report(const std::string& text);
  // A trace line of debug mode (or a script's own debug note): routed like
  // a report, but not a problem.
  void Trace(const std::string& text);
  // printf-style report; the format is CP932.
  void ReportFormat(const char* format, ...);
  // "file(line): [tag] message" for the record at hand (message in CP932).
  void ReportTag(const CScriptBlock& record, const std::string& messageCp932);
  // The same with the tag shown as given (name and the attributes that matter).
  void ReportTag(const CScriptBlock& record, std::string_view shownTag, std::string_view messageCp932);
  // Calls the macro named by a tag record (attributes become its locals);
  // reports an unknown tag when no macro file has the label.
  bool CallMacro(const CScriptBlock& record);

  // ---- Frame cycle -------------------------------------------------------
  void Frame(uint32_t now);
  // How many frames have started; handlers that must act once a frame key on it.
  uint64_t GetFrameNumber() const { return m_frameNumber; }
  void OnClose();

  int GetState() const { return m_cursor.m_state; }
  // The main store in the headless runner's dump format.
  std::string DumpVariables() const;
  bool IsEnded() const { return m_cursor.m_state == kEnded; }
  void SetState(int state);
  void RestoreState();
  // Every sync wait entered gets an id of its own (never 0, never given
  // twice), which SetState (3) puts on the cursor.
  uint64_t NewSyncWaitId() { return ++m_syncWaitIds; }
  // Enters a sync wait that the end of a tween finishes (see
  // CCaret::m_syncWaitByTween); the id is on the cursor afterwards.
  void EnterTweenSyncWait();
  // Ends the sync wait with this id, wherever its caret is: the cursor
  // (waiting, or hidden or in the backlog from the wait) or a caret a call
  // left on the stack. False when no caret stands at it any more.
  bool EndSyncWait(uint64_t id);
  // A transition ended: the caret waiting for it (the cursor, or a caller a
  // call from the wait left on the stack) goes back to what it was doing.
  void EndTransitionWait();

  bool IsSkipping() const;
  void SetAutoMode(bool on);
  void SetAutoAllowed(bool allowed);
  void SetSkip(bool on);
  void SetSkipAllowed(bool allowed);
  bool AnyInput();
  void HideGlyphs();
  void ShowGlyph();

  // ---- Access ------------------------------------------------------------
  CQelVariables& GetVariables() override { return *m_variables; }
  ReadMarks& GetReadMarks() override { return m_readMarks; }
  void OnReadMarksLoaded() override { ++m_readMarksVersion; }
  // Logged once per problem; in a window the player is told too.
  void OnSaveProblem(const std::string& text) override;
  // Game-state saves (SaveState.cpp).
  void OnSaveEvent(const std::string& text) override;
  std::unique_ptr<IStateStage> CaptureState() override;
  bool RefusesSave(std::string& why) override;
  std::unique_ptr<IStateStage> NewStateStage() override;
  bool AcceptsReplay(ReplayList list, const CScriptBlock& record) override;
  void ApplyLoadedGame(CLoadedGame& game) override;
  const ISerializable* GetBacklog() override;
  std::unique_ptr<ISerializable> NewBacklog() override;
  // Writes the global and system data that changed since the last flush, so
  // that a restart (which reads them back from disk) keeps them.
  void FlushGlobalAndSystem();
  const CTagRegistry& GetTagRegistry() const { return m_tags; }
  CGraphicSystem* GetGraphics() const { return m_graphics; }
  CInputState* GetInput() const { return m_input; }
  // The state of the family of that type, or null.
  template <class State>
  State* FindFamily() const {
    for (const auto& state : m_families) {
      if (auto* found = dynamic_cast<State*>(state.get())) return found;
    }
    return nullptr;
  }
  // Records a tag in the replay list its row names (nothing for kNone); key
  // is the message window, layer or animation id.
  void RecordForReplay(const std::string& key, const CScriptBlock& record);
  CSaveData& GetSaveData() { return *m_saveData; }
  const CCaret& GetCursor() const { return m_cursor; }
  // The cursor, for tags that move it within the current script.
  CCaret& GetCursor() { return m_cursor; }
  const std::vector<CCaret>& GetCallStack() const { return m_callStack; }
  const std::vector<std::string>& GetMacroFiles() const { return m_macroFiles; }
  // Records of a loaded script, or null.
  const RecordList* FindScript(const std::string& name) const;
  // Loads a saved caret's script for the checks of a game state: its records,
  // or null when the game lacks it; the name becomes the one it was found under.
  std::function<const RecordList*(std::string& name)> CaretLookup();
  int GetErrorMode() const { return m_errorMode; }
  const CDebugAids& GetDebugAids() const;
  // Lines collected for the debugging channel this frame (error mode 2).
  const std::string& GetReportBuffer() const;
  std::string TakeReportBuffer();
  uint32_t GetWaitDeadline() const { return m_waitDeadline; }
  // A timed deadline (0 = none) set by a tag, not by auto mode.
  void SetWaitDeadline(uint32_t deadline) {
    m_waitDeadline = deadline;
    m_autoDeadline = false;
  }
  // The sync wait also waits for the current window's text effects.
  void SetWaitTextEffects(bool on) { m_cursor.m_waitTextEffects = on; }
  // [debug mode=n]: also opens the log window, channel or server it names.
  void SetErrorMode(int mode);
  void SetAutosaveMode(int mode) { m_autosaveMode = mode; }
  void SetRightClickEnabled(bool on) { m_rightClickEnabled = on; }
  // What `exec` asks the next click or sync wait to do.
  void RequestRightClickMenu() { m_requestRightClick = true; }
  void RequestHide() { m_requestHide = true; }
  void RequestBacklog() { m_requestBacklog = true; }
  void AddMacroFile(const std::string& file) { m_macroFiles.push_back(file); }
  void SetHideAllowed(bool on) { m_hideAllowed = on; }
  void SetBacklogAllowed(bool on) { m_backlogAllowed = on; }
  bool IsHideAllowed() const { return m_hideAllowed; }
  bool IsBacklogAllowed() const { return m_backlogAllowed; }
  bool IsAutoAllowed() const { return m_autoAllowed; }
  bool IsAutoOn() const { return m_autoOn; }
  bool IsSkipAllowed() const { return m_skipAllowed; }
  bool IsSkipOn() const { return m_skipOn; }
  bool IsRightClickEnabled() const { return m_rightClickEnabled; }
  bool IsInRightClickMenu() const { return m_rightClickMenu; }
  int GetRightClickDepth() const { return m_rightClickDepth; }
  int GetAutosaveMode() const { return m_autosaveMode; }
  // The number the random generator gives next (advances it).
  int NextRandom();
  void SetRecordBudget(int records) { m_recordBudget = records; }
  // Dispatches a record that stays alive and unchanged while it runs (one
  // of the script store, or one its caller keeps, as the Lua bridge does).
  // Records are only copied when dispatching changes them (evaluated
  // attributes, print, tracing). A caller that has looked the tag's row up
  // already passes it (the Lua bridge keeps the row of the tag it called
  // last); null looks it up here.
  bool DispatchStored(const CScriptBlock& record, const CTagRow* row = nullptr);

 private:
  bool RunTag(const CScriptBlock& record, bool replay, const CTagRow* row = nullptr);
  // Tells (once) that a frame ended because the script ran count records
  // without waiting.
  void ReportRunaway(int count);
  void Broadcast(ScriptEvent event);
  void ResetFrameMembers();
  void SetSystemVariables();
  bool FlushChangedSaves();
  // One turn of the frame loop in a wait state; true runs on.
  enum class Turn { kRunOn, kEndFrame };
  Turn WaitTurn();
  // The engine's own keys in click and sync waits.
  Turn ClickAndSyncKeys(bool& handled);
  bool AutoWaitHeld();
  // Whether the current message window's text has finished appearing.
  bool TextEffectsFinished();
  // Game-state saves: the interpreter's own fields (SaveState.cpp).
  void CaptureOwnFields(CSavedState& saved) const;
  void ApplyOwnFields(const CSavedState& saved);
  void ReplayLoadedScene(CLoadedGame& game, const CSavedState& saved);

  // ---- Members -----------------------------------------------------------
  const CTagRegistry& m_tags;
  std::vector<std::unique_ptr<CTagFamilyState>> m_families;
  // The families whose class overrides each hook, in registry order.
  std::array<std::vector<CTagFamilyState*>, kFamilyHookCount> m_hooked;
  const std::vector<CTagFamilyState*>& Hooked(FamilyHook hook) const {
    return m_hooked[size_t(std::countr_zero(unsigned(hook)))];
  }
  std::mt19937 m_random;
  std::uniform_int_distribution<int> m_randomRange{0, 65535};
  bool m_autoAllowed = false;
  bool m_autoOn = false;
  bool m_skipAllowed = true;
  bool m_skipOn = false;
  // The modes as the frame began.
  bool m_autoOnAtFrameStart = false;
  bool m_skipOnAtFrameStart = false;
  CInputState* m_input = nullptr;
  CGraphicSystem* m_graphics = nullptr;
  std::unique_ptr<CQelVariables> m_variables;
  std::unique_ptr<CSaveData> m_saveData;
  uint32_t m_now = 0;
  // Frames run so far: two frames can share a millisecond (catching up after
  // a slow one, skipping with Control), so this tells them apart.
  uint64_t m_frameNumber = 0;
  int m_recordBudget = kDefaultRecordBudget;
  // The right button or Escape has been acted on in this frame.
  bool m_rightClickHandled = false;
  // A click handler ran on this frame's press of the left button.
  bool m_leftPressTaken = false;
  bool m_leftPressTakenEarly = false;
  // A load ran on this frame's presses (left button, Enter, wheel down).
  bool m_waitPressesTaken = false;
  // The wait deadline was set by auto mode (and goes when auto mode does).
  bool m_autoDeadline = false;

  std::map<std::string, RecordList> m_scripts;
  // Per script, each label's first record index.
  std::map<std::string, std::unordered_map<std::string, int32_t>> m_labels;
  ReadMarks m_readMarks;
  // Changes whenever the read marks are replaced as a whole (loading).
  uint32_t m_readMarksVersion = 0;
  // A record was read for the first time since the read marks were last
  // written by a restart's flush.
  bool m_readMarksAdded = false;
  // Set while EnterTweenSyncWait enters its wait.
  bool m_enteringTweenWait = false;
  CCaret m_cursor;
  std::vector<CCaret> m_callStack;
  std::vector<std::string> m_macroFiles;

  int32_t m_autosaveMode = 0;
  bool m_rightClickEnabled = false;
  bool m_rightClickMenu = false;
  int32_t m_rightClickDepth = 0;
  bool m_requestRightClick = false;
  bool m_requestHide = false;
  bool m_requestBacklog = false;
  int32_t m_errorMode = kErrorNone;
  // The log window, debugging channel and server that the error mode picks.
  std::unique_ptr<CDebugAids> m_debug;
  // Save problems already reported (each is told once).
  std::set<std::string> m_saveProblems;
  bool m_runawayReported = false;
  uint64_t m_syncWaitIds = 0;
  uint32_t m_waitDeadline = 0;
  bool m_hideAllowed = false;
  bool m_backlogAllowed = false;
};
