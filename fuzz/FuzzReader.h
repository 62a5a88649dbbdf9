// The fuzz input read byte by byte: past its end every byte reads as 0, so a
// target can keep asking without checking the length.
#pragma once

#include <cstddef>
#include <cstdint>

class CFuzzReader {
 public:
  CFuzzReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  bool More() const { return m_pos < m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};
