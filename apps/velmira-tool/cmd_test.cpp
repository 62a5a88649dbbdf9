// velmira-tool test: replays every driver file of a game's tests/ folder
// headless, each in a scratch copy of the game, and compares the screenshots
// and dumps it writes with the goldens kept beside the drivers.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ToolCommand.h"
#include "engine/InputDriver.h"
#include "files/MemoryFile.h"
#include "files/PackTool.h"
#include "graphics/Png.h"
#include "graphics/PngWriter.h"
#include "graphics/Surface.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kTestUsage =
    "test GAME_DIR [--update] [--only NAME] [--jobs N] [--engine PATH] [--margin FRAMES] [--timeout SECONDS]";

// Frames run after the driver's last action, so that what it started settles.
constexpr int kDefaultMargin = 60;
constexpr int kDefaultTimeoutSeconds = 600;
// Names listed when a dump differs; the rest is counted.
constexpr size_t kMaxNamesShown = 8;

struct Options {
  std::string gameDir;
  bool update = false;
  std::set<std::string> only;
  int jobs = 1;
  std::string engine;
  int margin = kDefaultMargin;
  int timeoutSeconds = kDefaultTimeoutSeconds;
};

struct TestResult {
  std::string name;
  bool passed = false;
  std::vector<std::string> problems;
  int checks = 0;
  bool updated = false;
  double seconds = 0;
};

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "test: %s\n", problem.c_str());
  std::fprintf(stderr, "usage: velmira-tool %s\n", kTestUsage);
  return 2;
}

bool ReadBytes(const fs::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;
  std::stringstream s;
  s << in.rdbuf();
  out = s.str();
  return false;
}

bool WriteBytes(const fs::path& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return true;
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return !out;
}

// The engine to run: --engine, then $VELMIRA_ENGINE, then the velmira binary
// next to this tool (or in the build tree's apps/velmira/).
std::string FindEngine(const std::string& given) {
  if (!given.empty()) return given;
  if (const char* env = std::getenv("VELMIRA_ENGINE"); env && *env) return env;
  const fs::path self = fs::path(platform::GetExecutablePath()).parent_path();
  for (const fs::path& candidate : {self / "velmira", self.parent_path() / "velmira" / "velmira"}) {
    if (platform::IsRegularFile(candidate.string())) return candidate.string();
  }
  return std::string();
}

// A path a driver writes must stay inside the run's output folder.
bool SafeOutputName(const std::string& path) {
  if (path.empty() || path[0] == '/' || path.find('\\') != std::string::npos) return false;
  for (const auto& part : fs::path(path)) {
    if (part == ".." || part == ".") return false;
  }
  return true;
}

// Copies the game folder without its tests (goldens can be large and the
// game never reads them) and without the saves an author's own play left
// there: a test starts as a new player does.
bool CopyGame(const fs::path& from, const fs::path& to, std::string& why) {
  std::error_code ec;
  fs::create_directories(to, ec);
  for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename() == "tests") continue;
    std::error_code typeError;
    if (it->is_regular_file(typeError) &&
        packtool::IsSaveOrTemporary(it->path().filename().string(), it->path().string()))
      continue;
    fs::copy(it->path(), to / it->path().filename(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing | fs::copy_options::copy_symlinks, ec);
    if (ec) {
      why = "cannot copy " + it->path().string() + ": " + ec.message();
      return true;
    }
  }
  if (ec) {
    why = "cannot read the game folder: " + ec.message();
    return true;
  }
  return false;
}

// ---- Comparing ----------------------------------------------------------

bool DecodePng(const std::string& bytes, CSurface& out) {
  CMemoryFile file(bytes.data(), bytes.size());
  CPng png;
  return png.Load(&out, &file) || out.GetBytesPerPixel() != 4;
}

}  // namespace

