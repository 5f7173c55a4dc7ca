#include "app/recover/mask.h"

#include <algorithm>
#include <cstring>

#include "crypto/bytes.h"

namespace kryvane::recover {

namespace {

std::string Chars(char first, char last) {
  std::string s;
  for (int c = first; c <= last; ++c) s.push_back(static_cast<char>(c));
  return s;
}

std::string Specials() {
  return Chars(' ', '/') + Chars(':', '@') + Chars('[', '`') + Chars('{', '~');
}

// Length of the UTF-8 character at the start of s, or 1 for a byte that does not start one.
std::size_t CharLength(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  std::size_t n = lead < 0x80                   ? 1
                  : lead >= 0xC2 && lead < 0xE0 ? 2
                  : lead >= 0xE0 && lead < 0xF0 ? 3
                  : lead >= 0xF0 && lead < 0xF5 ? 4
                                                : 1;
  if (n > s.size()) return 1;
  for (std::size_t i = 1; i < n; ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 1;
  }
  return n;
}

}  // namespace

void MaskSource::AddElement(Charset& to, std::string_view element) {
  if (to.offset.empty()) to.offset.push_back(0);
  for (std::size_t i = 0; i < to.size(); ++i) {
    if (to[i] == element) return;
  }
  to.bytes.append(element);
  to.offset.push_back(static_cast<uint16_t>(to.bytes.size()));
}

void MaskSource::AddSet(Charset& to, const Charset& from) {
  for (std::size_t i = 0; i < from.size(); ++i) AddElement(to, from[i]);
}

MaskSource::Charset MaskSource::ParseCharset(std::string_view text, std::size_t defined) const {
  Charset set;
  set.offset.push_back(0);
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '?') {
      const std::size_t n = CharLength(text.substr(i));
      AddElement(set, text.substr(i, n));
      i += n;
      continue;
    }
    if (i + 1 == text.size()) throw MaskError("a '?' at the end names no charset; use ?? for '?'");
    const char c = text[i + 1];
    i += 2;
    auto add = [&](const std::string& chars) {
      for (char ch : chars) AddElement(set, std::string_view(&ch, 1));
    };
    switch (c) {
      case 'l':
        add(Chars('a', 'z'));
        break;
      case 'u':
        add(Chars('A', 'Z'));
        break;
      case 'd':
        add(Chars('0', '9'));
        break;
      case 'h':
        add(Chars('0', '9') + Chars('a', 'f'));
        break;
      case 'H':
        add(Chars('0', '9') + Chars('A', 'F'));
        break;
      case 's':
        add(Specials());
        break;
      case 'a':
        add(Chars('a', 'z') + Chars('A', 'Z') + Chars('0', '9') + Specials());
        break;
      case 'b':
        for (int b = 0; b < 256; ++b) {
          const char ch = static_cast<char>(b);
          AddElement(set, std::string_view(&ch, 1));
        }
        break;
      case '?':
        add("?");
        break;
      case '1':
      case '2':
      case '3':
      case '4': {
        const std::size_t k = static_cast<std::size_t>(c - '1');
        if (k >= defined || custom_[k].size() == 0) {
          throw MaskError(std::string("?") + c + " is used but custom charset " + c +
                          " is not defined" + (k >= defined && defined < 4 ? " before it" : ""));
        }
        AddSet(set, custom_[k]);
        break;
      }
      default:
        throw MaskError(std::string("unknown charset ?") + c);
    }
  }
  return set;
}

MaskSource::MaskSource(std::string_view mask, const MaskOptions& options) {
  for (std::size_t k = 0; k < 4; ++k) {
    if (options.custom[k].empty()) continue;
    custom_[k] = ParseCharset(options.custom[k], k);
  }
  // A custom charset may be referred to by the mask whatever its number.
  std::size_t i = 0;
  while (i < mask.size()) {
    std::size_t n =
        mask[i] == '?' ? std::min<std::size_t>(2, mask.size() - i) : CharLength(mask.substr(i));
    sets_.push_back(ParseCharset(mask.substr(i, n), 4));
    i += n;
  }
  if (sets_.empty()) throw MaskError("the mask is empty");
  std::size_t longest = 0;
  for (const Charset& set : sets_) {
    std::size_t widest = 0;
    for (std::size_t k = 0; k < set.size(); ++k) widest = std::max(widest, set[k].size());
    longest += widest;
  }
  if (longest > kMaxCandidate) {
    throw MaskError("the mask makes candidates longer than " + std::to_string(kMaxCandidate) +
                    " bytes");
  }

  std::size_t lo = sets_.size();
  std::size_t hi = sets_.size();
  if (options.increment) {
    lo = options.increment_min.value_or(1);
    hi = options.increment_max.value_or(sets_.size());
    if (lo == 0 || lo > hi) throw MaskError("the increment must run from 1 <= min <= max");
    if (hi > sets_.size()) {
      throw MaskError("the increment maximum is longer than the mask (" +
                      std::to_string(sets_.size()) + " positions)");
    }
  } else if (options.increment_min || options.increment_max) {
    throw MaskError("an increment minimum or maximum needs the increment");
  }
  uint64_t product = 1;
  for (std::size_t len = 1; len <= hi; ++len) {
    const uint64_t n = sets_[len - 1].size();
    if (n != 0 && product > kNoEnd / n)
      throw MaskError("the mask has more than 2^64 - 1 candidates");
    product *= n;
    if (len < lo) continue;
    if (total_ > kNoEnd - product) throw MaskError("the mask has more than 2^64 - 1 candidates");
    segments_.push_back({len, total_, product});
    total_ += product;
  }
}

