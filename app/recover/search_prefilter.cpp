#include "app/recover/search_prefilter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string_view>

#include "ciphers/x86_vectors.h"
#include "crypto/bytes.h"
#include "crypto/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define KRYVANE_SEARCH_SSE2 1
#endif

namespace kryvane::recover {
namespace {

using namespace std::string_view_literals;

// ---------------------------------------------------------------------------------------------
// Signatures: the parts of the detector's table that lie in the first 16 bytes. A run that goes
// past them is cut; a field check the first bytes cannot settle is left to the detector.

struct StartRun {
  std::size_t offset;
  std::string_view bytes;
};

struct StartSignature {
  StartRun a;
  StartRun b;
  bool (*check)(const uint8_t*) = nullptr;
};

bool GzipFlags(const uint8_t* p) {
  return (p[3] & 0xE0) == 0;
}
bool Id3Fields(const uint8_t* p) {
  return p[3] >= 2 && p[3] <= 4 && p[4] != 0xFF && ((p[6] | p[7] | p[8] | p[9]) & 0x80) == 0;
}
bool BoxSize(const uint8_t* p) {
  const uint32_t size = LoadBe32(p);
  return size >= 8 && size <= 4096 && size % 4 == 0;
}

constexpr StartRun kNoRun{0, {}};

const StartSignature kStarts[] = {
    {{0, "%PDF-"sv}, kNoRun},
    {{0, "\x89PNG\r\n\x1a\n"sv}, kNoRun},
    {{0, "\xFF\xD8\xFF"sv}, kNoRun},
    {{0, "GIF87a"sv}, kNoRun},
    {{0, "GIF89a"sv}, kNoRun},
    {{0, "BM"sv}, {6, "\0\0\0\0"sv}},
    {{0, "II*\0"sv}, kNoRun},
    {{0, "MM\0*"sv}, kNoRun},
    {{0, "RIFF"sv}, kNoRun},
    {{0, "PK\x03\x04"sv}, kNoRun},
    {{0, "PK\x05\x06"sv}, kNoRun},
    {{0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv}, kNoRun},
    {{0, "\x1F\x8B\x08"sv}, kNoRun, GzipFlags},
    {{0, "BZh"sv}, {4, "1AY&SY"sv}},
    {{0,
      "\xFD"
      "7zXZ\0"sv},
     kNoRun},
    {{0, "\x28\xB5\x2F\xFD"sv}, kNoRun},
    {{0, "\x04\x22\x4D\x18"sv}, kNoRun},
    {{0, "7z\xBC\xAF\x27\x1C"sv}, kNoRun},
    {{0, "Rar!\x1A\x07"sv}, kNoRun},
    {{0, "MSCF\0\0\0\0"sv}, kNoRun},
    {{0, "!<arch>\n"sv}, kNoRun},
    {{0, "\xED\xAB\xEE\xDB"sv}, kNoRun},
    {{0,
      "\x7F"
      "ELF"sv},
     kNoRun},
    {{0, "MZ"sv}, kNoRun},
    {{0, "\xCF\xFA\xED\xFE"sv}, kNoRun},
    {{0, "\xCE\xFA\xED\xFE"sv}, kNoRun},
    {{0, "\xCA\xFE\xBA\xBE"sv}, kNoRun},
    {{0, "SQLite format 3\0"sv}, kNoRun},
    {{0, "ID3"sv}, kNoRun, Id3Fields},
    {{0, "fLaC"sv}, kNoRun},
    {{0, "OggS\0"sv}, kNoRun},
    {{0, "MThd\0\0\0\x06"sv}, kNoRun},
    {{4, "ftyp"sv}, kNoRun, BoxSize},
    {{4, "moov"sv}, kNoRun, BoxSize},
    {{0, "\x1A\x45\xDF\xA3"sv}, kNoRun},
    {{0, "8BPS\0\x01"sv}, kNoRun},
    {{0, "wOFF"sv}, kNoRun},
    {{0, "wOF2"sv}, kNoRun},
    {{0, "{\\rtf1"sv}, kNoRun},
    {{0, "%!PS"sv}, kNoRun},
    {{0, "age-encryption.o"sv}, kNoRun},
    {{0, "-----BEGIN AGE E"sv}, kNoRun},
    {{0, "-----BEGIN PGP "sv}, kNoRun},
};

bool RunAt(const uint8_t* p, const StartRun& run) {
  if (run.bytes.empty()) return true;
  const std::size_t n = std::min(run.bytes.size(), kPrefilterBytes - run.offset);
  return std::memcmp(p + run.offset, run.bytes.data(), n) == 0;
}

// The first two bytes of every start, as a bitmap over their 65536 values: nearly every wrong key
// is dropped by one lookup.
struct FirstTwo {
  std::array<uint64_t, 1024> bits{};
  void Set(unsigned v) { bits[v >> 6] |= uint64_t(1) << (v & 63); }
  bool Get(unsigned v) const { return ((bits[v >> 6] >> (v & 63)) & 1) != 0; }
};

const FirstTwo& SignatureStarts() {
  static const FirstTwo table = [] {
    FirstTwo t;
    for (const StartSignature& s : kStarts) {
      if (s.a.offset == 0 && s.a.bytes.size() >= 2) {
        t.Set(unsigned(uint8_t(s.a.bytes[0])) | unsigned(uint8_t(s.a.bytes[1])) << 8);
      } else {
        // The ISO box size comes first: 8 to 4096 is 00 00 0x xx.
        t.Set(0);
      }
    }
    return t;
  }();
  return table;
}

bool SignatureStart(const uint8_t* p) {
  if (!SignatureStarts().Get(unsigned(p[0]) | unsigned(p[1]) << 8)) return false;
  for (const StartSignature& s : kStarts) {
    if (RunAt(p, s.a) && RunAt(p, s.b) && (s.check == nullptr || s.check(p))) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// OpenPGP: the detector needs a first packet that starts such files, whose first body fields fit
// their rule. Fields past the first 16 bytes are unknown here and pass.

template <std::size_t N>
bool OneOf(int v, const int (&values)[N]) {
  return v < 0 || std::find(std::begin(values), std::end(values), v) != std::end(values);
}

constexpr int kPublicKey[] = {1, 2, 3, 16, 17, 18, 19, 22};
constexpr int kPgpHashes[] = {1, 2, 3, 8, 9, 10, 11};
constexpr int kS2k[] = {0, 1, 3};

bool PgpStart(const uint8_t* p) {
  const uint8_t b = p[0];
  if ((b & 0x80) == 0) return false;
  int tag;
  std::size_t header;
  if ((b & 0x40) == 0) {
    tag = (b >> 2) & 0x0F;
    const int type = b & 3;
    header = type == 3 ? 1 : 1 + (std::size_t(1) << type);
  } else {
    tag = b & 0x3F;
    const uint8_t o1 = p[1];
    header = o1 < 192 ? 2 : o1 < 224 ? 3 : o1 == 255 ? 6 : 2;
  }
  if (tag < 1 || tag > 6) return false;
  const auto byte = [&](std::size_t i) {
    return header + i < kPrefilterBytes ? int(p[header + i]) : -1;
  };
  const auto is = [&](std::size_t i, int v) { return byte(i) < 0 || byte(i) == v; };
  switch (tag) {
    case 1:
      return is(0, 3) && OneOf(byte(9), kPublicKey);
    case 3:
      return is(0, 4) && (byte(1) < 0 || (byte(1) >= 1 && byte(1) <= 13)) && OneOf(byte(2), kS2k) &&
             OneOf(byte(3), kPgpHashes);
    case 2:
      return is(0, 4) && OneOf(byte(2), kPublicKey) && OneOf(byte(3), kPgpHashes);
    case 4:
      return is(0, 3) && OneOf(byte(2), kPgpHashes) && OneOf(byte(3), kPublicKey);
    default:  // 5, 6: keys
      return is(0, 4) && OneOf(byte(5), kPublicKey);
  }
}

// ---------------------------------------------------------------------------------------------
// Text, by the detector's weights (bits x 10, so that they add up exactly in integers).

constexpr int kPrintable = 13;
constexpr int kHigh = -25;
constexpr int kControl = -65;
// A start is text-like from +5.3 bits: sixteen bytes with two control characters (an escape
// sequence, a form feed), or four accented Windows-1252 letters, or one control character and two
// accented letters, among printable ones still pass; noise passes about once in 700 tries.
constexpr int kTextStart = 53;

constexpr std::array<int8_t, 256> MakeCp1252Weights() {
  std::array<int8_t, 256> w{};
  for (int b = 0; b < 256; ++b) {
    const bool text = (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\n' || b == '\r';
    const bool undefined = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
    w[b] = int8_t(text ? kPrintable : (b < 0x80 || undefined) ? kControl : kHigh);
  }
  return w;
}
constexpr std::array<int8_t, 256> kCp1252Weights = MakeCp1252Weights();

int Cp1252Score(const uint8_t* p, std::size_t n) {
  int s = 0;
  for (std::size_t i = 0; i < n; ++i) s += kCp1252Weights[p[i]];
  return s;
}

// The detector's UTF-8 reading of n bytes; a sequence cut by the end counts as fitting (the
// file goes on). Invalid: a very low score.
int Utf8Score(const uint8_t* p, std::size_t n) {
  int s = 0;
  std::size_t i = 0;
  while (i < n) {
    const uint8_t b = p[i];
    if (b < 0x80) {
      s += kCp1252Weights[b];
      ++i;
      continue;
    }
    std::size_t length;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      cp = b & 0x07;
    } else {
      return -100000;
    }
    std::size_t j = 1;
    for (; j < length && i + j < n; ++j) {
      if ((p[i + j] & 0xC0) != 0x80) return -100000;
      cp = (cp << 6) | (p[i + j] & 0x3F);
    }
    if (j < length) {
      s += kPrintable * int(j);  // cut: the best it can still become
      break;
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return -100000;
    }
    s += (cp <= 0x9F || cp == 0xFFFE || cp == 0xFFFF) ? kControl : kPrintable * int(length);
    i += length;
  }
  return s;
}

bool TextStart(const uint8_t* p) {
  if (Cp1252Score(p, kPrefilterBytes) >= kTextStart) return true;
  // The UTF-8 reading differs only where there are high bytes; noise breaks its rules at once.
  bool high = false;
  for (std::size_t i = 0; i < kPrefilterBytes; ++i) high |= p[i] >= 0x80;
  return high && Utf8Score(p, kPrefilterBytes) >= kTextStart;
}

// UTF-16 by the detector's weights: eight units must already show a few characters of text (a
// byte order mark, two ASCII characters, letters of one script).
double Utf16Bits(const uint8_t* p, std::size_t units, bool bigEndian, bool first) {
  const auto unit = [&](std::size_t u) {
    const uint8_t a = p[2 * u], b = p[2 * u + 1];
    return bigEndian ? (uint32_t(a) << 8 | b) : (uint32_t(b) << 8 | a);
  };
  double bits = 0;
  uint32_t previousHigh = 0x100;
  for (std::size_t u = 0; u < units; ++u) {
    const uint32_t cp = unit(u);
    if (first && u == 0 && cp == 0xFEFF) {
      bits += 8;
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && u + 1 < units && unit(u + 1) >= 0xDC00 &&
        unit(u + 1) <= 0xDFFF) {
      ++u;
      bits += 1;
      previousHigh = 0x100;
      continue;
    }
    const uint32_t high = cp >> 8;
    if (cp < 0x80 && ((cp >= 0x20 && cp < 0x7F) || cp == '\t' || cp == '\n' || cp == '\r')) {
      bits += 6;
    } else if (cp < 0xA0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp >= 0xFFFE) {
      bits -= 4;
    } else if (cp < 0x250) {
      bits += 3;
    } else if (high == previousHigh) {
      bits += 4;
    } else if (cp >= 0x4E00 && cp <= 0x9FFF) {
      bits += 0.5;
    } else {
      bits -= 1;
    }
    previousHigh = high;
  }
  return bits;
}

constexpr double kUtf16Start = 12;

// Units that can gain more than half a bit: a high byte of 0 to 2 (ASCII and Latin letters) or the
// same high byte as the unit before (letters of one script). A byte order mark gains 8.
struct Utf16Units {
  std::size_t good = 0;
  bool mark = false;
};

Utf16Units CountUtf16Units(const uint8_t* p, std::size_t units, bool bigEndian) {
  Utf16Units c;
  const std::size_t hi = bigEndian ? 0 : 1;
  uint32_t previous = 0x100;
  for (std::size_t u = 0; u < units; ++u) {
    const uint32_t high = p[2 * u + hi];
    if (u == 0 && high == 0xFE && p[1 - hi] == 0xFF) {
      c.mark = true;
    } else {
      c.good += high <= 2 || high == previous;
    }
    previous = high;
  }
  return c;
}

// The most bits the detector's UTF-16 reading can give: 8 for a mark, 6 a good unit, 1 any other
// (a CJK ideograph gains 0.5, a surrogate pair 1 for two units).
double Utf16Bound(const uint8_t* p, std::size_t units, bool bigEndian) {
  const Utf16Units c = CountUtf16Units(p, units, bigEndian);
  return (c.mark ? 8.0 : 0.0) + 6.0 * double(c.good) + double(units - c.good - (c.mark ? 1 : 0));
}

bool Utf16Start(const uint8_t* p) {
  constexpr std::size_t kUnits = kPrefilterBytes / 2;
  for (const bool bigEndian : {false, true}) {
    const Utf16Units c = CountUtf16Units(p, kUnits, bigEndian);
    // Other units gain at most half a bit each here.
    const double bound = (c.mark ? 8.0 : 0.0) + 6.0 * double(c.good) +
                         0.5 * double(kUnits - c.good - (c.mark ? 1 : 0));
    if (bound >= kUtf16Start && Utf16Bits(p, kUnits, bigEndian, true) >= kUtf16Start) return true;
  }
  return false;
}

// Without the POPCNT instruction (not every x86-64 has it) the builtin is a library call.
inline int Popcount16(unsigned v) {
  v = v - ((v >> 1) & 0x5555);
  v = (v & 0x3333) + ((v >> 2) & 0x3333);
  v = (v + (v >> 4)) & 0x0F0F;
  return int((v + (v >> 8)) & 0x1F);
}

// Equal pairs among the first 16 bytes: each pair is i and i + d (mod 16) for one d of 1 to 7, or
// for d = 8 seen from both ends.
[[gnu::always_inline]] inline int EqualPairs(const uint8_t* p) {
#ifdef KRYVANE_SEARCH_SSE2
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // Each compare marks equal bytes with 0xFF; subtracting the marks counts them per byte.
  __m128i sum = _mm_setzero_si128();
#define KRYVANE_EQUAL_AT(d) \
  sum = _mm_sub_epi8(       \
      sum, _mm_cmpeq_epi8(x, _mm_or_si128(_mm_srli_si128(x, d), _mm_slli_si128(x, 16 - d))))
  KRYVANE_EQUAL_AT(1);
  KRYVANE_EQUAL_AT(2);
  KRYVANE_EQUAL_AT(3);
  KRYVANE_EQUAL_AT(4);
  KRYVANE_EQUAL_AT(5);
  KRYVANE_EQUAL_AT(6);
  KRYVANE_EQUAL_AT(7);
#undef KRYVANE_EQUAL_AT
  // Distance 8 sees each pair from both ends: only the first half counts.
  const __m128i eight = _mm_cmpeq_epi8(x, _mm_srli_si128(x, 8));
  sum = _mm_sub_epi8(sum, _mm_and_si128(eight, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, 0,
                                                             0, 0, 0, 0, 0, 0)));
  const __m128i total = _mm_sad_epu8(sum, _mm_setzero_si128());
  return _mm_cvtsi128_si32(total) + _mm_extract_epi16(total, 4);
#else
  int pairs = 0;
  for (std::size_t i = 0; i < kPrefilterBytes; ++i) {
    for (std::size_t j = i + 1; j < kPrefilterBytes; ++j) pairs += p[i] == p[j];
  }
  return pairs;
#endif
}

// Structure: three zero bytes, or five equal pairs (noise has half a pair in sixteen bytes).
bool StructureStart(const uint8_t* p) {
  int zeros = 0;
  for (std::size_t i = 0; i < kPrefilterBytes; ++i) zeros += p[i] == 0;
  return zeros >= 3 || EqualPairs(p) >= 5;
}

// ---------------------------------------------------------------------------------------------
// Evidence of a whole head.

double TextBits(std::span<const uint8_t> h) {
  const int cp = Cp1252Score(h.data(), h.size());
  const int utf8 = Utf8Score(h.data(), h.size());
  return std::max(cp, utf8) / 10.0;
}

double StructureBits(std::span<const uint8_t> h) {
  if (h.size() < 64) return 0;
  std::array<std::size_t, 256> counts{};
  for (const uint8_t b : h) ++counts[b];
  double pairs = 0;
  for (const std::size_t c : counts) pairs += double(c) * double(c - (c > 0 ? 1 : 0)) / 2;
  const double n = double(h.size());
  const double expected = n * (n - 1) / 2 / 256;
  const double z = (pairs - expected) / std::sqrt(expected);
  // Noise stays below z = 5; each standard deviation past that counts as four bits, far less
  // than the tail of the distribution would grant.
  return std::max(0.0, 4 * (z - 4));
}

// The longest signature run ends before this offset (except TAR's eight bytes at 257, too few to
// matter).
constexpr std::size_t kHeaderBytes = 80;

double ContentBits(std::span<const uint8_t> h) {
  const double utf16 = std::max(Utf16Bits(h.data(), h.size() / 2, false, true),
                                Utf16Bits(h.data(), h.size() / 2, true, true));
  return std::max({TextBits(h), utf16, StructureBits(h)});
}

// Which of the text, UTF-16 and structure rules the first 16 bytes might pass, from a few vector
// compares: bounds of each rule, so that the exact (scalar) rule runs only where one may pass.
struct Screen {
  bool text = true;
  bool utf16 = true;
  bool structure = true;
};

Screen ScreenStart(const uint8_t* p) {
  Screen screen;
#ifdef KRYVANE_SEARCH_SSE2
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const auto eq = [&](int v) { return _mm_cmpeq_epi8(x, _mm_set1_epi8(char(v))); };
  // Unsigned x < v as a signed compare of both with the top bit flipped.
  const __m128i flipped = _mm_xor_si128(x, _mm_set1_epi8(char(0x80)));
  const auto below = [&](int v) { return _mm_cmplt_epi8(flipped, _mm_set1_epi8(char(v ^ 0x80))); };
  const auto bits = [](__m128i m) { return unsigned(_mm_movemask_epi8(m)); };
  const unsigned high = bits(x);
  const unsigned printable = (bits(below(0x7F)) & ~bits(below(0x20)) & ~high) |
                             bits(_mm_or_si128(_mm_or_si128(eq('\t'), eq('\n')), eq('\r')));
  const int nPrintable = Popcount16(printable), nHigh = Popcount16(high);
  const int nControl = 16 - nPrintable - nHigh;
  // Windows-1252 with every high byte an accented letter; UTF-8 with every high byte in a valid
  // sequence, which no byte C0, C1 or F5 to FF can be.
  const bool cp1252 = kPrintable * nPrintable + kHigh * nHigh + kControl * nControl >= kTextStart;
  const bool invalidUtf8 =
      (bits(_mm_or_si128(eq(0xC0), eq(0xC1))) | (high & ~bits(below(0xF5)))) != 0;
  const bool utf8 = nHigh > 0 && !invalidUtf8 &&
                    kPrintable * (nPrintable + nHigh) + kControl * nControl >= kTextStart;
  screen.text = cp1252 || utf8;
  // UTF-16: good units (see CountUtf16Units) are high bytes of 0 to 2 or equal to the one a unit
  // before; the bound needs two of them, or a byte order mark and one.
  const unsigned good = bits(_mm_cmpeq_epi8(_mm_min_epu8(x, _mm_set1_epi8(2)), x)) |
                        (bits(_mm_cmpeq_epi8(x, _mm_slli_si128(x, 2))) & ~3u);
  const bool mark = (p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF);
  const int need = mark ? 1 : 2;
  screen.utf16 = Popcount16(good & 0xAAAA) >= need || Popcount16(good & 0x5555) >= need;
  // Structure: three zeros, or equal pairs, which need at least one equal neighbour at some
  // distance; the exact count runs only then.
  screen.structure = Popcount16(bits(eq(0))) >= 3 || EqualPairs(p) >= 5;
#else
  (void)p;
#endif
  return screen;
}

constexpr std::array<bool, 256> kPgpFirst = [] {
  std::array<bool, 256> t{};
  for (int b = 0x80; b < 0x100; ++b) {
    const int tag = (b & 0x40) == 0 ? (b >> 2) & 0x0F : b & 0x3F;
    t[std::size_t(b)] = tag >= 1 && tag <= 6;
  }
  return t;
}();

// Where the first packet's version byte lies for a first byte of kPgpFirst in the old format (0:
// none, or the new format, whose header length the second byte gives).
constexpr std::array<uint8_t, 256> kPgpOldVersionAt = [] {
  std::array<uint8_t, 256> t{};
  for (int b = 0x80; b < 0xC0; ++b) {
    const int type = b & 3;
    if (kPgpFirst[std::size_t(b)]) t[std::size_t(b)] = uint8_t(type == 3 ? 1 : 1 + (1 << type));
  }
  return t;
}();

// A cheap necessary condition of PgpStart: every first packet it accepts starts its body with
// version 3 or 4.
inline bool PgpMayStart(const uint8_t* p) {
  if (!kPgpFirst[p[0]]) return false;
  const uint8_t o1 = p[1];
  const std::size_t at = p[0] < 0xC0 ? kPgpOldVersionAt[p[0]]
                         : o1 < 192  ? 2
                         : o1 < 224  ? 3
                         : o1 == 255 ? 6
                                     : 2;
  return p[at] == 3 || p[at] == 4;
}

#ifdef KRYVANE_X86_VECTORS
// For each group of four starts, a byte per start that is set when it may pass the text, UTF-16 or
// structure screen: ScreenStart's conditions, or looser ones, counted per 16-byte lane. Returns how
// many starts it looked at (a multiple of four).
KRYVANE_TARGET_AVX512 std::size_t ScreenFours(const uint8_t (*first)[16], std::size_t n,
                                              uint8_t* maybe) {
  const __m512i one = _mm512_set1_epi8(1);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m512i x = _mm512_loadu_si512(first[i]);
    const uint64_t high = _mm512_movepi8_mask(x);
    const uint64_t printable = (_mm512_cmpge_epu8_mask(x, _mm512_set1_epi8(0x20)) &
                                _mm512_cmplt_epu8_mask(x, _mm512_set1_epi8(0x7F))) |
                               _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8('\t')) |
                               _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8('\n')) |
                               _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8('\r'));
    // UTF-8: no byte C0, C1 or F5 to FF; a lead byte followed by a continuation byte (or cut by
    // the end); a continuation byte after a lead or continuation byte, never first.
    const uint64_t continuation = high & _mm512_cmplt_epu8_mask(x, _mm512_set1_epi8(char(0xC0)));
    const uint64_t lead = _mm512_cmpge_epu8_mask(x, _mm512_set1_epi8(char(0xC2))) &
                          _mm512_cmple_epu8_mask(x, _mm512_set1_epi8(char(0xF4)));
    constexpr uint64_t kLaneFirst = 0x0001000100010001ull, kLaneLast = kLaneFirst << 15;
    const uint64_t brokenUtf8 = (high & ~continuation & ~lead) |
                                (lead & ~(continuation >> 1) & ~kLaneLast) |
                                (continuation & ~(((lead | continuation) << 1) & ~kLaneFirst));
    // UTF-16's good units: high bytes of 0 to 2, or equal to the one a unit before. (Three zeros,
    // which pass the structure screen, always make two good units of one parity: no count here.)
    const uint64_t good =
        _mm512_cmple_epu8_mask(x, _mm512_set1_epi8(2)) |
        (_mm512_cmpeq_epi8_mask(x, _mm512_bslli_epi128(x, 2)) & 0xFFFCFFFCFFFCFFFCull);
    // Equal pairs at each distance, counted per byte, then summed per start.
    __m512i pairs = _mm512_setzero_si512();
#define KRYVANE_PAIRS_AT(d)                                                                   \
  pairs = _mm512_mask_add_epi8(pairs, _mm512_cmpeq_epi8_mask(x, _mm512_alignr_epi8(x, x, d)), \
                               pairs, one)
    KRYVANE_PAIRS_AT(1);
    KRYVANE_PAIRS_AT(2);
    KRYVANE_PAIRS_AT(3);
    KRYVANE_PAIRS_AT(4);
    KRYVANE_PAIRS_AT(5);
    KRYVANE_PAIRS_AT(6);
    KRYVANE_PAIRS_AT(7);
#undef KRYVANE_PAIRS_AT
    // Distance 8 sees each pair from both ends: only the first half counts.
    pairs = _mm512_mask_add_epi8(
        pairs, _mm512_cmpeq_epi8_mask(x, _mm512_alignr_epi8(x, x, 8)) & 0x00FF00FF00FF00FFull,
        pairs, one);
    __m512i sums = _mm512_sad_epu8(pairs, _mm512_setzero_si512());
    sums = _mm512_add_epi64(sums, _mm512_bsrli_epi128(sums, 8));
    const unsigned paired = _mm512_cmpge_epu64_mask(sums, _mm512_set1_epi64(5));
    for (unsigned k = 0; k < 4; ++k) {
      const auto lane = [k](uint64_t m) { return unsigned(m >> (16 * k)) & 0xFFFFu; };
      const uint8_t* p = first[i + k];
      const bool mark = (p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF);
      const int need = mark ? 1 : 2;
      const unsigned g = lane(good);
      const int nPrintable = __builtin_popcount(lane(printable));
      const int nHigh = __builtin_popcount(lane(high));
      const int nControl = 16 - nPrintable - nHigh;
      const bool cp1252 =
          kPrintable * nPrintable + kHigh * nHigh + kControl * nControl >= kTextStart;
      const bool utf8 = nHigh > 0 && lane(brokenUtf8) == 0 &&
                        kPrintable * (nPrintable + nHigh) + kControl * nControl >= kTextStart;
      maybe[i + k] = uint8_t(cp1252 | utf8 | ((paired >> (2 * k)) & 1) |
                             (__builtin_popcount(g & 0xAAAAu) >= need) |
                             (__builtin_popcount(g & 0x5555u) >= need));
    }
  }
  return i;
}
#endif

}  // namespace

