// Helpers for the parser tests: parse UTF-8 written sources (converted to
// CP932 like real scripts) and describe the records as short UTF-8 strings.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "files/Config.h"
#include "platform/TextCodec.h"
#include "script/QelParser.h"
#include "script/tags/TagFamilies.h"

namespace parser_test {

inline std::string Sjis(std::string_view utf8) { return Utf8ToCp932(utf8); }

inline std::string Visible(const std::string& cp932) {
  std::string out;
  for (char c : Cp932ToUtf8(cp932)) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// "text@1:Hello", "label@2:start", "tag@3:a{x=1,y=two words}", "error@4:...".
inline std::string Describe(const CScriptBlock& block) {
  static const char* const kNames[] = {"text", "label", "tag", "error"};
  std::string out = block.GetType() >= 0 && block.GetType() <= 3 ? kNames[block.GetType()] : "?";
  out += "@" + std::to_string(block.GetLine()) + ":" + Visible(block.GetText());
  if (block.GetType() == CScriptBlock::kTag) {
    out += "{";
    bool first = true;
    for (const auto& [name, value] : block.GetAttributes()) {
      if (!first) out += ",";
      first = false;
      out += Visible(name) + "=" + Visible(value);
    }
    out += "}";
  }
  return out;
}

inline std::vector<std::string> Describe(const std::vector<CScriptBlock>& blocks) {
  std::vector<std::string> out;
  for (const CScriptBlock& block : blocks) out.push_back(Describe(block));
  return out;
}

inline std::string ErrorAt(int line, const std::string& cp932Message) {
  return "error@" + std::to_string(line) + ":" + Visible(cp932Message);
}

// Parse errors that carry the tag name and line.
inline std::string TagErrorAt(int line, const std::string& format, const std::string& tag) {
  return ErrorAt(line, script_messages::Format(format, tag, line));
}

// Parses CP932 bytes held in a buffer of exactly their size plus the
// terminator, so that the sanitizer sees any read past the end.
inline std::vector<CScriptBlock> ParseBytes(CQelParser& parser, const std::string& cp932) {
  std::unique_ptr<char[]> buffer(new char[cp932.size() + 1]);
  std::copy(cp932.begin(), cp932.end(), buffer.get());
  buffer[cp932.size()] = '\0';
  parser.Parse(buffer.get());
  return parser.TakeBlocks();
}

struct Options {
  const char* tagIni = nullptr;  // UTF-8 INI text; nullptr means no tag.ini
};

inline std::vector<std::string> ParseCp932(const std::string& cp932, Options options = {}) {
  CQelParser parser(GetTagRegistry());
  CIni ini;
  if (options.tagIni != nullptr) {
    ini.Parse(Sjis(options.tagIni).c_str());
    parser.SetTagIni(&ini);
  } else {
    parser.SetTagIni(nullptr);
  }
  return Describe(ParseBytes(parser, cp932));
}

inline std::vector<std::string> Parse(std::string_view utf8, Options options = {}) {
  return ParseCp932(Sjis(utf8), options);
}

// Most syntax tests want plain text lines.
inline std::vector<std::string> ParseText(std::string_view utf8, Options options = {}) {
  return Parse("[&linetag allow=0]" + std::string(utf8), options);
}

}  // namespace parser_test
