#include "script/ScriptParser.h"

#include <cstring>

#include "platform/TextCodec.h"

namespace {

// The parser's lead bytes: wider than CP932 proper, so that any byte that
// could start a double-byte character takes its follower with it.
inline bool IsLead(unsigned char c) { return (c >= 0x80 && c <= 0x9F) || c >= 0xE0; }
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

// Advances from i over bytes that `stops` does not mark and over whole
// double-byte characters, and returns where it stopped. A lead byte without a
// follower, or followed by a line feed, stops the run (the byte-wise path
// takes it). lastPair tells whether the last character passed was a pair.
inline size_t ScanRun(const unsigned char* s, size_t i, size_t n, const StopSet& stops, bool& lastPair) {
  while (i < n) {
    const unsigned char c = s[i];
    if (IsLead(c)) {
      if (i + 1 >= n || s[i + 1] == '\n') break;
      i += 2;
      lastPair = true;
    } else if (stops.stop[c]) {
      break;
    } else {
      ++i;
      lastPair = false;
    }
  }
  return i;
}

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

void CScriptParser::ParseInsertion(const std::string& text) {
  if (text.empty() || m_insertionDepth > 0) return;
  // The text may be replaced by a directive inside it while it is parsed.
  const std::string copy = text;
  ++m_insertionDepth;
  Parse(copy.c_str());
  --m_insertionDepth;
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
  if (m_insertionDepth > 0) return;
  auto it = m_lineEndByChar.find(finalChar);
  // Held while it runs: a directive inside may replace the lists.
  const SharedList list = it == m_lineEndByChar.end() ? m_defaultLineEnd : it->second;
  if (!list) return;
  for (const std::string& text : *list) ParseInsertion(text);
}

bool CScriptParser::Parse(const char* text) {
  if (text == nullptr) text = "";
  const unsigned char* const s = reinterpret_cast<const unsigned char*>(text);
  const size_t n = std::strlen(text);
  // A nested parse (an insertion text) keeps the line it was inserted for:
  // its line feeds are not lines of the file.
  const bool nested = m_line != 0;
  const int outerLine = m_line;
  const int lineStep = nested ? 0 : 1;
  if (!nested) m_line = 1;

  int state = kBetween;
  bool atLineStart = true;
  bool quoted = false;
  std::string* rawScript = nullptr;  // attributes["script"] once it exists
  size_t i = 0;

  // Appends the lead byte at i and its follower to buf. A lead byte that is
  // the last byte of the text is taken alone. Any line feed consumed counts
  // as a line, so line numbers stay true even on malformed input.
  auto takePair = [&](std::string& buf) {
    if (i + 1 < n) {
      buf.append(text + i, 2);
      if (s[i + 1] == '\n') m_line += lineStep;
      i += 2;
    } else {
      buf.push_back(text[i]);
      ++i;
    }
  };
  auto skipPair = [&]() {
    if (i + 1 < n) {
      if (s[i + 1] == '\n') m_line += lineStep;
      i += 2;
    } else {
      ++i;
    }
  };
  // i is at a backslash: the next byte goes into buf literally, except a lead
  // byte, which is read as a character. Returns true when a pair was taken.
  auto escape = [&](std::string& buf) -> bool {
    ++i;
    if (i >= n) return false;
    if (IsLead(s[i])) {
      takePair(buf);
      return true;
    }
    buf.push_back(text[i]);
    if (s[i] == '\n') m_line += lineStep;
    ++i;
    return false;
  };
  auto flushText = [&]() {
    if (!m_text.empty()) {
      OnText(m_text);
      ResetBuffers();
    }
  };
  auto emitAt = [&]() {
    std::string name = "@";
    AttributeMap none;
    OnTag(name, none);
  };
  // Emits the bracket tag in the buffers, or enters the raw block for a
  // raw-block tag (the buffers then stay).
  auto emitBracketTag = [&]() {
    if (IsRawBlockTag(m_tagName)) {
      state = kRawBlock;
      auto it = m_attributes.find("script");
      rawScript = it == m_attributes.end() ? nullptr : &it->second;
      return;
    }
    OnTag(m_tagName, m_attributes);
    ResetBuffers();
  };
  auto commitAttribute = [&]() {
    m_attributes[m_attributeName] = std::move(m_attributeValue);
    m_attributeName.clear();
    m_attributeValue.clear();
  };
  auto newLine = [&]() {
    m_line += lineStep;
    atLineStart = true;
  };

  while (i < n) {
    const unsigned char c = s[i];
    switch (state) {
      case kBetween:
        if (IsLead(c)) {
          if (atLineStart) {
            atLineStart = false;
            OnLineStart(text + i);
          }
          takePair(m_text);
          m_textEndsWithPair = true;
          state = kTextLine;
        } else if (IsBlank(c) || c == '\r') {
          ++i;
        } else if (c == '\n') {
          if (atLineStart) OnBlankLine();
          newLine();
          ++i;
        } else if (c == '\\') {
          // The backslash only makes the line a text line; '[' and '@' right
          // after it still act.
          if (atLineStart) {
            atLineStart = false;
            OnLineStart(text + i);
          }
          ++i;
          state = kTextLine;
        } else {
          const bool lineStart = atLineStart;
          atLineStart = false;
          const bool lineTags = lineStart && m_lineTagEnabled;
          if (lineTags && m_lineTagPrefix != 0 && c == static_cast<unsigned char>(m_lineTagPrefix)) {
            flushText();
            ++i;
            state = kLineTagName;
          } else if (c == '@') {
            emitAt();
            ++i;
          } else if (c == '/' && i + 1 < n && s[i + 1] == '/') {
            i += 2;
            state = kLineComment;
          } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            i += 2;
            state = kBlockComment;
          } else if (c == '*') {
            ++i;
            state = kLabel;
          } else if (c == '[') {
            flushText();
            ++i;
            state = kTagName;
          } else if (lineTags && m_lineTagPrefix == 0) {
            flushText();
            m_tagName.push_back(static_cast<char>(c));
            ++i;
            state = kLineTagName;
          } else {
            if (lineStart) OnLineStart(text + i);
            m_text.push_back(static_cast<char>(c));
            m_textEndsWithPair = false;
            ++i;
            state = kTextLine;
          }
        }
        break;

      case kLineComment: {
        bool pair = false;
        const size_t end = ScanRun(s, i, n, kLineCommentStops, pair);
        if (end != i) {
          i = end;
          break;
        }
      }
        if (IsLead(c)) {
          skipPair();
        } else {
          ++i;
          if (c == '\n') {
            state = kBetween;
            newLine();
          }
        }
        break;

      case kBlockComment: {
        bool pair = false;
        const size_t end = ScanRun(s, i, n, kBlockCommentStops, pair);
        if (end != i) {
          i = end;
          break;
        }
      }
        if (IsLead(c)) {
          skipPair();
        } else if (c == '*' && i + 1 < n && s[i + 1] == '/') {
          i += 2;
          state = kBetween;
        } else {
          if (c == '\n') m_line += lineStep;
          ++i;
        }
        break;

      case kLabel: {
        bool pair = false;
        const size_t end = ScanRun(s, i, n, kLabelStops, pair);
        if (end != i) {
          m_label.append(text + i, end - i);
          i = end;
          break;
        }
      }
        if (IsLead(c)) {
          takePair(m_label);
        } else if (c == '\r') {
          ++i;
        } else if (c == '\n') {
          ++i;
          state = kBetween;
          OnLabel(m_label);
          ResetBuffers();
          newLine();
        } else {
          m_label.push_back(static_cast<char>(c));
          ++i;
        }
        break;

      case kTagName: {
        bool pair = false;
        const size_t end = ScanRun(s, i, n, kTagNameStops, pair);
        if (end != i) {
          m_tagName.append(text + i, end - i);
          i = end;
          break;
        }
      }
        if (IsLead(c)) {
          takePair(m_tagName);
        } else if (IsBlank(c)) {
          if (!m_tagName.empty()) state = kAttrName;
          ++i;
        } else if (c == '\r') {
          ++i;
        } else if (c == '\n') {
          if (!m_tagName.empty()) state = kAttrName;
          m_line += lineStep;
          ++i;
        } else if (c == ']') {
          ++i;
          state = kBetween;
          emitBracketTag();
        } else if (c == '\\') {
          escape(m_tagName);
        } else {
          m_tagName.push_back(static_cast<char>(c));
          ++i;
        }
        break;

      case kAttrName: {
        bool pair = false;
        const size_t end = ScanRun(s, i, n, kAttrNameStops, pair);
        if (end != i) {
          m_attributeName.append(text + i, end - i);
          i = end;
          break;
        }
      }
        if (IsLead(c)) {
          takePair(m_attributeName);
        } else if (IsBlank(c) || c == '\n') {
          if (c == '\n') m_line += lineStep;
          if (!m_attributeName.empty()) {
            m_attributes[m_attributeName].clear();
            state = kAfterAttrName;
          }
          ++i;
        } else if (c == '\r') {
          ++i;
        } else if (c == '=') {
          if (m_attributeName.empty()) {
            ReportTagError(script_messages::StrayEquals());
          } else {
            state = kAttrValue;
            quoted = false;
          }
          ++i;
        } else if (c == ']') {
          ++i;
          state = kBetween;
          if (!m_attributeName.empty()) {
            m_attributes[m_attributeName].clear();
            m_attributeName.clear();
          }
          emitBracketTag();
        } else if (c == '\\') {
          escape(m_attributeName);
        } else {
          m_attributeName.push_back(static_cast<char>(c));
          ++i;
        }
        break;

      case kAfterAttrName:
        // A bare attribute name followed by a blank: only '=' goes on; every
        // other character, ']' included, is reported and skipped.
        if (IsLead(c)) {
          ReportTagError(script_messages::StrayWideChar());
          skipPair();
        } else if (IsBlank(c) || c == '\r') {
          ++i;
        } else if (c == '\n') {
          m_line += lineStep;
          ++i;
        } else if (c == '=') {
          state = kAttrValue;
          quoted = false;
          ++i;
        } else {
          ReportTagError(script_messages::StrayNarrowChar());
          ++i;
        }
        break;

      case kAttrValue: {
        bool pair = false;
        const size_t end = ScanRun(s, i, n, kAttrValueStops, pair);
        if (end != i) {
          m_attributeValue.append(text + i, end - i);
          i = end;
          break;
        }
      }
        if (IsLead(c)) {
          takePair(m_attributeValue);
        } else if (c == '"') {
          quoted = !quoted;
          ++i;
        } else if (IsBlank(c)) {
          if (quoted) {
            m_attributeValue.push_back(static_cast<char>(c));
          } else if (!m_attributeValue.empty()) {
            commitAttribute();
            state = kAttrName;
          }
          ++i;
        } else if (c == '\r') {
          ++i;
        } else if (c == '\n') {
          m_line += lineStep;
          if (!quoted && !m_attributeValue.empty()) {
            commitAttribute();
            state = kAttrName;
          }
          ++i;
        } else if (c == ']') {
          ++i;
          state = kBetween;
          quoted = false;
          if (m_attributeValue.empty()) {
            ReportTagError(script_messages::BadTagEnd());
            ResetBuffers();
          } else {
            commitAttribute();
            emitBracketTag();
          }
        } else if (c == '\\') {
          escape(m_attributeValue);
        } else {
          m_attributeValue.push_back(static_cast<char>(c));
          ++i;
        }
        break;

      case kTextLine: {
        const size_t end = ScanRun(s, i, n, kTextStops, m_textEndsWithPair);
        if (end != i) {
          m_text.append(text + i, end - i);
          i = end;
          break;
        }
      }
        if (IsLead(c)) {
          takePair(m_text);
          m_textEndsWithPair = true;
        } else if (IsBlank(c)) {
          m_text.push_back(static_cast<char>(c));
          m_textEndsWithPair = false;
          ++i;
        } else if (c == '\r') {
          ++i;
        } else if (c == '@') {
          flushText();
          emitAt();
          ++i;
        } else if (c == '[') {
          flushText();
          ++i;
          state = kTagName;
        } else if (c == '\\') {
          const size_t before = m_text.size();
          const bool pair = escape(m_text);
          if (m_text.size() != before) m_textEndsWithPair = pair;
        } else if (c == '\n') {
          state = kBetween;
          if (!m_text.empty()) {
            // The final character picks the line-end insertion list.
            const size_t last = m_textEndsWithPair && m_text.size() >= 2 ? 2 : 1;
            std::string finalChar = m_text.substr(m_text.size() - last);
            OnText(m_text);
            ResetBuffers();
            RunLineEndInsertions(finalChar);
          }
          OnLineEnd(text + i, i);
          newLine();
          ++i;
        } else {
          m_text.push_back(static_cast<char>(c));
          m_textEndsWithPair = false;
          ++i;
        }
        break;

      case kLineTagName: {
        bool pair = false;
        const size_t end = ScanRun(s, i, n, kLineTagNameStops, pair);
        if (end != i) {
          m_tagName.append(text + i, end - i);
          i = end;
          break;
        }
      }
        if (IsLead(c)) {
          takePair(m_tagName);
        } else if (IsBlank(c)) {
          state = kLineTagArgs;
          ++i;
        } else if (c == '\r') {
          ++i;
        } else if (c == '\n') {
          ++i;
          state = kBetween;
          OnLineTag(m_tagName, m_arguments);
          ResetBuffers();
          newLine();
        } else if (c == '\\') {
          escape(m_tagName);
        } else {
          m_tagName.push_back(static_cast<char>(c));
          ++i;
        }
        break;

      case kLineTagArgs:
        // Arguments keep their blanks; the current one is collected in the
        // attribute-name buffer.
        {
          bool pair = false;
          const size_t end = ScanRun(s, i, n, kLineTagArgStops, pair);
          if (end != i) {
            m_attributeName.append(text + i, end - i);
            i = end;
            break;
          }
        }
        if (IsLead(c)) {
          takePair(m_attributeName);
        } else if (c == ',') {
          m_arguments.push_back(std::move(m_attributeName));
          m_attributeName.clear();
          ++i;
        } else if (c == '\r') {
          ++i;
        } else if (c == '\n') {
          ++i;
          state = kBetween;
          if (!m_attributeName.empty()) m_arguments.push_back(std::move(m_attributeName));
          OnLineTag(m_tagName, m_arguments);
          ResetBuffers();
          newLine();
        } else if (c == '\\') {
          escape(m_attributeName);
        } else {
          m_attributeName.push_back(static_cast<char>(c));
          ++i;
        }
        break;

      case kRawBlock: {
        const size_t nameSize = m_tagName.size();
        if (c == '[' && i + 1 < n && s[i + 1] == '/' && n - (i + 2) > nameSize &&
            std::memcmp(text + i + 2, m_tagName.data(), nameSize) == 0 && s[i + 2 + nameSize] == ']') {
          i += nameSize + 3;
          state = kBetween;
          rawScript = nullptr;
          OnTag(m_tagName, m_attributes);
          ResetBuffers();
          break;
        }
        if (rawScript == nullptr) rawScript = &m_attributes["script"];
        {
          bool pair = false;
          const size_t end = ScanRun(s, i, n, kRawStops, pair);
          if (end != i) {
            rawScript->append(text + i, end - i);
            i = end;
            break;
          }
        }
        if (IsLead(c)) {
          takePair(*rawScript);
        } else {
          rawScript->push_back(static_cast<char>(c));
          if (c == '\n') m_line += lineStep;
          ++i;
        }
        break;
      }

      default: state = kBetween; break;
    }
  }

  switch (state) {
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
  ResetBuffers();
  OnEnd();
  m_line = nested ? outerLine : 0;
  return false;
}
