#include "save/SaveData.h"

#include <cstdio>
#include <cstring>

#include "platform/FileSystem.h"
#include "vars/QelVariables.h"

namespace {

const char kGlobalFile[] = "saveg.dat";
const char kSystemFile[] = "system.dat";
constexpr size_t kHeaderSize = 8;

}  // namespace

CSaveData::CSaveData(ISaveSubject* script) : m_script(script) { CTweenInfoSerializer::EnsureRegistered(); }

CSaveData::~CSaveData() = default;

std::vector<uint8_t> CSaveData::BuildFile(char kind, const std::vector<uint8_t>& stream) {
  std::vector<uint8_t> out;
  out.reserve(kHeaderSize + stream.size());
  out.push_back('B');
  out.push_back('O');
  out.push_back('W');
  out.push_back(static_cast<uint8_t>(kind));
  uint32_t version = static_cast<uint32_t>(kVersion);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(version >> (8 * i)));
  out.insert(out.end(), stream.begin(), stream.end());
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

bool CSaveData::WriteFile(const std::string& fileName, char kind, CSerializer& stream) {
  std::vector<uint8_t> bytes = BuildFile(kind, stream.Finish());
  std::string why;
  if (!platform::WriteFileAtomic(fileName, bytes.data(), bytes.size(), &why)) return false;
  m_script->OnSaveProblem(fileName + " not saved: " + why);
  return true;
}

bool CSaveData::SaveState(const std::string&) { return true; }

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

bool CSaveData::LoadFile(const std::string& fileName) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (platform::ReadWholeFile(fileName, bytes, &why)) {
    // A missing file is the normal first run.
    if (why != "not found") m_script->OnSaveProblem(fileName + " not loaded: " + why);
    return true;
  }
  char kind = 0;
  int32_t version = 0;
  size_t offset = 0;
  if (ParseHeader(bytes, kind, version, offset)) {
    // The global and system data would be overwritten by the next save:
    // keep what could not be read beside it instead.
    if (fileName == kGlobalFile || fileName == kSystemFile) {
      const std::string aside = fileName + ".bad";
      const bool moved = !std::rename(platform::ToNativePath(fileName).c_str(), platform::ToNativePath(aside).c_str());
      m_script->OnSaveProblem(fileName + " not loaded: not a save file of this engine" +
                              (moved ? "; kept as " + aside : std::string()));
    }
    return true;
  }

  CSerializer stream;
  if (stream.LoadView(bytes.data() + offset, bytes.size() - offset)) return true;
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
    default:
      // Game states are restored by the state-restoring work; until then a
      // state file is left alone.
      return true;
  }
}

void CSaveData::AppendMessage(const std::string& windowId, const CScriptBlock& record) {
  m_messageReplay[windowId].push_back(record);
}

void CSaveData::ClearReplayLists() {
  m_messageReplay.clear();
  m_fontStacks.clear();
  m_layerReplay.clear();
}

void CSaveData::Serialize(CSerializer&) const {}

void CSaveData::Deserialize(CSerializer&) {}
