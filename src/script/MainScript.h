// The script interpreter: loads scenario scripts, keeps the execution cursor
// and call stack, dispatches records to the tag handlers and runs the
// per-frame cycle (waits, skip and auto modes, the engine's own keys).
//
// Tag handlers are methods of CMainScript, grouped by family in
// src/script/tags/. Each takes the record and a replay flag and returns true
// to end the frame's script execution.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "save/Serializer.h"
#include "script/ScriptBlock.h"

class CGraphicSystem;
class CInputState;
class CQelVariables;
class CSaveData;

class CMainScript {
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

    std::string m_file;
    int32_t m_index = 0;
    int32_t m_state = kRunning;
    int32_t m_previousState = kRunning;
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

  using TagHandler = bool (CMainScript::*)(const CScriptBlock& record, bool replay);
  using ReadMarks = std::map<std::string, std::set<int32_t>>;
  using RecordList = std::vector<CScriptBlock>;

  // Records one frame may run before the frame is ended anyway, so that a
  // script looping without a wait cannot freeze the engine; it goes on in the
  // next frame.
  static constexpr int kDefaultRecordBudget = 100000;
  // Deepest call nesting (calls and macros). A script that recurses without
  // end gets failing calls instead of eating all memory.
  static constexpr size_t kMaxCallDepth = 10000;

  explicit CMainScript(CGraphicSystem* graphics);
  ~CMainScript();
  CMainScript(const CMainScript&) = delete;
  CMainScript& operator=(const CMainScript&) = delete;

  // ---- Execution ---------------------------------------------------------
  // Loads a script once (trying name, then name + ".iet"); name becomes the
  // resolved name. True on failure.
  bool LoadScript(std::string& name);
  bool Jump(const std::string& file, const std::string& label);
  bool Call(const std::string& file, const std::string& label);
  // True when the call stack was empty.
  bool Return();
  // Restarts the interpreter and loads the boot script; true on failure.
  bool Boot();
  // Runs one record (a copy); true ends the frame's execution.
  bool Dispatch(CScriptBlock record, bool replay);
  // Sends a report (CP932) where the error mode says.
  void Report(const std::string& text);
  // printf-style report; the format is CP932.
  void ReportFormat(const char* format, ...);

  // ---- Frame cycle -------------------------------------------------------
  void Frame(uint32_t now);
  void OnClose();

  int GetState() const { return m_cursor.m_state; }
  // The main store in the headless runner's dump format.
  std::string DumpVariables() const;
  bool IsEnded() const { return m_cursor.m_state == kEnded; }
  void SetState(int state);
  void RestoreState();

  bool IsSkipping() const;
  void SetAutoMode(bool on);
  void SetAutoAllowed(bool allowed);
  void SetSkip(bool on);
  void SetSkipAllowed(bool allowed);
  bool AnyInput();
  void HideGlyphs();
  void ShowGlyph();

  // ---- Access ------------------------------------------------------------
  CQelVariables& GetVariables() { return *m_variables; }
  CSaveData& GetSaveData() { return *m_saveData; }
  const CCaret& GetCursor() const { return m_cursor; }
  const std::vector<CCaret>& GetCallStack() const { return m_callStack; }
  const ReadMarks& GetReadMarks() const { return m_readMarks; }
  const std::vector<std::string>& GetMacroFiles() const { return m_macroFiles; }
  // Records of a loaded script, or null.
  const RecordList* FindScript(const std::string& name) const;
  int GetErrorMode() const { return m_errorMode; }
  const std::string& GetReportBuffer() const { return m_reportBuffer; }
  std::string TakeReportBuffer();
  uint32_t GetWaitDeadline() const { return m_waitDeadline; }
  bool IsAutoAllowed() const { return m_autoAllowed; }
  bool IsAutoOn() const { return m_autoOn; }
  bool IsSkipAllowed() const { return m_skipAllowed; }
  bool IsSkipOn() const { return m_skipOn; }
  bool IsRightClickEnabled() const { return m_rightClickEnabled; }
  bool IsInRightClickMenu() const { return m_rightClickMenu; }
  int GetRightClickDepth() const { return m_rightClickDepth; }
  int GetAutosaveMode() const { return m_autosaveMode; }
  const std::string& GetCurrentWindowId() const { return m_currentWindowId; }
  const std::vector<std::string>& GetAutoSyncList() const { return m_autoSyncList; }
  // Title given by the last [caption].
  const std::string& GetCaption() const { return m_caption; }
  // The number the random generator gives next (advances it).
  int NextRandom();
  void SetRecordBudget(int records) { m_recordBudget = records; }

 private:
  friend class CSaveData;

  struct TagEntry {
    const char* name;
    TagHandler handler;
  };
  static const std::vector<TagEntry>& TagTable();
  static TagHandler FindTag(const std::string& name);

