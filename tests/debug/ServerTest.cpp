#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/Log.h"
#include "debug/DebugAids.h"
#include "debug/ServerSocket.h"
#include "platform/Socket.h"
#include "support/TempDir.h"

namespace net = platform::net;

namespace {

int DebugOptionsPortDefault() { return DebugOptions{}.port; }

// A client end for the tests.
class Client {
 public:
  explicit Client(uint16_t port) {
    int error = 0;
    fd_ = net::Connect("127.0.0.1", port, error);
  }
  ~Client() { Close(); }
  bool Ok() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  void Close() {
    net::Close(fd_);
    fd_ = -1;
  }
  void Reset() {
    net::CloseWithReset(fd_);
    fd_ = -1;
  }
  void SendAll(const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
      size_t sent = 0;
      int error = 0;
      ASSERT_EQ(net::Send(fd_, data.data() + done, data.size() - done, sent, error), net::IoResult::Done);
      done += sent;
    }
  }
  // What arrives within timeoutMs (stopping early once want bytes came).
  std::string Read(size_t want, int timeoutMs = 500) {
    std::string got;
    for (int waited = 0; got.size() < want && waited < timeoutMs; waited += 10) {
      net::PollSet set;
      set.Add(fd_, true, false);
      int error = 0;
      if (set.Wait(10, error) <= 0) continue;
      char buffer[65536];
      size_t n = 0;
      if (net::Receive(fd_, buffer, sizeof buffer, n, error) != net::IoResult::Done) break;
      got.append(buffer, n);
    }
    return got;
  }

 private:
  int fd_ = -1;
};

uint16_t StartServer(CServerSocket& server) {
  (void)server.Poll();
  EXPECT_TRUE(server.IsListening());
  return server.GetBoundPort();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(Server, EchoesWithinTwoPollsAndForgetsAClosedClientAtTheNext) {
  CActorFactory factory;
  CServerSocket server(factory, 0);
  EXPECT_EQ(server.GetBindAddress(), "127.0.0.1");
  uint16_t port = StartServer(server);
  ASSERT_NE(port, 0);
  Client client(port);
  ASSERT_TRUE(client.Ok());
  client.SendAll("abc");
  (void)server.Poll();
  (void)server.Poll();
  EXPECT_EQ(client.Read(3), "abc");
  EXPECT_EQ(server.ConnectionCount(), 1u);
  client.SendAll("de");
  (void)server.Poll();
  (void)server.Poll();
  EXPECT_EQ(client.Read(2), "de");

  client.Close();
  (void)server.Poll();
  EXPECT_EQ(server.ConnectionCount(), 0u);
  EXPECT_TRUE(server.Poll());  // nothing was ready
  EXPECT_EQ(server.GetLastErrorSite(), 0);
}

TEST(Server, ATakenPortIsRetriedEveryPollAndLoggedOnce) {
  TempDir dir;
  ASSERT_FALSE(LogOpen(dir / "run.log"));
  int error = 0;
  int blocker = net::OpenListener("127.0.0.1", 0, 4, error);
  ASSERT_GE(blocker, 0);
  uint16_t port = net::LocalPort(blocker);
  CActorFactory factory;
  CServerSocket server(factory, port);
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(server.Poll());
    EXPECT_FALSE(server.IsListening());
  }
  EXPECT_NE(server.GetLastError(), 0);
  EXPECT_EQ(server.GetLastErrorSite(), 215);  // the bind, not the socket or the listen
  EXPECT_EQ(server.LoggedListenFailures(), 1);
  net::Close(blocker);
  (void)server.Poll();
  EXPECT_TRUE(server.IsListening());
  EXPECT_EQ(server.GetBoundPort(), port);
  LogClose();
  std::string log = ReadFile(dir / "run.log");
  const std::string where = "127.0.0.1:" + std::to_string(port);
  EXPECT_NE(log.find("cannot listen on " + where), std::string::npos);
  EXPECT_NE(log.find("listening on " + where), std::string::npos);
  size_t first = log.find("cannot listen");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(log.find("cannot listen", first + 1), std::string::npos);
}

