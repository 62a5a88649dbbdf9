#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Log.h"
#include "debug/DebugAids.h"
#include "debug/LogWindow.h"
#include "debug/ProcessCommunication.h"
#include "support/TempDir.h"

namespace {

std::string UniqueName(const char* test) { return "VmTest_" + std::to_string(getpid()) + "_" + test; }

// The tool's side: records every request and answers it empty.
class RecordingServer : public CProcessCommunication {
 public:
  RecordingServer(const std::string& name, uint32_t size) : CProcessCommunication(name, size) {}
  void OnRequest(uint8_t* data, uint32_t* length) override {
    requests.emplace_back(reinterpret_cast<const char*>(data), *length);
    *length = reply;
  }
  std::vector<std::string> requests;
  uint32_t reply = 0;
};

class RecordingClient : public CProcessCommunication {
 public:
  explicit RecordingClient(const std::string& name) : CProcessCommunication(name, 0) {}
  void OnReply(const uint8_t* data, uint32_t length) override {
    replies.emplace_back(reinterpret_cast<const char*>(data), length);
  }
  std::vector<std::string> replies;
};

std::string Z(const std::string& text) { return text + std::string(1, '\0'); }

TEST(Channel, MessagesSentTogetherGoOutInOrderOnePerReply) {
  const std::string name = UniqueName("order");
  RecordingServer server(name, 4096);
  RecordingClient client(name);
  ASSERT_TRUE(server.IsValid());
  ASSERT_TRUE(client.IsValid());
  EXPECT_EQ(client.Capacity(), 4092u);

  for (const char* m : {"one", "two", "three"}) ASSERT_FALSE(client.Send(m, 4 + (m[1] == 'h' ? 2 : 0)));
  EXPECT_TRUE(client.IsBusy());
  EXPECT_EQ(client.QueuedMessages(), 2u);

  std::vector<std::string> seen;
  for (int round = 0; round < 10 && seen.size() < 3; ++round) {
    ASSERT_FALSE(server.Poll());
    // Exactly one new request per reply.
    EXPECT_LE(server.requests.size(), seen.size() + 1);
    seen = server.requests;
    ASSERT_FALSE(client.Poll());
    ASSERT_FALSE(client.Poll());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{Z("one"), Z("two"), Z("three")}));
  EXPECT_EQ(client.replies.size(), 3u);
  EXPECT_FALSE(client.IsBusy());
  // The server side does not send.
  EXPECT_TRUE(server.Send("x", 1));
}

TEST(Channel, AMessageLongerThanTheBlockArrivesInPartsWithNothingLost) {
  const std::string name = UniqueName("split");
  RecordingServer server(name, 4 + 32);
  RecordingClient client(name);
  ASSERT_TRUE(client.IsValid());
  std::string text = "short\nline two here\n" + std::string(70, 'L') + "\n\x82\xa0\x82\xa0 tail\n";
  ASSERT_FALSE(client.Send(text.c_str(), static_cast<uint32_t>(text.size() + 1)));
  for (int round = 0; round < 40; ++round) {
    (void)server.Poll();
    (void)client.Poll();
  }
  std::string joined;
  for (const std::string& part : server.requests) {
    ASSERT_LE(part.size(), 32u);
    ASSERT_FALSE(part.empty());
    EXPECT_EQ(part.back(), '\0');
    joined += part.substr(0, part.size() - 1);
  }
  EXPECT_EQ(joined, text);
  EXPECT_EQ(server.requests[0], Z("short\nline two here\n"));
}

TEST(Channel, SplittingNeverCutsADoubleByteCharacter) {
  std::string text(9, 'a');
  text += "\x82\xa0\x82\xa0";
  auto parts = CProcessCommunication::SplitMessage(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 11);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0], Z(std::string(9, 'a')));
  EXPECT_EQ(parts[1], Z("\x82\xa0\x82\xa0"));
}

