#include "debug/LogWindow.h"

#include <cstdarg>
#include <cstdio>
#include <fstream>

#include "platform/TextCodec.h"

namespace {

CLogWindow* g_logWindow = nullptr;

std::string FormatV(const char* format, va_list args) {
  char small[256];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  std::string out;
  if (n > 0 && static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
  } else if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, copy);
    out.resize(static_cast<size_t>(n));
  }
  va_end(copy);
  return out;
}

platform::TextViewArgs LogWindowArgs() {
  platform::TextViewArgs args;
  args.x = 10;
  args.y = 10;
  args.clientWidth = 320;
  args.clientHeight = 480;
  args.fontFamily = "SH G30-M";
  args.maxLines = CLogWindow::kMaxLines;
  return args;
}

}  // namespace

CLogWindow::CLogWindow() : view_(platform::TextView::Create(LogWindowArgs())) {}

CLogWindow::~CLogWindow() = default;

void CLogWindow::SetTitle(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string title = FormatV(format, args);
  va_end(args);
  view_->SetTitle(Cp932ToUtf8(title));
}

void CLogWindow::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  PrintText(text);
}

void CLogWindow::PrintText(std::string_view cp932) {
  // A report that holds line breaks (a multi-line attribute value) shows as
  // several lines; "\r\n" and "\n" both end a line.
  size_t start = 0;
  for (;;) {
    size_t end = cp932.find('\n', start);
    std::string_view line = cp932.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    view_->AppendLine(Cp932ToUtf8(line));
    if (end == std::string_view::npos || end + 1 == cp932.size()) break;
    start = end + 1;
  }
}

CLogWindow* GetLogWindow() {
  if (!g_logWindow) g_logWindow = new CLogWindow();
  return g_logWindow;
}

CLogWindow* FindLogWindow() { return g_logWindow; }

void LogPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  GetLogWindow()->PrintText(text);
}

void LogPrintText(std::string_view cp932) { GetLogWindow()->PrintText(cp932); }

void DestroyLogWindow() {
  delete g_logWindow;
  g_logWindow = nullptr;
}

bool WriteLogWindowLines(const std::string& nativePath) {
  std::ofstream out(nativePath, std::ios::binary | std::ios::trunc);
  if (!out) return true;
  if (g_logWindow) out << g_logWindow->TextUtf8();
  out.flush();
  return !out;
}
