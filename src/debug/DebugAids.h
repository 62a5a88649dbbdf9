// What the `debug` tag switches on, behind one object the interpreter owns:
// mode 1 the log window, mode 2 the debugging channel to an outside tool,
// mode 3 the debugging (echo) server; mode 0 reports nowhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "debug/ProcessCommunication.h"
#include "debug/ServerSocket.h"

struct DebugOptions {
  std::string channelName = "Velmira_Debug";  // -debugchannel
  uint16_t port = 80;                         // -debugport (0: any free port)
  std::string bindAddress = "127.0.0.1";      // -debugbind
  uint32_t exitDrainMs = 1000;                // how long the end waits for the tool
};

class CDebugAids {
 public:
  enum Mode : int { kNone = 0, kLogWindow = 1, kChannel = 2, kServer = 3 };
  // Lines kept while no tool takes them (mode 2 without a tool).
  static constexpr size_t kMaxUnsentReports = size_t{1} << 20;

  explicit CDebugAids(DebugOptions options = {});
  CDebugAids(const CDebugAids&) = delete;
  CDebugAids& operator=(const CDebugAids&) = delete;
  ~CDebugAids();

  // [debug mode=n]: mode 2 opens the channel and mode 3 starts the server,
  // each once; a later mode keeps them.
  // Sets the mode; with start, the channel or server that the mode needs is
  // made when there is none yet. A mode read back from a save file does not
  // start them: a file must not open a listening socket.
  void SetMode(int mode, bool start = true);
  int GetMode() const { return m_mode; }

  // One script error or trace line (CP932, without line break), routed by the
  // mode: mode 1 appends it to the log window (made by the first line), mode
  // 2 collects it for the channel; other modes drop it.
  void Report(std::string_view cp932);

  // Once per frame before the script runs: in mode 2 send what the frame
  // collected (with its terminating zero) and poll the channel; in mode 3
  // poll the server.
  void Poll();

  // At the interpreter's end: sends what is still collected, then "EXIT",
  // and waits (wall clock, at most exitDrainMs) until both are out. Deletes
  // the channel and the server. Safe to call twice.
  void Shutdown();

  // Reads a -debugport value: a decimal number 0 to 65535. True on failure
  // (the caller keeps the default and says so).
  [[nodiscard]] static bool ParsePort(std::string_view text, uint16_t& port);

  const std::string& PendingReports() const { return m_reports; }
  // Hands over the lines collected since the last send (tests read them).
  std::string TakeReports() {
    std::string out;
    out.swap(m_reports);
    return out;
  }
  CProcessCommunication* GetChannel() const { return m_channel.get(); }
  CServerSocket* GetServer() const { return m_server.get(); }
  const DebugOptions& GetOptions() const { return m_options; }

 private:
  void SendReports();

  DebugOptions m_options;
  int m_mode = kNone;
  std::string m_reports;
  std::unique_ptr<CProcessCommunication> m_channel;
  std::unique_ptr<CActorFactory> m_actorFactory;
  std::unique_ptr<CServerSocket> m_server;
};