TEST(Channel, ATooSmallBlockOrAMissingToolLeavesTheClientInvalid) {
  const std::string name = UniqueName("invalid");
  {
    RecordingClient client(name);
    EXPECT_FALSE(client.IsValid());
    EXPECT_TRUE(client.Send("x", 2));
    EXPECT_TRUE(client.Poll());
  }
  RecordingServer tiny(name, 4);
  EXPECT_FALSE(tiny.IsValid());
  platform::SharedBlock block;
  platform::NamedEvent request, reply;
  ASSERT_FALSE(block.Create(name + "_map", 4));
  ASSERT_FALSE(request.Create(name + "_server"));
  ASSERT_FALSE(reply.Create(name + "_client"));
  RecordingClient client(name);
  EXPECT_FALSE(client.IsValid());
}

TEST(Channel, ObjectsArePrivateReplaceStaleOnesAndGoAwayWithTheServer) {
  const std::string name = UniqueName("lifetime");
  const std::filesystem::path shm = "/dev/shm/" + name + "_map";
  {
    auto stale = std::make_unique<RecordingServer>(name, 64);
    {
      RecordingClient client(name);
      ASSERT_FALSE(client.Send("old", 4));  // a request the new server must not see
    }
    RecordingServer fresh(name, 64);
    ASSERT_TRUE(fresh.IsValid());
    if (std::filesystem::exists(shm)) {
      auto perms = std::filesystem::status(shm).permissions();
      EXPECT_EQ(perms & std::filesystem::perms::all,
                std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    ASSERT_FALSE(fresh.Poll());
    EXPECT_TRUE(fresh.requests.empty());
    // The replaced server ending must not take the new one's names with it.
    stale.reset();
    RecordingClient client(name);
    ASSERT_TRUE(client.IsValid());
    ASSERT_FALSE(client.Send("new", 4));
    ASSERT_FALSE(fresh.Poll());
    EXPECT_EQ(fresh.requests, std::vector<std::string>{Z("new")});
  }
  EXPECT_FALSE(std::filesystem::exists(shm));
  RecordingClient late(name);
  EXPECT_FALSE(late.IsValid());
}

TEST(Channel, AGameFollowsAToolStartedAgainWhileItRuns) {
  const std::string name = UniqueName("restart");
  auto first = std::make_unique<RecordingServer>(name, 4096);
  RecordingClient client(name);
  ASSERT_TRUE(client.IsValid());
  ASSERT_FALSE(client.Send("one", 4));
  ASSERT_FALSE(first->Poll());
  ASSERT_FALSE(client.Poll());
  EXPECT_FALSE(client.IsBusy());
  // The tool ends and a new one starts, with a smaller block.
  ASSERT_FALSE(client.Send("lost", 5));  // to the old tool, never answered
  first.reset();
  {
    // Caught half made (a block, no events yet): the game keeps what it has
    // and looks again later.
    platform::SharedBlock half;
    ASSERT_FALSE(half.Create(name + "_map", 64));
    for (int i = 0; i < 2 * CProcessCommunication::kPollsPerToolCheck; ++i) ASSERT_FALSE(client.Poll());
    EXPECT_TRUE(client.IsValid());
  }
  RecordingServer second(name, 16);
  ASSERT_TRUE(second.IsValid());
  const std::string longer = "a line longer than the new block\n";
  ASSERT_FALSE(client.Send(longer.c_str(), uint32_t(longer.size() + 1)));
  for (int i = 0; i < 200 && second.requests.size() < 3; ++i) {
    ASSERT_FALSE(client.Poll());
    ASSERT_FALSE(second.Poll());
  }
  ASSERT_FALSE(second.requests.empty());
  std::string joined;
  for (const std::string& part : second.requests) {
    EXPECT_LE(part.size(), 12u);
    joined += part.substr(0, part.size() - 1);
  }
  EXPECT_EQ(joined, longer);
  ASSERT_FALSE(client.Send("two", 4));
  for (int i = 0; i < 4; ++i) {
    ASSERT_FALSE(client.Poll());
    ASSERT_FALSE(second.Poll());
  }
  EXPECT_EQ(second.requests.back(), Z("two"));
}

TEST(Channel, AToolThatNeverRepliesCostsBoundedMemory) {
  TempDir dir;
  ASSERT_FALSE(LogOpen(dir / "run.log"));
  const std::string name = UniqueName("noreply");
  {
    RecordingServer server(name, 65536);
    server.SetAnswering(false);
    RecordingClient client(name);
    std::string line(1000, 'r');
    for (int frame = 0; frame < 10000; ++frame) {
      ASSERT_FALSE(client.Send(line.c_str(), static_cast<uint32_t>(line.size() + 1)));
      ASSERT_FALSE(client.Poll());
      ASSERT_FALSE(server.Poll());
      ASSERT_LE(client.QueuedBytes(), CProcessCommunication::kMaxQueuedBytes);
    }
    EXPECT_EQ(server.requests.size(), 1u);
    EXPECT_GT(client.DroppedMessages(), 0u);
  }
  LogClose();
  std::ifstream in(dir / "run.log");
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_NE(log.str().find("dropped"), std::string::npos);
}

TEST(Channel, LengthWordsPastTheBlockAreNotTrusted) {
  uint8_t block[16] = {0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b'};
  std::vector<uint8_t> message;
  EXPECT_FALSE(CProcessCommunication::ReadBlock(block, sizeof block, message));
  EXPECT_TRUE(message.empty());
  block[0] = 13;
  block[1] = block[2] = block[3] = 0;
  EXPECT_FALSE(CProcessCommunication::ReadBlock(block, sizeof block, message));
  block[0] = 12;
  EXPECT_TRUE(CProcessCommunication::ReadBlock(block, sizeof block, message));
  EXPECT_EQ(message.size(), 12u);

  // The server answers an impossible request with 0 and never calls its handler.
  RecordingServer handler(UniqueName("oversized"), 16);
  block[0] = 200;
  CProcessCommunication::ServeBlock(block, sizeof block, handler);
  EXPECT_TRUE(handler.requests.empty());
  EXPECT_EQ(block[0], 0);
  // A handler that claims a longer reply than fits is cut to the block.
  block[0] = 2;
  handler.reply = 1000;
  CProcessCommunication::ServeBlock(block, sizeof block, handler);
  ASSERT_EQ(handler.requests.size(), 1u);
  EXPECT_EQ(block[0], 12);
}

// The engine's side: the debug aids in mode 2 against a tool polling on its
// own thread, as another process would.
class ToolThread {
 public:
  explicit ToolThread(const std::string& name) : server_(name, 256) {
    thread_ = std::thread([this] {
      while (!stop_) {
        (void)server_.Poll();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
  }
  ~ToolThread() { Stop(); }
  std::vector<std::string> Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return server_.requests;
  }

 private:
  RecordingServer server_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(DebugAids, ChannelModeSendsEachFramesLinesAndTheLastOnesWithExitAtTheEnd) {
  const std::string name = UniqueName("aids");
  ToolThread tool(name);
  DebugOptions options;
  options.channelName = name;
  CDebugAids aids(options);
  aids.Report("before any mode");  // mode 0 reports nowhere
  aids.SetMode(CDebugAids::kChannel);
  ASSERT_NE(aids.GetChannel(), nullptr);
  ASSERT_TRUE(aids.GetChannel()->IsValid());
  // A zero byte ends its line (a Lua string may hold one), not the message.
  aids.Report(std::string_view("a.iet(1): [x]\0tail", 19));
  aids.Report("a.iet(2): [y]");
  aids.Poll();
  EXPECT_TRUE(aids.PendingReports().empty());
  aids.Report("last frame");
  aids.Shutdown();
  EXPECT_EQ(aids.GetChannel(), nullptr);
  std::vector<std::string> got = tool.Stop();
  EXPECT_EQ(got, (std::vector<std::string>{Z("a.iet(1): [x]\na.iet(2): [y]\n"), Z("last frame\n"), Z("EXIT")}));
}

TEST(DebugAids, WithoutAToolChannelModeChangesNothingAndEndsAtOnce) {
  DebugOptions options;
  options.channelName = UniqueName("notool");
  CDebugAids aids(options);
  aids.SetMode(CDebugAids::kChannel);
  EXPECT_FALSE(aids.GetChannel()->IsValid());
  for (int i = 0; i < 100; ++i) {
    aids.Report("line");
    aids.Poll();
  }
  EXPECT_EQ(FindLogWindow(), nullptr);
  auto start = std::chrono::steady_clock::now();
  aids.Shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

// The mode set without starting the channel (as a loaded game sets it):
// the collected lines stay within their limit.
TEST(DebugAids, ChannelModeWithoutAChannelKeepsItsLinesBounded) {
  CDebugAids aids;
  aids.SetMode(CDebugAids::kChannel, false);
  ASSERT_EQ(aids.GetChannel(), nullptr);
  const std::string line(1000, 'x');
  for (int i = 0; i < 3000; ++i) {
    aids.Report(line);
    aids.Poll();
  }
  EXPECT_LE(aids.PendingReports().size(), CDebugAids::kMaxUnsentReports + line.size() + 1);
  EXPECT_GT(aids.PendingReports().size(), 0u);
}

TEST(DebugAids, AToolThatStopsAnsweringDelaysTheEndByAtMostASecond) {
  const std::string name = UniqueName("silent");
  RecordingServer server(name, 256);
  server.SetAnswering(false);
  DebugOptions options;
  options.channelName = name;
  CDebugAids aids(options);
  aids.SetMode(CDebugAids::kChannel);
  aids.Report("x");
  aids.Poll();
  auto start = std::chrono::steady_clock::now();
  aids.Shutdown();
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::milliseconds(1500));
}

TEST(DebugAids, PortOptionsAreWholeNumbersUpTo65535) {
  uint16_t port = 80;
  EXPECT_FALSE(CDebugAids::ParsePort("0", port));
  EXPECT_EQ(port, 0);
  EXPECT_FALSE(CDebugAids::ParsePort("65535", port));
  EXPECT_EQ(port, 65535);
  for (const char* bad : {"", "65536", "-1", "80x", " 80", "+80"}) {
    port = 7;
    EXPECT_TRUE(CDebugAids::ParsePort(bad, port)) << bad;
    EXPECT_EQ(port, 7);
  }
}

TEST(DebugAids, ModeOneLogsToTheWindowMadeByTheFirstLine) {
  DestroyLogWindow();
  CDebugAids aids;
  aids.SetMode(CDebugAids::kLogWindow);
  EXPECT_EQ(FindLogWindow(), nullptr);
  aids.Report("a.iet(1): [x] 100%");
  ASSERT_NE(FindLogWindow(), nullptr);
  EXPECT_EQ(FindLogWindow()->View().Lines().back(), "a.iet(1): [x] 100%");
  aids.SetMode(CDebugAids::kNone);
  aids.Report("not shown");
  EXPECT_EQ(FindLogWindow()->View().Lines().size(), 1u);
  DestroyLogWindow();
}

TEST(DebugAids, ModesOneAndThreeMakeOnlyTheirOwnAid) {
  DebugOptions options;
  options.channelName = UniqueName("modes");
  options.port = 0;
  CDebugAids aids(options);
  aids.SetMode(CDebugAids::kServer);
  ASSERT_NE(aids.GetServer(), nullptr);
  EXPECT_EQ(aids.GetChannel(), nullptr);
  aids.Report("nowhere");
  EXPECT_TRUE(aids.PendingReports().empty());
  EXPECT_EQ(FindLogWindow(), nullptr);
  aids.Poll();
  EXPECT_TRUE(aids.GetServer()->IsListening());
  EXPECT_EQ(aids.GetServer()->GetBindAddress(), "127.0.0.1");
  aids.Shutdown();
  EXPECT_EQ(aids.GetServer(), nullptr);
}

}  // namespace
