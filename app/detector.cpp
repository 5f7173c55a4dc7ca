#include "app/detector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "crypto/bytes.h"

namespace kryvane {
namespace {

using namespace std::string_view_literals;

// ---------------------------------------------------------------------------------------------
// Signatures. Each is one or two runs of fixed bytes at fixed offsets, sometimes with a check of
// a field that the runs cannot express. Its strength is the number of bits it pins: random bytes
// match a 32-bit signature once in four billion tries, which is what decides the score. When
// several match, the one that pins most wins, so an OpenDocument file is not reported as ZIP.

struct Run {
  std::size_t offset;
  std::string_view bytes;
};

struct Signature {
  std::string_view name;
  std::array<Run, 2> runs;
  // A further check, and the bits it adds to the runs'.
  bool (*check)(std::span<const uint8_t>) = nullptr;
  int checkBits = 0;
};

// DOS header whose e_lfanew points at "PE\0\0" within the bytes we have.
bool PeHeader(std::span<const uint8_t> h) {
  if (h.size() < 0x40) return false;
  const std::size_t at = LoadLe32(h.data() + 0x3C);
  return at >= 0x40 && at <= h.size() - 4 && std::memcmp(h.data() + at, "PE\0\0", 4) == 0;
}

// ID3v2 tag: major version 2 to 4, revision below FF, size bytes with their top bit clear.
bool Id3Header(std::span<const uint8_t> h) {
  if (h.size() < 10) return false;
  if (h[3] < 2 || h[3] > 4 || h[4] == 0xFF) return false;
  return ((h[6] | h[7] | h[8] | h[9]) & 0x80) == 0;
}

// gzip (RFC 1952): a whole ten-byte header with the reserved flag bits clear, and room for the
// eight-byte trailer; three magic bytes alone are one wrong key in sixteen million.
bool GzipHeader(std::span<const uint8_t> h) {
  return h.size() >= 18 && (h[3] & 0xE0) == 0;
}

// An ISO media box: a big-endian size that a first box can have.
bool FirstBoxSize(std::span<const uint8_t> h) {
  const uint32_t size = LoadBe32(h.data());
  return size >= 8 && size <= 4096 && size % 4 == 0;
}

constexpr Run kNone{0, {}};

const Signature kSignatures[] = {
    {"PDF", {Run{0, "%PDF-"sv}, kNone}},
    {"PNG", {Run{0, "\x89PNG\r\n\x1a\n"sv}, kNone}},
    {"JPEG", {Run{0, "\xFF\xD8\xFF"sv}, kNone}},
    {"GIF", {Run{0, "GIF87a"sv}, kNone}},
    {"GIF", {Run{0, "GIF89a"sv}, kNone}},
    {"BMP", {Run{0, "BM"sv}, Run{6, "\0\0\0\0"sv}}},
    {"TIFF", {Run{0, "II*\0"sv}, kNone}},
    {"TIFF", {Run{0, "MM\0*"sv}, kNone}},
    {"RIFF", {Run{0, "RIFF"sv}, kNone}},
    {"WebP", {Run{0, "RIFF"sv}, Run{8, "WEBP"sv}}},
    {"WAV", {Run{0, "RIFF"sv}, Run{8, "WAVE"sv}}},
    {"AVI", {Run{0, "RIFF"sv}, Run{8, "AVI "sv}}},
    {"ZIP", {Run{0, "PK\x03\x04"sv}, kNone}},
    {"ZIP", {Run{0, "PK\x05\x06"sv}, kNone}},
    {"OpenDocument",
     {Run{0, "PK\x03\x04"sv}, Run{30, "mimetypeapplication/vnd.oasis.opendocument."sv}}},
    {"EPUB", {Run{0, "PK\x03\x04"sv}, Run{30, "mimetypeapplication/epub+zip"sv}}},
    {"Office Open XML", {Run{0, "PK\x03\x04"sv}, Run{30, "[Content_Types].xml"sv}}},
    {"Office (OLE2)", {Run{0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv}, kNone}},
    {"gzip", {Run{0, "\x1F\x8B\x08"sv}, kNone}, GzipHeader, 3},
    {"bzip2", {Run{0, "BZh"sv}, Run{4, "1AY&SY"sv}}},
    {"xz",
     {Run{0,
          "\xFD"
          "7zXZ\0"sv},
      kNone}},
    {"zstd", {Run{0, "\x28\xB5\x2F\xFD"sv}, kNone}},
    {"LZ4", {Run{0, "\x04\x22\x4D\x18"sv}, kNone}},
    {"7z", {Run{0, "7z\xBC\xAF\x27\x1C"sv}, kNone}},
    {"RAR", {Run{0, "Rar!\x1A\x07"sv}, kNone}},
    {"CAB", {Run{0, "MSCF\0\0\0\0"sv}, kNone}},
    {"TAR", {Run{257, "ustar\0"sv}, kNone}},
    {"TAR", {Run{257, "ustar  \0"sv}, kNone}},
    {"ar archive", {Run{0, "!<arch>\n"sv}, kNone}},
    {"RPM", {Run{0, "\xED\xAB\xEE\xDB"sv}, kNone}},
    {"ELF",
     {Run{0,
          "\x7F"
          "ELF"sv},
      kNone}},
    {"PE/MZ", {Run{0, "MZ"sv}, kNone}, PeHeader, 32},
    {"Mach-O", {Run{0, "\xCF\xFA\xED\xFE"sv}, kNone}},
    {"Mach-O", {Run{0, "\xCE\xFA\xED\xFE"sv}, kNone}},
    {"Java class", {Run{0, "\xCA\xFE\xBA\xBE"sv}, kNone}},
    {"SQLite", {Run{0, "SQLite format 3\0"sv}, kNone}},
    {"MP3/ID3", {Run{0, "ID3"sv}, kNone}, Id3Header, 8},
    {"FLAC", {Run{0, "fLaC"sv}, kNone}},
    {"OGG", {Run{0, "OggS\0"sv}, kNone}},
    {"MIDI", {Run{0, "MThd\0\0\0\x06"sv}, kNone}},
    {"MP4/MOV", {Run{4, "ftyp"sv}, kNone}, FirstBoxSize, 8},
    {"MOV", {Run{4, "moov"sv}, kNone}, FirstBoxSize, 8},
    {"Matroska", {Run{0, "\x1A\x45\xDF\xA3"sv}, kNone}},
    {"Photoshop", {Run{0, "8BPS\0\x01"sv}, kNone}},
    {"WOFF", {Run{0, "wOFF"sv}, kNone}},
    {"WOFF2", {Run{0, "wOF2"sv}, kNone}},
    {"RTF", {Run{0, "{\\rtf1"sv}, kNone}},
    {"PostScript", {Run{0, "%!PS"sv}, kNone}},
    // Encrypted already: a right decryption can give these, and they are random-looking after
    // their headers.
    {"age", {Run{0, "age-encryption.org/v1\n"sv}, kNone}},
    {"age (armored)", {Run{0, "-----BEGIN AGE ENCRYPTED FILE-----"sv}, kNone}},
    {"OpenPGP (armored)", {Run{0, "-----BEGIN PGP "sv}, kNone}},
};

bool RunMatches(std::span<const uint8_t> h, const Run& run) {
  if (run.bytes.empty()) return true;
  if (h.size() < run.offset + run.bytes.size()) return false;
  return std::memcmp(h.data() + run.offset, run.bytes.data(), run.bytes.size()) == 0;
}

int SignatureBits(const Signature& s) {
  return 8 * int(s.runs[0].bytes.size() + s.runs[1].bytes.size()) + s.checkBits;
}

const Signature* BestSignature(std::span<const uint8_t> h) {
  const Signature* best = nullptr;
  for (const Signature& s : kSignatures) {
    if (!RunMatches(h, s.runs[0]) || !RunMatches(h, s.runs[1])) continue;
    if (s.check != nullptr && !s.check(h)) continue;
    if (best == nullptr || SignatureBits(s) > SignatureBits(*best)) best = &s;
  }
  return best;
}

// ---------------------------------------------------------------------------------------------
// OpenPGP (RFC 4880) binary messages, keys and signatures: a chain of packets, each a header (tag
// and body length) and a body whose first fields take few values. No fixed magic, so the packets
// are walked as far as the buffer goes and every field that fits its rule adds the bits it pins;
// the first packet must be one that starts such files.

struct PgpPacket {
  int tag = 0;
  std::size_t header = 0;           // header size in bytes
  std::optional<std::size_t> body;  // body length; nothing for partial or open-ended bodies
};

std::optional<PgpPacket> PgpHeader(std::span<const uint8_t> h, std::size_t at) {
  if (at >= h.size() || (h[at] & 0x80) == 0) return std::nullopt;
  const uint8_t b = h[at];
  PgpPacket p;
  if ((b & 0x40) == 0) {  // old format: tag in bits 5-2, length type in bits 1-0
    p.tag = (b >> 2) & 0x0F;
    const int type = b & 3;
    if (type == 3) {
      p.header = 1;
      return p;
    }
    const std::size_t n = std::size_t(1) << type;
    if (at + 1 + n > h.size()) return std::nullopt;
    std::size_t length = 0;
    for (std::size_t i = 0; i < n; ++i) length = length << 8 | h[at + 1 + i];
    p.header = 1 + n;
    p.body = length;
    return p;
  }
  p.tag = b & 0x3F;  // new format
  if (at + 1 >= h.size()) return std::nullopt;
  const uint8_t o1 = h[at + 1];
  if (o1 < 192) {
    p.header = 2;
    p.body = o1;
  } else if (o1 < 224) {
    if (at + 2 >= h.size()) return std::nullopt;
    p.header = 3;
    p.body = (std::size_t(o1 - 192) << 8) + h[at + 2] + 192;
  } else if (o1 == 255) {
    if (at + 6 > h.size()) return std::nullopt;
    p.header = 6;
    p.body = LoadBe32(h.data() + at + 2);
  } else {
    p.header = 2;  // a partial body: its length says little
  }
  return p;
}

bool OneOf(uint8_t v, std::span<const uint8_t> values) {
  return std::find(values.begin(), values.end(), v) != values.end();
}

constexpr uint8_t kPgpPublicKeyAlgorithms[] = {1, 2, 3, 16, 17, 18, 19, 22};
constexpr uint8_t kPgpHashAlgorithms[] = {1, 2, 3, 8, 9, 10, 11};
// A file starts with a session key, a signature or a key; later packets may be any of these.
constexpr uint8_t kPgpFirstTags[] = {1, 2, 3, 4, 5, 6};

// Bits a packet's first body fields pin, or -1 when they break its rule (or lie past the buffer).
int PgpBodyBits(std::span<const uint8_t> h, const PgpPacket& p, std::size_t at) {
  const std::size_t start = at + p.header;
  const auto byte = [&](std::size_t i) { return start + i < h.size() ? int(h[start + i]) : -1; };
  const auto body = p.body.value_or(0);
  switch (p.tag) {
    case 1:  // public-key encrypted session key: version 3, key id, algorithm, MPIs
      if (byte(0) != 3 || byte(9) < 0 || !OneOf(uint8_t(byte(9)), kPgpPublicKeyAlgorithms) ||
          (p.body && body < 12)) {
        return -1;
      }
      return 8 + 5;
    case 3: {  // symmetric-key encrypted session key: version 4, cipher, string-to-key
      if (byte(0) != 4 || byte(1) < 1 || byte(1) > 13 || byte(3) < 0 ||
          !OneOf(uint8_t(byte(3)), kPgpHashAlgorithms)) {
        return -1;
      }
      const int s2k = byte(2);
      const std::size_t s2kSize = s2k == 0 ? 2 : s2k == 1 ? 10 : s2k == 3 ? 11 : 0;
      if (s2kSize == 0 || (p.body && (body < 2 + s2kSize || body > 2 + s2kSize + 65))) return -1;
      return 8 + 4 + 6 + 5 + 2;
    }
    case 2:  // signature, version 3 or 4
    case 4:  // one-pass signature, version 3
      if (p.tag == 2 && byte(0) == 4) {
        return byte(3) >= 0 && OneOf(uint8_t(byte(2)), kPgpPublicKeyAlgorithms) &&
                       OneOf(uint8_t(byte(3)), kPgpHashAlgorithms)
                   ? 7 + 5 + 5
                   : -1;
      }
      if (p.tag == 4 && byte(0) == 3) {
        return byte(3) >= 0 && OneOf(uint8_t(byte(2)), kPgpHashAlgorithms) &&
                       OneOf(uint8_t(byte(3)), kPgpPublicKeyAlgorithms)
                   ? 8 + 5 + 5
                   : -1;
      }
      return -1;
    case 5:   // secret key
    case 6:   // public key
    case 7:   // secret subkey
    case 14:  // public subkey
      return byte(0) == 4 && byte(5) >= 0 && OneOf(uint8_t(byte(5)), kPgpPublicKeyAlgorithms)
                 ? 8 + 5
                 : -1;
    case 13:  // user id: text
      for (std::size_t i = 0; i < std::min<std::size_t>(body, 16); ++i) {
        if (byte(i) < 0x20 && byte(i) != -1) return -1;
      }
      return p.body ? 4 : -1;
    case 8:  // compressed data: ZIP, ZLIB or BZip2
      return byte(0) >= 1 && byte(0) <= 3 ? 6 : -1;
    case 9:   // symmetrically encrypted data
    case 18:  // the same, integrity protected (version 1)
      return p.tag == 18 ? (byte(0) == 1 ? 8 : byte(0) == -1 ? 0 : -1) : 0;
    default:
      return -1;
  }
}

// The bits the packets at the start of h pin; below kPgpMinBits they may be chance.
constexpr int kPgpMinBits = 28;

bool OpenPgpPackets(std::span<const uint8_t> h) {
  int bits = 0;
  std::size_t at = 0;
  for (int n = 0; at < h.size() && n < 16; ++n) {
    const std::optional<PgpPacket> p = PgpHeader(h, at);
    if (!p) break;
    if (n == 0 && !OneOf(uint8_t(p->tag), kPgpFirstTags)) return false;
    const int body = PgpBodyBits(h, *p, at);
    if (body < 0) return bits >= kPgpMinBits && n > 0;
    bits += (n == 0 ? 5 : 3) + body;
    if (!p->body) break;
    at += p->header + *p->body;
  }
  return bits >= kPgpMinBits;
}

// ---------------------------------------------------------------------------------------------
// Text. Each character adds the bits by which text makes it likelier than random bytes do: a
// printable ASCII character is 2.6 times likelier in text (log2 = 1.3 bits), a control character
// far less likely. Random bytes lose about 1.6 bits a byte this way; text gains 1.0 to 1.3.

constexpr double kPrintableBits = 1.3;
constexpr double kHighByteBits = -2.5;  // an accented letter or typographic sign of Windows-1252
constexpr double kControlBits = -6.5;
constexpr double kMinTextBits = 24;          // below this a random buffer could still match
constexpr double kMinTextBitsPerByte = 0.8;  // a few control or unusual characters at most

struct TextReading {
  std::string_view name;
  double bits = -1e9;
  std::size_t characters = 0;
  std::size_t printable = 0;
};

bool IsAsciiText(uint8_t b) {
  return (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\n' || b == '\r';
}

TextReading ReadCp1252(std::span<const uint8_t> h) {
  TextReading r{"Windows-1252", 0};
  bool accented = false;
  for (const uint8_t b : h) {
    ++r.characters;
    if (IsAsciiText(b)) {
      r.bits += kPrintableBits;
      ++r.printable;
    } else if (b < 0x80 || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) {
      r.bits += kControlBits;
    } else {
      r.bits += kHighByteBits;
      ++r.printable;
      accented = true;
    }
  }
  // Pure ASCII reads the same either way; only name the code page when it matters.
  if (!accented) r.name = {};
  return r;
}

// Strict UTF-8 (no overlong forms, surrogates or values past U+10FFFF); a sequence cut by the end
// of the buffer is allowed, as the buffer may be the start of a longer file.
TextReading ReadUtf8(std::span<const uint8_t> h) {
  TextReading r{"UTF-8", 0};
  bool multibyte = false;
  std::size_t i = 0;
  while (i < h.size()) {
    const uint8_t b = h[i];
    if (b < 0x80) {
      ++r.characters;
      if (IsAsciiText(b)) {
        r.bits += kPrintableBits;
        ++r.printable;
      } else {
        r.bits += kControlBits;
      }
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
      return TextReading{"UTF-8"};
    }
    std::size_t j = 1;
    for (; j < length && i + j < h.size(); ++j) {
      if ((h[i + j] & 0xC0) != 0x80) return TextReading{"UTF-8"};
      cp = (cp << 6) | (h[i + j] & 0x3F);
    }
    if (j < length) break;  // cut by the end of the buffer
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return TextReading{"UTF-8"};
    }
    multibyte = true;
    ++r.characters;
    if (cp <= 0x9F || cp == 0xFFFE || cp == 0xFFFF) {
      r.bits += kControlBits;
    } else {
      r.bits += kPrintableBits * double(length);
      ++r.printable;
    }
    i += length;
  }
  // Pure ASCII reads the same either way; only name it UTF-8 when it uses UTF-8.
  if (!multibyte) r.name = {};
  return r;
}

// UTF-16 in one byte order. A printable ASCII unit is one of 98 in 65536 for random bytes; the
// letters of one script share their high byte, where random units seldom do; controls and stray
// surrogates are rare in text. Random units lose about half a bit each.
TextReading ReadUtf16(std::span<const uint8_t> h, bool bigEndian) {
  TextReading r{bigEndian ? "UTF-16BE" : "UTF-16LE", 0};
  const std::size_t units = h.size() / 2;
  auto unit = [&](std::size_t u) {
    const uint8_t a = h[2 * u], b = h[2 * u + 1];
    return bigEndian ? (uint32_t(a) << 8 | b) : (uint32_t(b) << 8 | a);
  };
  uint32_t previousHigh = 0x100;
  for (std::size_t u = 0; u < units; ++u) {
    const uint32_t cp = unit(u);
    ++r.characters;
    if (u == 0 && cp == 0xFEFF) {
      r.bits += 8;
      ++r.printable;
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && u + 1 < units && unit(u + 1) >= 0xDC00 &&
        unit(u + 1) <= 0xDFFF) {
      ++u;
      ++r.characters;
      r.printable += 2;
      r.bits += 1;
      previousHigh = 0x100;
      continue;
    }
    const uint32_t high = cp >> 8;
    if (cp < 0x80 && IsAsciiText(uint8_t(cp))) {
      r.bits += 6;
      ++r.printable;
    } else if (cp < 0xA0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp >= 0xFFFE) {
      r.bits -= 4;
    } else {
      ++r.printable;
      if (cp < 0x250) {
        r.bits += 3;  // Latin letters
      } else if (high == previousHigh) {
        r.bits += 4;
      } else if (cp >= 0x4E00 && cp <= 0x9FFF) {
        r.bits += 0.5;  // CJK ideographs spread over many high bytes
      } else {
        r.bits -= 1;
      }
    }
    previousHigh = high;
  }
  return r;
}

int Percent(std::size_t part, std::size_t whole) {
  if (whole == 0) return 0;
  // Rounded down, so that "100%" means every character.
  return int(part * 100 / whole);
}

std::string TextEvidence(const TextReading& r) {
  std::string text = r.name.empty() ? "text" : std::string(r.name) + " text";
  return text + ", " + std::to_string(Percent(r.printable, r.characters)) + "% printable";
}

// ---------------------------------------------------------------------------------------------
// Byte statistics. The number of equal pairs of bytes has a known mean and spread for random
// bytes at any length, so its z-score tells structure from noise even in a short buffer, where
// the Shannon entropy of random bytes is itself low.

struct ByteStats {
  double z = 0;        // equal pairs above the random expectation, in standard deviations
  double entropy = 0;  // Shannon entropy, bits per byte, for the evidence text
};

ByteStats Statistics(std::span<const uint8_t> h) {
  std::array<std::size_t, 256> counts{};
  for (const uint8_t b : h) ++counts[b];
  const double n = double(h.size());
  double pairs = 0, entropy = 0;
  for (const std::size_t c : counts) {
    if (c == 0) continue;
    pairs += double(c) * double(c - 1) / 2;
    const double p = double(c) / n;
    entropy -= p * std::log2(p);
  }
  const double expected = n * (n - 1) / 2 / 256;
  ByteStats s;
  s.entropy = entropy;
  s.z = expected > 0 ? (pairs - expected) / std::sqrt(expected) : 0;
  return s;
}

constexpr double kStructuredZ = 12;  // random bytes stay below about 5
constexpr double kNoiseZ = 4;

std::string EntropyEvidence(std::string_view what, double entropy) {
  char text[96];
  std::snprintf(text, sizeof text, "%.*s (%.1f bits per byte)", int(what.size()), what.data(),
                entropy);
  return text;
}

int Clamp(double value, int low, int high) {
  return std::clamp(int(std::floor(value)), low, high);
}

}  // namespace

std::string_view VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPlausible:
      return "plausible";
    case Verdict::kUnclear:
      return "unclear";
    case Verdict::kRandomLooking:
      return "random-looking";
  }
  return {};
}

