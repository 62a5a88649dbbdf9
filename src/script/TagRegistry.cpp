#include "script/TagRegistry.h"

bool CTagRegistry::AddFamily(std::string name, StateFactory factory, std::vector<CTagRow> rows) {
  std::unordered_map<std::string_view, int> seen;
  for (const CTagRow& row : rows) {
    if (m_index.count(row.name) || seen[row.name]++) return true;
  }
  const size_t family = m_familyNames.size();
  m_familyNames.push_back(std::move(name));
  m_factories.push_back(factory);
  // Rows live in a vector that grows: rebuild the name index over it.
  for (CTagRow& row : rows) {
    row.family = family;
    m_rows.push_back(std::move(row));
  }
  m_index.clear();
  for (size_t i = 0; i < m_rows.size(); ++i) m_index.emplace(m_rows[i].name, i);
  return false;
}

const CTagRow* CTagRegistry::Find(std::string_view name) const {
  auto it = m_index.find(name);
  return it == m_index.end() ? nullptr : &m_rows[it->second];
}

size_t CTagRegistry::FamilyIndex(const std::string& name) const {
  for (size_t i = 0; i < m_familyNames.size(); ++i) {
    if (m_familyNames[i] == name) return i;
  }
  return m_familyNames.size();
}

std::vector<std::unique_ptr<CTagFamilyState>> CTagRegistry::CreateStates() const {
  std::vector<std::unique_ptr<CTagFamilyState>> states;
  states.reserve(m_factories.size());
  for (StateFactory factory : m_factories) states.push_back(factory());
  return states;
}
