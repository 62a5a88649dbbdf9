#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "vars/Variant.h"

// A plain variable store: names (exact, case-sensitive byte strings) to values.
// Pointers returned by Find stay valid until the variable is removed by Clear.
class CVariables {
 public:
  using Map = std::unordered_map<std::string, CVariant>;

  CVariables();
  CVariables(const CVariables&) = delete;
  CVariables& operator=(const CVariables&) = delete;
  virtual ~CVariables();

  virtual CVariant* Find(const std::string& name);
  virtual int32_t GetInt(const std::string& name);
  virtual std::string GetString(const std::string& name);
  virtual void SetInt(const std::string& name, int32_t n);
  virtual void SetString(const std::string& name, const std::string& text);

  // Direct access to this store's own map, bypassing any override.
  const Map& Variables() const { return m_variables; }
  CVariant* FindOwn(const std::string& name);
  // Returns the variable, creating it as the number 0 when absent.
  CVariant& FindOrCreateOwn(const std::string& name);
  CVariant& FindOrCreateOwn(std::string&& name);
  void Clear() {
    m_variables.clear();
    ++m_nameGeneration;
  }
  // Makes room for this many variables without rehashing.
  void Reserve(size_t count) { m_variables.reserve(count); }
  // Changes each time the set of names changes (a variable added, or all
  // cleared); values changing leave it. What is derived from the names and
  // the variables' addresses stays right while it stays the same.
  uint64_t GetNameGeneration() const { return m_nameGeneration; }

 private:
  Map m_variables;
  uint64_t m_nameGeneration = 0;
};
