// Directives: tags whose names begin with '&' reconfigure the parser for the
// rest of the file instead of becoming records.
#include <cstdlib>

#include "core/Numbers.h"
#include "script/QelParser.h"

namespace {

const std::string* Find(const CScriptParser::AttributeMap& attributes, const char* name) {
  auto it = attributes.find(name);
  return it == attributes.end() ? nullptr : &it->second;
}

}  // namespace

void CQelParser::RunDirective(const std::string& name, const AttributeMap& attributes) {
  if (name == "&linetag") {
    DirectiveLineTag(attributes);
  } else if (name == "&autoinsert") {
    DirectiveAutoInsert(attributes);
  } else if (name == "&scpsupport") {
    DirectiveScpSupport(attributes);
  } else {
    AddError(script_messages::UnknownDirective());
  }
}

void CQelParser::DirectiveLineTag(const AttributeMap& attributes) {
  const std::string* allow = Find(attributes, "allow");
  if (allow == nullptr || numbers::Atoi(*allow) == 0) {
    SetLineTagEnabled(false);
    SetLineTagPrefix(0);
    return;
  }
  SetLineTagEnabled(true);
  const std::string* prefix = Find(attributes, "prefix");
  SetLineTagPrefix(prefix != nullptr && !prefix->empty() ? (*prefix)[0] : 0);
}

void CQelParser::DirectiveAutoInsert(const AttributeMap& attributes) {
  const std::string* target = Find(attributes, "target");
  if (target == nullptr) return;
  const std::string* command = Find(attributes, "command");
  std::string text = command != nullptr ? *command : std::string();
  if (*target == "blankline") {
    m_blankLineText = std::move(text);
  } else if (*target == "linehead") {
    m_lineHeadText = std::move(text);
  } else if (*target == "lineend") {
    m_lineEndText = std::move(text);
  }
}

void CQelParser::DirectiveScpSupport(const AttributeMap& attributes) {
  const std::string* mode = Find(attributes, "mode");
  if (attributes.empty() || (mode != nullptr && *mode == "init")) {
    ClearLineEndInsertions();
    return;
  }
  if (mode == nullptr || (*mode != "add" && *mode != "addsp")) {
    AddError(script_messages::BadScpSupportMode());
    return;
  }
  const std::string* command = Find(attributes, "command");
  std::string text = command != nullptr ? *command : std::string();
  const std::string* finalChar = Find(attributes, "char");
  AddLineEndInsertion(finalChar, std::move(text));
}