// Compares two screenshots. Returns "" when they match; otherwise a
// description, and the difference image in diffPng when the sizes agree.
std::string CompareShots(const std::string& goldenPng, const std::string& actualPng, std::vector<uint8_t>& diffPng) {
  diffPng.clear();
  CSurface golden, actual;
  if (DecodePng(goldenPng, golden)) return "the golden image cannot be read";
  if (DecodePng(actualPng, actual)) return "the screenshot cannot be read";
  const int w = actual.GetWidth(), h = actual.GetHeight();
  if (golden.GetWidth() != w || golden.GetHeight() != h) {
    return "size " + std::to_string(w) + "x" + std::to_string(h) + " instead of " + std::to_string(golden.GetWidth()) +
           "x" + std::to_string(golden.GetHeight());
  }
  // Changed pixels in red over a dimmed copy of the new picture.
  std::vector<uint8_t> diff(static_cast<size_t>(w) * h * 4);
  long changed = 0;
  int left = w, top = h, right = -1, bottom = -1;
  for (int y = 0; y < h; ++y) {
    const uint8_t* g = golden.GetLine(y);
    const uint8_t* a = actual.GetLine(y);
    uint8_t* d = diff.data() + static_cast<size_t>(y) * w * 4;
    for (int x = 0; x < w; ++x, g += 4, a += 4, d += 4) {
      // Screenshots carry no alpha: compare B, G and R.
      if (g[0] != a[0] || g[1] != a[1] || g[2] != a[2]) {
        ++changed;
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
        d[0] = 0, d[1] = 0, d[2] = 255;
      } else {
        const uint8_t grey = static_cast<uint8_t>((a[0] + 2 * a[1] + a[2]) / 16);
        d[0] = d[1] = d[2] = grey;
      }
      d[3] = 255;
    }
  }
  if (changed == 0) return std::string();
  if (EncodeBgraAsRgbPng(diff.data(), w, h, diffPng)) diffPng.clear();
  return std::to_string(changed) + (changed == 1 ? " pixel differs" : " pixels differ") + " in (" +
         std::to_string(left) + "," + std::to_string(top) + ")-(" + std::to_string(right) + "," +
         std::to_string(bottom) + ")";
}

// Compares two variable dumps (name TAB kind TAB value per line). Returns ""
// when they match, else the names of the variables that differ.
std::string CompareDumps(const std::string& golden, const std::string& actual) {
  auto read = [](const std::string& text) {
    std::map<std::string, std::string> vars;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      const size_t tab = line.find('\t');
      vars[line.substr(0, tab)] = tab == std::string::npos ? std::string() : line.substr(tab + 1);
    }
    return vars;
  };
  const auto g = read(golden), a = read(actual);
  std::vector<std::string> names;
  for (const auto& [name, value] : g) {
    auto it = a.find(name);
    if (it == a.end())
      names.push_back(name + " (gone)");
    else if (it->second != value)
      names.push_back(name);
  }
  for (const auto& [name, value] : a) {
    if (!g.count(name)) names.push_back(name + " (new)");
  }
  if (names.empty()) return golden == actual ? std::string() : "the same variables written differently";
  std::string out = std::to_string(names.size()) + (names.size() == 1 ? " variable differs: " : " variables differ: ");
  for (size_t i = 0; i < names.size() && i < kMaxNamesShown; ++i) out += (i ? ", " : "") + names[i];
  if (names.size() > kMaxNamesShown) out += ", ...";
  return out;
}

// Any other text output: the first line that differs.
std::string CompareText(const std::string& golden, const std::string& actual) {
  if (golden == actual) return std::string();
  std::istringstream g(golden), a(actual);
  std::string gl, al;
  for (int line = 1;; ++line) {
    const bool gm = static_cast<bool>(std::getline(g, gl));
    const bool am = static_cast<bool>(std::getline(a, al));
    if (!gm && !am) return "differs";
    if (gm != am || gl != al) return "line " + std::to_string(line) + " differs";
  }
}

namespace {

class TestRunner {
 public:
  explicit TestRunner(const Options& options) : options_(options) {}

