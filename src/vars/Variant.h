#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A script value: either a signed 32-bit integer or a byte string (CP932), converting
// between the two on demand. The derived form is cached until the value changes.
class CVariant {
 public:
  CVariant() = default;
  CVariant(const CVariant&) = default;
  CVariant& operator=(const CVariant&) = default;
  virtual ~CVariant();

  // The text form. A number is printed in decimal (cached).
  virtual std::string GetString() const;
  // The integer form. A text is read as an unsigned 32-bit number (base 16 after a leading
  // "0x"/"0X", else base 10; leading white space and a sign accepted; saturating at
  // 4294967295) and the bits taken as signed (cached).
  virtual int32_t GetInt() const;
  virtual void SetString(std::string text);
  virtual void SetInt(int32_t n);
  virtual bool IsString() const;
  // True for a number; for a text, true when every byte is a decimal digit, or a hexadecimal
  // digit after a leading "0x"/"0X". The empty text is numeric.
  virtual bool IsNumeric() const;

 private:
  mutable bool m_cached = false;
  bool m_isString = false;
  mutable int32_t m_number = 0;
  mutable std::string m_text;
};

// Unsigned 32-bit conversion of a text the way a stored text is read as an integer
// (see CVariant::GetInt). Exposed for tools and tests.
uint32_t ParseUnsigned32(std::string_view text, int base);
