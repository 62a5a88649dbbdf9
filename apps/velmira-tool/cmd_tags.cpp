// velmira-tool tags [--markdown]: the tag reference, printed from the same
// registry the engine dispatches through, so it can never fall behind it.
#include <cstdio>
#include <cstring>
#include <string>

#include "ToolCommand.h"
#include "script/tags/TagFamilies.h"

namespace {

const char* ReplayText(TagReplay replay) {
  switch (replay) {
    case TagReplay::kNone: return "no";
    case TagReplay::kMessage: return "message page";
    case TagReplay::kLayer: return "layer";
    case TagReplay::kAnimation: return "animation";
    case TagReplay::kMusic: return "music";
  }
  return "no";
}

std::string Join(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

int TagsCommand(int argc, char** argv) {
  const bool markdown = argc == 2 && std::strcmp(argv[1], "--markdown") == 0;
  if (argc > 2 || (argc == 2 && !markdown)) {
    std::fprintf(stderr, "usage: velmira-tool tags [--markdown]\n");
    return 2;
  }
  const CTagRegistry& tags = GetTagRegistry();
  std::string out;
  size_t family = tags.GetFamilyNames().size();
  for (const CTagRow& row : tags.GetRows()) {
    const std::string name = row.name.empty() ? "(empty)" : row.name;
    if (row.family != family) {
      family = row.family;
      const std::string& title = tags.GetFamilyNames()[family];
      out += markdown ? "\n## " + title +
                            " tags\n\n| tag | required attributes | replayed on load | what it does |\n"
                            "|---|---|---|---|\n"
                      : "\n[" + title + "]\n";
    }
    if (markdown) {
      out += "| `" + name + "` | " + Join(row.required) + " | " + ReplayText(row.replay) + " | " + row.summary + " |\n";
    } else {
      out += "  " + name + "\t" + Join(row.required) + "\t" + ReplayText(row.replay) + "\t" + row.summary + "\n";
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

VELMIRA_TOOL_COMMAND(tags, "tags [--markdown]  print the tag reference (family, required attributes, replay, summary)",
                     TagsCommand);
