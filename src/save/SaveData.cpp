#include "save/SaveData.h"

#include <cstdio>
#include <cstring>

#include "platform/FileSystem.h"
#include "vars/QelVariables.h"

namespace {

const char kGlobalFile[] = "saveg.dat";
const char kSystemFile[] = "system.dat";
constexpr size_t kHeaderSize = 8;

// Game-state field tags owned by the save data itself.
enum : uint32_t {
  kTagMessageReplay = 24,
  kTagLayerReplay = 26,
  kTagAnimationReplay = 27,
  kTagMusicPlaying = 28,
  kTagMusicRecord = 29,
  kTagVariables = 30,
  kTagBacklog = 31,
};

// Stands in for a part of the game the interpreter does not keep yet: an
// empty stream, which every reader takes as "all fields at initial values".
class CEmptyObject : public ISerializable {
 public:
  void Serialize(CSerializer&) const override {}
  void Deserialize(CSerializer&) override {}
};

// A field the stream has must be readable; one it lacks keeps its value.
template <class T>
bool ReadPresent(CSerializer& stream, uint32_t tag, T& value, std::string& why) {
  if (!stream.HasTag(tag)) return false;
  if (!stream.Read(tag, value)) return false;
  why = "field " + std::to_string(tag) + " is damaged";
  return true;
}

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

CSaveData::CSaveData(ISaveSubject* script) : m_script(script) { CTweenInfoSerializer::EnsureRegistered(); }

CSaveData::~CSaveData() = default;

namespace {

// "BOW", the kind, and the version as a little-endian int32.
void PutHeader(char kind, uint8_t (&header)[kHeaderSize]) {
  header[0] = 'B';
  header[1] = 'O';
  header[2] = 'W';
  header[3] = static_cast<uint8_t>(kind);
  const uint32_t version = static_cast<uint32_t>(CSaveData::kVersion);
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<uint8_t>(version >> (8 * i));
}

}  // namespace

std::vector<uint8_t> CSaveData::BuildFile(char kind, const std::vector<uint8_t>& stream) {
  uint8_t header[kHeaderSize];
  PutHeader(kind, header);
  std::vector<uint8_t> out(kHeaderSize + stream.size());
  std::memcpy(out.data(), header, kHeaderSize);
  if (!stream.empty()) std::memcpy(out.data() + kHeaderSize, stream.data(), stream.size());
  return out;
}

bool CSaveData::ParseHeader(const std::vector<uint8_t>& bytes, char& kind, int32_t& version, size_t& streamOffset) {
  if (bytes.size() < kHeaderSize) return true;
  if (bytes[0] != 'B' || bytes[1] != 'O' || bytes[2] != 'W') return true;
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(bytes[4 + i]) << (8 * i);
  version = static_cast<int32_t>(v);
  // Only this engine's 10xx versions are read.
  if (version / 100 != 10) return true;
  kind = static_cast<char>(bytes[3]);
  streamOffset = kHeaderSize;
  return false;
}

bool CSaveData::IsReservedName(const std::string& fileName) {
  // Compared as the file the name opens: ".\\saveg.dat" and "saveg.dat."
  // are the global data too.
  const std::string name = LowerAscii(platform::ToNativePath(fileName));
  return name == kGlobalFile || name == kSystemFile;
}

bool CSaveData::WriteFile(const std::string& fileName, char kind, CSerializer& stream) {
  uint8_t header[kHeaderSize];
  PutHeader(kind, header);
  const std::vector<uint8_t> bytes = stream.Finish(header, kHeaderSize);
  std::string why;
  if (!platform::WriteFileAtomic(fileName, bytes.data(), bytes.size(), &why)) return false;
  m_script->OnSaveProblem(fileName + " not saved: " + why);
  return true;
}

bool CSaveData::SaveState(const std::string& fileName) {
  if (IsReservedName(fileName)) {
    m_script->OnSaveProblem(fileName + " not saved: the name belongs to the global and system data");
    return true;
  }
  // A file that could never be loaded is not written (nor reported saved).
  if (std::string why; m_script->RefusesSave(why)) {
    m_script->OnSaveProblem(fileName + " not saved: " + why);
    return true;
  }
  CSerializer stream;
  Serialize(stream);
  if (WriteFile(fileName, kKindState, stream)) return true;
  m_script->OnSaveEvent("saved " + fileName);
  return false;
}

bool CSaveData::SaveGlobal() {
  CSerializer stream;
  stream.Write(1, m_script->GetReadMarks());
  m_script->GetVariables().WritePrefixed(stream, "g.", 2);
  return WriteFile(kGlobalFile, kKindGlobal, stream);
}

bool CSaveData::SaveSystem() {
  CSerializer stream;
  m_script->GetVariables().WritePrefixed(stream, "s.", 1);
  return WriteFile(kSystemFile, kKindSystem, stream);
}

bool CSaveData::LoadFile(const std::string& fileName, char expectedKind) {
  const bool state = expectedKind == kKindState;
  std::vector<uint8_t> bytes;
  std::string why;
  if (platform::ReadWholeFile(fileName, bytes, &why, state ? kMaxStateFile : platform::kMaxWholeFile)) {
    // A missing file is the normal first run.
    if (why != "not found")
      m_script->OnSaveProblem(fileName + " not loaded: " + why);
    else if (state)
      m_script->OnSaveEvent(fileName + " not loaded: not found");
    return true;
  }
  char kind = 0;
  int32_t version = 0;
  size_t offset = 0;
  const bool foreign = ParseHeader(bytes, kind, version, offset);
  if (foreign || kind != expectedKind) {
    if (!foreign) {
      why = std::string("a save of kind '") + kind + "', not '" + expectedKind + "'";
    } else if (bytes.size() >= kHeaderSize && bytes[0] == 'B' && bytes[1] == 'O' && bytes[2] == 'W') {
      why = "version " + std::to_string(version) + " is not read by this engine";
    } else {
      why = "not a save file of this engine";
    }
    // The global and system data would be overwritten by the next save:
    // keep what could not be read beside it instead.
    std::string aside;
    if (fileName == kGlobalFile || fileName == kSystemFile) {
      aside = fileName + ".bad";
      if (std::rename(platform::ToNativePath(fileName).c_str(), platform::ToNativePath(aside).c_str())) aside.clear();
    }
    m_script->OnSaveProblem(fileName + " not loaded: " + why + (aside.empty() ? std::string() : "; kept as " + aside));
    return true;
  }

  CSerializer stream;
  if (stream.LoadView(bytes.data() + offset, bytes.size() - offset)) {
    if (state) m_script->OnSaveProblem(fileName + " not loaded: the stream's tag table is damaged");
    return true;
  }
  switch (kind) {
    case kKindGlobal:
      m_version = version;
      if (!stream.Read(1, m_script->GetReadMarks())) m_script->OnReadMarksLoaded();
      m_script->GetVariables().ReadPrefixed(stream, 2);
      return false;
    case kKindSystem:
      m_version = version;
      m_script->GetVariables().ReadPrefixed(stream, 1);
      return false;
    default: {
      CLoadedGame game;
      if (ReadState(stream, game, why)) {
        m_script->OnSaveProblem(fileName + " not loaded: " + why);
        return true;
      }
      m_version = version;
      m_script->ApplyLoadedGame(game);
      m_script->OnSaveEvent("loaded " + fileName);
      return false;
    }
  }
}

void CSaveData::AppendMessage(const std::string& windowId, const CScriptBlock& record) {
  m_messageReplay[windowId].push_back(record);
}

void CSaveData::ClearReplayLists() {
  m_messageReplay.clear();
  m_fontStacks.clear();
  m_pageStartFonts.clear();
  m_layerReplay.clear();
  // Animations and music went with the restart too; kept, a save made after
  // it would bring them back on load.
  m_animationReplay.clear();
  m_musicPlaying = false;
  m_musicRecord = CScriptBlock();
}

void CSaveData::AdoptReplayLists(CLoadedGame& game) {
  m_messageReplay = std::move(game.messages);
  m_layerReplay = std::move(game.layers);
  m_animationReplay = std::move(game.animations);
  m_musicPlaying = game.musicPlaying;
  m_musicRecord = game.musicPlaying ? game.musicRecord : CScriptBlock();
}

void CSaveData::Serialize(CSerializer& stream) const {
  using Part = ISaveSubject::IStateStage::Part;
  std::unique_ptr<ISaveSubject::IStateStage> interpreter = m_script->CaptureState();
  interpreter->Write(stream, Part::kHead);
  stream.Write(kTagMessageReplay, m_messageReplay);
  interpreter->Write(stream, Part::kFonts);
  stream.Write(kTagLayerReplay, m_layerReplay);
  stream.Write(kTagAnimationReplay, m_animationReplay);
  stream.Write(kTagMusicPlaying, m_musicPlaying);
  if (m_musicPlaying) stream.Write(kTagMusicRecord, m_musicRecord);
  stream.Write(kTagVariables, m_script->GetVariables());
  if (const ISerializable* backlog = m_script->GetBacklog()) {
    stream.Write(kTagBacklog, *backlog);
  } else {
    stream.Write(kTagBacklog, CEmptyObject());
  }
  interpreter->Write(stream, Part::kTail);
}

bool CSaveData::ReadState(CSerializer& stream, CLoadedGame& game, std::string& why) {
  game.interpreter = m_script->NewStateStage();
  if (game.interpreter->Read(stream, why)) return true;
  if (ReadPresent(stream, kTagMessageReplay, game.messages, why) ||
      ReadPresent(stream, kTagLayerReplay, game.layers, why) ||
      ReadPresent(stream, kTagAnimationReplay, game.animations, why) ||
      ReadPresent(stream, kTagMusicPlaying, game.musicPlaying, why))
    return true;
  if (game.musicPlaying) {
    if (!stream.HasTag(kTagMusicRecord)) {
      why = "the music record is missing";
      return true;
    }
    if (ReadPresent(stream, kTagMusicRecord, game.musicRecord, why)) return true;
  }
  game.variables = std::make_unique<CQelVariables>();
  if (ReadPresent(stream, kTagVariables, *game.variables, why)) return true;
  game.backlog = m_script->NewBacklog();
  if (game.backlog && ReadPresent(stream, kTagBacklog, *game.backlog, why)) return true;

  // Only records that the tags put in each list are replayed: anything else
  // (a load, a save, a debug server) has no business in a save file.
  auto check = [&](ReplayList list, const ReplayMap& lists, const char* what) {
    for (const auto& [key, records] : lists) {
      for (const CScriptBlock& record : records) {
        if (m_script->AcceptsReplay(list, record)) continue;
        why = std::string("the ") + what + " replay list of \"" + key + "\" holds a record that is not replayed (" +
              (record.m_type == CScriptBlock::kTag ? "[" + record.m_text + "]"
                                                   : "type " + std::to_string(record.m_type)) +
              ")";
        return true;
      }
    }
    return false;
  };
  if (check(ReplayList::kMessage, game.messages, "message") || check(ReplayList::kLayer, game.layers, "layer") ||
      check(ReplayList::kAnimation, game.animations, "animation"))
    return true;
  if (game.musicPlaying && !m_script->AcceptsReplay(ReplayList::kMusic, game.musicRecord)) {
    why = "the music record is not a music tag";
    return true;
  }
  return false;
}

void CSaveData::Deserialize(CSerializer& stream) {
  CLoadedGame game;
  std::string why;
  if (ReadState(stream, game, why)) {
    m_script->OnSaveProblem("game state not loaded: " + why);
    return;
  }
  m_script->ApplyLoadedGame(game);
}