Plausibility Assess(std::span<const uint8_t> head) {
  const std::span<const uint8_t> h = head.first(std::min(head.size(), kAssessedBytes));
  if (h.empty()) return {kUnclearScore, Verdict::kUnclear, "no bytes"};

  // In order of weight: signatures, text, UTF-16 text, structure; the first that convinces wins.
  if (const Signature* s = BestSignature(h)) {
    return {Clamp(60 + SignatureBits(*s) / 2.0, 72, 100), Verdict::kPlausible,
            std::string(s->name) + " signature"};
  }
  if (OpenPgpPackets(h)) return {76, Verdict::kPlausible, "OpenPGP packets"};

  TextReading text = ReadCp1252(h);
  const TextReading utf8 = ReadUtf8(h);
  if (utf8.bits > text.bits) text = utf8;
  const double n = double(h.size());
  if (text.bits >= kMinTextBits && text.bits / n >= kMinTextBitsPerByte) {
    return {Clamp(50 + (text.bits - kMinTextBits) / 8, 50, 90), Verdict::kPlausible,
            TextEvidence(text)};
  }

  const TextReading le = ReadUtf16(h, false);
  const TextReading be = ReadUtf16(h, true);
  const TextReading& utf16 = le.bits >= be.bits ? le : be;
  if (utf16.bits >= kMinTextBits && utf16.bits / double(utf16.characters) >= 2) {
    return {Clamp(50 + (utf16.bits - kMinTextBits) / 8, 50, 85), Verdict::kPlausible,
            TextEvidence(utf16)};
  }

  const ByteStats stats = Statistics(h);
  if (stats.z >= kStructuredZ && h.size() >= 64) {
    return {Clamp(50 + (stats.z - kStructuredZ) / 8, 50, 65), Verdict::kPlausible,
            EntropyEvidence("low byte entropy", stats.entropy)};
  }

  // Nothing convinces. Random bytes show no structure and read as neither kind of text; anything
  // short of that is left open.
  if (stats.z < kNoiseZ && text.bits <= -8 && utf16.bits < 16) {
    return {Clamp(10 + stats.z, 0, kUnclearScore - 1), Verdict::kRandomLooking,
            "random-looking bytes"};
  }
  if (text.bits > 0 && text.bits >= utf16.bits) {
    return {
        Clamp(kUnclearScore + text.bits, kUnclearScore, kPlausibleScore - 1), Verdict::kUnclear,
        h.size() < 32 ? "too few bytes to tell (" + TextEvidence(text) + ")" : TextEvidence(text)};
  }
  if (utf16.bits >= 16) {
    return {Clamp(kUnclearScore + utf16.bits, kUnclearScore, kPlausibleScore - 1),
            Verdict::kUnclear, TextEvidence(utf16)};
  }
  if (stats.z >= kNoiseZ) {
    return {Clamp(kUnclearScore + (stats.z - kNoiseZ) * 3, kUnclearScore, kPlausibleScore - 1),
            Verdict::kUnclear, EntropyEvidence("some structure", stats.entropy)};
  }
  return {kUnclearScore, Verdict::kUnclear, "too few bytes to tell"};
}

}  // namespace kryvane
