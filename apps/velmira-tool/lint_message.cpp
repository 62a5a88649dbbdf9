#include "lint_message.h"

#include "scene/Easing.h"
#include "script/tags/MessageTags.h"

namespace {

bool Computed(const std::string& value) { return !value.empty() && value[0] == '$'; }

}  // namespace

std::vector<std::pair<int, std::string>> LintMessageTags(const std::vector<CScriptBlock>& blocks) {
  std::vector<std::pair<int, std::string>> out;
  // An open link or window id stack as the tags would leave it, read in file
  // order: jumps may pair tags differently at run time, so these are only
  // warnings.
  int openLink = 0;
  int windowDepth = 0;
  for (const CScriptBlock& block : blocks) {
    if (block.GetType() != CScriptBlock::kTag) continue;
    const std::string& tag = block.GetText();
    const int line = block.GetLine();
    if (tag == "link") {
      if (openLink)
        out.emplace_back(line, "warning: [link] while the link of line " + std::to_string(openLink) +
                                   " is open: that link ends here");
      openLink = line;
    } else if (tag == "/link") {
      if (!openLink) out.emplace_back(line, "warning: [/link] without an open [link] does nothing");
      openLink = 0;
    } else if (tag == "rp" || tag == "@") {
      // A page or a click wait is where a forgotten /link shows.
      if (openLink && tag == "rp")
        out.emplace_back(
            line, "warning: [rp] clears the page while the link of line " + std::to_string(openLink) + " is open");
      if (tag == "rp") openLink = 0;
    } else if (tag == "chgmsg") {
      ++windowDepth;
    } else if (tag == "/chgmsg") {
      if (windowDepth == 0)
        out.emplace_back(line, "warning: [/chgmsg] without a [chgmsg] before it reports a pair error");
      else
        --windowDepth;
    } else if (tag == "scetween") {
      const std::string& mode = block.GetAttribute("mode");
      const std::string& type = block.GetAttribute("type");
      auto unknown = [&](const char* attribute, const std::string& value) {
        out.emplace_back(line, std::string("warning: [scetween] unknown ") + attribute + " \"" + value +
                                   "\": the engine ignores it");
      };
      if (!Computed(mode) && mode != "init" && mode != "add") unknown("mode", mode);
      if (!Computed(type) && !IsEffectListType(type)) unknown("type", type);
      if (block.HasAttribute("param")) {
        const std::string& param = block.GetAttribute("param");
        int32_t index = 0;
        if (!Computed(param) && !ParseEffectParam(param, index)) unknown("param", param);
      }
      if (block.HasAttribute("ease")) {
        const std::string& ease = block.GetAttribute("ease");
        int kind = 0;
        if (!Computed(ease) && !EaseKindFromName(ease, kind)) unknown("ease", ease);
      }
    }
  }
  if (openLink) out.emplace_back(openLink, "warning: [link] is never closed in this file");
  if (windowDepth > 0) out.emplace_back(0, "warning: a [chgmsg] of this file has no [/chgmsg]");
  return out;
}
