// Running the whole engine in-process, as the command line would.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/EngineMain.h"

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// RunEngine with the given arguments after the program name.
inline int RunVelmira(std::vector<std::string> args) {
  std::vector<char*> argv;
  static char program[] = "velmira";
  argv.push_back(program);
  for (std::string& a : args) argv.push_back(a.data());
  return RunEngine(static_cast<int>(argv.size()), argv.data());
}
