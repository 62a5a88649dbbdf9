#include "platform/TextCodec.h"

#include <errno.h>
#include <iconv.h>

#include <cstdint>
#include <memory>

namespace platform {
namespace {

// Lead bytes of CP932 double-byte characters.
bool IsLead(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  // Converts one whole unit; false when iconv rejects it.
  bool Convert(const char* in, size_t inLen, std::string& out) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[16];
    char* src = const_cast<char*>(in);
    size_t srcLeft = inLen;
    char* dst = buffer;
    size_t dstLeft = sizeof(buffer);
    if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) || srcLeft != 0) return false;
    out.append(buffer, dst - buffer);
    return true;
  }

 private:
  iconv_t cd_;
};

Converter& ToUtf8() {
  thread_local Converter c("UTF-8", "CP932");
  return c;
}
Converter& ToCp932() {
  thread_local Converter c("CP932", "UTF-8");
  return c;
}

}  // namespace

std::string ConvertCp932ToUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size() * 3 / 2);
  size_t i = 0;
  while (i < in.size()) {
    uint8_t c = static_cast<uint8_t>(in[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (IsLead(c) && i + 1 < in.size()) {
      if (ToUtf8().Convert(in.data() + i, 2, out)) {
        i += 2;
        continue;
      }
      AppendUtf8(out, 0xFFFD);
      ++i;
      continue;
    }
    // Single bytes: half-width katakana convert; glibc rejects 0x80, 0xA0 and
    // 0xFD-0xFF, which Windows maps to the same code points.
    if (c >= 0xA1 && c <= 0xDF) {
      AppendUtf8(out, 0xFF61 + (c - 0xA1));
    } else if (c == 0x80) {
      AppendUtf8(out, 0x80);
    } else if (c == 0xA0) {
      AppendUtf8(out, 0xF8F0);
    } else if (c >= 0xFD) {
      AppendUtf8(out, 0xF8F1 + (c - 0xFD));
    } else {
      AppendUtf8(out, 0xFFFD);
    }
    ++i;
  }
  return out;
}

std::string ConvertUtf8ToCp932(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    uint8_t c = static_cast<uint8_t>(in[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    size_t len = (c >= 0xF0) ? 4 : (c >= 0xE0) ? 3 : (c >= 0xC0) ? 2 : 1;
    // The single bytes iconv does not know, mapped back.
    if (len == 2 && i + 1 < in.size() && c == 0xC2 && static_cast<uint8_t>(in[i + 1]) == 0x80) {
      out += '\x80';
      i += 2;
      continue;
    }
    if (len == 3 && i + 2 < in.size() && c == 0xEF && static_cast<uint8_t>(in[i + 1]) == 0xA3) {
      uint8_t low = static_cast<uint8_t>(in[i + 2]);
      if (low >= 0xB0 && low <= 0xB3) {
        static const char kBytes[] = {'\xA0', '\xFD', '\xFE', '\xFF'};
        out += kBytes[low - 0xB0];
        i += 3;
        continue;
      }
    }
    if (len == 1 || i + len > in.size() || !ToCp932().Convert(in.data() + i, len, out)) out += '?';
    i += len;
  }
  return out;
}

namespace {

// The code point of a double-byte character, or rejected.
uint32_t DecodePair(uint16_t code, uint32_t rejected) {
  const char pair[2] = {char(code >> 8), char(code & 0xFF)};
  std::string utf8;
  if (!ToUtf8().Convert(pair, 2, utf8) || utf8.empty()) return rejected;
  const auto* u = reinterpret_cast<const uint8_t*>(utf8.data());
  if (u[0] < 0x80) return u[0] ? u[0] : rejected;
  if (u[0] < 0xE0 && utf8.size() == 2) return uint32_t(u[0] & 0x1F) << 6 | (u[1] & 0x3F);
  if (u[0] < 0xF0 && utf8.size() == 3) return uint32_t(u[0] & 0x0F) << 12 | uint32_t(u[1] & 0x3F) << 6 | (u[2] & 0x3F);
  if (utf8.size() == 4)
    return uint32_t(u[0] & 0x07) << 18 | uint32_t(u[1] & 0x3F) << 12 | uint32_t(u[2] & 0x3F) << 6 | (u[3] & 0x3F);
  return rejected;
}

}  // namespace

bool ConvertCp932CharToUnicode(uint16_t code, uint32_t& out) {
  if (code <= 0xFF) {
    const uint8_t c = uint8_t(code);
    if (IsLead(c)) return true;
    // The same single-byte table as ConvertCp932ToUtf8.
    if (c < 0x80 || c == 0x80) {
      out = c;
    } else if (c >= 0xA1 && c <= 0xDF) {
      out = 0xFF61 + (c - 0xA1);
    } else if (c == 0xA0) {
      out = 0xF8F0;
    } else {
      out = 0xF8F1 + (c - 0xFD);
    }
    return false;
  }
  if (!IsLead(uint8_t(code >> 8))) return true;
  // Glyph drawing asks for one character at a time: remember each answer
  // instead of running the converter again.
  constexpr uint32_t kUnknown = 0, kRejected = 0xFFFFFFFF;
  thread_local std::unique_ptr<uint32_t[]> known(new uint32_t[0x10000]());
  uint32_t& slot = known[code];
  if (slot == kUnknown) slot = DecodePair(code, kRejected);
  if (slot == kRejected) return true;
  out = slot;
  return false;
}

}  // namespace platform
