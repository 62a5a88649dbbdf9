// lint check for openbrowser: the engine opens only web addresses (http:,
// https: and mailto:) and refuses anything else at run time, so a literal
// address of another kind is a tag that never does anything.
#include <string>
#include <vector>

#include "Lint.h"
#include "platform/Browser.h"
#include "platform/TextCodec.h"

void CheckBrowserTags(const LintGame& game, std::vector<LintFinding>& findings) {
  for (const LintScript& script : game.scripts) {
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kTag || block.GetText() != "openbrowser") continue;
      // A missing url is a parse error of its own; addresses computed at run
      // time cannot be judged here.
      if (!block.HasAttribute("url")) continue;
      const std::string& url = block.GetAttribute("url");
      if (!url.empty() && url[0] == '$') continue;
      if (platform::IsWebAddress(Cp932ToUtf8(url))) continue;
      findings.push_back({script.name, block.GetLine(),
                          "warning: [openbrowser url=\"" + url +
                              "\"] not an http:, https: or mailto: address: the engine refuses to open it"});
    }
  }
}
