// velmira-tool: utilities for game authors (packing, inspecting, checking).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ToolCommand.h"

std::vector<ToolCommand>& ToolCommands() {
  static std::vector<ToolCommand> commands;
  return commands;
}

static void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: velmira-tool COMMAND [ARGS...]\n\ncommands:\n");
  auto commands = ToolCommands();
  std::sort(commands.begin(), commands.end(),
            [](const ToolCommand& a, const ToolCommand& b) { return std::strcmp(a.name, b.name) < 0; });
  for (const ToolCommand& c : commands) std::fprintf(out, "  %s\n", c.usage);
}

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "help")) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const ToolCommand& c : ToolCommands()) {
    if (!std::strcmp(c.name, argv[1])) return c.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "velmira-tool: unknown command '%s'\n\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
