#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Serializer.h"
#include "vars/Compute.h"

// The interpreter's variable store.
//
// The prefix of a name decides where the variable persists: "s." system variables
// ("system.dat"), "g." global variables ("saveg.dat"), "t." temporaries (never written),
// anything else game variables (each save slot). Reads consult the top local scope first,
// then the main store; writes always go to the main store and raise the global or system
// changed flag when they change a "g." or "s." variable.
class CQelVariables : public CCompute, public ISerializable {
 public:
  CQelVariables();
  ~CQelVariables() override;

  CVariant* Find(const std::string& name) override;
  int32_t GetInt(const std::string& name) override;
  std::string GetString(const std::string& name) override;
  void SetInt(const std::string& name, int32_t n) override;
  void SetString(const std::string& name, const std::string& text) override;
  // Return the flag and clear it.
  virtual bool TakeGlobalChanged();
  virtual bool TakeSystemChanged();

  // Local scopes (one per call or macro invocation). The store owns them.
  CQelVariables* PushScope();
  void PopScope();
  CQelVariables* TopScope() const;
  size_t ScopeCount() const { return m_scopes.size(); }
  CQelVariables* Scope(size_t index) const { return m_scopes[index].m_store.get(); }

  // A save slot's share of the store: the quote set (tag 1), the game variables of the
  // main store as texts (tag 2) and the local scopes, each as a nested store (tag 3).
  // Reading replaces the whole main store, so global and system variables must be read
  // again afterwards; every restored game variable is a text.
  void Serialize(CSerializer& stream) const override;
  void Deserialize(CSerializer& stream) override;

  // Writes, under one field tag, the main store's variables whose names begin with the
  // prefix, as a map of name to text.
  void WritePrefixed(CSerializer& stream, std::string_view prefix, uint32_t tag) const;
  // Reads such a map and stores each entry as text without touching the changed flags.
  // Returns true when the field could not be read.
  bool ReadPrefixed(CSerializer& stream, uint32_t tag);

  // Deepest scope nesting read back from a stream; deeper levels are dropped (the engine
  // itself never writes scopes inside scopes).
  static constexpr int kMaxScopeNesting = 8;

 private:
  // One entry of the scope stack, as the stream sees it.
  class CScope final : public ISerializable {
   public:
    CScope();
    CScope(CScope&&) noexcept;
    CScope& operator=(CScope&&) noexcept;
    ~CScope() override;
    void Serialize(CSerializer& stream) const override;
    void Deserialize(CSerializer& stream) override;

    std::unique_ptr<CQelVariables> m_store;
  };

  bool ChangeStore(const std::string& name, const CVariant* old, bool equal);

  // Every variable of this store in name order, kept while no name comes or
  // goes (saves write thousands of variables whose names seldom change).
  struct CSortedEntry {
    uint64_t head;  // the first eight bytes, big-endian, zero-padded
    std::string_view name;
    const CVariant* value;
  };
  const std::vector<CSortedEntry>& SortedVariables() const;
  // Writes the variables whose names are selected as a map under tag.
  template <class Selected>
  void WriteSelected(CSerializer& stream, uint32_t tag, Selected selected) const;

  std::deque<CScope> m_scopes;
  bool m_globalChanged = false;
  bool m_systemChanged = false;
  mutable std::vector<CSortedEntry> m_sorted;
  mutable uint64_t m_sortedGeneration = UINT64_MAX;
};

// Gives a new interpreter's store its start-up state: the quote set holds only the
// apostrophe and the engine's system variables get their defaults (set as changes, so
// they reach "system.dat" at the next flush unless that file overrides them on load).
void SetInitialVariables(CQelVariables& store, bool openGles2Capable);
// The same, with "s.opengles2capable" taken from the process-wide entry "OpenGLES2Capable"
// (a bool; absent means false).
void SetInitialVariables(CQelVariables& store);

// True when the name belongs to the namespace of the prefix ("s.", "g.", "t.").
bool HasPrefix(std::string_view name, std::string_view prefix);
// True for game variables: names in none of the "g.", "s." and "t." namespaces.
bool IsGameVariable(std::string_view name);
