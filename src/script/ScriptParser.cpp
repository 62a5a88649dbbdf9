#include "script/ScriptParser.h"

#include <cstring>

#include "core/Cp932.h"
#include "platform/TextCodec.h"

namespace {

// The parser's lead bytes are wider than CP932 proper, so that any byte that
// could start a double-byte character takes its follower with it.
inline bool IsLead(unsigned char c) { return cp932::IsScriptLeadByte(c); }
inline bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }

// Bytes that end a run of plain characters in one state.
struct StopSet {
  bool stop[256];
};

constexpr StopSet MakeStops(const char* bytes) {
  StopSet set{};
  set.stop[0] = true;
  for (; *bytes != '\0'; ++bytes) set.stop[static_cast<unsigned char>(*bytes)] = true;
  return set;
}

constexpr StopSet kTextStops = MakeStops("\r\n[@\\");
constexpr StopSet kLabelStops = MakeStops("\r\n");
constexpr StopSet kTagNameStops = MakeStops(" \t\r\n]\\");
constexpr StopSet kAttrNameStops = MakeStops(" \t\r\n=]\\");
constexpr StopSet kAttrValueStops = MakeStops("\" \t\r\n]\\");
constexpr StopSet kLineTagNameStops = MakeStops(" \t\r\n\\");
constexpr StopSet kLineTagArgStops = MakeStops(",\r\n\\");
constexpr StopSet kLineCommentStops = MakeStops("\n");
constexpr StopSet kBlockCommentStops = MakeStops("\n*");
constexpr StopSet kRawStops = MakeStops("[\n");

enum State {
  kBetween = 0,
  kLineComment = 1,
  kBlockComment = 2,
  kLineTagName = 3,
  kLineTagArgs = 4,
  kLabel = 5,
  kTagName = 6,
  kAttrName = 7,
  kAfterAttrName = 8,
  kAttrValue = 9,
  kTextLine = 10,
  kRawBlock = 11,
};

}  // namespace

struct CScriptParser::Cursor {
  Cursor(const char* source, int& lineCounter, int step)
      : text(source),
        bytes(reinterpret_cast<const unsigned char*>(source)),
        size(std::strlen(source)),
        line(lineCounter),
        lineStep(step) {}

  bool AtEnd() const { return pos >= size; }
  unsigned char Peek() const { return bytes[pos]; }
  bool NextIs(char c) const { return pos + 1 < size && bytes[pos + 1] == static_cast<unsigned char>(c); }
  const char* Here() const { return text + pos; }

  // Any line feed consumed counts as a line, even one swallowed as the
  // second byte of a pair, so line numbers stay true on malformed input.
  void CountLine() { line += lineStep; }
  void NewLine() {
    CountLine();
    atLineStart = true;
  }

  // Steps over the character starting with the lead byte at pos: the lead
  // and whatever byte follows it, or the lead alone when it ends the text.
  void SkipPair() {
    if (pos + 1 < size) {
      if (bytes[pos + 1] == '\n') CountLine();
      pos += 2;
    } else {
      ++pos;
    }
  }
  void TakePair(std::string& buf) {
    const size_t start = pos;
    SkipPair();
    buf.append(text + start, pos - start);
  }

  // The scanning step every state shares: advances over bytes that `stops`
  // does not mark and over whole double-byte characters, whose second byte
  // is never looked at as a stop (a trail byte '[', ']' or '\\' stays part of
  // its character). Returns where the run began. lastPair tells whether the
  // last character passed was a pair.
  size_t SkipRun(const StopSet& stops, bool& lastPair) {
    const size_t start = pos;
    while (pos < size) {
      const unsigned char c = bytes[pos];
      if (IsLead(c)) {
        SkipPair();
        lastPair = true;
      } else if (stops.stop[c]) {
        break;
      } else {
        ++pos;
        lastPair = false;
      }
    }
    return start;
  }
  void TakeRun(std::string& buf, const StopSet& stops, bool& lastPair) {
    const size_t start = SkipRun(stops, lastPair);
    buf.append(text + start, pos - start);
  }
  void TakeRun(std::string& buf, const StopSet& stops) {
    bool lastPair = false;
    TakeRun(buf, stops, lastPair);
  }

