#include "platform/Log.h"

#include <cstdio>

#include "platform/TextCodec.h"

namespace {
FILE* g_log = nullptr;
}

bool LogOpen(const std::string& nativePath) {
  LogClose();
  g_log = std::fopen(nativePath.c_str(), "wb");
  return g_log == nullptr;
}

void LogClose() {
  if (g_log) std::fclose(g_log);
  g_log = nullptr;
}

bool LogIsOpen() { return g_log != nullptr; }

void LogWrite(std::string_view cp932Text) {
  if (!g_log) return;
  std::string line = Cp932ToUtf8(cp932Text);
  // One report per line: line breaks inside a report are kept visible.
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), g_log);
  std::fflush(g_log);
}
