// Candidates from a mask in hashcat's syntax: every position of the mask is a literal character or
// a charset, and the candidates are all the ways of filling the positions.
//
//   ?l a-z   ?u A-Z   ?d 0-9   ?h 0-9a-f   ?H 0-9A-F   ?s space and
//   !"#$%&'()*+,-./:;<=>?@[\]^_`{|}~ ?a ?l?u?d?s   ?b the bytes 0x00-0xFF   ?? a literal '?'   ?1
//   .. ?4 the custom charsets
//
// A custom charset is a string of literal characters and ?-charsets (it may use the custom
// charsets with a lower number); a character in it twice counts once. With `increment`, the
// candidates of the first increment_min positions of the mask come first, then those of one more
// position, up to increment_max.
//
// Unlike hashcat, a literal or charset character outside ASCII is one UTF-8 character, not one
// byte per position: the candidates are UTF-8 text (only ?b gives single bytes).
//
// Order: the last position varies fastest (?d?d gives 00, 01, ..., 99), so position i maps
// directly to its candidate.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/recover/candidates.h"

namespace kryvane::recover {

class MaskError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

struct MaskOptions {
  std::array<std::string, 4> custom{};  // --custom-charset1..4 (-1..-4); empty: undefined
  bool increment = false;
  std::optional<std::size_t> increment_min{};  // positions; default 1
  std::optional<std::size_t> increment_max{};  // default: the whole mask
};

class MaskSource : public CandidateSource {
 public:
  // Throws MaskError for a mask or charset it cannot take, or a space beyond 2^64 - 1.
  explicit MaskSource(std::string_view mask, const MaskOptions& options = {});
  ~MaskSource() override;

  std::optional<uint64_t> size() const override { return total_; }
  uint64_t position() const override { return pos_; }
  void Seek(uint64_t p) override;
  bool Fill(CandidateBatch& batch, uint64_t end = kNoEnd) override;
  std::unique_ptr<CandidateSource> Clone() const override;

  // The candidate at position p < size().
  std::string At(uint64_t p) const;
  // Positions of the mask (an ASCII literal or a charset each).
  std::size_t length() const { return sets_.size(); }

 private:
  // The characters a position can take, each 1..4 bytes, back to back.
  struct Charset {
    std::string bytes;
    std::vector<uint16_t> offset;  // size() + 1 entries
    std::size_t size() const { return offset.empty() ? 0 : offset.size() - 1; }
    std::string_view operator[](std::size_t i) const {
      return std::string_view(bytes).substr(offset[i], offset[i + 1] - offset[i]);
    }
  };
  struct Segment {  // the candidates of one length
    std::size_t length;
    uint64_t first;
    uint64_t size;
  };

  static void AddSet(Charset& to, const Charset& from);
  static void AddElement(Charset& to, std::string_view element);
  // The characters of `text`; ?1.. may name the first `defined` custom charsets.
  Charset ParseCharset(std::string_view text, std::size_t defined) const;

  void Decode(uint64_t p);  // sets the odometer to position p
  void Rebuild(std::size_t from);

  std::vector<Charset> sets_;  // one per position
  std::array<Charset, 4> custom_;
  std::vector<Segment> segments_;
  uint64_t total_ = 0;

  uint64_t pos_ = 0;
  uint64_t state_ = kNoEnd;  // the position the odometer below stands for
  std::size_t segment_ = 0;
  std::vector<uint32_t> digit_;
  std::vector<uint16_t> at_;  // byte offset of each position in current_
  std::string current_;
};

}  // namespace kryvane::recover
