#include "vars/Variables.h"

CVariables::CVariables() : m_variables(50) {}

CVariables::~CVariables() = default;

CVariant* CVariables::FindOwn(const std::string& name) {
  auto it = m_variables.find(name);
  return it == m_variables.end() ? nullptr : &it->second;
}

CVariant& CVariables::FindOrCreateOwn(const std::string& name) {
  auto [it, added] = m_variables.try_emplace(name);
  if (added) ++m_nameGeneration;
  return it->second;
}

CVariant& CVariables::FindOrCreateOwn(std::string&& name) {
  auto [it, added] = m_variables.try_emplace(std::move(name));
  if (added) ++m_nameGeneration;
  return it->second;
}

CVariant* CVariables::Find(const std::string& name) { return FindOwn(name); }

int32_t CVariables::GetInt(const std::string& name) {
  const CVariant* v = Find(name);
  return v ? v->GetInt() : 0;
}

std::string CVariables::GetString(const std::string& name) {
  const CVariant* v = Find(name);
  return v ? v->GetString() : std::string();
}

void CVariables::SetInt(const std::string& name, int32_t n) { FindOrCreateOwn(name).SetInt(n); }

void CVariables::SetString(const std::string& name, const std::string& text) { FindOrCreateOwn(name).SetString(text); }
