// One parsed script record: a text run, a label, a tag or a parse error.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "core/Serializer.h"

class CScriptBlock : public ISerializable {
 public:
  enum Type : int {
    kText = 0,
    kLabel = 1,
    kTag = 2,
    kError = 3,
  };
  using AttributeMap = std::map<std::string, std::string>;

  CScriptBlock() = default;
  CScriptBlock(int type, int line, std::string text, AttributeMap attributes = {})
      : m_type(type), m_line(line), m_text(std::move(text)), m_attributes(std::move(attributes)) {}

  int GetType() const { return m_type; }
  int GetLine() const { return m_line; }
  // The text of a text record, the label of a label record, the tag name of a
  // tag record, the message of an error record.
  const std::string& GetText() const { return m_text; }
  const AttributeMap& GetAttributes() const { return m_attributes; }

  bool HasAttribute(const std::string& name) const { return m_attributes.count(name) != 0; }
  // The attribute's value, or "" when the record has no such attribute.
  const std::string& GetAttribute(const std::string& name) const;

  // Field tags: 1 type, 2 line, 3 text, 4 attributes.
  void Serialize(CSerializer& stream) const override;
  void Deserialize(CSerializer& stream) override;

  bool operator==(const CScriptBlock& other) const {
    return m_type == other.m_type && m_line == other.m_line && m_text == other.m_text &&
           m_attributes == other.m_attributes;
  }

  int m_type = kTag;
  int m_line = 0;  // 1-based source line where the record was completed
  std::string m_text;
  AttributeMap m_attributes;
};

// The shape of every report about a tag: "file(line): [tag] message". tag is
// the tag as shown, with the attributes that matter ("lyc id=\"bg\"").
std::string FormatTagReport(std::string_view file, int line, std::string_view tag, std::string_view message);
