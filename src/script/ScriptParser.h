// Byte-level state machine that reads CP932 scenario scripts and reports what
// it recognises (text runs, labels, bracket tags, line tags, errors) through
// virtual hooks. A derived parser builds records from the hooks.
//
// Syntax in brief: lines are separated by LF (CR is ignored outside raw
// blocks). A line is blank, a "//" comment, a "/* */" comment, a "*label", a
// run of "[tag attr=value ...]" tags, an "@" (click-wait tag), a line tag
// ("name arg,arg,...", enabled with or without a prefix character), or text
// with inline tags. Inside tag names, attribute names and values, and text, a
// backslash makes the next byte literal. Lead bytes (0x80-0x9F, 0xE0-0xFF)
// always take the following byte with them, so a double-byte character whose
// second byte is '[', ']' or a backslash never acts as that character.
//
// Raw-block tags (for example "lua") swallow everything up to their closing
// "[/name]" into the attribute "script".
//
// Insertion texts (line-head, line-end, blank-line, and per-final-character
// lists) are parsed by the same parser, nested in the current parse; their
// records carry the line they were inserted for. An insertion text may
// trigger insertions of the other kinds (a per-character text starting a
// line gets the line-head text), never of its own kind while it is parsed,
// so an insertion that would insert itself again (for instance a line-head
// text that is itself text) cannot recurse forever.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class CScriptParser {
 public:
  using AttributeMap = std::map<std::string, std::string>;
  using InsertionList = std::vector<std::string>;

  CScriptParser();
  virtual ~CScriptParser();
  CScriptParser(const CScriptParser&) = delete;
  CScriptParser& operator=(const CScriptParser&) = delete;

  // Parses zero-terminated text (nothing after the first NUL is read). Always
  // returns false: bad input becomes OnError reports and parsing goes on.
  // May be called again from inside a hook; such a nested parse gives all its
  // records the current line (line feeds inside it do not count) and leaves
  // the outer parse's line count as it was.
  virtual bool Parse(const char* text);
  bool Parse(const std::string& text) { return Parse(text.c_str()); }

  // Current 1-based line while parsing; 0 outside a parse.
  int GetLine() const { return m_line; }

  bool GetLineTagEnabled() const { return m_lineTagEnabled; }
  char GetLineTagPrefix() const { return m_lineTagPrefix; }
  void SetLineTagEnabled(bool enabled) { m_lineTagEnabled = enabled; }
  void SetLineTagPrefix(char prefix) { m_lineTagPrefix = prefix; }

  void AddRawBlockTag(const std::string& name) { m_rawBlockTags.insert(name); }
  bool IsRawBlockTag(const std::string& name) const { return m_rawBlockTags.count(name) != 0; }

  // Texts parsed after a text line, chosen by the line's final character (one
  // byte, or a two-byte CP932 character); the default list serves characters
  // that have no list of their own.
  const InsertionList& GetDefaultLineEndInsertions() const { return *m_defaultLineEnd; }
  // The list of a final character, or nullptr when it has none.
  const InsertionList* FindLineEndInsertions(const std::string& finalChar) const;
  // Appends a text to the default list (finalChar nullptr) or to the list of
  // that final character, creating it.
  void AddLineEndInsertion(const std::string* finalChar, std::string text);
  // Empties the default list and drops every list by final character.
  void ClearLineEndInsertions();

 protected:
  // Hooks. Strings and maps passed by non-const reference are the parser's
  // working buffers: a hook may move from them, they are cleared afterwards.
  // `position` points at the byte being read in the text being parsed.
  virtual void OnLineStart(const char* position);
  virtual bool OnText(std::string& text);
  virtual void OnLineEnd(const char* position, size_t offset);
  virtual bool OnLabel(std::string& label);
  virtual bool OnTag(std::string& name, AttributeMap& attributes);
  virtual bool OnLineTag(std::string& name, std::vector<std::string>& arguments);
  virtual void OnError(const std::string& message);
  virtual void OnBlankLine();
  virtual void OnEnd();

  // The kinds of insertion text.
  enum class Insertion : unsigned { kLineHead, kLineEnd, kBlankLine, kFinalChar };
  // Parses an insertion text nested in the current parse. Does nothing for an
  // empty text or while a text of the same kind is being parsed.
  void ParseInsertion(Insertion kind, const std::string& text);

  // Empties the five working strings, the line-tag arguments and the
  // attribute map.
  void ResetBuffers();

  int m_line = 0;
  bool m_lineTagEnabled = true;
  char m_lineTagPrefix = 0;
  std::set<std::string> m_rawBlockTags;
  // Lists are never edited in place but replaced, so that a list being run
  // stays whole while a directive inside one of its texts changes the lists.
  using SharedList = std::shared_ptr<const InsertionList>;
  SharedList m_defaultLineEnd;
  std::map<std::string, SharedList> m_lineEndByChar;

  std::string m_text;
  std::string m_label;
  std::string m_tagName;
  std::string m_attributeName;  // also the current line-tag argument
  std::string m_attributeValue;
  std::vector<std::string> m_arguments;
  AttributeMap m_attributes;

 private:
  // One parse's reading position and state. It lives on Parse's stack, so a
  // parse started from inside a hook runs on a cursor of its own.
  struct Cursor;

  // One method per parser state. Each reads from the cursor until it moves
  // to another state or the text ends.
  void ReadBetween(Cursor& cur);
  void ReadLineComment(Cursor& cur);
  void ReadBlockComment(Cursor& cur);
  void ReadLineTagName(Cursor& cur);
  void ReadLineTagArgs(Cursor& cur);
  void ReadLabel(Cursor& cur);
  void ReadTagName(Cursor& cur);
  void ReadAttrName(Cursor& cur);
  void ReadAfterAttrName(Cursor& cur);
  void ReadAttrValue(Cursor& cur);
  void ReadTextLine(Cursor& cur);
  void ReadRawBlock(Cursor& cur);
  // Reports what the end of the text left open.
  void FinishText(const Cursor& cur);

  void StartLine(Cursor& cur);
  void FlushText();
  void EmitAt();
  void EmitBracketTag(Cursor& cur);
  void EndTextLine(Cursor& cur);
  void EndLineTag(Cursor& cur);
  void CommitAttribute();
  void ReportTagError(const std::string& format);
  void RunLineEndInsertions(const std::string& finalChar);

  bool m_textEndsWithPair = false;  // the text buffer ends with a two-byte character
  unsigned m_activeInsertions = 0;  // bits of the Insertion kinds being parsed
};

// Error texts the parser reports (CP932). Each holds "%s" for the tag name
// and "%d" for the line; exposed for tests and tools.
namespace script_messages {
const std::string& StrayEquals();      // '=' where an attribute name was expected
const std::string& StrayWideChar();    // double-byte character after a bare attribute name
const std::string& StrayNarrowChar();  // other byte after a bare attribute name
const std::string& BadTagEnd();        // tag ended without a value, or by the end of the text
// Fills "%s" and "%d" of one of the texts above.
std::string Format(const std::string& format, const std::string& tagName, int line);
}  // namespace script_messages
