// Subcommands of velmira-tool register themselves here, one file per family.
#pragma once

#include <string>
#include <vector>

struct ToolCommand {
  const char* name;
  const char* usage;
  int (*run)(int argc, char** argv);  // argv[0] is the subcommand name
};

std::vector<ToolCommand>& ToolCommands();

struct ToolCommandRegistrar {
  ToolCommandRegistrar(const char* name, const char* usage, int (*run)(int, char**)) {
    ToolCommands().push_back({name, usage, run});
  }
};

#define VELMIRA_TOOL_CONCAT2(a, b) a##b
#define VELMIRA_TOOL_CONCAT(a, b) VELMIRA_TOOL_CONCAT2(a, b)
#define VELMIRA_TOOL_COMMAND(name, usage, fn) \
  static ToolCommandRegistrar VELMIRA_TOOL_CONCAT(g_toolCommand_, __LINE__)(#name, usage, fn)
