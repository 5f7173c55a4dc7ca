#include "app/recover/wordlist.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <stdexcept>
#include <vector>

#include "crypto/bytes.h"

namespace kryvane::recover {

struct WordlistSource::Shared {
  Opener open;
  RuleSet rules;
  WordlistOptions options;
  std::optional<uint64_t> lines;
};

// Lines out of a stream through one large buffer: a stream call per line would cost more than
// the rules applied to it.
class WordlistSource::LineReader {
 public:
  explicit LineReader(std::istream& in) : in_(&in), buf_(kBufferSize) {}
  explicit LineReader(std::unique_ptr<std::istream> owned)
      : owned_(std::move(owned)), in_(owned_.get()), buf_(kBufferSize) {}
  ~LineReader() { SecureZero(buf_.data(), buf_.size()); }

  // The next line without its end, or false at the end of the stream. A line too long for the
  // buffer comes back as `overlong` with no text. The view lasts until the next call.
  bool Next(std::string_view& line, bool& overlong) {
    overlong = false;
    for (;;) {
      const char* start = buf_.data() + begin_;
      const void* nl = std::memchr(start, '\n', end_ - begin_);
      if (nl != nullptr) {
        const std::size_t n = static_cast<const char*>(nl) - start;
        begin_ += n + 1;
        line = Strip({start, n});
        if (skipping_) {
          skipping_ = false;
          overlong = true;
          line = {};
        }
        ++lines_read_;
        return true;
      }
      if (eof_) {
        if (begin_ == end_ && !skipping_) return false;
        line = skipping_ ? std::string_view{} : Strip({start, end_ - begin_});
        overlong = skipping_;
        skipping_ = false;
        begin_ = end_;
        ++lines_read_;
        return true;
      }
      Refill();
    }
  }

  // Lines returned so far.
  uint64_t lines_read() const { return lines_read_; }

 private:
  static constexpr std::size_t kBufferSize = 1 << 20;

  static std::string_view Strip(std::string_view s) {
    if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
    return s;
  }

