// The interpreter's share of a game state as plain values: what a save
// writes, and what a load reads, checks and only then applies. The tag
// families fill in and take back the fields they keep (CaptureSaved and
// ApplySaved of CTagFamilyState).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/ScriptBlock.h"
#include "save/SaveData.h"
#include "script/MainScript.h"

class CSavedState : public ISaveSubject::IStateStage {
 public:
  // A click, rollover or rollout table: layer id to a copy of the tag.
  using EventTable = std::map<std::string, CScriptBlock>;

  // Finds a saved caret's script in the game as it is now: its records, or
  // null when the game lacks it. It may rewrite the name to the one the
  // script was found under (NAME.iet for NAME).
  using ScriptLookup = std::function<const CMainScript::RecordList*(std::string& name)>;

  explicit CSavedState(ScriptLookup lookup) : m_lookup(std::move(lookup)) {}

  void Write(CSerializer& stream, Part part) const override;
  bool Read(CSerializer& stream, std::string& why) override;

  // ---- The interpreter ---------------------------------------------------
  std::vector<std::string> macroFiles{"macro.iet"};
  bool autoAllowed = false;
  bool skipAllowed = true;
  CMainScript::CCaret cursor;
  std::vector<CMainScript::CCaret> callStack;
  int32_t autosaveMode = 0;
  bool rightClickEnabled = false;
  bool rightClickMenu = false;
  int32_t rightClickDepth = 0;
  int32_t errorMode = 0;
  // The deadline as timer time (what older builds read) and the time that
  // was left of it, which is what a later session restores from.
  uint32_t waitDeadline = 0;
  bool hasTimeLeft = false;
  int32_t timeLeft = 0;
  bool hideAllowed = false;
  bool backlogAllowed = false;

  // ---- The families ------------------------------------------------------
  std::vector<std::string> autoSyncList;
  std::string currentWindow;
  std::vector<std::string> windowStack;
  // Each window's text effect lists (appear, vanish).
  std::map<std::string, CTextTweenList> appearLists;
  std::map<std::string, CTextTweenList> vanishLists;
  std::set<std::string> hideLayers;
  std::set<std::string> backlogHideLayers;
  std::map<std::string, CMainScript::CGlyphInfo> glyphs;
  std::map<std::string, CMainScript::CIconInfo> autoIcons;
  std::map<std::string, CMainScript::CIconInfo> backlogIcons;
  EventTable clicks, rollovers, rollouts;
  ISaveSubject::FontStacks fontStacks;
  std::map<std::string, CFontProperty> pageStartFonts;
  std::string frameFunction;

 private:
  // True when a caret cannot be resumed in the game as it is now.
  bool CheckCaret(CMainScript::CCaret& caret, const char* what, std::string& why);

  ScriptLookup m_lookup;
};
