#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "vars/Variables.h"

// A variable store with the expression evaluator.
//
// Expressions are small infix formulas over integers, quoted texts and variable names:
//   * / %   + -   < > <= >=   == !=   &&   ||   (tightest first, all left-associative)
// A name may splice in the value of a bracketed sub-expression: with f.i = 3, "f.a(f.i)"
// names the variable "f.a3". A failed expression yields the empty text.
// Longest text an expression may make (16 MB).
constexpr size_t kMaxTextBytes = size_t{16} << 20;

class CCompute : public CVariables {
 public:
  // Operator codes (one bit each).
  enum : int {
    OpMul = 4,
    OpDiv = 8,
    OpMod = 16,
    OpAdd = 32,
    OpSub = 64,
    OpLess = 512,
    OpGreater = 1024,
    OpLessEqual = 2048,
    OpGreaterEqual = 4096,
    OpEqual = 8192,
    OpNotEqual = 16384,
    OpAnd = 262144,
    OpOr = 524288,
  };

  // Deepest nesting of brackets (groups and spliced indexes) an expression may use;
  // anything deeper fails the expression instead of exhausting the stack.
  static constexpr int kMaxNesting = 256;

  CCompute();
  ~CCompute() override;

  void AddQuoteChar(char c) { m_quoteChars.insert(static_cast<unsigned char>(c)); }
  void ClearQuoteChars() { m_quoteChars.clear(); }
  const std::set<unsigned char>& QuoteChars() const { return m_quoteChars; }
  void SetQuoteChars(std::set<unsigned char> chars) { m_quoteChars = std::move(chars); }

  // Evaluates an expression and returns its result as text, or the empty text when it
  // fails. Reading an unknown variable creates it with 0 unless the name ends the text.
  // Every temporary value of the evaluation is released before this returns.
  // failed, when given, tells a failure from an empty text.
  std::string Evaluate(std::string_view expression, bool* failed = nullptr);

  // True (once) when an expression failed because a text would have grown
  // past kMaxTextBytes since the last call.
  bool TakeTextLimitHit() {
    const bool hit = m_textLimitHit;
    m_textLimitHit = false;
    return hit;
  }

  // Number of live evaluation temporaries (zero between evaluations).
  size_t TemporaryCount() const { return m_temporaries.size(); }

 protected:
  std::set<unsigned char> m_quoteChars;

 private:
  struct Token {
    CVariant* value;  // operand value, null when the operand failed
    int op;           // operator code, 0 for an operand
    bool temporary;   // value is an evaluation temporary that may be reused
  };

  CVariant* Compute(size_t& pos, int depth);
  CVariant* Reduce(size_t first);
  CVariant* Apply(int op, Token& left, const Token& right);
  CVariant* LookUp(const std::string& name, bool create);
  CVariant* NewTemporary();
  int OperatorAt(size_t pos, size_t* length) const;
  bool IsQuote(unsigned char c) const { return m_quoteChars.count(c) != 0; }

  std::vector<std::unique_ptr<CVariant>> m_temporaries;
  std::vector<Token> m_tokens;  // tokens of every level being scanned, innermost last
  std::string_view m_text;
  bool m_aborted = false;
  bool m_textLimitHit = false;
};

// Applies the "$" rule for tag attribute values: n leading '$' characters are removed and the
// rest is replaced n times by its evaluation. Values without a leading '$' are returned as is.
std::string EvaluateAttributeValue(CCompute& store, std::string value);
