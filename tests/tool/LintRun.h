// Runs velmira-tool lint on a game folder as an author would, for the lint
// tests: its exit status, with what it printed in output.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

inline int RunLint(const std::string& dir, std::string& output) {
  std::string command = std::string(VELMIRA_TOOL) + " lint " + dir + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 4096> buffer;
  size_t n;
  output.clear();
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool Has(const std::string& out, const std::string& text) { return out.find(text) != std::string::npos; }