MaskSource::~MaskSource() {
  SecureZero(current_.data(), current_.size());
}

std::unique_ptr<CandidateSource> MaskSource::Clone() const {
  auto copy = std::make_unique<MaskSource>(*this);
  copy->pos_ = 0;
  copy->state_ = kNoEnd;
  return copy;
}

void MaskSource::Seek(uint64_t p) {
  if (p > total_) throw std::out_of_range("position beyond the end of the mask");
  pos_ = p;
}

std::string MaskSource::At(uint64_t p) const {
  if (p >= total_) throw std::out_of_range("position beyond the end of the mask");
  auto seg = std::upper_bound(segments_.begin(), segments_.end(), p,
                              [](uint64_t v, const Segment& s) { return v < s.first; }) -
             1;
  uint64_t rest = p - seg->first;
  std::vector<std::string_view> parts(seg->length);
  for (std::size_t k = seg->length; k-- > 0;) {
    const uint64_t n = sets_[k].size();
    parts[k] = sets_[k][rest % n];
    rest /= n;
  }
  std::string s;
  for (std::string_view part : parts) s.append(part);
  return s;
}

void MaskSource::Decode(uint64_t p) {
  segment_ = static_cast<std::size_t>(
      std::upper_bound(segments_.begin(), segments_.end(), p,
                       [](uint64_t v, const Segment& s) { return v < s.first; }) -
      segments_.begin() - 1);
  const Segment& seg = segments_[segment_];
  digit_.assign(seg.length, 0);
  uint64_t rest = p - seg.first;
  for (std::size_t k = seg.length; k-- > 0;) {
    const uint64_t n = sets_[k].size();
    digit_[k] = static_cast<uint32_t>(rest % n);
    rest /= n;
  }
  at_.assign(seg.length + 1, 0);
  Rebuild(0);
  state_ = p;
}

void MaskSource::Rebuild(std::size_t from) {
  current_.resize(at_[from]);
  for (std::size_t k = from; k < digit_.size(); ++k) {
    current_.append(sets_[k][digit_[k]]);
    at_[k + 1] = static_cast<uint16_t>(current_.size());
  }
}

bool MaskSource::Fill(CandidateBatch& batch, uint64_t end) {
  batch.Reset(pos_);
  end = std::min(end, total_);
  while (pos_ < end && !batch.Full()) {
    if (state_ != pos_) Decode(pos_);
    // The last position runs through its charset with the rest of the candidate fixed.
    const std::size_t last = digit_.size() - 1;
    const Charset& set = sets_[last];
    const std::size_t prefix = at_[last];
    uint32_t d = digit_[last];
    for (; d < set.size() && pos_ < end && !batch.Full(); ++d, ++pos_) {
      char* slot = batch.Slot();
      std::memcpy(slot, current_.data(), prefix);
      const std::string_view e = set[d];
      std::memcpy(slot + prefix, e.data(), e.size());
      batch.Commit(prefix + e.size(), pos_);
    }
    if (d < set.size()) {
      digit_[last] = d;
      state_ = pos_;
      break;
    }
    // Carry into the positions to the left; past the first, the next length begins.
    std::size_t k = last;
    digit_[k] = 0;
    while (k > 0 && ++digit_[k - 1] == sets_[k - 1].size()) digit_[--k] = 0;
    if (k == 0 || pos_ >= segments_[segment_].first + segments_[segment_].size) {
      state_ = kNoEnd;  // the next length, or the end
    } else {
      Rebuild(k - 1);
      state_ = pos_;
    }
  }
  batch.Finish(pos_);
  return batch.end() != batch.first();
}

}  // namespace kryvane::recover
