#include <gtest/gtest.h>

#include "vars/Variant.h"

namespace {

CVariant Text(const std::string& s) {
  CVariant v;
  v.SetString(s);
  return v;
}

CVariant Number(int32_t n) {
  CVariant v;
  v.SetInt(n);
  return v;
}

TEST(Variant, NewValueIsTheNumberZero) {
  CVariant v;
  EXPECT_FALSE(v.IsString());
  EXPECT_EQ(v.GetInt(), 0);
  EXPECT_EQ(v.GetString(), "0");
}

TEST(Variant, TextReadsAsUnsigned32BitNumber) {
  EXPECT_EQ(Text("0x1F").GetInt(), 31);
  EXPECT_EQ(Text("0X1f").GetInt(), 31);
  EXPECT_EQ(Text("1F").GetInt(), 1);
  EXPECT_EQ(Text(" 42").GetInt(), 42);
  EXPECT_EQ(Text("\t\n+42x").GetInt(), 42);
  EXPECT_EQ(Text("abc").GetInt(), 0);
  EXPECT_EQ(Text("").GetInt(), 0);
  EXPECT_EQ(Text("-5").GetInt(), -5);
  EXPECT_EQ(Text("4294967295").GetInt(), -1);
  EXPECT_EQ(Text("2147483648").GetInt(), INT32_MIN);
  // Overflow saturates at the unsigned maximum, whatever the sign.
  EXPECT_EQ(Text("4294967296").GetInt(), -1);
  EXPECT_EQ(Text("99999999999999999999999").GetInt(), -1);
  EXPECT_EQ(Text("-99999999999").GetInt(), -1);
  EXPECT_EQ(Text("0xFFFFFFFF").GetInt(), -1);
  EXPECT_EQ(Text("0x100000000").GetInt(), -1);
  // Base 16 only when the text itself starts with 0x; "0x" alone or followed by a
  // non-digit reads the leading 0.
  EXPECT_EQ(Text("0x").GetInt(), 0);
  EXPECT_EQ(Text("0xg").GetInt(), 0);
  EXPECT_EQ(Text(" 0x10").GetInt(), 0);
  EXPECT_EQ(Text("010").GetInt(), 10);
}

TEST(Variant, NumberPrintsInDecimal) {
  EXPECT_EQ(Number(-7).GetString(), "-7");
  EXPECT_EQ(Number(INT32_MIN).GetString(), "-2147483648");
  EXPECT_EQ(Number(INT32_MAX).GetString(), "2147483647");
}

TEST(Variant, CachedFormFollowsEveryChange) {
  CVariant v;
  v.SetInt(12);
  EXPECT_EQ(v.GetString(), "12");
  v.SetInt(13);
  EXPECT_EQ(v.GetString(), "13");
  v.SetString("0x20");
  EXPECT_TRUE(v.IsString());
  EXPECT_EQ(v.GetInt(), 32);
  EXPECT_EQ(v.GetString(), "0x20");
  v.SetString("7");
  EXPECT_EQ(v.GetInt(), 7);
  v.SetInt(-1);
  EXPECT_FALSE(v.IsString());
  EXPECT_EQ(v.GetString(), "-1");
  // A copy carries the value, not a stale cache.
  CVariant copy = v;
  copy.SetString("9");
  EXPECT_EQ(copy.GetInt(), 9);
  EXPECT_EQ(v.GetInt(), -1);
}

TEST(Variant, NumericTexts) {
  for (const char* s : {"", "0", "0x", "0X", "0xff", "0XFF", "123", "000"}) EXPECT_TRUE(Text(s).IsNumeric()) << s;
  for (const char* s : {"-1", "1.5", " 1", "1 ", "+1", "12a", "0xg", "x", "0x 1", "\x82\x50"})
    EXPECT_FALSE(Text(s).IsNumeric()) << s;
  EXPECT_TRUE(Number(-5).IsNumeric());
}

}  // namespace
