// Candidates near a passphrase the user half remembers (--like TEXT): the text itself, then its
// variants in tiers of increasing edit cost, each candidate once.
//
// A variant is the text put through four steps, each with a cost, in this order:
//   typos          none 0; one typo 2; two typos 4. A typo drops a character, doubles it, swaps
//                  it with the next one, or replaces it by a key next to it on a US keyboard
//                  (shifted keys by shifted keys).
//   substitutions  none 0; one character replaced 1 (a>@ a>4 e>3 i>1 i>! l>1 o>0 s>$ s>5 t>7,
//                  and back: @>a $>s !>i, digits beside letters 0>o 1>i 1>l 3>e 4>a 5>s 7>t);
//                  every occurrence of one letter replaced 1; two characters replaced 2; every
//                  replaceable character replaced 2.
//   case           as typed 0; lower, upper, capitalised, first letter toggled, each word
//                  capitalised 1; every letter toggled 2.
//   ending         as typed 0; one of ! ? . * # @ $ or one digit appended 1; the text's trailing
//                  number dropped 1; two digits 00-99, a year 1950-2030, 123 or !! appended 2;
//                  the trailing number replaced by one or two digits or a year 2; one of those
//                  followed by a sign 3; 1234, !!! appended 3.
// Tier t holds every variant whose costs add up to t, typos outermost, then substitutions, case
// and ending; a candidate already produced by a cheaper tier (or earlier in its tier) is left out.
// The order depends only on the text and the options, so positions are stable across runs.
//
// The space is built in memory when the source is made (tens of bytes a candidate) and erased when
// the last source sharing it goes. Letters are ASCII and Latin-1 for the case steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "app/recover/candidates.h"

namespace kryvane::recover {

struct LikeOptions {
  int max_cost = 5;                   // the last tier built
  uint64_t max_candidates = 5000000;  // the space is cut here, mid-tier if need be
};

class LikeSource : public CandidateSource {
 public:
  // Throws std::invalid_argument for an empty text or one longer than kMaxCandidate bytes.
  explicit LikeSource(std::string_view text, const LikeOptions& options = {});

  std::optional<uint64_t> size() const override;
  uint64_t position() const override { return pos_; }
  void Seek(uint64_t p) override;
  bool Fill(CandidateBatch& batch, uint64_t end = kNoEnd) override;
  std::unique_ptr<CandidateSource> Clone() const override;

  // The candidate at position p < size().
  std::string_view At(uint64_t p) const;
  // Where each tier starts: tier t covers [tier_start(t), tier_start(t + 1)); past the last tier
  // built, tier_start is size().
  uint64_t tier_start(int t) const;

 private:
  struct Space;
  explicit LikeSource(std::shared_ptr<const Space> space) : space_(std::move(space)) {}

  std::shared_ptr<const Space> space_;
  uint64_t pos_ = 0;
};

}  // namespace kryvane::recover
