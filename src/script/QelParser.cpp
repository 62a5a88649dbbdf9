#include "script/QelParser.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "files/Config.h"
#include "platform/TextCodec.h"
#include "script/TagRegistry.h"

namespace script_messages {

std::string MissingAttribute(const std::string& tagName, const std::string& attribute) {
  static const std::string head = Utf8ToCp932("[ERROR] タグ ");
  static const std::string middle = Utf8ToCp932(" の必須パラメータ ");
  static const std::string tail = Utf8ToCp932(" が見つかりません。このタグは無視されます。");
  return head + tagName + middle + attribute + tail;
}

const std::string& LineTagWithoutTagIni() {
  static const std::string text = Utf8ToCp932(
      "[ERROR] スクリプト内にラインタグを見つけましたが、タグ設定ファイルが見つからないため、"
      "無視されます。");
  return text;
}

const std::string& LineTagNotConfigured() {
  static const std::string text = Utf8ToCp932(
      "[ERROR] スクリプト内にラインタグを見つけましたが、タグ設定ファイルに該当のタグの設定が"
      "見つからないか、不足しているため、無視されます。");
  return text;
}

const std::string& BadScpSupportMode() {
  static const std::string text = Utf8ToCp932("[ERROR] &scpsupport modeパラメータが不正です。");
  return text;
}

const std::string& UnknownDirective() {
  static const std::string text = Utf8ToCp932("[ERROR] 未知のプリプロセッサが見つかりました。無視されます。");
  return text;
}

}  // namespace script_messages

namespace {

// Directives are the parser's own; every other tag's needs come from its row.
const std::vector<std::string>* DirectiveRequirements(const std::string& name) {
  static const std::vector<std::string> linetag = {"allow"};
  static const std::vector<std::string> autoinsert = {"target"};
  if (name == "&linetag") return &linetag;
  if (name == "&autoinsert") return &autoinsert;
  return nullptr;
}

}  // namespace

CQelParser::RequiredTable CQelParser::GetRequiredAttributes() const {
  RequiredTable table;
  for (const char* directive : {"&linetag", "&autoinsert"}) table[directive] = *DirectiveRequirements(directive);
  for (const CTagRow& row : m_tags.GetRows()) {
    if (!row.required.empty()) table[row.name] = row.required;
  }
  return table;
}

CQelParser::CQelParser(const CTagRegistry& tags) : m_tags(tags) { AddRawBlockTag("lua"); }

CQelParser::~CQelParser() = default;

bool CQelParser::Parse(const char* text) {
  if (GetLine() == 0 && text != nullptr) {
    // Scenario scripts hold about a record per 30 to 40 bytes; the guess is
    // capped so that a huge text of few records does not reserve too much.
    const size_t guess = std::min<size_t>(std::strlen(text) / 32, size_t{1} << 20);
    m_blocks.reserve(m_blocks.size() + guess);
  }
  return CScriptParser::Parse(text);
}

std::vector<CScriptBlock> CQelParser::TakeBlocks() {
  std::vector<CScriptBlock> out = std::move(m_blocks);
  m_blocks.clear();
  return out;
}

void CQelParser::SetTagIni(const CIni* tagIni) {
  m_tagIni = tagIni;
  m_tagIniKnown = true;
}

const CIni* CQelParser::GetTagIni() {
  if (!m_tagIniKnown) {
    m_tagIni = LoadIni("tag.ini");
    // A missing file is looked for again by the next line tag.
    m_tagIniKnown = m_tagIni != nullptr;
  }
  return m_tagIni;
}

void CQelParser::AddError(const std::string& message) { m_blocks.emplace_back(CScriptBlock::kError, m_line, message); }

void CQelParser::OnLineStart(const char*) { ParseInsertion(Insertion::kLineHead, m_lineHeadText); }

void CQelParser::OnLineEnd(const char*, size_t) { ParseInsertion(Insertion::kLineEnd, m_lineEndText); }

void CQelParser::OnBlankLine() { ParseInsertion(Insertion::kBlankLine, m_blankLineText); }

bool CQelParser::OnText(std::string& text) {
  m_blocks.emplace_back(CScriptBlock::kText, m_line, std::move(text));
  return false;
}

bool CQelParser::OnLabel(std::string& label) {
  m_blocks.emplace_back(CScriptBlock::kLabel, m_line, std::move(label));
  return false;
}

void CQelParser::OnError(const std::string& message) { AddError(message); }

bool CQelParser::OnTag(std::string& name, AttributeMap& attributes) {
  const std::vector<std::string>* required = DirectiveRequirements(name);
  if (!required) {
    const CTagRow* row = m_tags.Find(name);
    required = row ? &row->required : nullptr;
  }
  if (required) {
    for (const std::string& attribute : *required) {
      if (attributes.count(attribute) == 0) {
        AddError(script_messages::MissingAttribute(name, attribute));
        return false;
      }
    }
  }
  if (!name.empty() && name[0] == '&') {
    RunDirective(name, attributes);
    return false;
  }
  m_blocks.emplace_back(CScriptBlock::kTag, m_line, std::move(name), std::move(attributes));
  return false;
}

bool CQelParser::OnLineTag(std::string& name, std::vector<std::string>& arguments) {
  AttributeMap attributes;
  if (!arguments.empty()) {
    const CIni* tagIni = GetTagIni();
    if (tagIni == nullptr) {
      AddError(script_messages::LineTagWithoutTagIni());
      return false;
    }
    for (size_t i = 0; i < arguments.size(); ++i) {
      std::string attribute = tagIni->GetString(name, std::to_string(i));
      if (attribute.empty()) {
        AddError(script_messages::LineTagNotConfigured());
        return false;
      }
      attributes[std::move(attribute)] = std::move(arguments[i]);
    }
  }
  return OnTag(name, attributes);
}
