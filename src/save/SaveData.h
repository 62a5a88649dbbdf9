// The save files of a game: the global data "saveg.dat" (kind 'G'), the
// system data "system.dat" (kind 'X') and game states (kind 'S'), plus the
// replay lists that the tags keep so that a loaded state can rebuild its scene.
//
// File layout: "BOW", one kind byte, int32 version (1000), then one tagged
// stream. Files live in the game folder and are read and written directly,
// never through the archive layer. Writing goes to a temporary file that is
// renamed over the old one, so a crash mid-write never leaves a cut file.
//
// Compatibility rule (every build must keep it, or old saves stop loading):
// the version written stays 1000; no field tag is ever reused or given
// another type; new data gets a new tag, and a reader gives a tag the stream
// lacks its initial value. Tags in use by game states: 1 to 31 and 34 to 38.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/ScriptBlock.h"
#include "text/TextEffect.h"
#include "core/Serializer.h"
#include "text/TextRenderer.h"

class CQelVariables;
struct CLoadedGame;

// The replay lists of a game state.
enum class ReplayList : uint8_t { kMessage, kLayer, kAnimation, kMusic };

// What the save files need of the interpreter that owns them. The
// interpreter implements it; the save files never see its other members.
class ISaveSubject {
 public:
  // Per script file, the indices of the records the player has read.
  using ReadMarks = std::map<std::string, std::set<int32_t>>;
  using FontStacks = std::map<std::string, std::vector<CFontProperty>>;

  // The interpreter's share of a game state (cursor, call stack, modes and
  // tables of the tag families), as plain values: taken from the running
  // game for a save, or read from a file into a fresh one, checked, and only
  // then applied.
  class IStateStage {
   public:
    // Where in the stream a part goes: the interpreter fields come first, the
    // font stacks between the replay lists, the rest last.
    enum class Part { kHead, kFonts, kTail };
    virtual ~IStateStage() = default;
    virtual void Write(CSerializer& stream, Part part) const = 0;
    // Reads every field the stage owns and checks it against the game as it
    // is now (scripts present, indices in range). True when the state must
    // not be loaded; why then says why.
    virtual bool Read(CSerializer& stream, std::string& why) = 0;
  };

  virtual ~ISaveSubject() = default;
  virtual CQelVariables& GetVariables() = 0;
  virtual ReadMarks& GetReadMarks() = 0;
  // The read marks were replaced as a whole (loaded from "saveg.dat").
  virtual void OnReadMarksLoaded() = 0;
  // A save file could not be written (the old one is untouched), or a save
  // file could not be used; text says which file and why.
  virtual void OnSaveProblem(const std::string& text) = 0;
  // A game state was saved or loaded, or not loaded for a harmless reason.
  virtual void OnSaveEvent(const std::string& text) = 0;

  // The running game's share, for a save.
  virtual std::unique_ptr<IStateStage> CaptureState() = 0;
  // True when the running game is in a state no game state can hold (one a
  // load would refuse); why then says why.
  virtual bool RefusesSave(std::string& why) {
    (void)why;
    return false;
  }
  // A share at initial values, to read a file into.
  virtual std::unique_ptr<IStateStage> NewStateStage() = 0;
  // The backlog, written under its field; null while the interpreter keeps
  // none (an empty field is written then).
  virtual const ISerializable* GetBacklog() { return nullptr; }
  // A new empty backlog to read a file's backlog into, or null (the field is
  // then skipped).
  virtual std::unique_ptr<ISerializable> NewBacklog() { return nullptr; }
  // Whether a record may stand in the replay list: only tags that record
  // themselves there are replayed, anything else marks the file corrupt.
  virtual bool AcceptsReplay(ReplayList list, const CScriptBlock& record) = 0;
  // Restarts the game and rebuilds it from a checked state; the replay lists
  // of game are handed to the save data on the way (AdoptReplayLists).
  virtual void ApplyLoadedGame(CLoadedGame& game) = 0;
};

// A game state read from a file and checked, waiting to be applied.
struct CLoadedGame {
  using ReplayMap = std::map<std::string, std::vector<CScriptBlock>>;
  std::unique_ptr<ISaveSubject::IStateStage> interpreter;
  ReplayMap messages;
  ISaveSubject::FontStacks fonts;
  ReplayMap layers;
  ReplayMap animations;
  bool musicPlaying = false;
  CScriptBlock musicRecord;
  std::unique_ptr<CQelVariables> variables;
  std::unique_ptr<ISerializable> backlog;
};

