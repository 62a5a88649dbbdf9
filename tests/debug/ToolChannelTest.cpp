// velmira-tool channel against the engine's client end, as two processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "debug/DebugAids.h"
#include "support/TempDir.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Starts the tool and waits until it has made the channel.
FILE* StartTool(const std::string& arguments) {
  std::string command = std::string(VELMIRA_TOOL) + " channel " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return nullptr;
  char line[256];
  if (!std::fgets(line, sizeof line, pipe) || !std::strstr(line, "ready")) {
    pclose(pipe);
    return nullptr;
  }
  return pipe;
}

int Finish(FILE* pipe) {
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Name(const char* test) { return "VmTool_" + std::to_string(getpid()) + "_" + test; }

TEST(ToolChannel, WritesTheGamesLinesAsUtf8AndEndsAfterExit) {
  TempDir dir;
  const std::string name = Name("lines");
  FILE* tool = StartTool("--name " + name + " --size 64 --seconds 20 --out " + (dir / "out.txt"));
  ASSERT_NE(tool, nullptr);
  DebugOptions options;
  options.channelName = name;
  {
    CDebugAids aids(options);
    aids.SetMode(CDebugAids::kChannel);
    ASSERT_TRUE(aids.GetChannel()->IsValid());
    aids.Report("a.iet(3): [\x82\xa0]");
    aids.Report(std::string(100, 'w'));  // longer than the block: arrives in parts
    for (int frame = 0; frame < 50; ++frame) {
      aids.Poll();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    aids.Report("last");
  }  // the end sends "last" and "EXIT"
  EXPECT_EQ(Finish(tool), 0);
  std::string out = ReadFile(dir / "out.txt");
  std::string wide = out.substr(out.find('\n') + 1);
  wide = wide.substr(0, wide.find("last"));
  std::string joined;
  for (char c : wide) {
    if (c != '\n') joined += c;
  }
  EXPECT_EQ(out.substr(0, out.find('\n') + 1), "a.iet(3): [\xe3\x81\x82]\n");
  EXPECT_EQ(joined, std::string(100, 'w'));
  // The parts make one line again.
  EXPECT_NE(out.find("\n" + std::string(100, 'w') + "\n"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - 10), "last\nEXIT\n");
}

TEST(ToolChannel, ANonReplyingToolStopsAtItsTimeLimitAndTheGameEndsWithinASecond) {
  TempDir dir;
  const std::string name = Name("silent");
  FILE* tool = StartTool("--name " + name + " --no-reply --seconds 3 --out " + (dir / "out.txt"));
  ASSERT_NE(tool, nullptr);
  DebugOptions options;
  options.channelName = name;
  auto start = std::chrono::steady_clock::now();
  {
    CDebugAids aids(options);
    aids.SetMode(CDebugAids::kChannel);
    for (int frame = 0; frame < 100; ++frame) {
      aids.Report("frame line");
      aids.Poll();
    }
    EXPECT_LE(aids.GetChannel()->QueuedBytes(), CProcessCommunication::kMaxQueuedBytes);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_EQ(Finish(tool), 0);
  EXPECT_EQ(ReadFile(dir / "out.txt"), "frame line\n");
}

TEST(ToolChannel, SignalsEndingTheToolTakeItsNamedObjectsAlong) {
  for (int signal : {SIGINT, SIGTERM}) {
    const std::string name = Name(signal == SIGINT ? "sigint" : "sigterm");
    // The shell prints the tool's process id, then becomes the tool.
    std::string command = "sh -c 'echo $$; exec " + std::string(VELMIRA_TOOL) + " channel --name " + name +
                          " --seconds 20 --out /dev/null' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[256];
    ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
    pid_t pid = static_cast<pid_t>(std::atoi(line));
    ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
    ASSERT_NE(std::strstr(line, "ready"), nullptr);
    const std::string shm = "/dev/shm/" + name + "_map";
    EXPECT_EQ(access(shm.c_str(), F_OK), 0);
    kill(pid, signal);
    pclose(pipe);
    EXPECT_NE(access(shm.c_str(), F_OK), 0);
    EXPECT_NE(access(("/dev/shm/sem." + name + "_server").c_str(), F_OK), 0);
    CProcessCommunication client(name, 0);
    EXPECT_FALSE(client.IsValid());
  }
}

TEST(ToolChannel, BadArgumentsAreRefused) {
  std::string command = std::string(VELMIRA_TOOL) + " channel --size 3 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 2);
  // Too small for "EXIT" in one message.
  command = std::string(VELMIRA_TOOL) + " channel --size 8 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 2);
  command = std::string(VELMIRA_TOOL) + " channel --seconds x 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 2);
}

}  // namespace
