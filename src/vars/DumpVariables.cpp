#include "vars/DumpVariables.h"

#include <algorithm>
#include <vector>

#include "platform/TextCodec.h"
#include "vars/Variables.h"

std::string EscapeDumpText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out.push_back(c); break;
    }
  }
  return out;
}

std::string DumpVariables(const CVariables& store) {
  std::vector<const CVariables::Map::value_type*> entries;
  entries.reserve(store.Variables().size());
  for (const auto& entry : store.Variables()) entries.push_back(&entry);
  // std::string compares bytes as unsigned values, so this is byte order.
  std::sort(entries.begin(), entries.end(), [](const auto* a, const auto* b) { return a->first < b->first; });

  std::string out;
  for (const auto* entry : entries) {
    out += EscapeDumpText(Cp932ToUtf8(entry->first));
    out += '\t';
    out += entry->second.IsString() ? 's' : 'i';
    out += '\t';
    out += EscapeDumpText(Cp932ToUtf8(entry->second.GetString()));
    out += '\n';
  }
  return out;
}
