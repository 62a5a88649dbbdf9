// A virtual X server for tests that need a real window system (focus,
// window managers' absence), and a way to run one test of this program
// against it in a child process. SDL unloads the X11 libraries at exit, and
// the leak checker cannot name what they keep: the child runs without it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/Process.h"
#include "support/TempDir.h"

class XvfbDisplay {
 public:
  XvfbDisplay() = default;
  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;
  ~XvfbDisplay() {
    if (pid_ < 0) return;
    platform::StopProcess(pid_);
    platform::WaitProcess(pid_, 5000);
  }

  // Starts a server on the first free display from 90 up. False with why
  // set when there is no Xvfb or it did not come up.
  bool Start(std::string& why) {
    std::string xvfb;
    for (const char* candidate : {"/usr/bin/Xvfb", "/usr/local/bin/Xvfb"}) {
      if (std::filesystem::exists(candidate)) xvfb = candidate;
    }
    if (xvfb.empty()) {
      why = "no Xvfb";
      return false;
    }
    int display = 90;
    while (display < 140 && std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display))) ++display;
    name_ = ":" + std::to_string(display);
    platform::ProcessOptions options;
    options.outputPath = logs_ / "xvfb.txt";
    if (platform::StartProcess({xvfb, name_, "-screen", "0", "640x480x24", "-nolisten", "tcp"}, options, pid_)) {
      why = "Xvfb did not start";
      pid_ = -1;
      return false;
    }
    for (int i = 0; i < 300; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      int status = 0;
      if (platform::PollProcess(pid_, status)) break;
      if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display))) return true;
    }
    platform::StopProcess(pid_, true);
    platform::WaitProcess(pid_);
    pid_ = -1;
    why = "Xvfb did not start: " + Read(logs_ / "xvfb.txt");
    return false;
  }

  const std::string& Name() const { return name_; }

  // Runs the test named filter of this program on the display, with
  // childFlag set in its environment; expects it to pass.
  void RunChildTest(const std::string& filter, const std::string& childFlag) {
    platform::ProcessOptions child;
    child.outputPath = logs_ / "child.txt";
    child.environment = {"DISPLAY=" + name_, childFlag + "=1", "ASAN_OPTIONS=detect_leaks=0", "SDL_VIDEODRIVER=x11"};
    int pid = -1;
    ASSERT_FALSE(platform::StartProcess(
        {std::filesystem::read_symlink("/proc/self/exe").string(), "--gtest_filter=" + filter}, child, pid));
    EXPECT_EQ(platform::WaitProcess(pid, 300000), 0) << Read(logs_ / "child.txt");
    EXPECT_NE(Read(logs_ / "child.txt").find("[  PASSED  ] 1 test"), std::string::npos) << Read(logs_ / "child.txt");
  }

 private:
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  TempDir logs_;
  std::string name_;
  int pid_ = -1;
};