  int Run() {
    const fs::path game = fs::absolute(options_.gameDir).lexically_normal();
    const fs::path testsDir = game / "tests";
    std::error_code ec;
    if (!fs::is_directory(game, ec)) return Usage("no game folder " + options_.gameDir);
    if (!fs::is_directory(testsDir, ec)) return Usage("the game has no tests folder (" + testsDir.string() + ")");
    std::vector<std::string> names;
    for (fs::directory_iterator it(testsDir, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->is_regular_file(ec) && it->path().extension() == ".txt") names.push_back(it->path().stem().string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& wanted : options_.only) {
      if (!std::binary_search(names.begin(), names.end(), wanted))
        return Usage("no test named " + wanted + " in " + testsDir.string());
    }
    if (!options_.only.empty()) {
      names.erase(
          std::remove_if(names.begin(), names.end(), [&](const std::string& n) { return !options_.only.count(n); }),
          names.end());
    }
    if (names.empty()) return Usage("no driver files (*.txt) in " + testsDir.string());
    engine_ = FindEngine(options_.engine);
    if (engine_.empty() || !platform::IsRegularFile(engine_))
      return Usage("cannot find the velmira engine (use --engine PATH or set VELMIRA_ENGINE)");

    game_ = game;
    tests_ = testsDir;
    if (MakeScratch()) return Usage("cannot make a scratch folder in " + fs::temp_directory_path().string());
    results_.resize(names.size());
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::mutex progress;
    auto worker = [&]() {
      for (size_t i; (i = next++) < names.size();) {
        const auto start = std::chrono::steady_clock::now();
        results_[i] = RunOne(names[i]);
        results_[i].seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::lock_guard<std::mutex> lock(progress);
        std::fprintf(stderr, "[%zu/%zu] %s %.1f s\n", ++done, names.size(), names[i].c_str(), results_[i].seconds);
      }
    };
    std::vector<std::thread> threads;
    const int jobs = std::max(1, std::min<int>(options_.jobs, static_cast<int>(names.size())));
    for (int j = 0; j < jobs; ++j) threads.emplace_back(worker);
    for (std::thread& t : threads) t.join();
    fs::remove_all(scratch_, ec);

    size_t failed = 0;
    for (const TestResult& r : results_) {
      if (!r.passed) ++failed;
      std::string line = r.passed ? (r.updated ? "UPDATED " : "PASS ") : "FAIL ";
      line += r.name;
      if (r.passed) {
        line += " (" + std::to_string(r.checks) + (r.checks == 1 ? " check)" : " checks)");
      } else {
        for (size_t p = 0; p < r.problems.size(); ++p) line += (p ? "; " : ": ") + r.problems[p];
      }
      std::printf("%s\n", line.c_str());
    }
    std::printf("%zu test%s: %zu passed, %zu failed\n", results_.size(), results_.size() == 1 ? "" : "s",
                results_.size() - failed, failed);
    std::fflush(stdout);
    return failed ? 1 : 0;
  }

 private:
  // A fresh folder of our own under the temporary folder.
  bool MakeScratch() {
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char name[40];
      std::snprintf(name, sizeof(name), "velmira-test-%08x", static_cast<unsigned>(random()));
      scratch_ = fs::temp_directory_path(ec) / name;
      if (!ec && fs::create_directory(scratch_, ec) && !ec) return false;
    }
    return true;
  }

  TestResult RunOne(const std::string& name) {
    TestResult r;
    r.name = name;
    const fs::path driverPath = tests_ / (name + ".txt");
    const fs::path failedDir = tests_ / "failed" / name;
    std::error_code ec;
    fs::remove_all(failedDir, ec);

    // A driver with lines the engine would skip is a broken test, not a pass.
    std::string text;
    if (ReadBytes(driverPath, text)) {
      r.problems.push_back("cannot read " + driverPath.string());
      return r;
    }
    std::vector<std::string> errors;
    const std::vector<CInputDriver::Action> actions = CInputDriver::Parse(text, errors);
    for (const std::string& e : errors) r.problems.push_back(name + ".txt " + e);
    int lastFrame = 0;
    std::vector<std::pair<std::string, std::string>> outputs;  // verb, path
    std::set<std::string> seen;
    for (const CInputDriver::Action& a : actions) {
      lastFrame = std::max(lastFrame, a.frame);
      const auto& verbs = CInputDriver::FileVerbs();
      if (std::find(verbs.begin(), verbs.end(), a.verb) == verbs.end()) continue;
      if (!SafeOutputName(a.path)) {
        r.problems.push_back(a.verb + " " + a.path + ": outputs are plain names inside the test's folder");
      } else if (!seen.insert(a.path).second) {
        r.problems.push_back(a.path + " is written twice");
      } else {
        outputs.emplace_back(a.verb, a.path);
      }
    }
    if (outputs.empty() && r.problems.empty()) r.problems.push_back("the driver takes no shot and writes no dump");
    if (!r.problems.empty()) return r;

    const fs::path work = scratch_ / name;
    const fs::path gameCopy = work / "game";
    const fs::path out = work / "out";
    fs::remove_all(work, ec);
    std::string why;
    if (CopyGame(game_, gameCopy, why)) {
      r.problems.push_back(why);
      return r;
    }
    fs::create_directories(out, ec);
    for (const auto& [verb, path] : outputs) fs::create_directories((out / path).parent_path(), ec);

    platform::ProcessOptions process;
    process.workingDirectory = out.string();
    process.outputPath = (work / "engine-output.txt").string();
    const std::vector<std::string> argv = {engine_,
                                           gameCopy.string(),
                                           "-headless",
                                           "-input",
                                           fs::absolute(driverPath).string(),
                                           "-frames",
                                           std::to_string(lastFrame + 1 + options_.margin),
                                           "-log",
                                           (work / "run.log").string()};
    int pid = -1;
    if (platform::StartProcess(argv, process, pid, &why)) {
      r.problems.push_back("cannot start " + engine_ + ": " + why);
      return r;
    }
    const int status = platform::WaitProcess(pid, options_.timeoutSeconds * 1000);
    if (status == -2) {
      r.problems.push_back("stopped after " + std::to_string(options_.timeoutSeconds) + " s");
    } else if (status != 0) {
      r.problems.push_back("the engine exited with status " + std::to_string(status));
    }
    std::string engineText;
    if (!ReadBytes(work / "engine-output.txt", engineText) && !engineText.empty()) {
      // The engine's own complaints (a driver line, an unwritable shot) are failures too.
      std::istringstream lines(engineText);
      for (std::string line; std::getline(lines, line);) {
        if (line.rfind("velmira: ", 0) == 0) r.problems.push_back(line.substr(9));
      }
    }

    const fs::path goldenDir = tests_ / "golden" / name;
    auto keepFailure = [&](const std::string& path, const std::string* bytes, const std::vector<uint8_t>* diff) {
      const fs::path target = failedDir / path;
      fs::create_directories(target.parent_path(), ec);
      if (bytes) WriteBytes(target, bytes->data(), bytes->size());
      if (diff && !diff->empty()) {
        fs::path d = target;
        d.replace_extension(".diff.png");
        WriteBytes(d, diff->data(), diff->size());
        return d;
      }
      return target;
    };
    std::vector<std::pair<std::string, std::string>> produced;
    for (const auto& [verb, path] : outputs) {
      std::string actual;
      if (ReadBytes(out / path, actual)) {
        r.problems.push_back(verb + " " + path + " was not written");
        continue;
      }
      produced.emplace_back(path, actual);
      if (options_.update) continue;
      ++r.checks;
      std::string golden;
      if (ReadBytes(goldenDir / path, golden)) {
        r.problems.push_back(path + " has no golden (run with --update)");
        keepFailure(path, &actual, nullptr);
        continue;
      }
      std::string problem;
      std::vector<uint8_t> diff;
      if (verb == "shot")
        problem = CompareShots(golden, actual, diff);
      else if (verb == "dumpvars")
        problem = CompareDumps(golden, actual);
      else
        problem = CompareText(golden, actual);
      if (problem.empty()) continue;
      const fs::path kept = keepFailure(path, &actual, &diff);
      if (!diff.empty()) problem += "; difference image " + kept.string();
      r.problems.push_back(path + ": " + problem);
    }
    if (!r.problems.empty()) {
      std::string log;
      if (!ReadBytes(work / "run.log", log)) keepFailure("run.log", &log, nullptr);
      if (!engineText.empty()) keepFailure("engine-output.txt", &engineText, nullptr);
      fs::remove_all(work, ec);
      return r;
    }
    if (options_.update) {
      // The goldens of this test are exactly what this run wrote.
      fs::remove_all(goldenDir, ec);
      for (const auto& [path, bytes] : produced) {
        fs::create_directories((goldenDir / path).parent_path(), ec);
        if (WriteBytes(goldenDir / path, bytes.data(), bytes.size())) {
          r.problems.push_back("cannot write " + (goldenDir / path).string());
          fs::remove_all(work, ec);
          return r;
        }
        ++r.checks;
      }
      r.updated = true;
    }
    fs::remove_all(work, ec);
    fs::remove(tests_ / "failed", ec);  // only when it is empty
    r.passed = true;
    return r;
  }

