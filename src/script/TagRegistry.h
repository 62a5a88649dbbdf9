// The tag registry: everything the engine knows about each script tag, one
// row per tag, grouped in families (flow, messages, layers, sound, system,
// variables, Lua). The same rows answer the parser's required-attribute
// check, dispatch, the linter and the save recorder, so none of them can
// fall behind the language.
//
// A family is one file in script/tags/: its rows, its handlers and the state
// it keeps between tags (a CTagFamilyState subclass, one object per
// interpreter). Adding a tag is one row and one handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "core/Serializer.h"

class CMainScript;
class CScriptBlock;
class CSavedState;

// Which replay list of the save data a tag records itself in, so that
// loading a game rebuilds what the tag made by running it again. Tags of
// kNone never reach a save file; loading refuses them there.
enum class TagReplay : uint8_t {
  kNone,
  kMessage,    // the current message window's page
  kLayer,      // the layer's list (an animation id's list when the id holds one)
  kAnimation,  // the animation's list
  kMusic,      // the one record that started the music
};

// Events of the interpreter that a family may act on.
enum class ScriptEvent : uint8_t {
  kBoot,        // back to initial values
  kHideGlyphs,  // the click-wait glyphs go
  kShowGlyph,   // a click wait shows its glyph
  kAutoModeOn,  // auto mode was switched on
  kAutoModeOff,
  // The player hid the message windows (Space) or showed them again.
  kMessagesHidden,
  kMessagesShown,
  // The backlog view opened over the game, or closed.
  kBacklogOpened,
  kBacklogClosed,
};

// When a loaded game state reaches the families: kFields right after the
// restart, kMessages after the layers, animations and music were replayed.
enum class RestoreStep : uint8_t { kFields, kMessages };

// A raw code block taken out of a script file as the file was loaded.
struct CLoadedChunk {
  int32_t line = 0;
  std::string text;
};

// The per-frame and event hooks of a family. The interpreter calls a hook
// only on the families whose class overrides it, so a family that has no
// part in a frame costs that frame nothing.
enum FamilyHook : uint8_t {
  kHookEvent = 1 << 0,
  kHookMovie = 1 << 1,
  kHookWaitFrame = 1 << 2,
  kHookLoaded = 1 << 3,
  kHookFrame = 1 << 4,
  kHookAutoWait = 1 << 5,
  kHookAll = (1 << 6) - 1,
};
constexpr int kFamilyHookCount = 6;

// What a family keeps between tags for one interpreter.
class CTagFamilyState {
 public:
  virtual ~CTagFamilyState() = default;
  // Which hooks the family's class overrides; states not made by
  // CreateFamilyState get every hook called.
  uint8_t m_hooks = kHookAll;
  virtual void OnEvent(CMainScript& script, ScriptEvent event) {}
  // The video wait, once per frame: true while the family still plays a
  // movie. With stop set (a skip key or skipping) it may stop it.
  virtual bool PollMovie(CMainScript& script, bool stop) { return false; }
  // Called once per frame (now, in milliseconds) while the script waits for
  // a click or a sync; true when the family moved the cursor (a pointer
  // handler jumped or called) and the script runs on at once.
  virtual bool OnWaitFrame(CMainScript& script, uint32_t now) { return false; }
  // A script file was loaded (its records are in the store already); chunks
  // are its raw code blocks in file order.
  virtual void OnScriptLoaded(CMainScript& script, const std::string& file, const std::vector<CLoadedChunk>& chunks) {}
  // Once per frame, before the frame's waits and records.
  virtual void OnFrame(CMainScript& script) {}
  // True keeps an expired auto-mode wait waiting (a sound still playing).
  virtual bool HoldsAutoWait(CMainScript& script) { return false; }
  // True while the current message window's text effects still run (the
  // click wait shows its glyph and the text-effect wait ends only after).
  virtual bool TextEffectsRunning(CMainScript& script) { return false; }
  // Opens the backlog view; true when this family has none to show.
  virtual bool OpenBacklog(CMainScript& script) { return true; }
  // Once per frame while the backlog is shown; true when it asks to close.
  virtual bool UpdateBacklog(CMainScript& script) { return false; }
  // Game-state saves: a family copies the fields it keeps into the saved
  // state, and takes them back (at each step) when a loaded game is applied.
  virtual void CaptureSaved(CMainScript& script, CSavedState& saved) {}
  virtual void ApplySaved(CMainScript& script, const CSavedState& saved, RestoreStep step) {}
  // The backlog a family keeps, written under the save's own field: the one
  // to write (null: none here), a fresh one to read a file into, and taking
  // over one read from a file (true when this family took it).
  virtual const ISerializable* SavedBacklog() { return nullptr; }
  virtual std::unique_ptr<ISerializable> NewSavedBacklog() { return nullptr; }
  virtual bool AdoptBacklog(std::unique_ptr<ISerializable>& backlog) { return false; }
};

