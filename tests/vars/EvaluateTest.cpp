#include <gtest/gtest.h>

#include <string>

#include "vars/QelVariables.h"

namespace {

class Evaluate : public ::testing::Test {
 protected:
  Evaluate() { vars.AddQuoteChar('\''); }

  std::string Eval(const std::string& expression) {
    std::string result = vars.Evaluate(expression);
    EXPECT_EQ(vars.TemporaryCount(), 0u) << expression;
    return result;
  }

  bool Exists(const std::string& name) { return vars.Find(name) != nullptr; }

  CQelVariables vars;
};

TEST_F(Evaluate, ArithmeticPrecedenceAndTruncation) {
  EXPECT_EQ(Eval("1+2*3"), "7");
  EXPECT_EQ(Eval("(1+2)*3"), "9");
  EXPECT_EQ(Eval("7/2"), "3");
  EXPECT_EQ(Eval("0-7/2"), "-3");
  EXPECT_EQ(Eval("0-7%3"), "-1");
  EXPECT_EQ(Eval("7%0-3"), "");
  EXPECT_EQ(Eval("100/10/5"), "2");
  EXPECT_EQ(Eval(" \t1 +\r\n 2 "), "3");
  EXPECT_EQ(Eval("0-1"), "-1");
  EXPECT_EQ(Eval("0x10+1"), "17");
}

TEST_F(Evaluate, IntegerWrapAndLiteralClamping) {
  EXPECT_EQ(Eval("2147483647+1"), "-2147483648");
  EXPECT_EQ(Eval("0-2147483647-2"), "2147483647");
  EXPECT_EQ(Eval("65536*32768"), "-2147483648");
  // Literals saturate at the int32 maximum, decimal or hexadecimal...
  EXPECT_EQ(Eval("4294967295"), "2147483647");
  EXPECT_EQ(Eval("0xFFFFFFFF"), "2147483647");
  // ...while a stored text reads unsigned and wraps.
  vars.SetString("big", "4294967295");
  EXPECT_EQ(Eval("big+0"), "-1");
}

TEST_F(Evaluate, DivisionWithoutResultFailsTheExpression) {
  EXPECT_EQ(Eval("1/0"), "");
  EXPECT_EQ(Eval("1%0"), "");
  EXPECT_EQ(Eval("(0-2147483647-1)/(0-1)"), "");
  EXPECT_EQ(Eval("(0-2147483647-1)/1"), "-2147483648");
  EXPECT_EQ(Eval("0&&1/0"), "");
}

TEST_F(Evaluate, MissingOperandsFail) {
  EXPECT_EQ(Eval("-1"), "");
  EXPECT_EQ(Eval("1+"), "");
  EXPECT_EQ(Eval("1+*2"), "");
  EXPECT_EQ(Eval("1 2 +"), "");
  EXPECT_EQ(Eval(""), "");
  EXPECT_EQ(Eval(" \t\r\n"), "");
  EXPECT_EQ(Eval("()"), "");
  // Operands side by side: the first one is the result.
  EXPECT_EQ(Eval("1 2"), "1");
  EXPECT_EQ(Eval("5 2*3"), "5");
}

TEST_F(Evaluate, TextOperands) {
  EXPECT_EQ(Eval("'ab'+'cd'"), "abcd");
  EXPECT_EQ(Eval("'1'+2"), "3");
  EXPECT_EQ(Eval("'x'+2"), "x2");
  EXPECT_EQ(Eval("'0x10'+1"), "17");
  EXPECT_EQ(Eval("'-1'+1"), "-11");
  EXPECT_EQ(Eval("'a'*3"), "0");
  // Double quotes are ordinary name bytes, not delimiters.
  EXPECT_EQ(Eval("\"a\"+1"), "1");
  EXPECT_TRUE(Exists("\"a\""));
  // A long concatenation chain.
  std::string chain = "'x'";
  for (int i = 0; i < 999; ++i) chain += "+'x'";
  EXPECT_EQ(Eval(chain), std::string(1000, 'x'));
}

TEST_F(Evaluate, EqualityDependsOnOperandTypes) {
  EXPECT_EQ(Eval("'1'==1"), "1");
  EXPECT_EQ(Eval("'01'==1"), "0");
  EXPECT_EQ(Eval("1==01"), "1");
  EXPECT_EQ(Eval("'01'!=1"), "1");
  // Ordering comparisons always compare integers.
  EXPECT_EQ(Eval("'01'<2"), "1");
  EXPECT_EQ(Eval("'abc'<1"), "1");
  vars.SetString("s", "5");
  vars.SetInt("n", 5);
  EXPECT_EQ(Eval("s==n"), "1");
  EXPECT_EQ(Eval("s=='05'"), "0");
  EXPECT_EQ(Eval("n==05"), "1");
  vars.SetString("s", "05");
  EXPECT_EQ(Eval("s==n"), "0");
  EXPECT_EQ(Eval("s+0==n"), "1");
}

TEST_F(Evaluate, ComparisonAndLogic) {
  EXPECT_EQ(Eval("1<=2"), "1");
  EXPECT_EQ(Eval("2>=3"), "0");
  EXPECT_EQ(Eval("0-1<0"), "1");
  EXPECT_EQ(Eval("1&&0"), "0");
  EXPECT_EQ(Eval("0||5"), "1");
  EXPECT_EQ(Eval("1||0&&0"), "1");
  EXPECT_EQ(Eval("1+1==2&&2*2==4"), "1");
  EXPECT_EQ(Eval("1<2==1"), "1");
  EXPECT_EQ(Eval("3>2>1"), "0");
  // Both sides are scanned, so unknown names on either side are created.
  EXPECT_EQ(Eval("1||t.never "), "1");
  EXPECT_TRUE(Exists("t.never"));
}

TEST_F(Evaluate, OperatorRecognition) {
  // A lone =, !, & or | is part of a name; so is a one-byte operator followed by =, & or |.
  vars.SetInt("a", 4);
  EXPECT_EQ(Eval("a=1"), "");
  EXPECT_FALSE(Exists("a=1"));
  EXPECT_EQ(Eval("a=1 "), "0");
  EXPECT_TRUE(Exists("a=1"));
  EXPECT_EQ(Eval("a-=1"), "");
  EXPECT_EQ(Eval("a-=1+1"), "1");
  EXPECT_TRUE(Exists("a-=1"));
  EXPECT_EQ(Eval("1 <& 2"), "1");
  EXPECT_EQ(Eval("!a "), "0");
  EXPECT_EQ(Eval("a>=4&&a<=4"), "1");
  EXPECT_EQ(Eval("a>4||a<4"), "0");
  // An operator ends a name without white space.
  EXPECT_EQ(Eval("a*a"), "16");
}

TEST_F(Evaluate, UnknownNames) {
  // Alone at the end of the text: fails and creates nothing.
  EXPECT_EQ(Eval("f.missing"), "");
  EXPECT_FALSE(Exists("f.missing"));
  EXPECT_EQ(Eval("1+f.missing"), "");
  EXPECT_FALSE(Exists("f.missing"));
  // Followed by an operator, white space or ')': created with 0.
  EXPECT_EQ(Eval("f.missing+1"), "1");
  ASSERT_TRUE(Exists("f.missing"));
  EXPECT_FALSE(vars.Find("f.missing")->IsString());
  EXPECT_EQ(Eval("f.other "), "0");
  EXPECT_EQ(Eval("(f.third)"), "0");
  EXPECT_TRUE(Exists("f.other"));
  EXPECT_TRUE(Exists("f.third"));
  // Now that it exists, the name alone reads it.
  EXPECT_EQ(Eval("f.missing"), "0");
  // Creation survives a failing expression.
  EXPECT_EQ(Eval("f.kept -"), "");
  EXPECT_TRUE(Exists("f.kept"));
  // Numbers followed by a name: the name is still looked up.
  EXPECT_EQ(Eval("12abc"), "");
  EXPECT_EQ(Eval("12abc "), "12");
  EXPECT_TRUE(Exists("abc"));
}

TEST_F(Evaluate, CreatingGlobalOrSystemNamesRaisesTheirFlags) {
  EXPECT_EQ(Eval("g.x"), "");
  EXPECT_EQ(Eval("1+s.y"), "");
  EXPECT_FALSE(vars.TakeGlobalChanged());
  EXPECT_FALSE(vars.TakeSystemChanged());
  EXPECT_EQ(Eval("g.x+1"), "1");
  EXPECT_TRUE(vars.TakeGlobalChanged());
  EXPECT_FALSE(vars.TakeSystemChanged());
  EXPECT_EQ(Eval("s.y+1"), "1");
  EXPECT_TRUE(vars.TakeSystemChanged());
  EXPECT_EQ(Eval("g.x+1"), "1");
  EXPECT_FALSE(vars.TakeGlobalChanged());
}

TEST_F(Evaluate, SplicedIndexes) {
  vars.SetInt("f.i", 2);
  vars.SetInt("f.a2", 9);
  EXPECT_EQ(Eval("f.a(f.i)+1"), "10");
  EXPECT_EQ(Eval("f.a(f.i)"), "9");
  vars.SetString("f.a1.x", "hit");
  EXPECT_EQ(Eval("f.a(1).x"), "hit");
  vars.SetInt("f.b2x3", 7);
  EXPECT_EQ(Eval("f.b(f.i)x(f.i+1)*2"), "14");
  // Nested splices.
  vars.SetInt("k1", 2);
  EXPECT_EQ(Eval("f.a(k(1))"), "9");
  // A text index splices its text.
  vars.SetString("f.key", "2");
  EXPECT_EQ(Eval("f.a(f.key)"), "9");
  // A failing index fails the whole expression, even with more to come.
  EXPECT_EQ(Eval("f.a(-1)+1"), "");
  EXPECT_EQ(Eval("1+f.a()"), "");
  // An unknown spliced name is created like any other.
  EXPECT_EQ(Eval("f.a(f.j)+1"), "1");
  EXPECT_TRUE(Exists("f.j"));
  EXPECT_TRUE(Exists("f.a0"));
  // A splice left open at the end reads the name without creating it.
  EXPECT_EQ(Eval("f.a(2"), "9");
  EXPECT_EQ(Eval("f.c(2"), "");
  EXPECT_FALSE(Exists("f.c2"));
}

TEST_F(Evaluate, ClosingBracketEndsTheLevel) {
  EXPECT_EQ(Eval("1+2)*100"), "3");
  EXPECT_EQ(Eval("5)'unterminated"), "5");
  EXPECT_EQ(Eval("(1+2"), "3");
  vars.SetInt("v", 6);
  EXPECT_EQ(Eval("v)+1"), "6");
  EXPECT_EQ(Eval(")"), "");
  // Text after the outermost ')' is not even scanned: no variable is created.
  EXPECT_EQ(Eval("1) never "), "1");
  EXPECT_FALSE(Exists("never"));
}

TEST_F(Evaluate, TextLiteralScanning) {
  // Escapes stay as written and protect a quote.
  EXPECT_EQ(Eval("'a\\'b'"), "a\\'b");
  EXPECT_EQ(Eval("'a\\\\'"), "a\\\\");
  // An unterminated literal makes no token.
  EXPECT_EQ(Eval("'abc"), "");
  EXPECT_EQ(Eval("1 'abc"), "1");
  EXPECT_EQ(Eval("1+'abc"), "");
  EXPECT_EQ(Eval("'ab\\'"), "");
  // An empty literal is the empty text.
  EXPECT_EQ(Eval("''+'x'"), "x");
  EXPECT_EQ(Eval("''==''"), "1");
  EXPECT_EQ(Eval("'\\''"), "\\'");
  // A double-byte character keeps its trail byte, even when that byte is a backslash
  // or would otherwise close the literal.
  EXPECT_EQ(Eval("'\x83\x5C'"), "\x83\x5C");
  EXPECT_EQ(Eval("'\x83\x5C'+'a'"),
            "\x83\x5C"
            "a");
  vars.AddQuoteChar('@');
  EXPECT_EQ(Eval("'\x81\x40'"), "\x81\x40");
  EXPECT_EQ(Eval("@ab@+'cd'"), "abcd");
  EXPECT_EQ(Eval("'ab@"), "ab");
  // A quote inside a name fails the whole expression.
  vars.SetInt("ab", 1);
  EXPECT_EQ(Eval("ab'c'"), "");
  EXPECT_EQ(Eval("1+(ab@)"), "");
  vars.ClearQuoteChars();
  EXPECT_EQ(Eval("'ab'"), "");
}

TEST_F(Evaluate, DoubleByteNames) {
  // "変数" (0x95 0xCF 0x90 0x94) and a name whose trail byte is '|' (0x7C).
  vars.SetInt("\x95\xCF\x90\x94", 3);
  EXPECT_EQ(Eval("\x95\xCF\x90\x94*2"), "6");
  vars.SetInt("\x83\x7C", 5);
  EXPECT_EQ(Eval("\x83\x7C||0"), "1");
  EXPECT_EQ(Eval("\x83\x7C+1"), "6");
  // A lead byte with no trail byte after it is a name byte of its own: the
  // space, bracket or operator after it is read as usual.
  EXPECT_EQ(Eval("\x83+1"), "1");
  EXPECT_TRUE(Exists("\x83"));
  EXPECT_EQ(Eval("\x83)+5"), "0");
  EXPECT_EQ(Eval("\x83(1)+1"), "1");
  EXPECT_TRUE(
      Exists("\x83"
             "1"));
  vars.SetInt("f.\x83", 4);
  EXPECT_EQ(Eval("f.\x83\n+1"), "5");
  EXPECT_EQ(Eval("f.\x83 +1"), "5");
  EXPECT_FALSE(Exists("f.\x83 "));
}

TEST_F(Evaluate, LocalScopeIsReadFirst) {
  vars.SetString("file", "main");
  CQelVariables* scope = vars.PushScope();
  scope->SetString("file", "a");
  EXPECT_EQ(Eval("file+'!'"), "a!");
  // Unknown names are created in the main store, not in the scope.
  EXPECT_EQ(Eval("fresh+1"), "1");
  EXPECT_EQ(scope->FindOwn("fresh"), nullptr);
  EXPECT_NE(vars.FindOwn("fresh"), nullptr);
  vars.PopScope();
  EXPECT_EQ(Eval("file+'!'"), "main!");
}

TEST_F(Evaluate, EmbeddedNulEndsTheText) {
  EXPECT_EQ(Eval(std::string("1+2\0+5", 6)), "3");
  EXPECT_EQ(Eval(std::string("\0 1", 3)), "");
}

TEST_F(Evaluate, DeepNestingFailsInsteadOfOverflowing) {
  const int ok = CCompute::kMaxNesting;
  EXPECT_EQ(Eval(std::string(ok, '(') + "7" + std::string(ok, ')')), "7");
  EXPECT_EQ(Eval(std::string(ok + 1, '(') + "7"), "");
  std::string names;
  for (int i = 0; i < 100000; ++i) names += "a(";
  EXPECT_EQ(Eval(names), "");
  EXPECT_EQ(Eval(std::string(100000, '(')), "");
}

TEST_F(Evaluate, DollarAttributeRule) {
  EXPECT_EQ(EvaluateAttributeValue(vars, "$1+1"), "2");
  EXPECT_EQ(EvaluateAttributeValue(vars, "1+1"), "1+1");
  EXPECT_EQ(EvaluateAttributeValue(vars, ""), "");
  EXPECT_EQ(EvaluateAttributeValue(vars, "$"), "");
  vars.SetString("f.ref", "f.target");
  vars.SetString("f.target", "found");
  EXPECT_EQ(EvaluateAttributeValue(vars, "$f.ref"), "f.target");
  EXPECT_EQ(EvaluateAttributeValue(vars, "$$f.ref"), "found");
  // Three levels: the result of each round is evaluated again.
  vars.SetString("f.ref2", "f.ref");
  EXPECT_EQ(EvaluateAttributeValue(vars, "$$$f.ref2"), "found");
  EXPECT_EQ(vars.TemporaryCount(), 0u);
}

}  // namespace
