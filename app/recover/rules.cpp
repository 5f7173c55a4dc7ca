#include "app/recover/rules.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <sstream>

#include "app/recover/candidates.h"

namespace kryvane::recover {

namespace {

enum class Args { kNone, kPos, kChar, kPosPos, kPosChar, kCharChar, kRefused, kUnknown };

Args ArgsOf(char f) {
  auto in = [f](std::string_view set) { return set.find(f) != std::string_view::npos; };
  if (in(":lucCtrdf{}[]qkKE")) return Args::kNone;
  if (in("TpD'zZLR+-.,yY")) return Args::kPos;
  if (in("$^@e")) return Args::kChar;
  if (in("xO*")) return Args::kPosPos;
  if (in("io3")) return Args::kPosChar;
  if (in("s")) return Args::kCharChar;
  // Memory and rejection functions: hashcat refuses them in rule files too.
  if (in("M46XQ<>_!/()=%")) return Args::kRefused;
  return Args::kUnknown;
}

std::string Shown(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u > 0x20 && u < 0x7F) return std::string("'") + c + "'";
  static const char kHex[] = "0123456789ABCDEF";
  return std::string("'\\x") + kHex[u >> 4] + kHex[u & 15] + "'";
}

[[noreturn]] void Refuse(int line, char f, const std::string& why) {
  throw RuleError(line, f, "rule file line " + std::to_string(line) + ": " + why);
}

uint8_t Position(char c, int line, char f) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c - 'A' + 10);
  Refuse(line, f, "rule function " + Shown(f) + " takes a position 0-9 or A-Z, not " + Shown(c));
}

inline bool IsLower(unsigned char c) {
  return c >= 'a' && c <= 'z';
}
inline bool IsUpper(unsigned char c) {
  return c >= 'A' && c <= 'Z';
}
inline unsigned char Lower(unsigned char c) {
  return IsUpper(c) ? c | 0x20 : c;
}
inline unsigned char Upper(unsigned char c) {
  return IsLower(c) ? c & ~0x20 : c;
}
inline unsigned char Toggle(unsigned char c) {
  return IsLower(c) || IsUpper(c) ? c ^ 0x20 : c;
}

void LowerAll(unsigned char* w, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) w[i] = Lower(w[i]);
}
void UpperAll(unsigned char* w, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) w[i] = Upper(w[i]);
}

// Title case after `sep`: the first letter and each one after sep upper, the rest lower. Which
// letters follow sep is decided on the word as it was (so "aab" with sep 'a' gives "AAB"): from
// the right, the character before is still unchanged.
void TitleAfter(unsigned char* w, std::size_t n, unsigned char sep) {
  for (std::size_t i = n; i-- > 0;) w[i] = i == 0 || w[i - 1] == sep ? Upper(w[i]) : Lower(w[i]);
}

// One function; returns the new length. Out-of-range positions and results longer than
// kMaxRuleResult leave the word as it is.
std::size_t ApplyOp(const RuleOp& op, unsigned char* w, std::size_t n) {
  constexpr std::size_t kMax = kMaxRuleResult;
  const std::size_t a = op.a;
  const std::size_t b = op.b;
  switch (op.function) {
    case ':':
      return n;
    case 'l':
      LowerAll(w, n);
      return n;
    case 'u':
      UpperAll(w, n);
      return n;
    case 'c':
      LowerAll(w, n);
      if (n != 0) w[0] = Upper(w[0]);
      return n;
    case 'C':
      UpperAll(w, n);
      if (n != 0) w[0] = Lower(w[0]);
      return n;
    case 't':
      for (std::size_t i = 0; i < n; ++i) w[i] = Toggle(w[i]);
      return n;
    case 'T':
      if (a < n) w[a] = Toggle(w[a]);
      return n;
    case 'r':
      std::reverse(w, w + n);
      return n;
    case 'd':
      if (2 * n > kMax) return n;
      std::memcpy(w + n, w, n);
      return 2 * n;
    case 'p':
      if (n * (a + 1) > kMax) return n;
      for (std::size_t k = 1; k <= a; ++k) std::memcpy(w + k * n, w, n);
      return n * (a + 1);
    case 'f':
      if (2 * n > kMax) return n;
      std::reverse_copy(w, w + n, w + n);
      return 2 * n;
    case '{':
      if (n != 0) std::rotate(w, w + 1, w + n);
      return n;
    case '}':
      if (n != 0) std::rotate(w, w + n - 1, w + n);
      return n;
    case '$':
      if (n + 1 > kMax) return n;
      w[n] = op.a;
      return n + 1;
    case '^':
      if (n + 1 > kMax) return n;
      std::memmove(w + 1, w, n);
      w[0] = op.a;
      return n + 1;
    case '[':
      if (n == 0) return n;
      std::memmove(w, w + 1, n - 1);
      return n - 1;
    case ']':
      return n == 0 ? n : n - 1;
    case 'D':
      if (a >= n) return n;
      std::memmove(w + a, w + a + 1, n - a - 1);
      return n - 1;
    case 'x':
      if (a >= n || a + b > n) return n;
      std::memmove(w, w + a, b);
      return b;
    case 'O':
      if (a >= n || a + b > n) return n;
      std::memmove(w + a, w + a + b, n - a - b);
      return n - b;
    case 'i':
      if (a > n || n + 1 > kMax) return n;
      std::memmove(w + a + 1, w + a, n - a);
      w[a] = op.b;
      return n + 1;
    case 'o':
      if (a < n) w[a] = op.b;
      return n;
    case '\'':
      return a < n ? a : n;
    case 's':
      for (std::size_t i = 0; i < n; ++i) {
        if (w[i] == op.a) w[i] = op.b;
      }
      return n;
    case '@':
      return static_cast<std::size_t>(std::remove(w, w + n, op.a) - w);
    case 'z':
      if (n == 0 || n + a > kMax) return n;
      std::memmove(w + a, w, n);
      std::memset(w, w[a], a);
      return n + a;
    case 'Z':
      if (n == 0 || n + a > kMax) return n;
      std::memset(w + n, w[n - 1], a);
      return n + a;
    case 'q':
      if (2 * n > kMax) return n;
      for (std::size_t i = n; i-- > 0;) w[2 * i] = w[2 * i + 1] = w[i];
      return 2 * n;
    case 'k':
      if (n >= 2) std::swap(w[0], w[1]);
      return n;
    case 'K':
      if (n >= 2) std::swap(w[n - 2], w[n - 1]);
      return n;
    case '*':
      if (a < n && b < n) std::swap(w[a], w[b]);
      return n;
    case 'L':
      if (a < n) w[a] = static_cast<unsigned char>(w[a] << 1);
      return n;
    case 'R':
      if (a < n) w[a] = static_cast<unsigned char>(w[a] >> 1);
      return n;
    case '+':
      if (a < n) ++w[a];
      return n;
    case '-':
      if (a < n) --w[a];
      return n;
    case '.':
      if (a + 1 < n) w[a] = w[a + 1];
      return n;
    case ',':
      if (a >= 1 && a < n) w[a] = w[a - 1];
      return n;
    case 'y':
      if (a > n || n + a > kMax) return n;
      std::memmove(w + a, w, n);
      std::memcpy(w, w + a, a);
      return n + a;
    case 'Y':
      if (a > n || n + a > kMax) return n;
      std::memcpy(w + n, w + n - a, a);
      return n + a;
    case 'E':
      TitleAfter(w, n, ' ');
      return n;
    case 'e':
      TitleAfter(w, n, op.a);
      return n;
    case '3': {
      std::size_t seen = 0;
      for (std::size_t i = 0; i + 1 < n; ++i) {
        if (w[i] == op.b && seen++ == a) {
          w[i + 1] = Toggle(w[i + 1]);
          break;
        }
      }
      return n;
    }
    default:
      return n;  // not reached: the parser admits only the functions above
  }
}

}  // namespace

