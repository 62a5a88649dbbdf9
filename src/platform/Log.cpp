#include "platform/Log.h"

#include <cstdio>
#include <deque>

#include "platform/TextCodec.h"

namespace {

// A runaway script can report without end: the file stops growing here and
// keeps only the newest reports, written at the end.
constexpr size_t kMaxLogBytes = size_t{64} << 20;
constexpr size_t kKeptTail = 200;

struct LogState {
  FILE* file = nullptr;
  size_t written = 0;
  bool failed = false;
  std::string lastLine;
  size_t repeats = 0;
  size_t leftOut = 0;
  std::deque<std::string> tail;
  size_t problems = 0;
};

LogState& L() {
  static LogState state;
  return state;
}

void Emit(const std::string& line) {
  LogState& s = L();
  if (!s.file) return;
  if (s.written + line.size() > kMaxLogBytes) {
    ++s.leftOut;
    s.tail.push_back(line);
    if (s.tail.size() > kKeptTail) s.tail.pop_front();
    return;
  }
  s.written += line.size();
  if (std::fwrite(line.data(), 1, line.size(), s.file) != line.size() || std::fflush(s.file) != 0) {
    if (!s.failed) std::fprintf(stderr, "velmira: the log file cannot be written (disk full?)\n");
    s.failed = true;
  }
}

void FlushRepeats() {
  LogState& s = L();
  if (s.repeats == 0) return;
  Emit("(the report above repeated " + std::to_string(s.repeats) + " more time" + (s.repeats == 1 ? "" : "s") + ")\n");
  s.repeats = 0;
}

}  // namespace

bool LogOpen(const std::string& nativePath) {
  LogClose();
  const size_t problems = L().problems;
  L() = LogState();
  L().problems = problems;
  L().file = std::fopen(nativePath.c_str(), "wb");
  return L().file == nullptr;
}

void LogClose() {
  LogState& s = L();
  if (!s.file) return;
  FlushRepeats();
  if (s.leftOut > s.tail.size()) {
    std::string note = "(" + std::to_string(s.leftOut - s.tail.size()) + " reports left out: the log is full)\n";
    std::fwrite(note.data(), 1, note.size(), s.file);
  }
  for (const std::string& line : s.tail) std::fwrite(line.data(), 1, line.size(), s.file);
  if (std::fclose(s.file) != 0 && !s.failed) std::fprintf(stderr, "velmira: the log file cannot be written\n");
  s.file = nullptr;
  s.tail.clear();
}

bool LogIsOpen() { return L().file != nullptr; }

void LogWrite(std::string_view cp932Text) {
  LogState& s = L();
  if (!s.file) return;
  std::string line = Cp932ToUtf8(cp932Text);
  // One report per line: line breaks inside a report are kept visible.
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line += '\n';
  // The same report again and again (a loop that fails every turn) is
  // written once and counted.
  if (line == s.lastLine) {
    ++s.repeats;
    return;
  }
  FlushRepeats();
  s.lastLine = line;
  Emit(line);
}

void LogProblem(std::string_view cp932Text) {
  ++L().problems;
  LogWrite(cp932Text);
}

size_t LogProblemCount() { return L().problems; }
