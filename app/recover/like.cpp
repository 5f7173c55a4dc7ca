#include "app/recover/like.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_set>

#include "crypto/bytes.h"

namespace kryvane::recover {

namespace {

using U32 = std::u32string;

// Bytes that are not UTF-8 stand for themselves through the range U+DC80..U+DCFF, so that any
// text comes back out byte for byte.
constexpr char32_t kRawByte = 0xDC00;

U32 Decode(std::string_view s) {
  U32 out;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80                ? 1
                    : b >= 0xC2 && b < 0xE0 ? 2
                    : b >= 0xE0 && b < 0xF0 ? 3
                    : b >= 0xF0 && b < 0xF5 ? 4
                                            : 0;
    char32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
    bool ok = n != 0 && i + n <= s.size();
    for (std::size_t k = 1; ok && k < n; ++k) {
      const auto cont = static_cast<unsigned char>(s[i + k]);
      ok = (cont & 0xC0) == 0x80;
      c = (c << 6) | (cont & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8 either.
    ok = ok && !(n == 3 && c < 0x800) && !(n == 4 && (c < 0x10000 || c > 0x10FFFF)) &&
         !(c >= 0xD800 && c < 0xE000);
    if (!ok) {
      out.push_back(kRawByte + b);
      ++i;
    } else {
      out.push_back(c);
      i += n;
    }
  }
  return out;
}

void Encode(const U32& s, std::string& out) {
  out.clear();
  for (char32_t c : s) {
    if (c >= kRawByte + 0x80 && c <= kRawByte + 0xFF) {
      out.push_back(static_cast<char>(c - kRawByte));
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

// Case of ASCII and Latin-1 letters (ÿ's capital lies outside Latin-1 and is left out).
bool IsLower(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
}
bool IsUpper(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
}
bool IsLetter(char32_t c) {
  return IsLower(c) || IsUpper(c);
}
char32_t Lower(char32_t c) {
  return IsUpper(c) ? c + 0x20 : c;
}
char32_t Upper(char32_t c) {
  return IsLower(c) ? c - 0x20 : c;
}
char32_t Toggle(char32_t c) {
  return IsLower(c) ? c - 0x20 : IsUpper(c) ? c + 0x20 : c;
}

struct Option {
  U32 text;
  int cost;
};

void Erase(U32& s);

// Adds `text` unless an earlier option has it.
void AddOption(std::vector<Option>& to, U32 text, int cost) {
  for (const Option& o : to) {
    if (o.text == text) return Erase(text);
  }
  to.push_back({std::move(text), cost});
}

// The US keyboard, unshifted and shifted; a key's neighbours are those beside it in its row and
// the two touching it in the rows above and below (each row sits a little right of the one above).
// clang-format off
constexpr std::array<std::string_view, 8> kRows = {
    "`1234567890-=", "qwertyuiop[]\\", "asdfghjkl;'", "zxcvbnm,./",
    "~!@#$%^&*()_+", "QWERTYUIOP{}|", "ASDFGHJKL:\"", "ZXCVBNM<>?"};
// clang-format on

std::string Neighbours(char32_t c) {
  std::string out;
  if (c >= 0x80) return out;
  for (std::size_t r = 0; r < kRows.size(); ++r) {
    const std::size_t col = kRows[r].find(static_cast<char>(c));
    if (col == std::string_view::npos) continue;
    const std::size_t layer = r / 4 * 4;
    auto key = [&](std::size_t row, std::ptrdiff_t cl) {
      if (row < layer || row >= layer + 4 || cl < 0) return;
      const std::string_view line = kRows[row];
      if (static_cast<std::size_t>(cl) < line.size()) out.push_back(line[cl]);
    };
    const auto cl = static_cast<std::ptrdiff_t>(col);
    key(r, cl - 1);
    key(r, cl + 1);
    if (r > layer) {
      key(r - 1, cl);
      key(r - 1, cl + 1);
    }
    key(r + 1, cl - 1);
    key(r + 1, cl);
    break;
  }
  return out;
}

// Every text one typo away from s, in order of position, without s itself.
void OneTypo(const U32& s, const std::function<void(U32)>& add) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    U32 t = s;
    t.erase(i, 1);
    add(std::move(t));
    t = s;
    t.insert(i, 1, s[i]);
    add(std::move(t));
    if (i + 1 < s.size() && s[i] != s[i + 1]) {
      t = s;
      std::swap(t[i], t[i + 1]);
      add(std::move(t));
    }
    for (char n : Neighbours(s[i])) {
      t = s;
      t[i] = static_cast<unsigned char>(n);
      add(std::move(t));
    }
    Erase(t);
  }
}

void Erase(U32& s) {
  SecureZero(s.data(), s.size() * sizeof(char32_t));
}

void Erase(std::vector<Option>& options) {
  for (Option& o : options) Erase(o.text);
}

std::vector<Option> Typos(const U32& text, int max_cost) {
  std::vector<Option> out{{text, 0}};
  // Views of the options' texts, which the vector's growth moves: the set is rebuilt on growth.
  std::unordered_set<std::u32string_view> seen;
  auto add = [&](int cost) {
    return [&, cost](U32 t) {
      if (seen.count(t) != 0) return Erase(t);
      if (out.size() == out.capacity()) {
        out.reserve(out.size() * 2);
        seen.clear();
        for (const Option& o : out) seen.insert(o.text);
      }
      out.push_back({std::move(t), cost});
      seen.insert(out.back().text);
    };
  };
  out.reserve(64);
  seen.insert(out[0].text);
  if (max_cost >= 2) OneTypo(text, add(2));
  if (max_cost >= 4) {
    const std::size_t ones = out.size();
    for (std::size_t k = 1; k < ones; ++k) {
      U32 one = out[k].text;
      OneTypo(one, add(4));
      Erase(one);
    }
  }
  return out;
}

// What a character may stand in for, or be stood in for by.
std::u32string_view Replacements(const U32& s, std::size_t i) {
  const char32_t c = Lower(s[i]);
  switch (c) {
    case 'a':
      return U"@4";
    case 'e':
      return U"3";
    case 'i':
      return U"1!";
    case 'l':
      return U"1";
    case 'o':
      return U"0";
    case 's':
      return U"$5";
    case 't':
      return U"7";
    case '@':
      return U"a";
    case '$':
      return U"s";
    case '!':
      return i + 1 < s.size() && IsLetter(s[i + 1]) ? U"i" : U"";
    default:
      break;
  }
  if (c < '0' || c > '9') return U"";
  // A digit counts as a letter in disguise only beside a letter and not beside a digit.
  const bool before = i > 0 && IsLetter(s[i - 1]);
  const bool after = i + 1 < s.size() && IsLetter(s[i + 1]);
  const bool digit_near = (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') ||
                          (i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9');
  if (!(before || after) || digit_near) return U"";
  switch (c) {
    case '0':
      return U"o";
    case '1':
      return U"il";
    case '3':
      return U"e";
    case '4':
      return U"a";
    case '5':
      return U"s";
    case '7':
      return U"t";
    default:
      return U"";
  }
}

std::vector<Option> Substitutions(const U32& s, int budget) {
  std::vector<Option> out{{s, 0}};
  if (budget < 1) return out;
  // One character.
  std::vector<std::pair<std::size_t, char32_t>> singles;
  for (std::size_t i = 0; i < s.size(); ++i) {
    for (char32_t r : Replacements(s, i)) singles.push_back({i, r});
  }
  for (auto [i, r] : singles) {
    U32 t = s;
    t[i] = r;
    AddOption(out, std::move(t), 1);
  }
  // Every occurrence of one letter, by the same replacement.
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char32_t c = Lower(s[i]);
    if (!IsLetter(c) ||
        std::any_of(s.begin(), s.begin() + i, [&](char32_t x) { return Lower(x) == c; })) {
      continue;
    }
    for (char32_t r : Replacements(s, i)) {
      U32 t = s;
      for (char32_t& x : t) {
        if (Lower(x) == c) x = r;
      }
      AddOption(out, std::move(t), 1);
    }
  }
  if (budget < 2) return out;
  // Two characters at different places.
  for (std::size_t a = 0; a < singles.size(); ++a) {
    for (std::size_t b = a + 1; b < singles.size(); ++b) {
      if (singles[a].first == singles[b].first) continue;
      U32 t = s;
      t[singles[a].first] = singles[a].second;
      t[singles[b].first] = singles[b].second;
      AddOption(out, std::move(t), 2);
    }
  }
  // Every replaceable letter by its first replacement.
  U32 all = s;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (IsLetter(s[i]) && !Replacements(s, i).empty()) all[i] = Replacements(s, i)[0];
  }
  AddOption(out, std::move(all), 2);
  return out;
}

std::vector<Option> Cases(const U32& s, int budget) {
  std::vector<Option> out{{s, 0}};
  if (budget < 1) return out;
  auto map = [&](auto f) {
    U32 t = s;
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = f(t[i], i);
    return t;
  };
  const auto first = std::find_if(s.begin(), s.end(), IsLetter) - s.begin();
  AddOption(out, map([](char32_t c, std::size_t) { return Lower(c); }), 1);
  AddOption(out, map([](char32_t c, std::size_t) { return Upper(c); }), 1);
  AddOption(out, map([&](char32_t c, std::size_t i) {
              return static_cast<std::ptrdiff_t>(i) == first ? Upper(c) : Lower(c);
            }),
            1);
  AddOption(out, map([&](char32_t c, std::size_t i) {
              return static_cast<std::ptrdiff_t>(i) == first ? Toggle(c) : c;
            }),
            1);
  AddOption(out, map([&](char32_t c, std::size_t i) {
              return i == 0 || s[i - 1] == ' ' ? Upper(c) : Lower(c);
            }),
            1);
  if (budget >= 2) AddOption(out, map([](char32_t c, std::size_t) { return Toggle(c); }), 2);
  return out;
}

struct Ending {
  enum Kind { kKeep, kAppend, kReplaceNumber, kDropNumber } kind;
  std::string text;
};

// The endings by cost: endings[c] costs c.
std::array<std::vector<Ending>, 4> Endings(bool has_number) {
  const std::string_view signs = "!?.*#@$";
  std::vector<std::string> one_digit, numbers;  // numbers: two digits, years
  for (int d = 0; d <= 9; ++d) one_digit.push_back(std::to_string(d));
  for (int d = 0; d <= 99; ++d) {
    const char two[] = {static_cast<char>('0' + d / 10), static_cast<char>('0' + d % 10)};
    numbers.emplace_back(two, 2);
  }
  for (int y = 1950; y <= 2030; ++y) numbers.push_back(std::to_string(y));

  std::array<std::vector<Ending>, 4> e;
  e[0].push_back({Ending::kKeep, ""});
  for (char c : signs) e[1].push_back({Ending::kAppend, std::string(1, c)});
  for (const auto& d : one_digit) e[1].push_back({Ending::kAppend, d});
  if (has_number) e[1].push_back({Ending::kDropNumber, ""});

  for (const auto& n : numbers) e[2].push_back({Ending::kAppend, n});
  e[2].push_back({Ending::kAppend, "123"});
  e[2].push_back({Ending::kAppend, "!!"});
  for (const auto& d : one_digit) {
    for (char c : signs) e[2].push_back({Ending::kAppend, d + c});
  }
  if (has_number) {
    for (const auto& d : one_digit) e[2].push_back({Ending::kReplaceNumber, d});
    for (const auto& n : numbers) e[2].push_back({Ending::kReplaceNumber, n});
  }

  for (const auto& n : numbers) {
    for (char c : signs) e[3].push_back({Ending::kAppend, n + c});
  }
  for (char c : signs) e[3].push_back({Ending::kAppend, "123" + std::string(1, c)});
  e[3].push_back({Ending::kAppend, "1234"});
  e[3].push_back({Ending::kAppend, "!!!"});
  if (has_number) {
    for (const auto& d : one_digit) {
      for (char c : signs) e[3].push_back({Ending::kReplaceNumber, d + c});
    }
    for (const auto& n : numbers) {
      for (char c : signs) e[3].push_back({Ending::kReplaceNumber, n + c});
    }
  }
  return e;
}

}  // namespace

// The built space: candidates back to back, erased when the last source using it goes.
struct LikeSource::Space {
  std::unique_ptr<char[]> text;
  std::size_t used = 0;
  std::size_t capacity = 0;
  std::vector<uint32_t> offset{0};
  std::vector<uint64_t> tiers;

  ~Space() {
    if (text) SecureZero(text.get(), capacity);
  }
  uint64_t size() const { return offset.size() - 1; }
  std::string_view at(uint64_t i) const {
    return {text.get() + offset[i], offset[i + 1] - offset[i]};
  }
  void Append(std::string_view s) {
    if (used + s.size() > capacity) {
      // Grown by hand so that the old buffer is erased, not just freed.
      const std::size_t cap = std::max<std::size_t>(capacity * 2, 1 << 16);
      std::unique_ptr<char[]> bigger(new char[cap]);
      if (used != 0) std::memcpy(bigger.get(), text.get(), used);
      if (text) SecureZero(text.get(), capacity);
      text = std::move(bigger);
      capacity = cap;
    }
    std::memcpy(text.get() + used, s.data(), s.size());
    used += s.size();
    offset.push_back(static_cast<uint32_t>(used));
  }
};

namespace {

// Which candidates the space holds already: open addressing over (hash, index + 1) pairs, so
// that a probe compares text only when the hashes agree. A slot's place comes from the hash's high
// half, which the slot keeps: growing needs no rehash of the text.
template <class Space>
class Seen {
 public:
  explicit Seen(const Space& space) : space_(space), slots_(1 << 16, 0) {}

  // True if s was new (the caller then appends it as index `next`).
  bool Insert(std::string_view s, uint32_t next) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    const uint64_t h = std::hash<std::string_view>{}(s);
    const uint64_t tag = h & ~uint64_t{0xFFFFFFFF};
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = (h >> 32) & mask;; i = (i + 1) & mask) {
      const uint64_t v = slots_[i];
      if (v == 0) {
        slots_[i] = tag | (uint64_t{next} + 1);
        ++count_;
        return true;
      }
      if ((v & ~uint64_t{0xFFFFFFFF}) == tag && space_.at((v & 0xFFFFFFFF) - 1) == s) {
        return false;
      }
    }
  }

 private:
  void Grow() {
    std::vector<uint64_t> old(slots_.size() * 2, 0);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (uint64_t v : old) {
      if (v == 0) continue;
      std::size_t i = (v >> 32) & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = v;
    }
  }

  const Space& space_;
  std::vector<uint64_t> slots_;
  std::size_t count_ = 0;
};

}  // namespace

LikeSource::LikeSource(std::string_view text, const LikeOptions& options) {
  if (text.empty()) throw std::invalid_argument("the remembered text is empty");
  if (text.size() > kMaxCandidate) {
    throw std::invalid_argument("the remembered text is longer than " +
                                std::to_string(kMaxCandidate) + " bytes");
  }
  auto space = std::make_shared<Space>();
  Space& sp = *space;
  Seen<Space> seen(sp);

  U32 base = Decode(text);
  // The trailing number the endings may drop or replace.
  std::size_t digits = 0;
  while (digits < base.size() && base[base.size() - 1 - digits] >= '0' &&
         base[base.size() - 1 - digits] <= '9') {
    ++digits;
  }
  std::string number(text.substr(text.size() - digits));
  const bool has_number = digits != 0 && digits != base.size();
  const auto endings = Endings(has_number);
  std::vector<Option> typos = Typos(base, options.max_cost);

  std::string head;
  std::string candidate;
  bool full = false;
  auto emit = [&](const Ending& e) {
    candidate.assign(head);
    switch (e.kind) {
      case Ending::kKeep:
        break;
      case Ending::kAppend:
        candidate += e.text;
        break;
      case Ending::kReplaceNumber:
      case Ending::kDropNumber:
        if (!candidate.ends_with(number)) return;
        candidate.resize(candidate.size() - number.size());
        candidate += e.text;
        break;
    }
    if (candidate.size() > kMaxCandidate || candidate.empty()) return;
    if (seen.Insert(candidate, static_cast<uint32_t>(sp.size()))) sp.Append(candidate);
    full = sp.size() >= options.max_candidates;
  };

  for (int tier = 0; tier <= options.max_cost && !full; ++tier) {
    sp.tiers.push_back(sp.size());
    for (const Option& typo : typos) {
      if (typo.cost > tier || full) continue;
      std::vector<Option> subs = Substitutions(typo.text, tier - typo.cost);
      for (const Option& sub : subs) {
        if (typo.cost + sub.cost > tier || full) continue;
        std::vector<Option> cases = Cases(sub.text, tier - typo.cost - sub.cost);
        for (const Option& cs : cases) {
          const int rest = tier - typo.cost - sub.cost - cs.cost;
          if (rest < 0 || rest >= static_cast<int>(endings.size())) continue;
          Encode(cs.text, head);
          for (const Ending& e : endings[rest]) {
            emit(e);
            if (full) break;
          }
          if (full) break;
        }
        Erase(cases);
      }
      Erase(subs);
    }
  }
  Erase(typos);
  Erase(base);
  SecureZero(number.data(), number.size());
  SecureZero(head.data(), head.size());
  SecureZero(candidate.data(), candidate.size());
  space_ = std::move(space);
}

std::optional<uint64_t> LikeSource::size() const {
  return space_->size();
}

uint64_t LikeSource::tier_start(int t) const {
  if (t < 0) return 0;
  if (static_cast<std::size_t>(t) >= space_->tiers.size()) return space_->size();
  return space_->tiers[t];
}

void LikeSource::Seek(uint64_t p) {
  if (p > space_->size()) throw std::out_of_range("position beyond the end of the variants");
  pos_ = p;
}

std::string_view LikeSource::At(uint64_t p) const {
  if (p >= space_->size()) throw std::out_of_range("position beyond the end of the variants");
  return space_->at(p);
}

bool LikeSource::Fill(CandidateBatch& batch, uint64_t end) {
  batch.Reset(pos_);
  end = std::min(end, space_->size());
  while (pos_ < end && !batch.Full()) {
    batch.Append(space_->at(pos_), pos_);
    ++pos_;
  }
  batch.Finish(pos_);
  return batch.end() != batch.first();
}

std::unique_ptr<CandidateSource> LikeSource::Clone() const {
  return std::unique_ptr<CandidateSource>(new LikeSource(space_));
}

}  // namespace kryvane::recover
