#include "vars/QelVariables.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "files/Config.h"

namespace {

// Nesting depth of the store being read (scopes inside scopes), across nested streams.
int g_deserializeDepth = 0;

}  // namespace

bool HasPrefix(std::string_view name, std::string_view prefix) { return name.substr(0, prefix.size()) == prefix; }

bool IsGameVariable(std::string_view name) {
  return !HasPrefix(name, "g.") && !HasPrefix(name, "s.") && !HasPrefix(name, "t.");
}

CQelVariables::CQelVariables() = default;

CQelVariables::~CQelVariables() = default;

CVariant* CQelVariables::Find(const std::string& name) {
  if (!m_scopes.empty()) {
    if (CVariant* v = m_scopes.back().m_store->FindOwn(name)) return v;
  }
  return FindOwn(name);
}

int32_t CQelVariables::GetInt(const std::string& name) {
  const CVariant* v = Find(name);
  return v ? v->GetInt() : 0;
}

std::string CQelVariables::GetString(const std::string& name) {
  const CVariant* v = Find(name);
  return v ? v->GetString() : std::string();
}

// Decides whether a write to the main store changes anything and raises the flags.
bool CQelVariables::ChangeStore(const std::string& name, const CVariant* old, bool equal) {
  if (old && equal) return false;
  if (HasPrefix(name, "g."))
    m_globalChanged = true;
  else if (HasPrefix(name, "s."))
    m_systemChanged = true;
  return true;
}

void CQelVariables::SetInt(const std::string& name, int32_t n) {
  const CVariant* old = FindOwn(name);
  if (ChangeStore(name, old, old && old->GetInt() == n)) CVariables::SetInt(name, n);
}

void CQelVariables::SetString(const std::string& name, const std::string& text) {
  const CVariant* old = FindOwn(name);
  if (ChangeStore(name, old, old && old->GetString() == text)) CVariables::SetString(name, text);
}

bool CQelVariables::TakeGlobalChanged() {
  const bool changed = m_globalChanged;
  m_globalChanged = false;
  return changed;
}

bool CQelVariables::TakeSystemChanged() {
  const bool changed = m_systemChanged;
  m_systemChanged = false;
  return changed;
}

CQelVariables* CQelVariables::PushScope() {
  m_scopes.emplace_back();
  return m_scopes.back().m_store.get();
}

void CQelVariables::PopScope() {
  if (!m_scopes.empty()) m_scopes.pop_back();
}

CQelVariables* CQelVariables::TopScope() const { return m_scopes.empty() ? nullptr : m_scopes.back().m_store.get(); }

CQelVariables::CScope::CScope() : m_store(std::make_unique<CQelVariables>()) {}
CQelVariables::CScope::CScope(CScope&&) noexcept = default;
CQelVariables::CScope& CQelVariables::CScope::operator=(CScope&&) noexcept = default;
CQelVariables::CScope::~CScope() = default;

void CQelVariables::CScope::Serialize(CSerializer& stream) const { m_store->Serialize(stream); }

void CQelVariables::CScope::Deserialize(CSerializer& stream) { m_store->Deserialize(stream); }

const std::vector<CQelVariables::CSortedEntry>& CQelVariables::SortedVariables() const {
  if (m_sortedGeneration == GetNameGeneration()) return m_sorted;
  // The sort compares the names' first eight bytes as one number, and whole
  // names only when those are equal.
  m_sorted.clear();
  m_sorted.reserve(Variables().size());
  for (const auto& [name, value] : Variables()) {
    uint64_t head = 0;
    for (size_t i = 0; i < 8; ++i) head = head << 8 | (i < name.size() ? uint8_t(name[i]) : 0);
    m_sorted.push_back({head, name, &value});
  }
  std::sort(m_sorted.begin(), m_sorted.end(), [](const CSortedEntry& a, const CSortedEntry& b) {
    return a.head != b.head ? a.head < b.head : a.name < b.name;
  });
  m_sortedGeneration = GetNameGeneration();
  return m_sorted;
}

template <class Selected>
void CQelVariables::WriteSelected(CSerializer& stream, uint32_t tag, Selected selected) const {
  // Written as a map by name (the same bytes), from a vector in name order:
  // no tree and no copies of the names.
  const std::vector<CSortedEntry>& sorted = SortedVariables();
  std::vector<std::pair<std::string_view, std::string>> entries;
  entries.reserve(sorted.size());
  for (const CSortedEntry& entry : sorted)
    if (selected(entry.name)) entries.emplace_back(entry.name, entry.value->GetString());
  stream.Write(tag, entries);
}

void CQelVariables::Serialize(CSerializer& stream) const {
  stream.Write(1, m_quoteChars);
  WriteSelected(stream, 2, &IsGameVariable);
  stream.Write(3, m_scopes);
}

void CQelVariables::Deserialize(CSerializer& stream) {
  stream.Read(1, m_quoteChars);
  // A map in the stream reads as its pairs, in order; a name given twice
  // (a damaged file) ends with its last value, as in a map.
  std::vector<std::pair<std::string_view, std::string_view>> game;
  stream.Read(2, game);
  Clear();
  Reserve(game.size());
  for (const auto& [name, text] : game) FindOrCreateOwn(std::string(name)).SetString(std::string(text));

  if (g_deserializeDepth >= kMaxScopeNesting) return;
  ++g_deserializeDepth;
  std::deque<CScope> scopes;
  const bool missing = stream.Read(3, scopes);
  --g_deserializeDepth;
  if (!missing) m_scopes = std::move(scopes);
}

void CQelVariables::WritePrefixed(CSerializer& stream, std::string_view prefix, uint32_t tag) const {
  WriteSelected(stream, tag, [prefix](std::string_view name) { return HasPrefix(name, prefix); });
}

bool CQelVariables::ReadPrefixed(CSerializer& stream, uint32_t tag) {
  std::map<std::string, std::string> entries;
  if (stream.Read(tag, entries)) return true;
  for (const auto& [name, text] : entries) FindOrCreateOwn(name).SetString(text);
  return false;
}

void SetInitialVariables(CQelVariables& store, bool openGles2Capable) {
  store.SetInt("s.opengles2capable", openGles2Capable ? 1 : 0);
  store.SetInt("s.engineversion", 1260);
  store.SetInt("s.savedataversion", 1000);
  store.SetInt("s.bgmvol", 1000);
  store.SetInt("s.sevol", 1000);
  store.SetInt("s.voicevol", 1000);
  store.SetInt("s.automodewait", 1000);
  store.ClearQuoteChars();
  store.AddQuoteChar('\'');
}

void SetInitialVariables(CQelVariables& store) {
  bool capable = false;
  CDynamicVariables::Instance()->Get("OpenGLES2Capable", capable);
  SetInitialVariables(store, capable);
}
