#include "engine/InputDriver.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "graphics/PngWriter.h"
#include "platform/Log.h"

namespace {

// Bytes of any value (driver files may hold CP932 text) are safe to test.
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int CInputDriver::KeyFromName(const std::string& name) {
  using namespace platform;
  static const std::pair<const char*, int> kNames[] = {
      {"LBUTTON", VK_LBUTTON},   {"RBUTTON", VK_RBUTTON},   {"MBUTTON", VK_MBUTTON},   {"RETURN", VK_RETURN},
      {"ENTER", VK_RETURN},      {"SPACE", VK_SPACE},       {"ESCAPE", VK_ESCAPE},     {"CONTROL", VK_CONTROL},
      {"SHIFT", VK_SHIFT},       {"LSHIFT", VK_LSHIFT},     {"RSHIFT", VK_RSHIFT},     {"UP", VK_UP},
      {"DOWN", VK_DOWN},         {"LEFT", VK_LEFT},         {"RIGHT", VK_RIGHT},       {"ALT", VK_MENU},
      {"MENU", VK_MENU},         {"TAB", VK_TAB},           {"BACK", VK_BACK},         {"DELETE", VK_DELETE},
      {"HOME", VK_HOME},         {"END", VK_END},           {"PRIOR", VK_PRIOR},       {"NEXT", VK_NEXT},
      {"LCONTROL", VK_LCONTROL}, {"RCONTROL", VK_RCONTROL}, {"XBUTTON1", VK_XBUTTON1}, {"XBUTTON2", VK_XBUTTON2},
      {"PAUSE", VK_PAUSE},       {"CAPITAL", VK_CAPITAL},   {"INSERT", VK_INSERT},     {"LALT", VK_LMENU},
      {"RALT", VK_RMENU},        {"LMENU", VK_LMENU},       {"RMENU", VK_RMENU}};
  for (const auto& [n, code] : kNames) {
    if (name == n) return code;
  }
  if (name.size() == 7 && name.compare(0, 6, "NUMPAD") == 0 && name[6] >= '0' && name[6] <= '9')
    return VK_NUMPAD0 + (name[6] - '0');
  if (name.size() == 1 && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= '0' && name[0] <= '9'))) return name[0];
  if (name.size() >= 2 && name[0] == 'F' && std::all_of(name.begin() + 1, name.end(), IsDigit)) {
    int n = std::atoi(name.c_str() + 1);
    if (n >= 1 && n <= 12) return VK_F1 + n - 1;
    return -1;
  }
  if (!name.empty() && name.size() <= 3 && std::all_of(name.begin(), name.end(), IsDigit)) {
    int code = std::atoi(name.c_str());
    return code <= 255 ? code : -1;
  }
  return -1;
}

