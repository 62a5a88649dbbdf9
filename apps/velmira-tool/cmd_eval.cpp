// velmira-tool eval: evaluates expressions against a variable store.

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "ToolCommand.h"
#include "platform/TextCodec.h"
#include "vars/DumpVariables.h"
#include "vars/QelVariables.h"

namespace {

void WriteOut(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

int EvalUsage(const char* problem, const char* argument) {
  std::fprintf(stderr, "eval: %s%s%s\n", problem, argument ? ": " : "", argument ? argument : "");
  std::fprintf(stderr, "usage: velmira-tool eval [--set NAME=TEXT] [--seti NAME=INT] [--dump] [--] EXPR...\n");
  return 2;
}

// Splits NAME=VALUE at the first '='; false when there is no '=' or no name.
bool SplitAssignment(std::string_view argument, std::string_view& name, std::string_view& value) {
  const size_t eq = argument.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  name = argument.substr(0, eq);
  value = argument.substr(eq + 1);
  return true;
}

bool ParseInt32(std::string_view text, int32_t& out) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out, 10);
  return ec == std::errc() && ptr == end && !text.empty();
}

// Variables are given in UTF-8 and stored as CP932; the store starts with the apostrophe as
// its only quote character. Assignments are applied before the first expression.
int EvalCommand(int argc, char** argv) {
  CQelVariables vars;
  vars.AddQuoteChar('\'');
  bool dump = false;
  std::vector<std::string> expressions;

  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--dump") {
      dump = true;
    } else if (options && (arg == "--set" || arg == "--seti")) {
      if (i + 1 >= argc) return EvalUsage("missing NAME=VALUE after", argv[i]);
      std::string_view name, value;
      if (!SplitAssignment(argv[i + 1], name, value)) return EvalUsage("expected NAME=VALUE", argv[i + 1]);
      if (arg == "--set") {
        vars.SetString(Utf8ToCp932(name), Utf8ToCp932(value));
      } else {
        int32_t n = 0;
        if (!ParseInt32(value, n)) return EvalUsage("not a 32-bit integer", argv[i + 1]);
        vars.SetInt(Utf8ToCp932(name), n);
      }
      ++i;
    } else {
      expressions.push_back(Utf8ToCp932(arg));
    }
  }
  if (expressions.empty() && !dump) return EvalUsage("no expression", nullptr);

  int status = 0;
  for (const std::string& expression : expressions) {
    bool failed = false;
    const std::string result = vars.Evaluate(expression, &failed);
    WriteOut(Cp932ToUtf8(result));
    WriteOut("\n");
    if (failed) {
      std::fflush(stdout);
      std::fprintf(stderr, "eval: cannot evaluate: %s\n", Cp932ToUtf8(expression).c_str());
      status = 1;
    }
  }
  if (dump) WriteOut(DumpVariables(vars));
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "eval: cannot write the output\n");
    return 1;
  }
  return status;
}

}  // namespace

VELMIRA_TOOL_COMMAND(eval, "eval [--set NAME=TEXT] [--seti NAME=INT] [--dump] EXPR...", EvalCommand);
