// Candidates from a word list, one word a line, each mangled by every rule of a rule set.
//
// Lines end at '\n'; one '\r' before it is dropped. An empty line is the empty word. As hashcat
// reads word lists, a line $HEX[...] with an even number of hex digits stands for the bytes it
// spells, and a word longer than kMaxCandidate bytes is skipped. Position w * rules + r is rule r
// applied to line w (0-based), so the space has (lines * rules) positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string_view>

#include "app/recover/candidates.h"
#include "app/recover/rules.h"

namespace kryvane::recover {

struct WordlistOptions {
  bool hex_words = true;  // decode $HEX[...] lines
};

// Decodes a $HEX[...] line; returns nothing when the line is not one.
std::optional<std::size_t> DecodeHexWord(std::string_view line, char* out, std::size_t room);

class WordlistSource : public CandidateSource {
 public:
  // Opens the list afresh, positioned at its start (a file: an std::ifstream in binary mode).
  // Clones call it from the thread that uses them.
  using Opener = std::function<std::unique_ptr<std::istream>()>;

  // A list that can be opened again: read once here to count its lines, and again for a backward
  // Seek or a Clone. Throws std::runtime_error if the opener gives no readable stream.
  WordlistSource(Opener open, RuleSet rules, WordlistOptions options = {});
  // A list read once (standard input): its size is known only once it has been read to the end,
  // Seek goes forward only and Clone gives nullptr. `in` must outlive the source.
  WordlistSource(std::istream& in, RuleSet rules, WordlistOptions options = {});
  ~WordlistSource() override;

  std::optional<uint64_t> size() const override;
  uint64_t position() const override { return pos_; }
  void Seek(uint64_t p) override;
  bool Fill(CandidateBatch& batch, uint64_t end = kNoEnd) override;
  std::unique_ptr<CandidateSource> Clone() const override;

 private:
  struct Shared;
  class LineReader;
  WordlistSource(std::shared_ptr<const Shared> shared);
  void Reopen();
  bool LoadWord(uint64_t index);  // false at the end of the list

  std::shared_ptr<const Shared> shared_;
  std::unique_ptr<LineReader> reader_;
  std::optional<uint64_t> lines_;  // known once counted or read to the end
  uint64_t pos_ = 0;
  uint64_t loaded_ = kNoEnd;  // index of the word in word_
  bool word_ok_ = false;      // the loaded word is a candidate (not too long)
  std::size_t word_length_ = 0;
  unsigned char word_[kMaxCandidate];
};

}  // namespace kryvane::recover