namespace {

bool ReadInt(std::istringstream& in, int& out) {
  std::string word;
  if (!(in >> word)) return false;
  char* end = nullptr;
  long v = std::strtol(word.c_str(), &end, 10);
  if (*end || v < -1000000 || v > 1000000) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

std::vector<CInputDriver::Action> CInputDriver::Parse(const std::string& text, std::vector<std::string>& errors) {
  std::vector<Action> actions;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream in(line);
    std::string first;
    if (!(in >> first)) continue;
    auto fail = [&](const std::string& why) { errors.push_back("line " + std::to_string(number) + ": " + why); };
    char* end = nullptr;
    long frame = std::strtol(first.c_str(), &end, 10);
    if (*end || frame < 0 || frame > 100000000) {
      fail("a frame number must come first");
      continue;
    }
    std::string verb;
    if (!(in >> verb)) {
      fail("missing action");
      continue;
    }
    Action a;
    a.frame = static_cast<int>(frame);
    auto keyAction = [&](const char* as, int key, int at) {
      Action k;
      k.frame = at;
      k.verb = as;
      k.key = key;
      actions.push_back(k);
    };
    if (verb == "down" || verb == "up" || verb == "press") {
      std::string name;
      int key = (in >> name) ? KeyFromName(name) : -1;
      if (key < 0) {
        fail("unknown key '" + name + "'");
        continue;
      }
      if (verb == "press") {
        keyAction("down", key, a.frame);
        keyAction("up", key, a.frame + 1);
      } else {
        keyAction(verb.c_str(), key, a.frame);
      }
      continue;
    }
    if (verb == "move" || verb == "click" || verb == "rclick") {
      if (!ReadInt(in, a.x) || !ReadInt(in, a.y)) {
        fail(verb + " needs X and Y");
        continue;
      }
      a.verb = "move";
      actions.push_back(a);
      if (verb != "move") {
        int button = verb == "click" ? platform::VK_LBUTTON : platform::VK_RBUTTON;
        keyAction("down", button, a.frame);
        keyAction("up", button, a.frame + 1);
      }
      continue;
    }
    if (verb == "wheel") {
      std::string dir;
      in >> dir;
      if (dir != "up" && dir != "down") {
        fail("wheel needs up or down");
        continue;
      }
      a.verb = "wheel";
      a.up = dir == "up";
      actions.push_back(a);
      continue;
    }
    if (verb == "sleep") {
      if (!ReadInt(in, a.x) || a.x < 0) {
        fail("sleep needs a number of milliseconds");
        continue;
      }
      a.verb = "sleep";
      actions.push_back(a);
      continue;
    }
    const auto& fileVerbs = FileVerbs();
    if (std::find(fileVerbs.begin(), fileVerbs.end(), verb) != fileVerbs.end()) {
      std::string rest;
      std::getline(in, rest);
      size_t b = rest.find_first_not_of(" \t");
      size_t e = rest.find_last_not_of(" \t\r");
      if (b == std::string::npos) {
        fail(verb + " needs a file name");
        continue;
      }
      a.verb = verb;
      a.path = rest.substr(b, e - b + 1);
      actions.push_back(a);
      continue;
    }
    if (verb == "syskey") {
      std::string name;
      a.key = (in >> name) ? KeyFromName(name) : -1;
      if (a.key < 0) {
        fail("unknown key '" + name + "'");
        continue;
      }
      a.verb = "syskey";
      actions.push_back(a);
      continue;
    }
    if (verb == "quit" || verb == "losecontext") {
      a.verb = verb;
      actions.push_back(a);
      continue;
    }
    fail("unknown action '" + verb + "'");
  }
  std::stable_sort(actions.begin(), actions.end(), [](const Action& l, const Action& r) { return l.frame < r.frame; });
  return actions;
}

CInputDriver::CInputDriver(platform::WindowHandle window, std::vector<Action> actions, int frameLimit)
    : window_(window), actions_(std::move(actions)), frameLimit_(frameLimit) {}

std::string CInputDriver::Resolve(const std::string& path) const {
  if (path.empty() || path[0] == '/' || baseDir_.empty()) return path;
  return baseDir_ + "/" + path;
}

void CInputDriver::Close() {
  if (closed_) return;
  closed_ = true;
  platform::PostMessage(window_, platform::WM_CLOSE, 0, 0);
}

bool CInputDriver::BeforeFrame(int frame) {
  bool posted = false;
  if (frameLimit_ >= 0 && frame >= frameLimit_) {
    Close();
    return true;
  }
  for (const Action& a : actions_) {
    if (a.frame != frame) continue;
    if (a.verb == "down") {
      platform::InjectKey(a.key, true);
    } else if (a.verb == "up") {
      platform::InjectKey(a.key, false);
    } else if (a.verb == "move") {
      const platform::Point at = offset_ ? offset_() : platform::Point{};
      platform::InjectCursor(window_, a.x - at.x, a.y - at.y);
    } else if (a.verb == "wheel") {
      uint16_t delta = a.up ? 120 : 0xFF88;
      platform::PostMessage(window_, platform::WM_MOUSEWHEEL, static_cast<uintptr_t>(delta) << 16, 0);
      posted = true;
    } else if (a.verb == "quit") {
      Close();
      posted = true;
    } else if (a.verb == "syskey") {
      // Alt held with the key (Alt+RETURN switches full screen).
      platform::PostMessage(window_, platform::WM_SYSKEYDOWN, static_cast<uintptr_t>(a.key), 0);
      posted = true;
    } else if (a.verb == "losecontext") {
      // Test aid: the GPU context goes as after a driver reset.
      platform::LoseGlContext(window_);
    } else if (a.verb == "sleep") {
      // Wall-clock time for peers (a debugging tool) to act; the engine's
      // clock does not move.
      std::this_thread::sleep_for(std::chrono::milliseconds(a.x));
    }
  }
  return posted;
}

void CInputDriver::AfterFrame(int frame) {
  for (const Action& a : actions_) {
    if (a.frame != frame) continue;
    if (a.verb == "shot") {
      std::vector<uint8_t> pixels;
      int w = 0, h = 0;
      if (platform::GetLastFrame(pixels, w, h) || WriteScreenshotPng(Resolve(a.path), pixels, w, h)) {
        std::fprintf(stderr, "velmira: could not write the screenshot %s\n", a.path.c_str());
      }
    } else if (a.verb != "down" && a.verb != "up" && a.verb != "move" && a.verb != "wheel" && a.verb != "quit" &&
               a.verb != "sleep" && a.verb != "syskey" && a.verb != "losecontext") {
      std::string text;
      if (a.verb == "dumpvars") {
        if (dump_) text = dump_();
      } else if (auto it = writers_.find(a.verb); it != writers_.end()) {
        text = it->second();
      }
      if (WriteTextFile(Resolve(a.path), text))
        std::fprintf(stderr, "velmira: could not write %s (%s)\n", a.path.c_str(), a.verb.c_str());
    }
  }
}

const std::vector<std::string>& CInputDriver::FileVerbs() {
  static const std::vector<std::string> verbs = {"shot", "dumpvars", "logwindow", "layers", "dumptext", "dumpsound"};
  return verbs;
}

bool WriteTextFile(const std::string& nativePath, const std::string& text) {
  FILE* f = std::fopen(nativePath.c_str(), "wb");
  if (!f) return true;
  const bool shortWrite = !text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size();
  return (std::fclose(f) != 0) || shortWrite;
}

bool WriteScreenshotPng(const std::string& nativePath, const std::vector<uint8_t>& bgra, int width, int height) {
  if (width <= 0 || height <= 0 || bgra.size() < static_cast<size_t>(width) * height * 4) return true;
  std::vector<uint8_t> png;
  if (EncodeBgraAsRgbPng(bgra.data(), width, height, png)) return true;
  FILE* f = std::fopen(nativePath.c_str(), "wb");
  if (!f) return true;
  const bool short_write = std::fwrite(png.data(), 1, png.size(), f) != png.size();
  return (std::fclose(f) != 0) || short_write;
}