  const Options& options_;
  std::string engine_;
  fs::path game_, tests_, scratch_;
  std::vector<TestResult> results_;
};

bool ParseCount(const char* text, int low, int high, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < low || v > high) return true;
  out = static_cast<int>(v);
  return false;
}

int TestCommand(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)what;
      return argv[++i];
    };
    if (arg == "--update") {
      options.update = true;
    } else if (arg == "--only") {
      const char* v = value("NAME");
      if (!v || !*v) return Usage("--only needs a test name");
      options.only.insert(v);
    } else if (arg == "--jobs") {
      const char* v = value("N");
      if (!v || ParseCount(v, 1, 256, options.jobs)) return Usage("--jobs takes a number from 1 to 256");
    } else if (arg == "--margin") {
      const char* v = value("FRAMES");
      if (!v || ParseCount(v, 0, 1000000, options.margin)) return Usage("--margin takes a number of frames");
    } else if (arg == "--timeout") {
      const char* v = value("SECONDS");
      if (!v || ParseCount(v, 1, 86400, options.timeoutSeconds)) return Usage("--timeout takes a number of seconds");
    } else if (arg == "--engine") {
      const char* v = value("PATH");
      if (!v || !*v) return Usage("--engine needs a path");
      options.engine = v;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else if (options.gameDir.empty()) {
      options.gameDir = arg;
    } else {
      return Usage("one game folder only");
    }
  }
  if (options.gameDir.empty()) return Usage("");
  TestRunner runner(options);
  return runner.Run();
}

}  // namespace

VELMIRA_TOOL_COMMAND(test,
                     "test GAME_DIR [--update] [--only NAME] [--jobs N] [--engine PATH] [--margin FRAMES] "
                     "[--timeout SECONDS]  replay tests/*.txt headless and compare shots and dumps with tests/golden/",
                     TestCommand);
