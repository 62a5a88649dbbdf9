// Arbitrary bytes through the script parser, with and without a tag.ini.
// Checks that every record is well formed and survives a save round trip;
// the sanitizers catch any read past the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files/Config.h"
#include "core/Serializer.h"
#include "script/QelParser.h"
#include "script/tags/TagFamilies.h"

namespace {

const CIni& TagIni() {
  static const CIni ini = [] {
    CIni doc;
    doc.Parse(
        "[wait]\n0=time\n"
        "[lyc]\n0=id\n1=file\n"
        "[t]\n0=a\n1=b\n2=c\n"
        "[var]\n0=name\n1=data\n");
    return doc;
  }();
  return ini;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

void ParseOnce(const char* text, int lines, const CIni* tagIni) {
  CQelParser parser(GetTagRegistry());
  parser.SetTagIni(tagIni);
  parser.Parse(text);
  Check(parser.GetLine() == 0);
  std::vector<CScriptBlock> blocks = parser.TakeBlocks();
  for (const CScriptBlock& block : blocks) {
    Check(block.GetType() >= CScriptBlock::kText && block.GetType() <= CScriptBlock::kError);
    Check(block.GetLine() >= 1 && block.GetLine() <= lines);
    Check(block.GetType() == CScriptBlock::kTag || block.GetAttributes().empty());
    Check(block.GetType() != CScriptBlock::kTag || block.GetText().empty() || block.GetText()[0] != '&');
  }
  if (!blocks.empty()) {
    CSerializer writer;
    writer.Write(1, blocks);
    std::vector<uint8_t> bytes = writer.Finish();
    CSerializer reader;
    Check(!reader.Load(bytes.data(), bytes.size()));
    std::vector<CScriptBlock> back;
    Check(!reader.Read(1, back));
    Check(back == blocks);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the bytes and a terminator, so that a read past it is caught.
  std::unique_ptr<char[]> text(new char[size + 1]);
  if (size != 0) std::memcpy(text.get(), data, size);
  text[size] = '\0';
  const size_t length = std::strlen(text.get());
  int lines = 1;
  for (size_t i = 0; i < length; ++i) lines += text[i] == '\n';

  ParseOnce(text.get(), lines, nullptr);
  ParseOnce(text.get(), lines, &TagIni());
  return 0;
}
