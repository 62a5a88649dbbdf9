// Evaluates arbitrary text against a small store and checks the store's invariants.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/Serializer.h"
#include "vars/DumpVariables.h"
#include "vars/QelVariables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CQelVariables vars;
  vars.AddQuoteChar('\'');
  vars.SetInt("f.i", 2);
  vars.SetString("f.a2", "9");
  vars.SetString("f.ref", "f.a(f.i)");
  vars.SetString("g.name", "\x82\xA0\x82\xA2");
  vars.SetString("s.hex", "0x7fffffff");
  vars.SetInt("t.min", INT32_MIN);
  vars.PushScope()->SetString("file", "a'b");

  const std::string text(reinterpret_cast<const char*>(data), size);
  vars.Evaluate(text);
  if (vars.TemporaryCount() != 0) std::abort();
  EvaluateAttributeValue(vars, "$$" + text);
  if (vars.TemporaryCount() != 0) std::abort();
  DumpVariables(vars);

  // Whatever names the expression created survive a save and load.
  CSerializer out;
  vars.Serialize(out);
  const std::vector<uint8_t> bytes = out.Finish();
  CSerializer in;
  if (in.Load(bytes.data(), bytes.size())) std::abort();
  CQelVariables loaded;
  loaded.Deserialize(in);
  for (const auto& [name, value] : vars.Variables()) {
    if (!IsGameVariable(name)) continue;
    const CVariant* back = loaded.FindOwn(name);
    if (!back || back->GetString() != value.GetString()) std::abort();
  }
  return 0;
}