void StartKindsOf(const uint8_t (*first)[16], const uint8_t (*tar)[16], std::size_t n,
                  uint32_t* kinds) {
  std::size_t screened = 0;
  uint8_t maybe[256];
  const std::size_t group = std::min<std::size_t>(n, sizeof maybe);
  for (std::size_t at = 0; at < n; at += group) {
    const std::size_t m = std::min(group, n - at);
#ifdef KRYVANE_X86_VECTORS
    screened = cpu::VectorIsa() == cpu::Isa::kAvx512 ? ScreenFours(first + at, m, maybe) : 0;
#endif
    for (std::size_t j = 0; j < m; ++j) {
      const uint8_t* p = first[at + j];
      const uint8_t* window = tar != nullptr ? tar[at + j] : nullptr;
      if (j < screened) {
        // Dropped by every screen, with no signature, OpenPGP packet or TAR magic: no kind.
        const bool others = SignatureStarts().Get(unsigned(p[0]) | unsigned(p[1]) << 8) ||
                            (PgpMayStart(p) && PgpStart(p)) ||
                            (window != nullptr && std::memcmp(window + 1, "ustar", 5) == 0);
        if (maybe[j] == 0 && !others) {
          kinds[at + j] = 0;
          continue;
        }
      }
      kinds[at + j] = StartKinds(p, window);
    }
  }
}