  // pos is at a backslash: the next byte goes into buf literally, except a
  // lead byte, which is read as a character. Returns true when a pair was
  // taken.
  bool TakeEscaped(std::string& buf) {
    ++pos;
    if (AtEnd()) return false;
    if (IsLead(Peek())) {
      TakePair(buf);
      return true;
    }
    buf.push_back(text[pos]);
    if (Peek() == '\n') CountLine();
    ++pos;
    return false;
  }

  const char* const text;
  const unsigned char* const bytes;
  const size_t size;
  size_t pos = 0;
  int& line;
  const int lineStep;  // 0 in a nested parse: its line feeds are not lines of the file
  int state = kBetween;
  bool atLineStart = true;
  bool quoted = false;               // inside "..." of an attribute value
  std::string* rawScript = nullptr;  // attributes["script"] once it exists
};

namespace script_messages {

const std::string& StrayEquals() {
  static const std::string text =
      Utf8ToCp932("タグ \"%s\" 内に不正なイコール \"=\" が見つかりました。無視されます。(%d 行目)\n");
  return text;
}

const std::string& StrayWideChar() {
  static const std::string text =
      Utf8ToCp932("タグ \"%s\" 内に不正な全角文字が見つかりました。無視されます。(%d 行目)\n");
  return text;
}

const std::string& StrayNarrowChar() {
  static const std::string text =
      Utf8ToCp932("タグ \"%s\" 内に不正な半角文字が見つかりました。無視されます。(%d 行目)\n");
  return text;
}

const std::string& BadTagEnd() {
  static const std::string text =
      Utf8ToCp932("タグ \"%s\" が不正に終了しています。このタグは無視されます。(%d 行目)\n");
  return text;
}

std::string Format(const std::string& format, const std::string& tagName, int line) {
  std::string out;
  out.reserve(format.size() + tagName.size() + 8);
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == 's') {
        out += tagName;
        ++i;
        continue;
      }
      if (format[i + 1] == 'd') {
        out += std::to_string(line);
        ++i;
        continue;
      }
    }
    out.push_back(format[i]);
  }
  return out;
}

}  // namespace script_messages

CScriptParser::CScriptParser() : m_defaultLineEnd(std::make_shared<const InsertionList>()) {}
CScriptParser::~CScriptParser() = default;

void CScriptParser::OnLineStart(const char*) {}
bool CScriptParser::OnText(std::string&) { return false; }
void CScriptParser::OnLineEnd(const char*, size_t) {}
bool CScriptParser::OnLabel(std::string&) { return false; }
bool CScriptParser::OnTag(std::string&, AttributeMap&) { return false; }
bool CScriptParser::OnLineTag(std::string&, std::vector<std::string>&) { return false; }
void CScriptParser::OnError(const std::string&) {}
void CScriptParser::OnBlankLine() {}
void CScriptParser::OnEnd() {}

void CScriptParser::ResetBuffers() {
  m_text.clear();
  m_label.clear();
  m_tagName.clear();
  m_attributeName.clear();
  m_attributeValue.clear();
  m_arguments.clear();
  m_attributes.clear();
  m_textEndsWithPair = false;
}

void CScriptParser::ReportTagError(const std::string& format) {
  OnError(script_messages::Format(format, m_tagName, m_line));
}

void CScriptParser::ParseInsertion(Insertion kind, const std::string& text) {
  const unsigned bit = 1u << static_cast<unsigned>(kind);
  if (text.empty() || (m_activeInsertions & bit)) return;
  // The text may be replaced by a directive inside it while it is parsed.
  const std::string copy = text;
  m_activeInsertions |= bit;
  Parse(copy.c_str());
  m_activeInsertions &= ~bit;
}

