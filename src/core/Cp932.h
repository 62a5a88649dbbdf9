// CP932 (Shift_JIS) byte classes. Text inside the engine is CP932 bytes;
// scanners step over double-byte characters so that a trail byte is never
// taken for a bracket, a backslash or a comma. Conversion to and from UTF-8
// is the platform layer's (platform/TextCodec.h).
#pragma once

namespace cp932 {

// First byte of a double-byte character as the text renderer, the variable
// store and file names see it.
inline bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Second byte of a double-byte character.
inline bool IsTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// The script parser takes every byte of 0x80-0x9F and 0xE0-0xFF as a lead
// byte; scripts written for the engine rely on that wider range.
inline bool IsScriptLeadByte(unsigned char c) { return (c >= 0x80 && c <= 0x9F) || c >= 0xE0; }

// The INI reader stops at 0xEA, the end of the JIS X 0208 rows.
inline bool IsIniLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEA); }

}  // namespace cp932
