#include "script/tags/TagUtil.h"

#include "core/Numbers.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace tagutil {

int Atoi(std::string_view text) { return numbers::Atoi(text); }

std::vector<std::string> SplitCommaList(std::string_view text) {
  std::vector<std::string> out;
  std::string piece;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (IsLeadByte(c) && i + 1 < text.size()) {
      piece += text[i];
      piece += text[++i];
    } else if (c == ',') {
      out.push_back(std::move(piece));
      piece.clear();
    } else {
      piece += text[i];
    }
  }
  if (!piece.empty()) out.push_back(std::move(piece));
  return out;
}

namespace {
// Calls match(position) at every character start; stops when it returns true.
template <class F>
void ForEachCharStart(std::string_view text, F match) {
  for (size_t i = 0; i < text.size();) {
    if (match(i)) return;
    i += (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
  }
}
}  // namespace

std::string ReplaceToken(std::string_view text, std::string_view token, std::string_view value) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (!token.empty() && text.substr(i, token.size()) == token) {
      out += value;
      i += token.size();
    } else if (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
      out += text.substr(i, 2);
      i += 2;
    } else {
      out += text[i++];
    }
  }
  return out;
}

void AddFamilyOrDie(CTagRegistry& registry, const char* name, CTagRegistry::StateFactory factory,
                    std::vector<CTagRow> rows) {
  if (registry.AddFamily(name, factory, std::move(rows))) {
    std::fprintf(stderr, "tag family %s names a tag that is registered already\n", name);
    std::abort();
  }
}

}  // namespace tagutil
