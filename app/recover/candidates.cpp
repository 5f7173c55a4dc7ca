#include "app/recover/candidates.h"

#include <charconv>
#include <ostream>
#include <stdexcept>
#include <utility>

#include "crypto/bytes.h"

namespace kryvane::recover {

namespace {

// Room for 32 bytes a candidate on average; longer ones end the batch early.
constexpr std::size_t kBytesPerCandidate = 32;

}  // namespace

CandidateBatch::CandidateBatch(std::size_t max_count)
    : max_count_(max_count == 0 ? 1 : max_count),
      capacity_(max_count_ * kBytesPerCandidate + kMaxCandidate),
      text_(new char[capacity_]),
      offset_(new uint32_t[max_count_ + 1]),
      position_(new uint64_t[max_count_]) {
  offset_[0] = 0;
}

CandidateBatch::~CandidateBatch() {
  Release();
}

CandidateBatch::CandidateBatch(CandidateBatch&& other) noexcept
    : max_count_(std::exchange(other.max_count_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      count_(std::exchange(other.count_, 0)),
      used_(std::exchange(other.used_, 0)),
      first_(other.first_),
      end_(other.end_),
      text_(std::move(other.text_)),
      offset_(std::move(other.offset_)),
      position_(std::move(other.position_)) {}

CandidateBatch& CandidateBatch::operator=(CandidateBatch&& other) noexcept {
  if (this != &other) {
    Release();
    max_count_ = std::exchange(other.max_count_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    count_ = std::exchange(other.count_, 0);
    used_ = std::exchange(other.used_, 0);
    first_ = other.first_;
    end_ = other.end_;
    text_ = std::move(other.text_);
    offset_ = std::move(other.offset_);
    position_ = std::move(other.position_);
  }
  return *this;
}

void CandidateBatch::Release() {
  if (text_) SecureZero(text_.get(), capacity_);
}

void CandidateBatch::Reset(uint64_t first) {
  // Only the bytes in use can hold a candidate; a full wipe per batch would cost more than the
  // candidates themselves.
  if (used_ != 0) SecureZero(text_.get(), used_);
  count_ = 0;
  used_ = 0;
  first_ = end_ = first;
}

void CandidateBatch::Append(std::string_view candidate, uint64_t position) {
  // Sources check Full() before each Slot(); a caller that appends must not run past the end.
  if (Full()) throw std::length_error("candidate batch is full");
  const std::size_t n = candidate.size() < kMaxCandidate ? candidate.size() : kMaxCandidate;
  std::char_traits<char>::copy(Slot(), candidate.data(), n);
  Commit(n, position);
}

Range SelectRange(std::optional<uint64_t> size, const Selection& selection) {
  if (selection.nodes == 0 || selection.node == 0 || selection.node > selection.nodes) {
    throw SelectionError("the node must be K/N with 1 <= K <= N");
  }
  Range range{0, size.value_or(kNoEnd)};
  if (selection.nodes > 1) {
    if (!size) throw SelectionError("a node split needs a candidate space of known size");
    range = SplitRange(range, selection.nodes, selection.node - 1);
  }
  const uint64_t room = range.end - range.first;
  range.first += selection.skip < room ? selection.skip : room;
  if (selection.limit && *selection.limit < range.end - range.first) {
    range.end = range.first + *selection.limit;
  }
  return range;
}

Selection ParseNode(std::string_view text, Selection base) {
  const std::size_t slash = text.find('/');
  uint32_t k = 0;
  uint32_t n = 0;
  const char* end = text.data() + text.size();
  bool ok = slash != std::string_view::npos;
  if (ok) {
    auto [pk, ek] = std::from_chars(text.data(), text.data() + slash, k);
    auto [pn, en] = std::from_chars(text.data() + slash + 1, end, n);
    ok = ek == std::errc() && pk == text.data() + slash && en == std::errc() && pn == end;
  }
  if (!ok || n == 0 || k == 0 || k > n) {
    throw SelectionError("the node must be K/N with 1 <= K <= N, e.g. 2/4");
  }
  base.node = k;
  base.nodes = n;
  return base;
}

Range SplitRange(Range range, uint64_t parts, uint64_t part) {
  const uint64_t total = range.end - range.first;
  // total * part / parts without overflow: both fit in 64 bits, the product may not.
  auto cut = [&](uint64_t i) {
    const unsigned __int128 x = static_cast<unsigned __int128>(total) * i / parts;
    return range.first + static_cast<uint64_t>(x);
  };
  return {cut(part), cut(part + 1)};
}

uint64_t WriteCandidates(CandidateSource& source, std::ostream& out, uint64_t end) {
  CandidateBatch batch;
  uint64_t written = 0;
  std::string line;
  // Reserved once so that growing never leaves an unerased copy behind.
  line.reserve(batch.byte_capacity() + batch.max_count());
  while (source.Fill(batch, end)) {
    // One write per batch: a stream write per candidate would dominate the time.
    line.clear();
    for (std::size_t i = 0; i < batch.size(); ++i) {
      line.append(batch[i]);
      line.push_back('\n');
    }
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    written += batch.size();
  }
  SecureZero(line.data(), line.size());
  out.flush();
  return written;
}

}  // namespace kryvane::recover