class CSaveData : public ISerializable {
 public:
  static constexpr int32_t kVersion = 1000;
  static constexpr char kKindState = 'S';
  static constexpr char kKindGlobal = 'G';
  static constexpr char kKindSystem = 'X';
  // Game states larger than this are not read (a real one is well under a
  // megabyte).
  static constexpr size_t kMaxStateFile = size_t{64} << 20;

  using BlockList = std::vector<CScriptBlock>;
  // Per message window, its font stack as it stood when its page began.
  using FontStackMap = ISaveSubject::FontStacks;
  // Writes and reads text effect entries wherever a stream holds them (the
  // windows' effect lists, the backlog's). It lives with the text library,
  // which the backlog's own stream needs below this one; constructing the
  // save data makes sure it is registered.
  using CTweenInfoSerializer = CTextTweenInfoSerializer;
  using ReplayMap = CLoadedGame::ReplayMap;

  explicit CSaveData(ISaveSubject* script);
  ~CSaveData() override;
  CSaveData(const CSaveData&) = delete;
  CSaveData& operator=(const CSaveData&) = delete;

  // Writes a game state (kind 'S'). The global and system files are refused:
  // a state under their names would make every start-up load a game. True on
  // failure (reported; the old file stays).
  bool SaveState(const std::string& fileName);
  // Writes "saveg.dat": tag 1 the read marks, tag 2 the "g." variables.
  // True on failure.
  bool SaveGlobal();
  // Writes "system.dat": tag 1 the "s." variables. True on failure.
  bool SaveSystem();
  // Reads a save file of the kind the caller expects; a file of another kind
  // is ignored. A missing, short, foreign, other-version or damaged file
  // changes nothing. True when nothing was loaded.
  bool LoadFile(const std::string& fileName, char kind);

  // Builds a complete save file (header and stream) in memory.
  static std::vector<uint8_t> BuildFile(char kind, const std::vector<uint8_t>& stream);
  // Checks a file's header; on success kind and the stream's span are set.
  // True when the bytes are not a save file this engine reads.
  static bool ParseHeader(const std::vector<uint8_t>& bytes, char& kind, int32_t& version, size_t& streamOffset);
  // True for the names of the global and system files (letter case aside, as
  // on the file systems games ship for).
  static bool IsReservedName(const std::string& fileName);

  // Replay lists.
  void AppendMessage(const std::string& windowId, const CScriptBlock& record);
  // Empties every replay list and forgets the music: a restart keeps nothing
  // that a later save could bring back.
  void ClearReplayLists();
  const ReplayMap& GetMessageReplay() const { return m_messageReplay; }
  ReplayMap& GetMessageReplay() { return m_messageReplay; }
  ReplayMap& GetLayerReplay() { return m_layerReplay; }
  const ReplayMap& GetLayerReplay() const { return m_layerReplay; }
  ReplayMap& GetAnimationReplay() { return m_animationReplay; }
  FontStackMap& GetFontStacks() { return m_fontStacks; }
  // Per message window, its font as its page began (what a page stands on
  // when a [fontinit] left the stack empty).
  std::map<std::string, CFontProperty>& GetPageStartFonts() { return m_pageStartFonts; }
  const ReplayMap& GetAnimationReplay() const { return m_animationReplay; }
  // The record that started the background music (replayed on load).
  void SetMusicRecord(const CScriptBlock& record) {
    m_musicPlaying = true;
    m_musicRecord = record;
  }
  void ClearMusicRecord() { m_musicPlaying = false; }
  bool IsMusicPlaying() const { return m_musicPlaying; }
  const CScriptBlock& GetMusicRecord() const { return m_musicRecord; }
  // Takes the replay lists and music of a loaded game.
  void AdoptReplayLists(CLoadedGame& game);

  int32_t GetLoadedVersion() const { return m_version; }

  // The game-state stream.
  void Serialize(CSerializer& stream) const override;
  // Reads, checks and applies a game state; a state that fails its checks
  // changes nothing.
  void Deserialize(CSerializer& stream) override;
  // Reads a game-state stream into game and checks it; nothing of the
  // running game changes. True when it cannot be loaded (why says why).
  bool ReadState(CSerializer& stream, CLoadedGame& game, std::string& why);

 private:
  bool WriteFile(const std::string& fileName, char kind, CSerializer& stream);

  ISaveSubject* m_script;
  ReplayMap m_messageReplay;
  ReplayMap m_layerReplay;
  ReplayMap m_animationReplay;
  FontStackMap m_fontStacks;
  std::map<std::string, CFontProperty> m_pageStartFonts;
  bool m_musicPlaying = false;
  CScriptBlock m_musicRecord;
  int32_t m_version = 0;
};
