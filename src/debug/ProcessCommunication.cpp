#include "debug/ProcessCommunication.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "core/Cp932.h"
#include "platform/Log.h"

namespace {

uint32_t LoadLength(const uint8_t* block) {
  // Byte by byte: little-endian whatever the machine, and one read of each
  // byte even if the other process writes meanwhile.
  return static_cast<uint32_t>(block[0]) | static_cast<uint32_t>(block[1]) << 8 |
         static_cast<uint32_t>(block[2]) << 16 | static_cast<uint32_t>(block[3]) << 24;
}

void StoreLength(uint8_t* block, uint32_t length) {
  block[0] = static_cast<uint8_t>(length);
  block[1] = static_cast<uint8_t>(length >> 8);
  block[2] = static_cast<uint8_t>(length >> 16);
  block[3] = static_cast<uint8_t>(length >> 24);
}

using cp932::IsLeadByte;

}  // namespace

CProcessCommunication::CProcessCommunication(const std::string& name, uint32_t blockSize) : m_name(name) {
  m_server = blockSize != 0;
  if (m_server) {
    if (blockSize < kMinBlockSize) return;
    // The events before the block: a client that finds the new block finds
    // the new events with it.
    if (m_request.Create(name + "_server") || m_reply.Create(name + "_client")) return;
    if (m_block.Create(name + "_map", blockSize)) return;
  } else {
    // A client made while no tool runs stays invalid: tools start first.
    if (m_block.Open(name + "_map") || m_block.Size() < kMinBlockSize) return;
    if (m_request.Open(name + "_server") || m_reply.Open(name + "_client")) return;
  }
  m_valid = true;
}

CProcessCommunication::~CProcessCommunication() {
  // A newer tool that replaced our objects keeps them: remove only our own.
  if (m_server && m_block.IsOpen() && !m_block.IsStillNamed()) {
    m_block.Abandon();
    m_request.Abandon();
    m_reply.Abandon();
  }
  if (m_dropped) {
    LogWrite("debugging channel: " + std::to_string(m_dropped) + " message(s) dropped while the tool did not answer");
  }
}

void CProcessCommunication::OnRequest(uint8_t*, uint32_t*) {}
void CProcessCommunication::OnReply(const uint8_t*, uint32_t) {}

std::vector<std::string> CProcessCommunication::SplitMessage(const uint8_t* data, size_t length, size_t capacity) {
  std::vector<std::string> parts;
  if (length == 0) {
    parts.emplace_back();
    return parts;
  }
  if (length <= capacity) {
    parts.emplace_back(reinterpret_cast<const char*>(data), length);
    return parts;
  }
  if (capacity == 0) return parts;
  // The text without its terminator; each part gets one of its own when
  // there is room for more than the terminator.
  if (data[length - 1] == 0) --length;
  const bool terminate = capacity >= 2;
  const size_t room = terminate ? capacity - 1 : capacity;
  size_t pos = 0;
  while (pos < length) {
    size_t take = std::min(room, length - pos);
    if (pos + take < length) {
      // End the part after the last line feed that fits; a single longer
      // line is cut, but not inside a double-byte character.
      const void* found = nullptr;
      for (size_t k = take; k > 0; --k) {
        if (data[pos + k - 1] == '\n') {
          found = data + pos + k;
          break;
        }
      }
      if (found) {
        take = static_cast<size_t>(static_cast<const uint8_t*>(found) - (data + pos));
      } else {
        size_t i = 0, last = 0;
        while (i < take) {
          last = i;
          i += (IsLeadByte(data[pos + i]) && pos + i + 1 < length) ? 2 : 1;
        }
        if (i > take && last > 0) take = last;
      }
    }
    std::string part(reinterpret_cast<const char*>(data + pos), take);
    if (terminate) part += '\0';
    parts.push_back(std::move(part));
    pos += take;
  }
  return parts;
}

void CProcessCommunication::Write(const std::string& message) {
  uint8_t* block = m_block.Data();
  StoreLength(block, static_cast<uint32_t>(message.size()));
  std::memcpy(block + 4, message.data(), message.size());
  m_request.Signal();
  m_busy = true;
}