const CScriptParser::InsertionList* CScriptParser::FindLineEndInsertions(const std::string& finalChar) const {
  auto it = m_lineEndByChar.find(finalChar);
  return it == m_lineEndByChar.end() ? nullptr : it->second.get();
}

void CScriptParser::AddLineEndInsertion(const std::string* finalChar, std::string text) {
  SharedList& slot = finalChar != nullptr ? m_lineEndByChar[*finalChar] : m_defaultLineEnd;
  auto list = slot ? std::make_shared<InsertionList>(*slot) : std::make_shared<InsertionList>();
  list->push_back(std::move(text));
  slot = std::move(list);
}

void CScriptParser::ClearLineEndInsertions() {
  m_defaultLineEnd = std::make_shared<const InsertionList>();
  m_lineEndByChar.clear();
}

void CScriptParser::RunLineEndInsertions(const std::string& finalChar) {
  // A line ended inside a per-character text runs no list at all: a list that
  // reached itself would never end, and lists reaching one another would
  // multiply past any bound.
  if (m_activeInsertions & (1u << static_cast<unsigned>(Insertion::kFinalChar))) return;
  auto it = m_lineEndByChar.find(finalChar);
  // Held while it runs: a directive inside may replace the lists.
  const SharedList list = it == m_lineEndByChar.end() ? m_defaultLineEnd : it->second;
  if (!list) return;
  for (const std::string& text : *list) ParseInsertion(Insertion::kFinalChar, text);
}

void CScriptParser::StartLine(Cursor& cur) {
  if (cur.atLineStart) {
    cur.atLineStart = false;
    OnLineStart(cur.Here());
  }
}

void CScriptParser::FlushText() {
  if (!m_text.empty()) {
    OnText(m_text);
    ResetBuffers();
  }
}

void CScriptParser::EmitAt() {
  std::string name = "@";
  AttributeMap none;
  OnTag(name, none);
}

// Emits the bracket tag in the buffers, or enters the raw block for a
// raw-block tag (the buffers then stay until its closing tag).
void CScriptParser::EmitBracketTag(Cursor& cur) {
  if (IsRawBlockTag(m_tagName)) {
    cur.state = kRawBlock;
    auto it = m_attributes.find("script");
    cur.rawScript = it == m_attributes.end() ? nullptr : &it->second;
    return;
  }
  cur.state = kBetween;
  OnTag(m_tagName, m_attributes);
  ResetBuffers();
}

void CScriptParser::CommitAttribute() {
  m_attributes[m_attributeName] = std::move(m_attributeValue);
  m_attributeName.clear();
  m_attributeValue.clear();
}

// cur is at the line feed that ends a text line.
void CScriptParser::EndTextLine(Cursor& cur) {
  cur.state = kBetween;
  if (!m_text.empty()) {
    // The final character picks the line-end insertion list.
    const size_t last = m_textEndsWithPair && m_text.size() >= 2 ? 2 : 1;
    std::string finalChar = m_text.substr(m_text.size() - last);
    OnText(m_text);
    ResetBuffers();
    RunLineEndInsertions(finalChar);
  }
  OnLineEnd(cur.Here(), cur.pos);
  cur.NewLine();
  ++cur.pos;
}

// The line feed that ends a line tag has been read.
void CScriptParser::EndLineTag(Cursor& cur) {
  cur.state = kBetween;
  OnLineTag(m_tagName, m_arguments);
  ResetBuffers();
  cur.NewLine();
}