  // Dispatches a record of the script store. Records are only copied when
  // dispatching changes them (evaluated attributes, print, tracing); a
  // stored record stays in place for the life of the interpreter.
  bool DispatchStored(const CScriptBlock& record);
  void ResetFrameMembers();
  void SetSystemVariables();
  bool FlushChangedSaves();
  // "%s(%d): [%s] " + message, for the record at hand.
  void ReportTag(const CScriptBlock& record, const std::string& messageCp932);
  bool CallMacro(const CScriptBlock& record);
  // One turn of the frame loop in a wait state; true runs on.
  enum class Turn { kRunOn, kEndFrame };
  Turn WaitTurn();
  // The engine's own keys in click and sync waits.
  Turn ClickAndSyncKeys(bool& handled);

  // ---- Tag handlers (src/script/tags/) -----------------------------------
  // Flow.
  bool TagEmpty(const CScriptBlock& record, bool replay);
  bool TagStop(const CScriptBlock& record, bool replay);
  bool TagJump(const CScriptBlock& record, bool replay);
  bool TagCall(const CScriptBlock& record, bool replay);
  bool TagReturn(const CScriptBlock& record, bool replay);
  bool TagLua(const CScriptBlock& record, bool replay);
  // Message.
  bool TagClickWait(const CScriptBlock& record, bool replay);
  // System.
  bool TagDebug(const CScriptBlock& record, bool replay);
  bool TagCaption(const CScriptBlock& record, bool replay);
  bool TagNothing(const CScriptBlock& record, bool replay);
  bool TagAutosave(const CScriptBlock& record, bool replay);
  bool TagRclick(const CScriptBlock& record, bool replay);
  bool TagWait(const CScriptBlock& record, bool replay);
  bool TagAutomode(const CScriptBlock& record, bool replay);
  bool TagSkip(const CScriptBlock& record, bool replay);
  bool TagExec(const CScriptBlock& record, bool replay);
  bool TagMacroAdd(const CScriptBlock& record, bool replay);
  // Variables and conditions.
  bool TagVar(const CScriptBlock& record, bool replay);
  bool TagIf(const CScriptBlock& record, bool replay);
  bool TagEndIf(const CScriptBlock& record, bool replay);
  bool TagLoop(const CScriptBlock& record, bool replay);
  bool TagEndLoop(const CScriptBlock& record, bool replay);
  // Tags whose subsystems are not wired in yet: recognised, no effect.
  bool TagPending(const CScriptBlock& record, bool replay);
  // Layer tags (tags/LayerTags.cpp).
  bool TagLayerCreate(const CScriptBlock& record, bool replay);
  bool TagLayerProperty(const CScriptBlock& record, bool replay);
  bool TagLayerDelete(const CScriptBlock& record, bool replay);

  // Helpers of the variable tags.
  void VarSystem(const CScriptBlock& record);
  bool ConditionHolds(const CScriptBlock& record);
  void SkipBlock(const char* open, const char* close, bool pastClose);

  // ---- Members -----------------------------------------------------------
  std::mt19937 m_random;
  std::uniform_int_distribution<int> m_randomRange{0, 65535};
  bool m_autoAllowed = false;
  bool m_autoOn = false;
  bool m_skipAllowed = true;
  bool m_skipOn = false;
  CInputState* m_input = nullptr;
  CGraphicSystem* m_graphics = nullptr;
  std::unique_ptr<CQelVariables> m_variables;
  std::unique_ptr<CSaveData> m_saveData;
  uint32_t m_now = 0;
  int m_recordBudget = kDefaultRecordBudget;
  // The right button or Escape has been acted on in this frame.
  bool m_rightClickHandled = false;
  // The wait deadline was set by auto mode (and goes when auto mode does).
  bool m_autoDeadline = false;

  std::map<std::string, RecordList> m_scripts;
  // Per script, each label's first record index.
  std::map<std::string, std::unordered_map<std::string, int32_t>> m_labels;
  ReadMarks m_readMarks;
  // Changes whenever the read marks are replaced as a whole (loading).
  uint32_t m_readMarksVersion = 0;
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
  std::string m_reportBuffer;
  uint32_t m_waitDeadline = 0;
  bool m_waitTextEffects = false;
  std::vector<std::string> m_autoSyncList;
  std::string m_currentWindowId;
  std::vector<std::string> m_windowIdStack;
  bool m_rubyOn = false;
  std::string m_rubyBase;
  std::string m_rubyText;
  bool m_hideAllowed = false;
  std::set<std::string> m_hideLayers;
  bool m_backlogAllowed = false;
  std::set<std::string> m_backlogHideLayers;
  std::map<std::string, CGlyphInfo> m_glyphInfos;
  bool m_glyphShown = false;
  std::map<std::string, CIconInfo> m_autoIcons;
  std::map<std::string, CIconInfo> m_backlogIcons;
  std::string m_luaFrameFunction;
  std::string m_caption;
};