TEST(Server, ServesAtMost63ClientsAndTakesTheRestAsOthersLeave) {
  CActorFactory factory;
  CServerSocket server(factory, 0);
  uint16_t port = StartServer(server);
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 100; ++i) {
    clients.push_back(std::make_unique<Client>(port));
    ASSERT_TRUE(clients.back()->Ok());
  }
  for (int i = 0; i < 5; ++i) (void)server.Poll();
  EXPECT_EQ(server.ConnectionCount(), CServerSocket::kMaxConnections);
  // The served ones are echoed.
  clients[0]->SendAll("x");
  for (int i = 0; i < 2; ++i) (void)server.Poll();
  EXPECT_EQ(clients[0]->Read(1), "x");

  for (int i = 0; i < 10; ++i) clients[i]->Close();
  for (int i = 0; i < 5; ++i) (void)server.Poll();
  EXPECT_EQ(server.ConnectionCount(), CServerSocket::kMaxConnections);
  // A client that waited in the backlog is served now.
  clients[99]->SendAll("late");
  for (int i = 0; i < 40; ++i) (void)server.Poll();
  for (int i = 10; i < 40; ++i) clients[i]->Close();
  for (int i = 0; i < 5; ++i) (void)server.Poll();
  EXPECT_EQ(server.ConnectionCount(), 60u);
  EXPECT_EQ(clients[99]->Read(4), "late");
}

TEST(Server, AClientThatNeverReadsCostsBoundedMemoryAndLosesNothing) {
  CActorFactory factory;
  CServerSocket server(factory, 0);
  uint16_t port = StartServer(server);
  Client client(port);
  ASSERT_TRUE(client.Ok());
  ASSERT_FALSE(net::SetNonBlocking(client.Fd(), true));
  (void)server.Poll();
  ASSERT_EQ(server.ConnectionCount(), 1u);

  std::string chunk(65536, '\0');
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i % 251);
  size_t offset = 0;  // into the endless pattern, so order can be checked
  uint64_t sent = 0;
  size_t maxQueued = 0;
  int stalled = 0;
  for (int round = 0; round < 4000 && stalled < 50; ++round) {
    size_t n = 0;
    int error = 0;
    net::IoResult r = net::Send(client.Fd(), chunk.data() + offset, chunk.size() - offset, n, error);
    ASSERT_NE(r, net::IoResult::Failed);
    if (r == net::IoResult::Done) {
      sent += n;
      offset = (offset + n) % 251;
      stalled = 0;
    } else {
      ++stalled;
    }
    (void)server.Poll();
    for (int s = 0; s < 64; ++s) {
      if (const CActor* actor = server.FindActor(s)) maxQueued = std::max(maxQueued, actor->QueuedBytes());
    }
  }
  EXPECT_GT(sent, CActor::kMaxQueuedBytes);  // it did press against the limit
  EXPECT_LT(maxQueued, CActor::kMaxQueuedBytes + CActor::kReceiveBufferSize);

  // Now it reads: everything comes back, in order.
  uint64_t received = 0;
  bool inOrder = true;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (received < sent && std::chrono::steady_clock::now() < until) {
    (void)server.Poll();
    char buffer[65536];
    size_t n = 0;
    int error = 0;
    if (net::Receive(client.Fd(), buffer, sizeof buffer, n, error) == net::IoResult::Done) {
      for (size_t i = 0; i < n; ++i) inOrder &= static_cast<uint8_t>(buffer[i]) == (received + i) % 251;
      received += n;
    }
  }
  EXPECT_EQ(received, sent);
  EXPECT_TRUE(inOrder);
}

