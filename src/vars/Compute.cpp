#include "vars/Compute.h"
#include "core/Cp932.h"

#include <limits>

namespace {

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool IsHexDigit(unsigned char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int HexValue(unsigned char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// First byte of a Shift_JIS double-byte character.
using cp932::IsLeadByte;

int32_t Wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

}  // namespace

CCompute::CCompute() = default;

CCompute::~CCompute() = default;

CVariant* CCompute::NewTemporary() {
  m_temporaries.push_back(std::make_unique<CVariant>());
  return m_temporaries.back().get();
}

std::string CCompute::Evaluate(std::string_view expression, bool* failed) {
  // The text ends at an embedded NUL, as a C string would.
  size_t nul = expression.find('\0');
  if (nul != std::string_view::npos) expression = expression.substr(0, nul);

  const size_t base = m_temporaries.size();
  const size_t tokenBase = m_tokens.size();
  const std::string_view savedText = m_text;
  const bool savedAborted = m_aborted;
  m_text = expression;
  m_aborted = false;

  size_t pos = 0;
  CVariant* result = Compute(pos, 0);
  std::string text;
  if (result && !m_aborted) text = result->GetString();
  if (failed) *failed = !result || m_aborted;

  m_temporaries.resize(base);
  m_tokens.resize(tokenBase);
  m_text = savedText;
  m_aborted = savedAborted;
  return text;
}

int CCompute::OperatorAt(size_t pos, size_t* length) const {
  const unsigned char here = static_cast<unsigned char>(m_text[pos]);
  const unsigned char next = pos + 1 < m_text.size() ? static_cast<unsigned char>(m_text[pos + 1]) : 0;
  *length = 2;
  switch (next) {
    case '&': return here == '&' ? OpAnd : 0;
    case '=':
      switch (here) {
        case '!': return OpNotEqual;
        case '<': return OpLessEqual;
        case '=': return OpEqual;
        case '>': return OpGreaterEqual;
        default: return 0;
      }
    case '|': return here == '|' ? OpOr : 0;
    default: break;
  }
  *length = 1;
  switch (here) {
    case '%': return OpMod;
    case '*': return OpMul;
    case '+': return OpAdd;
    case '-': return OpSub;
    case '/': return OpDiv;
    case '<': return OpLess;
    case '>': return OpGreater;
    default: return 0;
  }
}

CVariant* CCompute::LookUp(const std::string& name, bool create) {
  CVariant* v = Find(name);
  if (v || !create) return v;
  SetInt(name, 0);
  return Find(name);
}

CVariant* CCompute::Compute(size_t& pos, int depth) {
  if (depth > kMaxNesting) {
    m_aborted = true;
    return nullptr;
  }
  const size_t size = m_text.size();
  // This level's tokens follow those of the enclosing levels in the shared token list.
  const size_t first = m_tokens.size();

  while (pos < size) {
    const unsigned char c = static_cast<unsigned char>(m_text[pos]);
    if (IsBlank(c)) {
      ++pos;
      continue;
    }

    if (IsDigit(c)) {
      // Number literal: decimal, or hexadecimal after "0x". Never signed; values
      // above the int32 range saturate.
      int base = 10;
      if (c == '0' && pos + 1 < size && (m_text[pos + 1] == 'x' || m_text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
      }
      int64_t value = 0;
      while (pos < size) {
        const unsigned char d = static_cast<unsigned char>(m_text[pos]);
        if (base == 16 ? !IsHexDigit(d) : !IsDigit(d)) break;
        value = value * base + HexValue(d);
        if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
        ++pos;
      }
      CVariant* v = NewTemporary();
      v->SetInt(static_cast<int32_t>(value));
      m_tokens.push_back({v, 0, true});
      continue;
    }

    if (IsQuote(c)) {
      // Text literal up to the next quote character. Escapes are kept as written; a
      // literal left open at the end of the text makes no token.
      std::string literal;
      size_t p = pos + 1;
      bool closed = false;
      while (p < size) {
        const unsigned char b = static_cast<unsigned char>(m_text[p]);
        if (IsQuote(b)) {
          closed = true;
          ++p;
          break;
        }
        if (b == '\\' || IsLeadByte(b)) {
          if (p + 1 >= size) break;
          literal.append(m_text.substr(p, 2));
          p += 2;
          continue;
        }
        literal.push_back(static_cast<char>(b));
        ++p;
      }
      if (!closed) {
        pos = size;
        break;
      }
      pos = p;
      CVariant* v = NewTemporary();
      v->SetString(std::move(literal));
      m_tokens.push_back({v, 0, true});
      continue;
    }

    size_t opLength = 0;
    if (const int op = OperatorAt(pos, &opLength)) {
      m_tokens.push_back({nullptr, op, false});
      pos += opLength;
      continue;
    }

    if (c == '(') {
      ++pos;
      CVariant* v = Compute(pos, depth + 1);
      if (m_aborted) return nullptr;
      m_tokens.push_back({v, 0, false});
      continue;
    }

    if (c == ')') {
      ++pos;
      break;
    }

    // A variable name.
    std::string name;
    bool terminated = false;  // ended before the end of the text
    bool closesLevel = false;
    while (pos < size) {
      const unsigned char b = static_cast<unsigned char>(m_text[pos]);
      if (IsBlank(b)) {
        terminated = true;
        break;
      }
      if (IsQuote(b)) {
        m_aborted = true;
        return nullptr;
      }
      if (b == '(') {
        ++pos;
        CVariant* index = Compute(pos, depth + 1);
        if (m_aborted || !index) {
          m_aborted = true;
          return nullptr;
        }
        name += index->GetString();
        continue;
      }
      if (b == ')') {
        ++pos;
        terminated = true;
        closesLevel = true;
        break;
      }
      size_t unused = 0;
      if (OperatorAt(pos, &unused)) {
        terminated = true;
        break;
      }
      // A double-byte character stays whole, so a trail byte '|' is no
      // operator; a lead byte without a trail byte after it is a byte of
      // its own, and what follows it is read as usual.
      if (IsLeadByte(b) && pos + 1 < size && cp932::IsTrailByte(static_cast<unsigned char>(m_text[pos + 1]))) {
        name.append(m_text.substr(pos, 2));
        pos += 2;
        continue;
      }
      name.push_back(static_cast<char>(b));
      ++pos;
    }
    m_tokens.push_back({LookUp(name, terminated), 0, false});
    if (closesLevel) break;
  }

  CVariant* result = Reduce(first);
  m_tokens.resize(first);
  return result;
}

CVariant* CCompute::Reduce(size_t first) {
  size_t end = m_tokens.size();
  if (end == first) return nullptr;
  for (size_t i = first; i < end; ++i)
    if (m_tokens[i].op == 0 && !m_tokens[i].value) return nullptr;

  static constexpr int kPasses[] = {
      OpMul | OpDiv | OpMod, OpAdd | OpSub, OpLess | OpGreater | OpLessEqual | OpGreaterEqual,
      OpEqual | OpNotEqual,  OpAnd,         OpOr,
  };
  for (const int group : kPasses) {
    // Combine in place: the write position never passes the read position.
    size_t w = first;
    for (size_t i = first; i < end; ++i) {
      const Token t = m_tokens[i];
      if (!(t.op & group)) {
        m_tokens[w++] = t;
        continue;
      }
      if (w == first || m_tokens[w - 1].op != 0 || i + 1 >= end || m_tokens[i + 1].op != 0) return nullptr;
      if (!Apply(t.op, m_tokens[w - 1], m_tokens[i + 1])) return nullptr;
      ++i;
    }
    end = w;
  }
  return m_tokens[first].value;
}

// Combines two operands; the result replaces the left token's value. Fails on a division
// that has no result (by zero, or INT_MIN by -1).
CVariant* CCompute::Apply(int op, Token& left, const Token& right) {
  const CVariant& l = *left.value;
  const CVariant& r = *right.value;
  bool isText = false;
  std::string text;
  int32_t n = 0;
  switch (op) {
    case OpMul: n = Wrap(static_cast<int64_t>(l.GetInt()) * r.GetInt()); break;
    case OpDiv:
    case OpMod: {
      const int32_t a = l.GetInt();
      const int32_t b = r.GetInt();
      if (b == 0 || (a == std::numeric_limits<int32_t>::min() && b == -1)) return nullptr;
      n = op == OpDiv ? a / b : a % b;
      break;
    }
    case OpAdd:
      if (l.IsNumeric() && r.IsNumeric()) {
        n = Wrap(static_cast<int64_t>(l.GetInt()) + r.GetInt());
      } else {
        isText = true;
        // A text past the limit fails the expression instead of growing
        // until memory runs out (a loop doubling a variable).
        if (l.GetString().size() + r.GetString().size() > kMaxTextBytes) {
          m_textLimitHit = true;
          return nullptr;
        }
        text = l.GetString();
        text += r.GetString();
      }
      break;
    case OpSub: n = Wrap(static_cast<int64_t>(l.GetInt()) - r.GetInt()); break;
    case OpLess: n = l.GetInt() < r.GetInt(); break;
    case OpGreater: n = l.GetInt() > r.GetInt(); break;
    case OpLessEqual: n = l.GetInt() <= r.GetInt(); break;
    case OpGreaterEqual: n = l.GetInt() >= r.GetInt(); break;
    case OpEqual:
    case OpNotEqual: {
      bool equal;
      if (!l.IsString() && !r.IsString())
        equal = l.GetInt() == r.GetInt();
      else
        equal = l.GetString() == r.GetString();
      n = (op == OpEqual) == equal;
      break;
    }
    case OpAnd: n = l.GetInt() != 0 && r.GetInt() != 0; break;
    case OpOr: n = l.GetInt() != 0 || r.GetInt() != 0; break;
    default: return nullptr;
  }

  // A temporary on the left is no longer referenced once replaced, so it takes the result;
  // this keeps long chains from piling up intermediate copies.
  CVariant* result = left.temporary ? left.value : NewTemporary();
  if (isText)
    result->SetString(std::move(text));
  else
    result->SetInt(n);
  left.value = result;
  left.temporary = true;
  return result;
}

std::string EvaluateAttributeValue(CCompute& store, std::string value) {
  size_t n = 0;
  while (n < value.size() && value[n] == '$') ++n;
  if (n == 0) return value;
  value.erase(0, n);
  for (size_t i = 0; i < n; ++i) value = store.Evaluate(value);
  return value;
}