uint32_t StartKinds(const uint8_t* first, const uint8_t* tar) {
  // Nearly every wrong key fails every screen: one test of them all, without branches on the way.
  const auto& pgpFirst = kPgpFirst;
  const Screen screen = ScreenStart(first);
  const bool signature = SignatureStarts().Get(unsigned(first[0]) | unsigned(first[1]) << 8);
  const bool tarMagic = tar != nullptr && std::memcmp(tar + 1, "ustar", 5) == 0;
  if (!(signature | pgpFirst[first[0]] | screen.text | screen.utf16 | screen.structure |
        tarMagic)) {
    return 0;
  }
  uint32_t kinds = 0;
  if (signature && SignatureStart(first)) kinds |= kStartSignature;
  if (pgpFirst[first[0]] && PgpStart(first)) kinds |= kStartPgp;
  if (screen.text && TextStart(first)) kinds |= kStartText;
  if (screen.utf16 && Utf16Start(first)) kinds |= kStartUtf16;
  if (screen.structure && StructureStart(first)) kinds |= kStartStructure;
  if (tarMagic) kinds |= kStartTar;
  return kinds;
}

bool HeadMayBePlausible(std::span<const uint8_t> head) {
  const std::span<const uint8_t> h = head.first(std::min(head.size(), kAssessedBytes));
  const uint8_t* p = h.data();
  const std::size_t n = h.size();
  // Counts per 16 bytes with vector compares; the rest, and what the counts cannot settle, byte
  // by byte.
  std::size_t printable = 0, high = 0, goodLe = 0, goodBe = 0;
  std::size_t at = 0;
#ifdef KRYVANE_SEARCH_SSE2
  if (n >= 32) {
    const __m128i flip = _mm_set1_epi8(char(0x80));
    const __m128i lowText = _mm_set1_epi8(char(0x20 ^ 0x80)),
                  del = _mm_set1_epi8(char(0x7F ^ 0x80));
    const __m128i two = _mm_set1_epi8(2);
    // Units before byte 16 are counted below, byte by byte.
    const Utf16Units le = CountUtf16Units(p, 8, false), be = CountUtf16Units(p, 8, true);
    goodLe = le.good + (le.mark ? 1 : 0);
    goodBe = be.good + (be.mark ? 1 : 0);
    // Per-byte counters (a compare's all-ones subtracted), summed into totals before they can
    // wrap.
    const __m128i zero = _mm_setzero_si128(), odd = _mm_set1_epi16(int16_t(0xFF00));
    __m128i text = zero, hi = zero, goodOdd = zero, good = zero;
    std::size_t goodAll = 0, goodOddTotal = 0;
    const auto flush = [&] {
      const auto sum = [&](__m128i v) {
        const __m128i s = _mm_sad_epu8(v, zero);
        return std::size_t(_mm_cvtsi128_si32(s)) + std::size_t(_mm_extract_epi16(s, 4));
      };
      printable += sum(text);
      high += sum(hi);
      goodAll += sum(good);
      goodOddTotal += sum(goodOdd);
      text = hi = good = goodOdd = zero;
    };
    for (at = 0; at + 16 <= n; at += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
      const __m128i f = _mm_xor_si128(x, flip);
      const __m128i ascii = _mm_andnot_si128(_mm_cmplt_epi8(f, lowText), _mm_cmplt_epi8(f, del));
      const __m128i controls = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('\t')),
                                                         _mm_cmpeq_epi8(x, _mm_set1_epi8('\n'))),
                                            _mm_cmpeq_epi8(x, _mm_set1_epi8('\r')));
      text = _mm_sub_epi8(text, _mm_or_si128(ascii, controls));
      hi = _mm_sub_epi8(hi, _mm_cmplt_epi8(x, zero));
      if (at >= 16) {
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at - 2));
        const __m128i g = _mm_sub_epi8(
            zero, _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(x, two), x), _mm_cmpeq_epi8(x, before)));
        good = _mm_add_epi8(good, g);
        goodOdd = _mm_add_epi8(goodOdd, _mm_and_si128(g, odd));
      }
      if ((at / 16) % 128 == 127) flush();
    }
    flush();
    // Odd bytes are the high bytes of little-endian units.
    goodLe += goodOddTotal;
    goodBe += goodAll - goodOddTotal;
  }