RuleSet::RuleSet() {
  ops_.push_back({':'});
  rules_.push_back({0, 1});
  lines_.push_back(0);
}

std::vector<RuleOp> RuleSet::ParseLine(std::string_view rule, int line) {
  std::vector<RuleOp> ops;
  std::size_t i = 0;
  auto next = [&](char f, int needed) -> char {
    if (i >= rule.size()) {
      Refuse(line, f,
             "rule function " + Shown(f) + " needs " + std::to_string(needed) +
                 (needed == 1 ? " argument" : " arguments"));
    }
    return rule[i++];
  };
  while (i < rule.size()) {
    const char f = rule[i++];
    if (f == ' ') continue;  // spaces separate functions and do nothing
    RuleOp op{f};
    switch (ArgsOf(f)) {
      case Args::kNone:
        break;
      case Args::kPos:
        op.a = Position(next(f, 1), line, f);
        break;
      case Args::kChar:
        op.a = static_cast<uint8_t>(next(f, 1));
        break;
      case Args::kPosPos:
        op.a = Position(next(f, 2), line, f);
        op.b = Position(next(f, 2), line, f);
        break;
      case Args::kPosChar:
        op.a = Position(next(f, 2), line, f);
        op.b = static_cast<uint8_t>(next(f, 2));
        break;
      case Args::kCharChar:
        op.a = static_cast<uint8_t>(next(f, 2));
        op.b = static_cast<uint8_t>(next(f, 2));
        break;
      case Args::kRefused:
        Refuse(
            line, f,
            "rule function " + Shown(f) + " is not supported (no memory or rejection functions)");
      case Args::kUnknown:
        Refuse(line, f, "unknown rule function " + Shown(f));
    }
    if (op.function != ':') ops.push_back(op);
  }
  return ops;
}

RuleSet RuleSet::Parse(std::istream& in) {
  RuleSet set;
  set.ops_.clear();
  set.rules_.clear();
  set.lines_.clear();
  std::string text;
  int line = 0;
  while (std::getline(in, text)) {
    ++line;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    const std::vector<RuleOp> ops = ParseLine(text, line);
    set.rules_.push_back(
        {static_cast<uint32_t>(set.ops_.size()), static_cast<uint32_t>(ops.size())});
    set.ops_.insert(set.ops_.end(), ops.begin(), ops.end());
    set.lines_.push_back(line);
  }
  if (set.rules_.empty()) throw RuleError(line, ':', "the rule file has no rules");
  return set;
}

RuleSet RuleSet::Parse(std::string_view text) {
  std::istringstream in{std::string(text)};
  return Parse(in);
}

std::size_t RuleSet::Apply(std::size_t i, unsigned char* buf, std::size_t length) const {
  const Span span = rules_[i];
  for (uint32_t k = 0; k < span.count; ++k) length = ApplyOp(ops_[span.first + k], buf, length);
  return length;
}

std::string RuleSet::ApplyTo(const std::vector<RuleOp>& rule, std::string_view word) {
  unsigned char buf[kMaxCandidate];
  std::size_t n = std::min(word.size(), kMaxCandidate);
  std::memcpy(buf, word.data(), n);
  for (const RuleOp& op : rule) n = ApplyOp(op, buf, n);
  return std::string(reinterpret_cast<const char*>(buf), n);
}

}  // namespace kryvane::recover