void CScriptParser::ReadBetween(Cursor& cur) {
  while (!cur.AtEnd()) {
    const unsigned char c = cur.Peek();
    if (IsLead(c)) {
      StartLine(cur);
      cur.TakePair(m_text);
      m_textEndsWithPair = true;
      cur.state = kTextLine;
      return;
    }
    if (IsBlank(c) || c == '\r') {
      ++cur.pos;
      continue;
    }
    if (c == '\n') {
      if (cur.atLineStart) OnBlankLine();
      cur.NewLine();
      ++cur.pos;
      continue;
    }
    if (c == '\\') {
      // The backslash only makes the line a text line; '[' and '@' right
      // after it still act.
      StartLine(cur);
      ++cur.pos;
      cur.state = kTextLine;
      return;
    }
    const bool lineStart = cur.atLineStart;
    cur.atLineStart = false;
    const bool lineTags = lineStart && m_lineTagEnabled;
    if (lineTags && m_lineTagPrefix != 0 && c == static_cast<unsigned char>(m_lineTagPrefix)) {
      FlushText();
      ++cur.pos;
      cur.state = kLineTagName;
      return;
    }
    if (c == '@') {
      EmitAt();
      ++cur.pos;
      continue;
    }
    if (c == '/' && (cur.NextIs('/') || cur.NextIs('*'))) {
      cur.state = cur.NextIs('/') ? kLineComment : kBlockComment;
      cur.pos += 2;
      return;
    }
    if (c == '*') {
      ++cur.pos;
      cur.state = kLabel;
      return;
    }
    if (c == '[') {
      FlushText();
      ++cur.pos;
      cur.state = kTagName;
      return;
    }
    if (lineTags && m_lineTagPrefix == 0) {
      FlushText();
      m_tagName.push_back(static_cast<char>(c));
      ++cur.pos;
      cur.state = kLineTagName;
      return;
    }
    if (lineStart) OnLineStart(cur.Here());
    m_text.push_back(static_cast<char>(c));
    m_textEndsWithPair = false;
    ++cur.pos;
    cur.state = kTextLine;
    return;
  }
}

void CScriptParser::ReadLineComment(Cursor& cur) {
  bool pair = false;
  cur.SkipRun(kLineCommentStops, pair);
  if (cur.AtEnd()) return;
  // At the line feed.
  ++cur.pos;
  cur.state = kBetween;
  cur.NewLine();
}

void CScriptParser::ReadBlockComment(Cursor& cur) {
  bool pair = false;
  while (true) {
    cur.SkipRun(kBlockCommentStops, pair);
    if (cur.AtEnd()) return;
    if (cur.Peek() == '*' && cur.NextIs('/')) {
      cur.pos += 2;
      cur.state = kBetween;
      return;
    }
    // A line feed inside the comment does not start a line: what follows
    // "*/" on the last line continues the line the comment began on.
    if (cur.Peek() == '\n') cur.CountLine();
    ++cur.pos;
  }
}

void CScriptParser::ReadLabel(Cursor& cur) {
  while (true) {
    cur.TakeRun(m_label, kLabelStops);
    if (cur.AtEnd()) return;
    if (cur.Peek() == '\r') {
      ++cur.pos;
      continue;
    }
    // At the line feed.
    ++cur.pos;
    cur.state = kBetween;
    OnLabel(m_label);
    ResetBuffers();
    cur.NewLine();
    return;
  }
}

void CScriptParser::ReadTagName(Cursor& cur) {
  while (true) {
    cur.TakeRun(m_tagName, kTagNameStops);
    if (cur.AtEnd()) return;
    const unsigned char c = cur.Peek();
    if (IsBlank(c) || c == '\n') {
      if (c == '\n') cur.CountLine();
      ++cur.pos;
      // Blanks before the name are skipped.
      if (!m_tagName.empty()) {
        cur.state = kAttrName;
        return;
      }
    } else if (c == '\r') {
      ++cur.pos;
    } else if (c == ']') {
      ++cur.pos;
      EmitBracketTag(cur);
      return;
    } else {
      cur.TakeEscaped(m_tagName);
    }
  }
}