void CProcessCommunication::Enqueue(std::string message) {
  m_queuedBytes += message.size();
  m_queue.push_back(std::move(message));
  // A tool that stopped answering must not cost the game its memory: keep
  // the newest messages only.
  while (m_queuedBytes > kMaxQueuedBytes && m_queue.size() > 1) {
    if (m_dropped == 0) LogWrite("debugging channel: the tool does not answer; dropping the oldest messages");
    m_queuedBytes -= m_queue.front().size();
    m_queue.pop_front();
    ++m_dropped;
  }
}

bool CProcessCommunication::Send(const void* data, uint32_t length) {
  if (!m_valid || m_server) return true;
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::vector<std::string> parts = SplitMessage(bytes, length, Capacity());
  for (std::string& part : parts) {
    // Waiting messages go first: a new one written past them would reach the
    // tool out of order, a later frame's report before an earlier one's.
    if (!m_busy && m_queue.empty()) {
      Write(part);
    } else {
      Enqueue(std::move(part));
    }
  }
  return false;
}

bool CProcessCommunication::ReadBlock(const uint8_t* block, size_t blockSize, std::vector<uint8_t>& message) {
  message.clear();
  if (blockSize < 4) return false;
  uint32_t length = LoadLength(block);
  if (length > blockSize - 4) return false;
  message.assign(block + 4, block + 4 + length);
  return true;
}

void CProcessCommunication::ServeBlock(uint8_t* block, size_t blockSize, CProcessCommunication& handler) {
  if (blockSize < 4) return;
  const uint32_t capacity = static_cast<uint32_t>(blockSize - 4);
  std::vector<uint8_t> message;
  if (!ReadBlock(block, blockSize, message)) {
    StoreLength(block, 0);
    return;
  }
  // The handler works on a copy the size of the block, so the other process
  // cannot change it underneath, and cannot be made to write past it.
  uint32_t length = static_cast<uint32_t>(message.size());
  message.resize(capacity);
  handler.OnRequest(message.data(), &length);
  if (length > capacity) length = capacity;
  if (length) std::memcpy(block + 4, message.data(), length);
  StoreLength(block, length);
}

void CProcessCommunication::FollowRestartedTool() {
  m_pollsSinceCheck = 0;
  if (m_block.IsStillNamed()) return;
  // Only when a whole new channel is there: a tool that went away and did
  // not come back, or one still making its objects, leaves the old objects
  // in use, and the next look tries again.
  platform::SharedBlock block;
  platform::NamedEvent request, reply;
  if (block.Open(m_name + "_map") || block.Size() < kMinBlockSize) return;
  if (request.Open(m_name + "_server") || reply.Open(m_name + "_client")) return;
  m_block.Swap(block);
  m_request.Swap(request);
  m_reply.Swap(reply);
  m_busy = false;
  // The new block may be smaller than the old one: what waits is cut again.
  std::deque<std::string> waiting;
  waiting.swap(m_queue);
  m_queuedBytes = 0;
  for (const std::string& message : waiting)
    for (std::string& part : SplitMessage(reinterpret_cast<const uint8_t*>(message.data()), message.size(), Capacity()))
      Enqueue(std::move(part));
  LogWrite("debugging channel: the tool was started again; following it");
}

bool CProcessCommunication::PollRound(bool replySeen) {
  if (!m_valid) return true;
  if (m_server) {
    if (m_request.TryWait()) {
      ServeBlock(m_block.Data(), m_block.Size(), *this);
      if (m_answering) m_reply.Signal();
    }
    return false;
  }
  if (!m_busy) {
    if (!m_queue.empty()) {
      std::string next = std::move(m_queue.front());
      m_queue.pop_front();
      m_queuedBytes -= next.size();
      Write(next);
    }
  } else if (replySeen || m_reply.TryWait()) {
    std::vector<uint8_t> reply;
    if (ReadBlock(m_block.Data(), m_block.Size(), reply)) {
      OnReply(reply.data(), static_cast<uint32_t>(reply.size()));
    }
    m_busy = false;
  }
  return false;
}

bool CProcessCommunication::Drain(uint32_t timeoutMs) {
  if (!m_valid || m_server) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (m_busy || !m_queue.empty()) {
    (void)Poll();
    if (!m_busy && m_queue.empty()) break;
    if (std::chrono::steady_clock::now() >= deadline) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return false;
}
