// Arbitrary block contents through both ends of the debugging channel: the
// client reading a reply, the server serving a request (with a handler that
// answers with whatever length it is given), and the splitting of long
// messages. Nothing may be read or written past the block.
//
// Input: two bytes little-endian block size (at most 64 KiB), one byte that
// the handler turns into a reply length, then the block's bytes (cut or
// zero-filled to the block size).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "debug/ProcessCommunication.h"

namespace {

class Handler : public CProcessCommunication {
 public:
  Handler() : CProcessCommunication("VmFuzzNoSuchChannel", 0) {}
  void OnRequest(uint8_t* data, uint32_t* length) override {
    // Touch every byte the request claims, then answer with any length.
    uint32_t sum = 0;
    for (uint32_t i = 0; i < *length; ++i) sum += data[i];
    if (sum == 0xFFFFFFFFu) std::abort();
    if (answer != 0xFFFFFFFFu) *length = answer;
  }
  uint32_t answer = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static Handler handler;
  size_t blockSize = (static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8) % 65537;
  uint8_t mode = data[2];
  data += 3;
  size -= 3;
  std::vector<uint8_t> block(data, data + std::min(size, blockSize));
  block.resize(blockSize);

  std::vector<uint8_t> message;
  if (CProcessCommunication::ReadBlock(block.data(), block.size(), message) && message.size() + 4 > block.size()) {
    std::abort();
  }

  handler.answer = mode == 0xFF ? 0xFFFFFFFFu : static_cast<uint32_t>(mode) * 257u;
  CProcessCommunication::ServeBlock(block.data(), block.size(), handler);
  if (block.size() >= 4 && !CProcessCommunication::ReadBlock(block.data(), block.size(), message)) std::abort();

  // Splitting keeps every byte, in order, in parts that fit.
  size_t capacity = mode % 64;
  std::vector<std::string> parts = CProcessCommunication::SplitMessage(data, size, capacity);
  if (size > capacity && capacity >= 2) {
    std::string joined;
    for (const std::string& part : parts) {
      if (part.size() > capacity || part.empty() || part.back() != '\0') std::abort();
      joined.append(part, 0, part.size() - 1);
    }
    std::string original(reinterpret_cast<const char*>(data), size);
    if (!original.empty() && original.back() == '\0') original.pop_back();
    if (joined != original) std::abort();
  }
  return 0;
}
