#include "crypto/base64.h"

namespace kryvane {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kPad = -1;

int SixBits(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return kPad;
  return 0;  // outside the alphabet: a fixed value rather than a leftover
}

}  // namespace

std::size_t EncodeBase64Buffer(const void* input, char* output, std::size_t size) {
  const auto* in = static_cast<const uint8_t*>(input);
  char* out = output;
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
    *out++ = kAlphabet[b0 >> 2];
    *out++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    *out++ = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
    *out++ = kAlphabet[b2 & 63];
  }
  if (size - i == 1) {
    const unsigned b0 = in[i];
    *out++ = kAlphabet[b0 >> 2];
    *out++ = kAlphabet[(b0 & 3) << 4];
    *out++ = '=';
    *out++ = '=';
  } else if (size - i == 2) {
    const unsigned b0 = in[i], b1 = in[i + 1];
    *out++ = kAlphabet[b0 >> 2];
    *out++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    *out++ = kAlphabet[(b1 & 15) << 2];
    *out++ = '=';
  }
  return static_cast<std::size_t>(out - output);
}

std::string EncodeBase64Text(std::string_view text) {
  std::string result(4 * ((text.size() + 2) / 3), '\0');
  EncodeBase64Buffer(text.data(), result.data(), text.size());
  return result;
}

std::size_t DecodeBase64Buffer(const char* input, void* output, std::size_t size) {
  auto* out = static_cast<uint8_t*>(output);
  std::size_t n = 0;
  for (std::size_t g = 0; g + 4 <= size; g += 4) {
    const int a = SixBits(input[g]), b = SixBits(input[g + 1]);
    const int c = SixBits(input[g + 2]), d = SixBits(input[g + 3]);
    // A pad in the first two positions has no defined meaning; it decodes as zero bits.
    const unsigned ua = a == kPad ? 0 : unsigned(a), ub = b == kPad ? 0 : unsigned(b);
    out[n++] = uint8_t((ua << 2) | (ub >> 4));
    if (c == kPad) continue;
    out[n++] = uint8_t((ub << 4) | (unsigned(c) >> 2));
    if (d == kPad) continue;
    out[n++] = uint8_t((unsigned(c) << 6) | unsigned(d));
  }
  return n;
}

std::string DecodeBase64Text(std::string_view text) {
  std::string result((text.size() / 4) * 3, '\0');
  result.resize(DecodeBase64Buffer(text.data(), result.data(), text.size()));
  return result;
}

}  // namespace kryvane