TEST(Server, APeerResetMidSendIsSurvived) {
  CActorFactory factory;
  CServerSocket server(factory, 0);
  uint16_t port = StartServer(server);
  Client quitter(port), other(port);
  ASSERT_TRUE(quitter.Ok());
  net::SetReceiveBufferSize(quitter.Fd(), 4096);
  ASSERT_FALSE(net::SetNonBlocking(quitter.Fd(), true));
  std::string chunk(65536, 'q');
  for (int round = 0; round < 200; ++round) {
    size_t n = 0;
    int error = 0;
    (void)net::Send(quitter.Fd(), chunk.data(), chunk.size(), n, error);
    (void)server.Poll();
  }
  EXPECT_EQ(server.ConnectionCount(), 2u);
  quitter.Reset();
  for (int i = 0; i < 10; ++i) (void)server.Poll();
  EXPECT_EQ(server.ConnectionCount(), 1u);
  other.SendAll("still here");
  for (int i = 0; i < 2; ++i) (void)server.Poll();
  EXPECT_EQ(other.Read(10), "still here");
}

TEST(Server, RunningOutOfDescriptorsSkipsAcceptingAndKeepsEveryoneElse) {
  CActorFactory factory;
  CServerSocket server(factory, 0);
  uint16_t port = StartServer(server);
  Client first(port);
  (void)server.Poll();
  ASSERT_EQ(server.ConnectionCount(), 1u);
  Client second(port), third(port);

  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  int lowestFree = dup(0);
  ASSERT_GE(lowestFree, 0);
  close(lowestFree);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  for (int i = 0; i < 3; ++i) (void)server.Poll();
  bool listening = server.IsListening();
  size_t served = server.ConnectionCount();
  int error = server.GetLastError();
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_EQ(error, EMFILE);
  EXPECT_TRUE(listening);
  EXPECT_EQ(served, 1u);

  first.SendAll("kept");
  for (int i = 0; i < 3; ++i) (void)server.Poll();
  EXPECT_EQ(first.Read(4), "kept");
  EXPECT_EQ(server.ConnectionCount(), 3u);
}

TEST(Server, AnAddressThatCannotBeBoundIsAFailureLoggedOnce) {
  EXPECT_EQ(DebugOptionsPortDefault(), 80);
  CActorFactory factory;
  CServerSocket server(factory, 0, "not-an-address");
  EXPECT_TRUE(server.Poll());
  EXPECT_TRUE(server.Poll());
  EXPECT_EQ(server.LoggedListenFailures(), 1);
  CServerSocket any(factory, 0, "0.0.0.0");
  (void)any.Poll();
  EXPECT_TRUE(any.IsListening());
}

// An actor that hangs up after its first message.
class OneShotActor : public CActor {
 public:
  using CActor::CActor;
  bool OnReceive(const char* data, int length) override { return true; }
};
class OneShotFactory : public CActorFactory {
 public:
  std::unique_ptr<CActor> Create(int socket, const std::string& peer) override {
    peers.push_back(peer);
    return std::make_unique<OneShotActor>(socket, peer);
  }
  std::vector<std::string> peers;
};

TEST(Server, ActorsFromTheFactoryDecideWhenToCloseAndSocketsCloseOnce) {
  OneShotFactory factory;
  CServerSocket server(factory, 0);
  uint16_t port = StartServer(server);
  Client client(port);
  client.SendAll("bye");
  for (int i = 0; i < 3; ++i) (void)server.Poll();
  EXPECT_EQ(server.ConnectionCount(), 0u);
  EXPECT_EQ(factory.peers, std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(client.Read(1, 200), "");  // closed without an echo

  // An actor closed once must not close the number again when destroyed:
  // by then it may belong to another file.
  int error = 0;
  int first = net::OpenListener("127.0.0.1", 0, 1, error);
  ASSERT_GE(first, 0);
  auto actor = std::make_unique<CActor>(first, "x");
  actor->Close();
  int reused = net::OpenListener("127.0.0.1", 0, 1, error);
  ASSERT_EQ(reused, first);
  actor.reset();
  EXPECT_NE(net::LocalPort(reused), 0);  // still open
  net::Close(reused);
}

}  // namespace
