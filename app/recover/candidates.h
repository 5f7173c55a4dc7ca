// Passphrase candidates for the recovery search: a source produces them in a fixed order, in
// batches, from a position that can be saved and restored.
//
// Positions. Every source numbers its space 0..size-1 in one deterministic order. A position may
// yield no candidate (a word too long for the search, a word list line that decodes to nothing);
// it still counts, so a position always means the same thing for the same inputs. --skip,
// --limit, --node and the restore point are positions, never candidate text.
//
// Threads. A source is not thread-safe. Either one thread fills batches and hands them to the
// workers, or the workers take turns under a mutex: a batch holds thousands of candidates, so the
// lock is taken rarely. A source whose Clone() succeeds (mask, like, a word list that can be
// reopened) can also be split: each worker clones it, seeks to the start of its own share of the
// range (SplitRange) and fills up to the end of that share.
//
// Restore. A batch covers the positions [first(), end()) with no gap between batches. A search
// that has finished every batch below some position saves that position; Seek(it) resumes there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kryvane::recover {

// The longest candidate any source produces, in bytes (a word list line longer than this after
// decoding is skipped, and no rule makes a word longer than kMaxRuleResult).
inline constexpr std::size_t kMaxCandidate = 256;
inline constexpr uint64_t kNoEnd = std::numeric_limits<uint64_t>::max();

// Candidates back to back in one buffer, filled without an allocation per candidate. The buffer is
// erased when the batch is cleared or destroyed: one of the candidates may be the passphrase.
class CandidateBatch {
 public:
  explicit CandidateBatch(std::size_t max_count = 4096);
  ~CandidateBatch();
  CandidateBatch(const CandidateBatch&) = delete;
  CandidateBatch& operator=(const CandidateBatch&) = delete;
  CandidateBatch(CandidateBatch&& other) noexcept;
  CandidateBatch& operator=(CandidateBatch&& other) noexcept;

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  std::size_t max_count() const { return max_count_; }
  // Bytes of candidate text the batch can hold at most.
  std::size_t byte_capacity() const { return capacity_; }
  std::string_view operator[](std::size_t i) const {
    return {text_.get() + offset_[i], static_cast<std::size_t>(offset_[i + 1] - offset_[i])};
  }
  // The position that produced candidate i.
  uint64_t position(std::size_t i) const { return position_[i]; }
  // The positions this batch covers, including those that produced nothing.
  uint64_t first() const { return first_; }
  uint64_t end() const { return end_; }

  // For sources: Reset(p) starts an empty batch at position p; Slot() has room for kMaxCandidate
  // bytes while !Full(); Commit(n, p) keeps the n bytes written there as the candidate of p;
  // Finish(e) records that the positions up to e were consumed.
  void Reset(uint64_t first);
  bool Full() const { return count_ == max_count_ || used_ + kMaxCandidate > capacity_; }
  char* Slot() { return text_.get() + used_; }
  void Commit(std::size_t length, uint64_t position) {
    used_ += static_cast<uint32_t>(length);
    position_[count_] = position;
    offset_[++count_] = used_;
  }
  void Append(std::string_view candidate, uint64_t position);
  void Finish(uint64_t end) { end_ = end; }

 private:
  void Release();

  std::size_t max_count_ = 0;
  std::size_t capacity_ = 0;  // bytes of text_
  std::size_t count_ = 0;
  uint32_t used_ = 0;
  uint64_t first_ = 0;
  uint64_t end_ = 0;
  std::unique_ptr<char[]> text_;
  std::unique_ptr<uint32_t[]> offset_;  // max_count_ + 1 entries
  std::unique_ptr<uint64_t[]> position_;
};

class CandidateSource {
 public:
  virtual ~CandidateSource() = default;

  // The number of positions, or nothing while it is unknown (a word list read from a pipe).
  virtual std::optional<uint64_t> size() const = 0;
  // The position the next Fill starts from.
  virtual uint64_t position() const = 0;
  // Moves to position p (p <= size). A source read once from a pipe cannot go back and throws
  // std::logic_error; beyond the end it throws std::out_of_range.
  virtual void Seek(uint64_t p) = 0;
  // Refills the batch with the candidates of the next positions below `end`, as many as fit, and
  // moves past the positions it covered. Returns false, with an empty batch, once nothing is left
  // before `end`; true otherwise, even when every position covered yielded nothing.
  virtual bool Fill(CandidateBatch& batch, uint64_t end = kNoEnd) = 0;
  // An independent source over the same space, at position 0, for another thread; nullptr when
  // the input can be read only once.
  virtual std::unique_ptr<CandidateSource> Clone() const = 0;
};

// The share of the space a run covers.
struct Range {
  uint64_t first = 0;
  uint64_t end = kNoEnd;  // exclusive
  friend bool operator==(const Range&, const Range&) = default;
};

// What the user asked for: --node K/N splits the space into N near-equal contiguous parts and takes
// the K-th (1-based); --skip and --limit then count from the start of that part.
struct Selection {
  uint64_t skip = 0;
  std::optional<uint64_t> limit{};
  uint32_t node = 1;
  uint32_t nodes = 1;
};

class SelectionError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The range a selection picks out of a space of `size` positions (nothing: unknown). Throws
// SelectionError for a node outside 1..N, or a node split of a space of unknown size.
Range SelectRange(std::optional<uint64_t> size, const Selection& selection);

// Parses "K/N" as --node takes it; throws SelectionError.
Selection ParseNode(std::string_view text, Selection base = {});

// Part `part` (0-based) of `parts` near-equal contiguous pieces of `range`, for threads or nodes.
Range SplitRange(Range range, uint64_t parts, uint64_t part);

// Writes the candidates of positions [source.position(), end) one per line, ending each with
// '\n' as `hashcat --stdout` does. Returns the number written.
uint64_t WriteCandidates(CandidateSource& source, std::ostream& out, uint64_t end = kNoEnd);

}  // namespace kryvane::recover
