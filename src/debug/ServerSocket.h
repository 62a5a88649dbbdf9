// The debugging server: a small TCP server polled once per frame without
// blocking. Every accepted connection gets an actor from a factory; the only
// actor kind echoes what its client sends.
//
// It listens on the loopback address unless told otherwise. It serves at most
// 63 connections (the rest wait in the backlog until others leave), stops
// reading from a client whose echo it cannot get rid of, and retries a port
// it cannot have at every poll, logging that once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Socket.h"

class CActor {
 public:
  static constexpr size_t kReceiveBufferSize = 4096;
  // Above this much unsent echo the actor stops reading until it drains.
  static constexpr size_t kMaxQueuedBytes = 1u << 20;

  // Takes ownership of the socket.
  CActor(int socket, std::string peer);
  CActor(const CActor&) = delete;
  CActor& operator=(const CActor&) = delete;
  virtual ~CActor();

  // The bytes a client sent; true closes the connection.
  virtual bool OnReceive(const char* data, int length);
  virtual bool WantsClose();

  // Closes the socket; safe to call again (the number is closed only once,
  // so a descriptor reused meanwhile is never hit).
  void Close();
  bool IsOpen() const { return m_socket != platform::net::kNoSocket; }
  int GetSocket() const { return m_socket; }
  const std::string& GetPeer() const { return m_peer; }
  size_t QueuedBytes() const { return m_queuedBytes; }
  bool WantsRead() const { return m_queuedBytes < kMaxQueuedBytes; }
  bool WantsWrite() const { return !m_queue.empty(); }
  int GetLastErrorSite() const { return m_errorSite; }
  int GetLastError() const { return m_error; }

  // One receive; true when the connection is closed (by the peer or a failure).
  bool Receive();
  // Sends what is queued until the socket would block; true on failure.
  bool SendQueued();

 protected:
  void Queue(const char* data, size_t length);

 private:
  int m_socket;
  std::string m_peer;
  std::deque<std::vector<char>> m_queue;
  size_t m_sentOffset = 0;  // of the front block
  size_t m_queuedBytes = 0;
  int m_errorSite = 0;
  int m_error = 0;
};

class CActorFactory {
 public:
  virtual ~CActorFactory() = default;
  virtual std::unique_ptr<CActor> Create(int socket, const std::string& peer);
};

class CServerSocket {
 public:
  static constexpr size_t kMaxConnections = 63;
  static constexpr int kBacklog = 128;

  // The factory is not owned. Port 0 takes any free port.
  CServerSocket(CActorFactory& factory, uint16_t port, std::string bindAddress = "127.0.0.1");
  CServerSocket(const CServerSocket&) = delete;
  CServerSocket& operator=(const CServerSocket&) = delete;
  ~CServerSocket();

  // One round, never blocking: listen if not yet, accept, receive, send.
  // False when the round served its sockets; true when it stopped early:
  // nothing was ready, it cannot listen, or a step failed (recorded as site
  // and error).
  [[nodiscard]] bool Poll();

  bool IsListening() const { return m_listener != platform::net::kNoSocket; }
  uint16_t GetPort() const { return m_port; }
  uint16_t GetBoundPort() const { return m_boundPort; }
  int GetListenSocket() const { return m_listener; }
  const std::string& GetBindAddress() const { return m_bindAddress; }
  size_t ConnectionCount() const { return m_connections.size(); }
  const CActor* FindActor(int socket) const;
  int GetLastErrorSite() const { return m_errorSite; }
  int GetLastError() const { return m_error; }
  // How many listening failures were written to the -log (one per run of
  // failures: a success in between makes the next failure worth a line).
  int LoggedListenFailures() const { return m_loggedFailures; }

 private:
  bool Listen();
  void CloseAll();
  void RemoveClosed();
  bool Fail(int site, int error);

  CActorFactory& m_factory;
  uint16_t m_port;
  uint16_t m_boundPort = 0;
  std::string m_bindAddress;
  int m_listener = platform::net::kNoSocket;
  std::map<int, std::unique_ptr<CActor>> m_connections;
  platform::net::PollSet m_pollSet;
  std::vector<CActor*> m_polled;  // the actor of each poll entry after the listener
  int m_errorSite = 0;
  int m_error = 0;
  bool m_listenFailureLogged = false;
  int m_loggedFailures = 0;
};
