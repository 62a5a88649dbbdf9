// A one-message-at-a-time channel between two processes of one user: a named
// shared block and two named auto-reset events. The server (a debugging tool)
// creates them and answers; the client (the engine) opens them and sends.
//
// Block layout: a little-endian uint32 length L, then L bytes of message.
//
// Neither side trusts the block: a length word that points past it is
// ignored by the client and answered with an empty reply by the server. A
// message longer than the block is sent in parts cut at line feeds, and a
// client whose tool stops answering keeps only the newest few megabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/SharedMemory.h"

class CProcessCommunication {
 public:
  static constexpr size_t kMaxQueuedBytes = 4u << 20;
  static constexpr uint32_t kMinBlockSize = 5;  // the length word and one byte
  // Client: polls between looks at whether the tool was restarted.
  static constexpr int kPollsPerToolCheck = 60;

  // blockSize 0: the client, opening what a running server made; otherwise
  // the server, creating a block of that size.
  CProcessCommunication(const std::string& name, uint32_t blockSize);
  CProcessCommunication(const CProcessCommunication&) = delete;
  CProcessCommunication& operator=(const CProcessCommunication&) = delete;
  virtual ~CProcessCommunication();

  // Server: the request in data may be rewritten in place as the reply and its
  // length changed (up to Capacity()).
  virtual void OnRequest(uint8_t* data, uint32_t* length);
  // Client: the reply to the last message.
  virtual void OnReply(const uint8_t* data, uint32_t length);

  // Client: writes the message now, or queues it while the last one is
  // unanswered. True (nothing done) when not valid or on the server side.
  [[nodiscard]] bool Send(const void* data, uint32_t length);
  // One round, never waiting; true when not valid. A client waiting for its
  // reply looks once at the reply event and returns: the common idle frame.
  [[nodiscard]] bool Poll() {
    if (m_valid && !m_server && ++m_pollsSinceCheck >= kPollsPerToolCheck) FollowRestartedTool();
    if (m_valid && m_busy && !m_server && !m_reply.TryWait()) return false;
    return PollRound(m_valid && m_busy && !m_server);
  }
  // Client: polls until everything queued was written and answered, for at
  // most timeoutMs of wall-clock time. True when something is left.
  bool Drain(uint32_t timeoutMs);

  bool IsValid() const { return m_valid; }
  bool IsServer() const { return m_server; }
  bool IsBusy() const { return m_busy; }
  // Bytes a message may take in the block.
  uint32_t Capacity() const { return m_valid ? static_cast<uint32_t>(m_block.Size() - 4) : 0; }
  size_t QueuedMessages() const { return m_queue.size(); }
  size_t QueuedBytes() const { return m_queuedBytes; }
  uint64_t DroppedMessages() const { return m_dropped; }
  // Server: while false, requests are taken but never answered.
  void SetAnswering(bool answer) { m_answering = answer; }

  // The message in a block, as the client reads a reply: false and empty when
  // the length word points past the block.
  static bool ReadBlock(const uint8_t* block, size_t blockSize, std::vector<uint8_t>& message);
  // Serves one request in a block as the server does: calls handler on a copy
  // and writes the reply back; an impossible length is answered with 0.
  static void ServeBlock(uint8_t* block, size_t blockSize, CProcessCommunication& handler);
  // Cuts a message into parts that fit in capacity bytes each: zero-terminated
  // pieces ending at line feeds, a single longer line cut where it must be.
  static std::vector<std::string> SplitMessage(const uint8_t* data, size_t length, size_t capacity);

 private:
  // Client: a tool started again while the game runs makes new objects under
  // the same names; the game goes over to them (the message in flight to the
  // old tool is lost) instead of waiting for an answer that never comes.
  void FollowRestartedTool();
  bool PollRound(bool replySeen);
  void Write(const std::string& message);
  void Enqueue(std::string message);

  std::string m_name;
  int m_pollsSinceCheck = 0;
  bool m_server = false;
  bool m_valid = false;
  bool m_busy = false;
  bool m_answering = true;
  platform::SharedBlock m_block;
  platform::NamedEvent m_request;  // name + "_server": a request waits
  platform::NamedEvent m_reply;    // name + "_client": the reply waits
  std::deque<std::string> m_queue;
  size_t m_queuedBytes = 0;
  uint64_t m_dropped = 0;
};
