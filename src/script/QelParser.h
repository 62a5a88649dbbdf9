// The engine's script parser: turns one script file into its list of records.
//
// On top of the byte-level parser it checks the attributes every tag needs,
// maps line-tag arguments to attribute names through "tag.ini", collects raw
// "lua" blocks, and runs the directives (tags whose names begin with '&') that
// reconfigure the parse of the rest of the file:
//   [&linetag allow=0|1 prefix=c]            line tags off, on, on with a prefix
//   [&autoinsert target=T command=text]      T: blankline, linehead, lineend
//   [&scpsupport mode=init|add|addsp char=c command=text]
//                                            texts inserted after text lines,
//                                            chosen by the line's final character
// Use a new parser for every file: directive settings last to the end of it.
#pragma once

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/ScriptBlock.h"
#include "script/ScriptParser.h"

class CIni;
class CTagRegistry;

// Scripts larger than this are not read (no scenario comes near it).
constexpr size_t kMaxScriptSize = size_t{256} << 20;

class CQelParser : public CScriptParser {
 public:
  // tags: the registry whose rows say which attributes each tag needs.
  explicit CQelParser(const CTagRegistry& tags);
  ~CQelParser() override;

  // Records parsed so far (every one carries the line it was completed on).
  const std::vector<CScriptBlock>& GetBlocks() const { return m_blocks; }
  // Hands the records over and leaves the parser's list empty.
  std::vector<CScriptBlock> TakeBlocks();

  // Makes room for the records of the text before parsing it.
  bool Parse(const char* text) override;
  using CScriptParser::Parse;

  // Line tags normally read "tag.ini" through the process-wide INI cache.
  // A parser can be given its own document instead (nullptr: no tag.ini).
  void SetTagIni(const CIni* tagIni);

  const std::string& GetBlankLineInsertion() const { return m_blankLineText; }
  const std::string& GetLineHeadInsertion() const { return m_lineHeadText; }
  const std::string& GetLineEndInsertion() const { return m_lineEndText; }

  // Tag name -> attributes that must be present, in the order they are
  // checked.
  using RequiredTable = std::unordered_map<std::string, std::vector<std::string>>;
  RequiredTable GetRequiredAttributes() const;

 protected:
  void OnLineStart(const char* position) override;
  bool OnText(std::string& text) override;
  void OnLineEnd(const char* position, size_t offset) override;
  bool OnLabel(std::string& label) override;
  bool OnTag(std::string& name, AttributeMap& attributes) override;
  bool OnLineTag(std::string& name, std::vector<std::string>& arguments) override;
  void OnError(const std::string& message) override;
  void OnBlankLine() override;

 private:
  void AddError(const std::string& message);
  const CIni* GetTagIni();

  // Directives (tags whose names begin with '&').
  void RunDirective(const std::string& name, const AttributeMap& attributes);
  void DirectiveLineTag(const AttributeMap& attributes);
  void DirectiveAutoInsert(const AttributeMap& attributes);
  void DirectiveScpSupport(const AttributeMap& attributes);

  const CTagRegistry& m_tags;
  std::vector<CScriptBlock> m_blocks;
  std::string m_blankLineText;
  std::string m_lineHeadText;
  std::string m_lineEndText;

  bool m_tagIniKnown = false;  // m_tagIni has been looked up (or given)
  const CIni* m_tagIni = nullptr;
};

// Error texts of the record builder and the directives (CP932).
namespace script_messages {
// "[ERROR] タグ <tag> の必須パラメータ <attribute> が見つかりません。..."
std::string MissingAttribute(const std::string& tagName, const std::string& attribute);
const std::string& LineTagWithoutTagIni();
const std::string& LineTagNotConfigured();
const std::string& BadScpSupportMode();
const std::string& UnknownDirective();
}  // namespace script_messages