void CScriptParser::ReadAttrName(Cursor& cur) {
  while (true) {
    cur.TakeRun(m_attributeName, kAttrNameStops);
    if (cur.AtEnd()) return;
    const unsigned char c = cur.Peek();
    if (IsBlank(c) || c == '\n') {
      if (c == '\n') cur.CountLine();
      ++cur.pos;
      if (!m_attributeName.empty()) {
        // A bare name is an attribute with an empty value unless '=' follows.
        m_attributes[m_attributeName].clear();
        cur.state = kAfterAttrName;
        return;
      }
    } else if (c == '\r') {
      ++cur.pos;
    } else if (c == '=') {
      if (m_attributeName.empty()) {
        ReportTagError(script_messages::StrayEquals());
        ++cur.pos;
      } else {
        ++cur.pos;
        cur.state = kAttrValue;
        cur.quoted = false;
        return;
      }
    } else if (c == ']') {
      ++cur.pos;
      if (!m_attributeName.empty()) {
        m_attributes[m_attributeName].clear();
        m_attributeName.clear();
      }
      EmitBracketTag(cur);
      return;
    } else {
      cur.TakeEscaped(m_attributeName);
    }
  }
}

// A bare attribute name followed by a blank: only '=' goes on; every other
// character, ']' included, is reported and skipped.
void CScriptParser::ReadAfterAttrName(Cursor& cur) {
  while (!cur.AtEnd()) {
    const unsigned char c = cur.Peek();
    if (IsLead(c)) {
      ReportTagError(script_messages::StrayWideChar());
      cur.SkipPair();
    } else if (IsBlank(c) || c == '\r') {
      ++cur.pos;
    } else if (c == '\n') {
      cur.CountLine();
      ++cur.pos;
    } else if (c == '=') {
      ++cur.pos;
      cur.state = kAttrValue;
      cur.quoted = false;
      return;
    } else {
      ReportTagError(script_messages::StrayNarrowChar());
      ++cur.pos;
    }
  }
}

void CScriptParser::ReadAttrValue(Cursor& cur) {
  while (true) {
    cur.TakeRun(m_attributeValue, kAttrValueStops);
    if (cur.AtEnd()) return;
    const unsigned char c = cur.Peek();
    if (c == '"') {
      cur.quoted = !cur.quoted;
      ++cur.pos;
    } else if (IsBlank(c) || c == '\n') {
      if (c == '\n') cur.CountLine();
      ++cur.pos;
      // A quoted blank is part of the value; a quoted line feed is dropped.
      if (cur.quoted) {
        if (c != '\n') m_attributeValue.push_back(static_cast<char>(c));
      } else if (!m_attributeValue.empty()) {
        CommitAttribute();
        cur.state = kAttrName;
        return;
      }
    } else if (c == '\r') {
      ++cur.pos;
    } else if (c == ']') {
      ++cur.pos;
      cur.quoted = false;
      if (m_attributeValue.empty()) {
        cur.state = kBetween;
        ReportTagError(script_messages::BadTagEnd());
        ResetBuffers();
      } else {
        CommitAttribute();
        EmitBracketTag(cur);
      }
      return;
    } else {
      cur.TakeEscaped(m_attributeValue);
    }
  }
}

void CScriptParser::ReadTextLine(Cursor& cur) {
  while (true) {
    cur.TakeRun(m_text, kTextStops, m_textEndsWithPair);
    if (cur.AtEnd()) return;
    const unsigned char c = cur.Peek();
    if (c == '\r') {
      ++cur.pos;
    } else if (c == '@') {
      FlushText();
      EmitAt();
      ++cur.pos;
    } else if (c == '[') {
      FlushText();
      ++cur.pos;
      cur.state = kTagName;
      return;
    } else if (c == '\\') {
      const size_t before = m_text.size();
      const bool pair = cur.TakeEscaped(m_text);
      if (m_text.size() != before) m_textEndsWithPair = pair;
    } else {
      EndTextLine(cur);
      return;
    }
  }
}

void CScriptParser::ReadLineTagName(Cursor& cur) {
  while (true) {
    cur.TakeRun(m_tagName, kLineTagNameStops);
    if (cur.AtEnd()) return;
    const unsigned char c = cur.Peek();
    if (IsBlank(c)) {
      ++cur.pos;
      cur.state = kLineTagArgs;
      return;
    }
    if (c == '\r') {
      ++cur.pos;
    } else if (c == '\\') {
      cur.TakeEscaped(m_tagName);
    } else {
      ++cur.pos;
      EndLineTag(cur);
      return;
    }
  }
}

