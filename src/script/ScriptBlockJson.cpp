#include "script/ScriptBlockJson.h"

#include "platform/TextCodec.h"

void AppendJsonString(std::string& out, std::string_view cp932, bool raw) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string converted = raw ? std::string() : Cp932ToUtf8(cp932);
  const std::string_view bytes = raw ? cp932 : std::string_view(converted);
  out.push_back('"');
  for (const char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || (raw && c > 0x7F)) {
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 15]);
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
}

std::string ScriptBlockToJson(const CScriptBlock& block, bool raw) {
  std::string out =
      "{\"type\":" + std::to_string(block.GetType()) + ",\"line\":" + std::to_string(block.GetLine()) + ",\"text\":";
  AppendJsonString(out, block.GetText(), raw);
  out += ",\"attr\":{";
  bool first = true;
  for (const auto& [name, value] : block.GetAttributes()) {
    if (!first) out.push_back(',');
    first = false;
    AppendJsonString(out, name, raw);
    out.push_back(':');
    AppendJsonString(out, value, raw);
  }
  out += "}}";
  return out;
}