  void Refill() {
    if (begin_ == 0 && end_ == buf_.size()) {
      // No line end in a full buffer: drop what is there and remember to skip to the next end.
      skipping_ = true;
      begin_ = end_ = 0;
    } else if (begin_ != 0) {
      std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    in_->read(buf_.data() + end_, static_cast<std::streamsize>(buf_.size() - end_));
    const auto got = static_cast<std::size_t>(in_->gcount());
    end_ += got;
    if (got == 0 || !*in_) {
      if (in_->bad()) throw std::runtime_error("cannot read the word list");
      if (got == 0) eof_ = true;
    }
  }

  std::unique_ptr<std::istream> owned_;
  std::istream* in_;
  std::vector<char> buf_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool skipping_ = false;
  uint64_t lines_read_ = 0;
};

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::size_t> DecodeHexWord(std::string_view line, char* out, std::size_t room) {
  constexpr std::string_view kOpen = "$HEX[";
  if (line.size() < kOpen.size() + 1 || line.substr(0, kOpen.size()) != kOpen ||
      line.back() != ']') {
    return std::nullopt;
  }
  const std::string_view hex = line.substr(kOpen.size(), line.size() - kOpen.size() - 1);
  if (hex.size() % 2 != 0) return std::nullopt;
  for (char c : hex) {
    if (HexValue(c) < 0) return std::nullopt;
  }
  const std::size_t n = hex.size() / 2;
  if (n > room) return n;  // too long: the caller skips it
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = static_cast<char>(HexValue(hex[2 * i]) * 16 + HexValue(hex[2 * i + 1]));
  }
  return n;
}

WordlistSource::WordlistSource(Opener open, RuleSet rules, WordlistOptions options) {
  auto shared = std::make_shared<Shared>(Shared{std::move(open), std::move(rules), options, {}});
  std::unique_ptr<std::istream> in = shared->open();
  if (!in || !*in) throw std::runtime_error("cannot open the word list");
  LineReader counter(std::move(in));
  std::string_view line;
  bool overlong = false;
  while (counter.Next(line, overlong)) {
  }
  shared->lines = counter.lines_read();
  lines_ = shared->lines;
  shared_ = std::move(shared);
}

WordlistSource::WordlistSource(std::istream& in, RuleSet rules, WordlistOptions options)
    : shared_(std::make_shared<Shared>(Shared{nullptr, std::move(rules), options, {}})),
      reader_(std::make_unique<LineReader>(in)) {}

WordlistSource::WordlistSource(std::shared_ptr<const Shared> shared)
    : shared_(std::move(shared)), lines_(shared_->lines) {}

WordlistSource::~WordlistSource() {
  SecureZero(word_, sizeof(word_));
}

std::optional<uint64_t> WordlistSource::size() const {
  if (!lines_) return std::nullopt;
  return *lines_ * shared_->rules.size();
}

std::unique_ptr<CandidateSource> WordlistSource::Clone() const {
  if (!shared_->open) return nullptr;
  return std::unique_ptr<CandidateSource>(new WordlistSource(shared_));
}

void WordlistSource::Reopen() {
  std::unique_ptr<std::istream> in = shared_->open();
  if (!in || !*in) throw std::runtime_error("cannot open the word list again");
  reader_ = std::make_unique<LineReader>(std::move(in));
  loaded_ = kNoEnd;
}

void WordlistSource::Seek(uint64_t p) {
  if (const auto total = size(); total && p > *total) {
    throw std::out_of_range("position beyond the end of the word list");
  }
  const uint64_t word = p / shared_->rules.size();
  const bool behind = reader_ && word != loaded_ && word < reader_->lines_read();
  if (behind && !shared_->open) {
    throw std::logic_error("a word list read from a pipe cannot go back");
  }
  if (behind) Reopen();
  pos_ = p;
}

bool WordlistSource::LoadWord(uint64_t index) {
  if (!reader_ || reader_->lines_read() > index) {
    if (reader_ && !shared_->open)
      throw std::logic_error("a word list read from a pipe cannot go back");
    Reopen();
  }
  std::string_view line;
  bool overlong = false;
  while (reader_->lines_read() <= index) {
    if (!reader_->Next(line, overlong)) {
      lines_ = reader_->lines_read();
      return false;
    }
  }
  loaded_ = index;
  word_ok_ = false;
  if (overlong) return true;
  if (shared_->options.hex_words) {
    if (auto n = DecodeHexWord(line, reinterpret_cast<char*>(word_), kMaxCandidate)) {
      word_ok_ = *n <= kMaxCandidate;
      word_length_ = word_ok_ ? *n : 0;
      return true;
    }
  }
  if (line.size() <= kMaxCandidate) {
    std::memcpy(word_, line.data(), line.size());
    word_length_ = line.size();
    word_ok_ = true;
  }
  return true;
}

bool WordlistSource::Fill(CandidateBatch& batch, uint64_t end) {
  batch.Reset(pos_);
  const RuleSet& rules = shared_->rules;
  const uint64_t per_word = rules.size();
  if (const auto total = size()) end = std::min(end, *total);
  while (pos_ < end && !batch.Full()) {
    const uint64_t word = pos_ / per_word;
    if (word != loaded_ && !LoadWord(word)) {
      end = std::min(end, *size());
      break;
    }
    const uint64_t stop = std::min(end, (word + 1) * per_word);
    if (!word_ok_) {
      pos_ = stop;
      continue;
    }
    for (uint64_t r = pos_ - word * per_word; pos_ < stop && !batch.Full(); ++pos_, ++r) {
      auto* slot = reinterpret_cast<unsigned char*>(batch.Slot());
      std::memcpy(slot, word_, word_length_);
      batch.Commit(rules.Apply(r, slot, word_length_), pos_);
    }
  }
  batch.Finish(pos_);
  return batch.end() != batch.first();
}

}  // namespace kryvane::recover
