// The debug aids must cost a frame next to nothing while idle. Baselines
// measured in the same run: a bare poll() over the same 64 descriptors, and a
// bare sem_trywait() on an unsignalled semaphore; the log window's append at
// its 100,000th line is compared with its first lines.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "debug/LogWindow.h"
#include "debug/ProcessCommunication.h"
#include "debug/ServerSocket.h"
#include "platform/Platform.h"
#include "platform/Socket.h"

namespace {

namespace net = platform::net;

// A server with 63 connected clients that send nothing.
struct IdleServer {
  CActorFactory factory;
  CServerSocket server{factory, 0};
  std::vector<int> clients;
  IdleServer() {
    (void)server.Poll();
    for (size_t i = 0; i < CServerSocket::kMaxConnections; ++i) {
      int error = 0;
      clients.push_back(net::Connect("127.0.0.1", server.GetBoundPort(), error));
    }
    for (int i = 0; i < 100 && server.ConnectionCount() < CServerSocket::kMaxConnections; ++i) (void)server.Poll();
  }
  ~IdleServer() {
    for (int fd : clients) net::Close(fd);
  }
};

void BM_BaselineBarePoll64(benchmark::State& state) {
  IdleServer idle;
  // The same descriptors the server polls: its listener and its 63 sockets.
  std::vector<pollfd> fds;
  fds.push_back({idle.server.GetListenSocket(), POLLIN, 0});
  for (int s = 0; s < 1024 && fds.size() < 64; ++s) {
    if (idle.server.FindActor(s)) fds.push_back({s, POLLIN, 0});
  }
  for (auto _ : state) {
    int n = poll(fds.data(), fds.size(), 0);
    benchmark::DoNotOptimize(n);
  }
  state.counters["fds"] = static_cast<double>(fds.size());
}
BENCHMARK(BM_BaselineBarePoll64);

void BM_ServerPollWith63IdleConnections(benchmark::State& state) {
  IdleServer idle;
  for (auto _ : state) {
    bool failed = idle.server.Poll();
    benchmark::DoNotOptimize(failed);
  }
  state.counters["connections"] = static_cast<double>(idle.server.ConnectionCount());
}
BENCHMARK(BM_ServerPollWith63IdleConnections);

void BM_BaselineBareSemTrywait(benchmark::State& state) {
  const std::string name = "/VmBench_" + std::to_string(getpid());
  sem_t* s = sem_open(name.c_str(), O_CREAT | O_EXCL, 0600, 0);
  for (auto _ : state) {
    int r = sem_trywait(s);
    benchmark::DoNotOptimize(r);
  }
  sem_close(s);
  sem_unlink(name.c_str());
}
BENCHMARK(BM_BaselineBareSemTrywait);

// The client waits for a reply that has not come: each poll looks once.
void BM_ChannelPollIdle(benchmark::State& state) {
  const std::string name = "VmBenchChannel_" + std::to_string(getpid());
  CProcessCommunication server(name, 4096);
  server.SetAnswering(false);
  CProcessCommunication client(name, 0);
  (void)client.Send("x", 2);
  (void)server.Poll();
  for (auto _ : state) {
    bool failed = client.Poll();
    benchmark::DoNotOptimize(failed);
  }
}
BENCHMARK(BM_ChannelPollIdle);

// The tool's side with nothing to serve.
void BM_ChannelServerPollIdle(benchmark::State& state) {
  const std::string name = "VmBenchServer_" + std::to_string(getpid());
  CProcessCommunication server(name, 4096);
  for (auto _ : state) {
    bool failed = server.Poll();
    benchmark::DoNotOptimize(failed);
  }
}
BENCHMARK(BM_ChannelServerPollIdle);

const char kTraceLine[] = "scenario.iet(120): jump file=\"a.iet\"(a.iet) label=\"*start\"(*start)";

void BM_LogFirstLines(benchmark::State& state) {
  platform::Init(platform::Backend::Headless);
  DestroyLogWindow();
  GetLogWindow();
  for (auto _ : state) LogPrintText(kTraceLine);
  DestroyLogWindow();
}
BENCHMARK(BM_LogFirstLines)->Iterations(5000);

void BM_LogLineAfter100000(benchmark::State& state) {
  platform::Init(platform::Backend::Headless);
  DestroyLogWindow();
  for (int i = 0; i < 100000; ++i) LogPrintText(kTraceLine);
  for (auto _ : state) LogPrintText(kTraceLine);
  DestroyLogWindow();
}
BENCHMARK(BM_LogLineAfter100000)->Iterations(5000);

}  // namespace
