#include "core/ScriptBlock.h"

const std::string& CScriptBlock::GetAttribute(const std::string& name) const {
  static const std::string kEmpty;
  auto it = m_attributes.find(name);
  return it == m_attributes.end() ? kEmpty : it->second;
}

void CScriptBlock::Serialize(CSerializer& stream) const {
  stream.Write(1, static_cast<int32_t>(m_type));
  stream.Write(2, static_cast<int32_t>(m_line));
  stream.Write(3, m_text);
  stream.Write(4, m_attributes);
}

void CScriptBlock::Deserialize(CSerializer& stream) {
  int32_t type = m_type;
  int32_t line = m_line;
  stream.Read(1, type);
  stream.Read(2, line);
  stream.Read(3, m_text);
  stream.Read(4, m_attributes);
  m_type = type;
  m_line = line;
}

std::string FormatTagReport(std::string_view file, int line, std::string_view tag, std::string_view message) {
  std::string out;
  out.reserve(file.size() + tag.size() + message.size() + 20);
  out.append(file);
  out += '(';
  out += std::to_string(line);
  out += "): [";
  out.append(tag);
  out += "] ";
  out.append(message);
  return out;
}
