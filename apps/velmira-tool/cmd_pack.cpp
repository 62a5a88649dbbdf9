// Archive commands: pack a folder into a .pfs archive, list one, extract one.
#include <chrono>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ToolCommand.h"
#include "platform/TextCodec.h"
#include "files/PackTool.h"

namespace {

// Prints "label: done/total" to stderr at most twice a second, and once at the
// end, so long runs show they are moving without flooding the terminal.
class CProgress {
 public:
  explicit CProgress(const char* label) : m_label(label), m_last(std::chrono::steady_clock::now()) {}
  void operator()(size_t done, size_t total) {
    auto now = std::chrono::steady_clock::now();
    if (done != total && now - m_last < std::chrono::milliseconds(500)) return;
    m_last = now;
    std::fprintf(stderr, "\r%s: %zu/%zu files", m_label, done, total);
    if (done == total) std::fprintf(stderr, "\n");
    std::fflush(stderr);
  }

 private:
  const char* m_label;
  std::chrono::steady_clock::time_point m_last;
};

int Fail(const char* command, const std::string& message) {
  std::fprintf(stderr, "velmira-tool %s: %s\n", command, message.c_str());
  return 1;
}

int Pack(int argc, char** argv) {
  const char* usage =
      "usage: velmira-tool pack DIR OUT.pfs [--format pf0|pf1|pf2] [--volume-size N] "
      "[--append-to EXE] [--archive-path NAME] [--include-saves]";
  std::vector<std::string> positional;
  packtool::SPackOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return true;
      out = argv[++i];
      return false;
    };
    std::string v;
    if (arg == "--format") {
      if (value(v)) return Fail("pack", "--format needs a value\n" + std::string(usage));
      if (v == "pf0") {
        options.format = packtool::EFormat::Pf0;
      } else if (v == "pf1") {
        options.format = packtool::EFormat::Pf1;
      } else if (v == "pf2") {
        options.format = packtool::EFormat::Pf2;
      } else {
        return Fail("pack", "unknown format '" + v + "' (pf0, pf1 or pf2)");
      }
    } else if (arg == "--volume-size") {
      if (value(v)) return Fail("pack", "--volume-size needs a value\n" + std::string(usage));
      char* end = nullptr;
      unsigned long long n = std::strtoull(v.c_str(), &end, 10);
      if (v.empty() || v[0] == '-' || *end != '\0' || n == 0) {
        return Fail("pack", "--volume-size must be a positive number of bytes, not '" + v + "'");
      }
      options.volumeSize = n;
    } else if (arg == "--append-to") {
      if (value(options.appendTo)) return Fail("pack", "--append-to needs an executable\n" + std::string(usage));
    } else if (arg == "--archive-path") {
      if (value(v)) return Fail("pack", "--archive-path needs a name\n" + std::string(usage));
      options.storedPath = Utf8ToCp932(v);
    } else if (arg == "--include-saves") {
      options.includeSaves = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Fail("pack", "unknown option " + arg + "\n" + usage);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return Fail("pack", usage);
  if (!options.storedPath.empty() && options.format != packtool::EFormat::Pf2) {
    return Fail("pack", "--archive-path only applies to --format pf2");
  }
  std::string error;
  CProgress progress("packing");
  if (packtool::PackDirectory(positional[0], positional[1], options, error, std::ref(progress))) {
    return Fail("pack", error);
  }
  return 0;
}

int List(int argc, char** argv) {
  if (argc != 2) return Fail("list", "usage: velmira-tool list ARCHIVE");
  std::vector<packtool::SListedEntry> entries;
  std::string error, damage;
  if (packtool::ListArchive(argv[1], entries, error, &damage)) return Fail("list", error);
  // The fourth column is the file the entry's bytes are read from: the
  // archive itself, one of its volumes, or (pf2) a file of the game folder.
  const std::string self = Utf8ToCp932(std::filesystem::path(argv[1]).filename().string());
  for (const packtool::SListedEntry& e : entries) {
    std::string where =
        e.archivePath.compare(0, self.size(), self) == 0
            ? std::filesystem::path(argv[1]).filename().string() + Cp932ToUtf8(e.archivePath.substr(self.size()))
            : Cp932ToUtf8(e.archivePath);
    std::printf("%s\t%u\t%u\t%s\n", Cp932ToUtf8(e.name).c_str(), e.offset, e.size, where.c_str());
  }
  if (!damage.empty()) {
    std::fflush(stdout);
    return Fail("list", std::string(argv[1]) + ": damaged directory: " + damage);
  }
  return 0;
}

int Extract(int argc, char** argv) {
  if (argc != 3) return Fail("extract", "usage: velmira-tool extract ARCHIVE DIR");
  std::string error;
  CProgress progress("extracting");
  if (packtool::ExtractArchive(argv[1], argv[2], error, std::ref(progress))) return Fail("extract", error);
  return 0;
}

}  // namespace

VELMIRA_TOOL_COMMAND(pack,
                     "pack DIR OUT.pfs [--format pf0|pf1|pf2] [--volume-size N] [--append-to EXE] "
                     "[--archive-path NAME] [--include-saves]  pack a folder into an archive (saves left out)",
                     Pack);
VELMIRA_TOOL_COMMAND(list, "list ARCHIVE  list entries (name, offset, size, file read)", List);
VELMIRA_TOOL_COMMAND(extract, "extract ARCHIVE DIR  extract every entry into a folder", Extract);