#endif
  for (std::size_t i = at; i < n; ++i) {
    printable += kCp1252Weights[p[i]] == kPrintable;
    high += p[i] >= 0x80;
  }
  // Text. The Windows-1252 reading at most (the five undefined high bytes counted as letters),
  // then exactly; the UTF-8 reading exactly, which noise breaks at once. Tenths of bits, one tenth
  // of slack for the detector's floating-point sums.
  const auto passes = [n](long text) { return text >= 240 - 1 && text >= long(8 * n) - 1; };
  const long cpBound = long(kPrintable * printable) + long(kHigh) * long(high) +
                       long(kControl) * long(n - printable - high);
  if (passes(cpBound) && passes(Cp1252Score(p, n))) return true;
  if (passes(Utf8Score(p, n))) return true;
  // UTF-16 in either byte order: at most 8 for a mark, 6 a good unit, 1 any other.
  const std::size_t units = n / 2;
  for (const bool bigEndian : {false, true}) {
    double bound;
    if (at > 0) {
      // Units from byte `at` on, byte by byte; a mark counted among the good units is 6, not 8.
      std::size_t good = bigEndian ? goodBe : goodLe;
      const std::size_t hi = bigEndian ? 0 : 1;
      for (std::size_t u = at / 2; u < units; ++u) {
        const uint8_t x = p[2 * u + hi];
        good += x <= 2 || x == p[2 * u + hi - 2];
      }
      bound = 2 + 6.0 * double(good) + double(units - std::min(good, units));
    } else {
      bound = Utf16Bound(p, units, bigEndian);
    }
    if (bound >= 24 - 1e-6 && bound >= 2.0 * double(units) - 1e-6) return true;
  }
  // Structure, exactly as the detector counts it; four tables, so that runs of one byte value do
  // not wait on each other's increments.
  if (n >= 64) {
    std::array<std::array<uint32_t, 256>, 4> counts{};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
      ++counts[0][p[i]];
      ++counts[1][p[i + 1]];
      ++counts[2][p[i + 2]];
      ++counts[3][p[i + 3]];
    }
    for (; i < n; ++i) ++counts[0][p[i]];
    double pairs = 0;
    for (std::size_t v = 0; v < 256; ++v) {
      const double c = double(counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v]);
      pairs += c * (c > 0 ? c - 1 : 0) / 2;
    }
    const double expected = double(n) * double(n - 1) / 2 / 256;
    if ((pairs - expected) / std::sqrt(expected) >= 12 - 1e-6) return true;
  }
  return false;
}

