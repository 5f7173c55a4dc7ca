#include "app/age/bech32.h"

#include <array>

#include "crypto/bytes.h"

namespace kryvane::bech32 {
namespace {

constexpr char kCharset[] = "qpzry9x8gf2tvdw0s3jn54khce6mua7l";

uint32_t PolyMod(std::span<const uint8_t> values) {
  static constexpr uint32_t kGenerator[5] = {0x3b6a57b2, 0x26508e6d, 0x1ea119fa, 0x3d4233dd,
                                             0x2a1462b3};
  uint32_t chk = 1;
  for (const uint8_t v : values) {
    const uint32_t top = chk >> 25;
    chk = ((chk & 0x1ffffff) << 5) ^ v;
    for (int i = 0; i < 5; ++i) {
      if ((top >> i) & 1) chk ^= kGenerator[i];
    }
  }
  return chk;
}

std::vector<uint8_t> ExpandHrp(std::string_view hrp) {
  std::vector<uint8_t> out;
  out.reserve(hrp.size() * 2 + 1);
  for (const char c : hrp) out.push_back(uint8_t(uint8_t(c) >> 5));
  out.push_back(0);
  for (const char c : hrp) out.push_back(uint8_t(uint8_t(c) & 31));
  return out;
}

int CharValue(char c) {
  for (int i = 0; i < 32; ++i) {
    if (kCharset[i] == c) return i;
  }
  return -1;
}

}  // namespace

std::string EncodeGroups(std::string_view hrp, std::span<const uint8_t> groups) {
  std::vector<uint8_t> values = ExpandHrp(hrp);
  values.insert(values.end(), groups.begin(), groups.end());
  values.insert(values.end(), 6, 0);
  const uint32_t mod = PolyMod(values) ^ 1;
  std::string out(hrp);
  out += '1';
  for (const uint8_t g : groups) out += kCharset[g & 31];
  for (int i = 0; i < 6; ++i) out += kCharset[(mod >> (5 * (5 - i))) & 31];
  return out;
}

std::optional<Decoded> DecodeGroups(std::string_view text) {
  bool lower = false, upper = false;
  for (const char c : text) {
    const auto u = uint8_t(c);
    if (u < 33 || u > 126) return std::nullopt;
    lower |= c >= 'a' && c <= 'z';
    upper |= c >= 'A' && c <= 'Z';
  }
  if (lower && upper) return std::nullopt;
  const auto sep = text.rfind('1');
  // A non-empty human-readable part and at least the checksum after the separator.
  if (sep == std::string_view::npos || sep == 0 || sep + 7 > text.size()) return std::nullopt;
  Decoded d;
  for (const char c : text.substr(0, sep)) d.hrp += (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
  std::vector<uint8_t> values = ExpandHrp(d.hrp);
  for (char c : text.substr(sep + 1)) {
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
    const int v = CharValue(c);
    if (v < 0) return std::nullopt;
    values.push_back(uint8_t(v));
  }
  // Secret keys pass through here: leave no copy behind.
  struct Wipe {
    std::vector<uint8_t>& v;
    ~Wipe() { SecureZero(v.data(), v.size()); }
  } wipe{values};
  if (PolyMod(values) != 1) return std::nullopt;
  const std::size_t dataLength = text.size() - sep - 1 - 6;
  d.data.assign(values.end() - 6 - std::ptrdiff_t(dataLength), values.end() - 6);
  return d;
}

std::vector<uint8_t> BytesToGroups(std::span<const uint8_t> bytes) {
  std::vector<uint8_t> out;
  out.reserve((bytes.size() * 8 + 4) / 5);
  uint32_t acc = 0;
  int bits = 0;
  for (const uint8_t b : bytes) {
    acc = (acc << 8) | b;
    bits += 8;
    while (bits >= 5) {
      bits -= 5;
      out.push_back(uint8_t((acc >> bits) & 31));
    }
  }
  if (bits > 0) out.push_back(uint8_t((acc << (5 - bits)) & 31));
  return out;
}

std::optional<std::vector<uint8_t>> GroupsToBytes(std::span<const uint8_t> groups) {
  std::vector<uint8_t> out;
  out.reserve(groups.size() * 5 / 8);
  uint32_t acc = 0;
  int bits = 0;
  for (const uint8_t g : groups) {
    if (g > 31) return std::nullopt;
    acc = ((acc << 5) | g) & 0xfff;
    bits += 5;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(uint8_t(acc >> bits));
    }
  }
  if (bits >= 5 || (acc & ((1u << bits) - 1)) != 0) return std::nullopt;
  return out;
}

std::string Encode(std::string_view hrp, std::span<const uint8_t> bytes, bool upper) {
  std::string out = EncodeGroups(hrp, BytesToGroups(bytes));
  if (upper) {
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = char(c - 32);
    }
  }
  return out;
}

std::optional<DecodedBytes> Decode(std::string_view text) {
  std::optional<Decoded> d = DecodeGroups(text);
  if (!d) return std::nullopt;
  std::optional<std::vector<uint8_t>> bytes = GroupsToBytes(d->data);
  SecureZero(d->data.data(), d->data.size());
  if (!bytes) return std::nullopt;
  return DecodedBytes{std::move(d->hrp), std::move(*bytes)};
}

}  // namespace kryvane::bech32
