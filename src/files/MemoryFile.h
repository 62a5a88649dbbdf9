// A read-only CFile over bytes in memory, for decoding data that is not on
// disk (tests, benchmarks, fuzzing, embedded data).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "files/File.h"

class CMemoryFile : public CFile {
 public:
  // A view of bytes that the caller keeps alive while the file is used.
  CMemoryFile(const void* data, size_t size)
      : m_data(static_cast<const uint8_t*>(data)), m_size(std::min<size_t>(size, 0x7FFFFFFF)) {}
  // A file that owns its bytes.
  explicit CMemoryFile(std::vector<uint8_t> bytes)
      : m_owned(std::move(bytes)), m_data(m_owned.data()), m_size(std::min<size_t>(m_owned.size(), 0x7FFFFFFF)) {}
  CMemoryFile(const CMemoryFile&) = delete;
  CMemoryFile& operator=(const CMemoryFile&) = delete;

  bool Open(const char*) override { return true; }
  int Read(void* buffer, unsigned count) override {
    const size_t n = std::min<size_t>(count, m_size - m_position);
    if (n) std::memcpy(buffer, m_data + m_position, n);
    m_position += n;
    return int(n);
  }
  // Positions outside the bytes are refused (-1) and change nothing.
  int Seek(int offset, int origin) override {
    const int64_t base = origin == 1 ? int64_t(m_position) : origin == 2 ? int64_t(m_size) : 0;
    const int64_t target = base + offset;
    if (target < 0 || target > int64_t(m_size)) return -1;
    m_position = size_t(target);
    return 0;
  }
  int Tell() override { return int(m_position); }
  int GetSize() override { return int(m_size); }
  int Close() override { return 0; }

 private:
  std::vector<uint8_t> m_owned;
  const uint8_t* m_data;
  size_t m_size;
  size_t m_position = 0;
};
