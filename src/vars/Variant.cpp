#include "vars/Variant.h"

#include <cstdio>

namespace {

int DigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

bool IsCSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool IsHexDigit(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

uint32_t ParseUnsigned32(std::string_view text, int base) {
  size_t i = 0;
  while (i < text.size() && IsCSpace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // An optional "0x" prefix in base 16, taken only when a hex digit follows it.
  if (base == 16 && i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      IsHexDigit(static_cast<unsigned char>(text[i + 2]))) {
    i += 2;
  }
  uint64_t value = 0;
  bool overflow = false;
  bool any = false;
  for (; i < text.size(); ++i) {
    int d = DigitValue(static_cast<unsigned char>(text[i]));
    if (d >= base) break;
    any = true;
    if (!overflow) {
      value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
      if (value > 0xFFFFFFFFull) overflow = true;
    }
  }
  if (!any) return 0;
  if (overflow) return 0xFFFFFFFFu;
  uint32_t result = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - result) : result;
}

CVariant::~CVariant() = default;

std::string CVariant::GetString() const {
  if (!m_isString && !m_cached) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(m_number));
    m_text = buffer;
    m_cached = true;
  }
  return m_text;
}

int32_t CVariant::GetInt() const {
  if (m_isString && !m_cached) {
    int base = 10;
    if (m_text.size() >= 2 && m_text[0] == '0' && (m_text[1] == 'x' || m_text[1] == 'X')) base = 16;
    m_number = static_cast<int32_t>(ParseUnsigned32(m_text, base));
    m_cached = true;
  }
  return m_number;
}

void CVariant::SetString(std::string text) {
  m_text = std::move(text);
  m_isString = true;
  m_cached = false;
}

void CVariant::SetInt(int32_t n) {
  m_number = n;
  m_isString = false;
  m_cached = false;
}

bool CVariant::IsString() const { return m_isString; }

bool CVariant::IsNumeric() const {
  if (!m_isString) return true;
  size_t i = 0;
  bool hex = false;
  if (m_text.size() > 1 && m_text[0] == '0' && (m_text[1] == 'x' || m_text[1] == 'X')) {
    i = 2;
    hex = true;
  }
  for (; i < m_text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(m_text[i]);
    if (hex ? !IsHexDigit(c) : !(c >= '0' && c <= '9')) return false;
  }
  return true;
}