double EvidenceBits(std::span<const uint8_t> head, const Plausibility& verdict) {
  if (verdict.verdict != Verdict::kPlausible) return 0;
  const std::span<const uint8_t> h = head.first(std::min(head.size(), kAssessedBytes));
  double bits = ContentBits(h);
  const std::string_view evidence = verdict.evidence;
  const bool signature =
      evidence.size() >= 9 && evidence.substr(evidence.size() - 9) == "signature";
  if (signature || evidence == "OpenPGP packets") {
    // The detector scores a signature 60 + bits / 2 (at most 100), OpenPGP packets from 28 bits.
    const double pinned = signature ? 2.0 * (verdict.score - 60) : 28;
    // What the bytes after the header show adds to it; the header itself is left out so that it
    // does not count twice.
    const double rest = h.size() > kHeaderBytes ? ContentBits(h.subspan(kHeaderBytes)) : 0;
    bits = std::max(bits, pinned + std::max(0.0, rest));
  }
  return bits;
}

double MaxEvidenceBits(std::size_t headSize) {
  const double n = double(std::min(headSize, kAssessedBytes));
  double best = 1.3 * n;                                   // printable text
  best = std::max(best, 8 + 6 * (std::floor(n / 2) - 1));  // UTF-16 ASCII after a byte order mark
  if (n >= 64) {
    const double expected = n * (n - 1) / 2 / 256;
    best = std::max(best, 4 * ((n * (n - 1) / 2 - expected) / std::sqrt(expected) - 4));
  }
  if (n >= 16) best = std::max(best, 80.0);  // a long signature, which scores 100
  return best;
}

}  // namespace kryvane::recover