// Arguments keep their blanks; the current one is collected in the
// attribute-name buffer.
void CScriptParser::ReadLineTagArgs(Cursor& cur) {
  while (true) {
    cur.TakeRun(m_attributeName, kLineTagArgStops);
    if (cur.AtEnd()) return;
    const unsigned char c = cur.Peek();
    if (c == ',') {
      m_arguments.push_back(std::move(m_attributeName));
      m_attributeName.clear();
      ++cur.pos;
    } else if (c == '\r') {
      ++cur.pos;
    } else if (c == '\\') {
      cur.TakeEscaped(m_attributeName);
    } else {
      ++cur.pos;
      if (!m_attributeName.empty()) m_arguments.push_back(std::move(m_attributeName));
      EndLineTag(cur);
      return;
    }
  }
}

void CScriptParser::ReadRawBlock(Cursor& cur) {
  const size_t nameSize = m_tagName.size();
  while (!cur.AtEnd()) {
    const unsigned char c = cur.Peek();
    if (c == '[' && cur.NextIs('/') && cur.size - (cur.pos + 2) > nameSize &&
        std::memcmp(cur.text + cur.pos + 2, m_tagName.data(), nameSize) == 0 &&
        cur.bytes[cur.pos + 2 + nameSize] == ']') {
      cur.pos += nameSize + 3;
      cur.state = kBetween;
      cur.rawScript = nullptr;
      OnTag(m_tagName, m_attributes);
      ResetBuffers();
      return;
    }
    // Created only once the block has content, so "[lua][/lua]" has no
    // script attribute.
    if (cur.rawScript == nullptr) cur.rawScript = &m_attributes["script"];
    if (c == '[' || c == '\n') {
      cur.rawScript->push_back(static_cast<char>(c));
      if (c == '\n') cur.CountLine();
      ++cur.pos;
    } else {
      cur.TakeRun(*cur.rawScript, kRawStops);
    }
  }
}

void CScriptParser::FinishText(const Cursor& cur) {
  switch (cur.state) {
    case kLineTagName: OnLineTag(m_tagName, m_arguments); break;
    case kLineTagArgs:
      if (!m_attributeName.empty()) m_arguments.push_back(std::move(m_attributeName));
      OnLineTag(m_tagName, m_arguments);
      break;
    case kLabel:
      if (!m_label.empty()) OnLabel(m_label);
      break;
    case kTextLine:
      if (!m_text.empty()) OnText(m_text);
      break;
    case kTagName:
    case kAttrName:
    case kAfterAttrName:
    case kAttrValue: ReportTagError(script_messages::BadTagEnd()); break;
    default:  // between items, comments, an unclosed raw block: nothing
      break;
  }
}

bool CScriptParser::Parse(const char* text) {
  if (text == nullptr) text = "";
  // A nested parse (an insertion text) keeps the line it was inserted for:
  // its line feeds are not lines of the file.
  const bool nested = m_line != 0;
  const int outerLine = m_line;
  if (!nested) m_line = 1;
  Cursor cur(text, m_line, nested ? 0 : 1);

  while (!cur.AtEnd()) {
    switch (cur.state) {
      case kBetween: ReadBetween(cur); break;
      case kLineComment: ReadLineComment(cur); break;
      case kBlockComment: ReadBlockComment(cur); break;
      case kLineTagName: ReadLineTagName(cur); break;
      case kLineTagArgs: ReadLineTagArgs(cur); break;
      case kLabel: ReadLabel(cur); break;
      case kTagName: ReadTagName(cur); break;
      case kAttrName: ReadAttrName(cur); break;
      case kAfterAttrName: ReadAfterAttrName(cur); break;
      case kAttrValue: ReadAttrValue(cur); break;
      case kTextLine: ReadTextLine(cur); break;
      case kRawBlock: ReadRawBlock(cur); break;
      default: cur.state = kBetween; break;
    }
  }

  FinishText(cur);
  ResetBuffers();
  OnEnd();
  m_line = nested ? outerLine : 0;
  return false;
}
