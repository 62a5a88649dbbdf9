// The save files of a game: the global data "saveg.dat" (kind 'G'), the
// system data "system.dat" (kind 'X') and game states (kind 'S'), plus the
// replay lists that the tags keep so that a loaded state can rebuild its scene.
//
// File layout: "BOW", one kind byte, int32 version (1000), then one tagged
// stream. Files live in the game folder and are read and written directly,
// never through the archive layer. Writing goes to a temporary file that is
// renamed over the old one, so a crash mid-write never leaves a cut file.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/Serializer.h"
#include "core/ScriptBlock.h"
#include "text/TextEffect.h"
#include "text/TextRenderer.h"

class CQelVariables;

// What the save files need of the interpreter that owns them. The
// interpreter implements it; the save files never see its other members.
class ISaveSubject {
 public:
  // Per script file, the indices of the records the player has read.
  using ReadMarks = std::map<std::string, std::set<int32_t>>;

  virtual ~ISaveSubject() = default;
  virtual CQelVariables& GetVariables() = 0;
  virtual ReadMarks& GetReadMarks() = 0;
  // The read marks were replaced as a whole (loaded from "saveg.dat").
  virtual void OnReadMarksLoaded() = 0;
  // A save file could not be written (the old one is untouched), or a save
  // file could not be used; text says which file and why.
  virtual void OnSaveProblem(const std::string& text) = 0;
};

class CSaveData : public ISerializable {
 public:
  static constexpr int32_t kVersion = 1000;
  static constexpr char kKindState = 'S';
  static constexpr char kKindGlobal = 'G';
  static constexpr char kKindSystem = 'X';

  using BlockList = std::vector<CScriptBlock>;
  using ReplayMap = std::map<std::string, BlockList>;
  // Per message window, its font stack as it stood when its page began.
  using FontStackMap = std::map<std::string, std::vector<CFontProperty>>;
  // Writes and reads text effect entries wherever a stream holds them (the
  // windows' effect lists, the backlog's). It lives with the text library,
  // which the backlog's own stream needs below this one; constructing the
  // save data makes sure it is registered.
  using CTweenInfoSerializer = CTextTweenInfoSerializer;

  explicit CSaveData(ISaveSubject* script);
  ~CSaveData() override;
  CSaveData(const CSaveData&) = delete;
  CSaveData& operator=(const CSaveData&) = delete;

  // Writes a game state. Game states arrive with the state-restoring work;
  // until then nothing is written and the call fails (true).
  bool SaveState(const std::string& fileName);
  // Writes "saveg.dat": tag 1 the read marks, tag 2 the "g." variables.
  // True on failure.
  bool SaveGlobal();
  // Writes "system.dat": tag 1 the "s." variables. True on failure.
  bool SaveSystem();
  // Reads a save file of any kind. A missing, short, foreign or other-version
  // file changes nothing. True when nothing was loaded.
  bool LoadFile(const std::string& fileName);

  // Builds a complete save file (header and stream) in memory.
  static std::vector<uint8_t> BuildFile(char kind, const std::vector<uint8_t>& stream);
  // Checks a file's header; on success kind and the stream's span are set.
  // True when the bytes are not a save file this engine reads.
  static bool ParseHeader(const std::vector<uint8_t>& bytes, char& kind, int32_t& version, size_t& streamOffset);

  // Replay lists.
  void AppendMessage(const std::string& windowId, const CScriptBlock& record);
  // Empties the message, font and layer replay lists and the pending block;
  // the animation replay lists keep their entries.
  void ClearReplayLists();
  const ReplayMap& GetMessageReplay() const { return m_messageReplay; }
  ReplayMap& GetMessageReplay() { return m_messageReplay; }
  ReplayMap& GetLayerReplay() { return m_layerReplay; }
  ReplayMap& GetAnimationReplay() { return m_animationReplay; }
  FontStackMap& GetFontStacks() { return m_fontStacks; }
  // The record that started the background music (replayed on load).
  void SetMusicRecord(const CScriptBlock& record) {
    m_musicPlaying = true;
    m_musicRecord = record;
  }
  void ClearMusicRecord() { m_musicPlaying = false; }
  bool IsMusicPlaying() const { return m_musicPlaying; }
  const CScriptBlock& GetMusicRecord() const { return m_musicRecord; }

  int32_t GetLoadedVersion() const { return m_version; }

  // The game-state stream. Filled in together with SaveState.
  void Serialize(CSerializer& stream) const override;
  void Deserialize(CSerializer& stream) override;

 private:
  bool WriteFile(const std::string& fileName, char kind, CSerializer& stream);

  ISaveSubject* m_script;
  ReplayMap m_messageReplay;
  ReplayMap m_layerReplay;
  ReplayMap m_animationReplay;
  FontStackMap m_fontStacks;
  bool m_musicPlaying = false;
  CScriptBlock m_musicRecord;
  int32_t m_version = 0;
};
