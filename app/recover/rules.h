// Word-mangling rules in hashcat's rule syntax, applied to word list entries.
//
// A rule is a line of functions applied left to right, each a letter or sign followed by its
// arguments (positions 0-9 and A-Z for 0..35, or single characters); spaces between functions do
// nothing. A line starting with '#' is a comment and an empty line is no rule. The functions and
// their edge cases follow hashcat's as `hashcat --stdout` applies them: a position past the end of
// the word leaves the word unchanged, and so does a function whose result would be longer than
// kMaxRuleResult bytes. Letters are ASCII only (bytes of UTF-8 text above 0x7F are left alone).
//
// Supported:  : l u c C t TN r d pN f { } $X ^X [ ] DN xNM ONM iNX oNX 'N sXY @X zN ZN q k K
//             *NM LN RN +N -N .N ,N yN YN E eX 3NX
// Refused, with the function and the line named: the memory functions (M 4 6 X Q) and the
// rejection functions (< > _ ! / ( ) = %), which hashcat does not apply to rule files either, and
// anything unknown. A file with one refused line is refused as a whole: a rule silently dropped
// would shrink the search without the user knowing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/recover/candidates.h"

namespace kryvane::recover {

inline constexpr std::size_t kMaxRuleResult = 255;

class RuleError : public std::runtime_error {
 public:
  RuleError(int line, char function, const std::string& what)
      : std::runtime_error(what), line_(line), function_(function) {}
  int line() const { return line_; }           // 1-based line of the rule file
  char function() const { return function_; }  // the function refused
 private:
  int line_;
  char function_;
};

struct RuleOp {
  char function;
  uint8_t a = 0;  // first argument: a position or a character
  uint8_t b = 0;  // second argument
};

class RuleSet {
 public:
  // The one rule that changes nothing, as a word list without rules behaves.
  RuleSet();

  // Parses a rule file; throws RuleError for the first line it cannot take.
  static RuleSet Parse(std::istream& in);
  static RuleSet Parse(std::string_view text);
  // One rule line (no comment handling); `line` is only for the message.
  static std::vector<RuleOp> ParseLine(std::string_view rule, int line = 1);

  std::size_t size() const { return rules_.size(); }
  // Applies rule i to the word in buf[0..length), in place; buf has room for kMaxCandidate bytes
  // and length <= kMaxCandidate. Returns the new length.
  std::size_t Apply(std::size_t i, unsigned char* buf, std::size_t length) const;
  // The line of the rule file rule i came from.
  int line(std::size_t i) const { return lines_[i]; }

  // Applies a parsed rule to a word (words longer than kMaxCandidate are cut).
  static std::string ApplyTo(const std::vector<RuleOp>& rule, std::string_view word);

 private:
  struct Span {
    uint32_t first;
    uint32_t count;
  };
  std::vector<RuleOp> ops_;
  std::vector<Span> rules_;
  std::vector<int> lines_;
};

}  // namespace kryvane::recover