// A tag handler: the family's state, the interpreter, the record and the
// replay flag. True ends the frame's script execution.
using TagFunction = bool (*)(CTagFamilyState& state, CMainScript& script, const CScriptBlock& record, bool replay);

struct CTagRow {
  std::string name;
  // Attributes the parser insists on, in the order it checks them.
  std::vector<std::string> required;
  TagFunction handler = nullptr;
  TagReplay replay = TagReplay::kNone;
  // One line for the tag reference.
  std::string summary;
  // Index of the family in the registry (set when the family is added).
  size_t family = 0;
};

// Turns a family handler `bool F(State&, CMainScript&, const CScriptBlock&,
// bool)` into a row's TagFunction.
template <auto F>
struct TagHandlerOf;
template <class State, bool (*F)(State&, CMainScript&, const CScriptBlock&, bool)>
struct TagHandlerOf<F> {
  static bool Call(CTagFamilyState& state, CMainScript& script, const CScriptBlock& record, bool replay) {
    return F(static_cast<State&>(state), script, record, replay);
  }
};

template <auto F>
CTagRow TagRow(std::string name, std::vector<std::string> required, TagReplay replay, std::string summary) {
  CTagRow row;
  row.name = std::move(name);
  row.required = std::move(required);
  row.handler = &TagHandlerOf<F>::Call;
  row.replay = replay;
  row.summary = std::move(summary);
  return row;
}

class CTagRegistry {
 public:
  using StateFactory = std::unique_ptr<CTagFamilyState> (*)();

  // Adds a family with its rows; true (nothing added) when one of its names
  // is registered already.
  [[nodiscard]] bool AddFamily(std::string name, StateFactory factory, std::vector<CTagRow> rows);
  // The family's handler for text records (the message family's).
  template <auto F>
  void SetTextHandler(const std::string& family) {
    m_textHandler = &TagHandlerOf<F>::Call;
    m_textFamily = FamilyIndex(family);
  }

  // The row of a tag, or null (a macro then).
  const CTagRow* Find(std::string_view name) const;
  // Every row, family by family in the order they were added.
  const std::vector<CTagRow>& GetRows() const { return m_rows; }
  const std::vector<std::string>& GetFamilyNames() const { return m_familyNames; }
  size_t FamilyIndex(const std::string& name) const;

  TagFunction GetTextHandler() const { return m_textHandler; }
  size_t GetTextFamily() const { return m_textFamily; }

  // Fresh state objects for one interpreter, one per family.
  std::vector<std::unique_ptr<CTagFamilyState>> CreateStates() const;

 private:
  std::vector<CTagRow> m_rows;
  std::vector<std::string> m_familyNames;
  std::vector<StateFactory> m_factories;
  std::unordered_map<std::string_view, size_t> m_index;
  TagFunction m_textHandler = nullptr;
  size_t m_textFamily = 0;
};

// Families that keep nothing between tags use this.
class CStatelessFamily : public CTagFamilyState {};

// The hooks State overrides: a member pointer names the class that declares
// the function, which is the base only when no class in between overrides it.
template <class State>
constexpr uint8_t FamilyHooksOf() {
  using B = CTagFamilyState;
  uint8_t hooks = 0;
  if (!std::is_same_v<decltype(&State::OnEvent), decltype(&B::OnEvent)>) hooks |= kHookEvent;
  if (!std::is_same_v<decltype(&State::PollMovie), decltype(&B::PollMovie)>) hooks |= kHookMovie;
  if (!std::is_same_v<decltype(&State::OnWaitFrame), decltype(&B::OnWaitFrame)>) hooks |= kHookWaitFrame;
  if (!std::is_same_v<decltype(&State::OnScriptLoaded), decltype(&B::OnScriptLoaded)>) hooks |= kHookLoaded;
  if (!std::is_same_v<decltype(&State::OnFrame), decltype(&B::OnFrame)>) hooks |= kHookFrame;
  if (!std::is_same_v<decltype(&State::HoldsAutoWait), decltype(&B::HoldsAutoWait)>) hooks |= kHookAutoWait;
  return hooks;
}

template <class State>
std::unique_ptr<CTagFamilyState> CreateFamilyState() {
  auto state = std::make_unique<State>();
  state->m_hooks = FamilyHooksOf<State>();
  return state;
}
