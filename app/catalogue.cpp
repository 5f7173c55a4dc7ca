#include "app/catalogue.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string>

#include "ciphers/blowfish.h"
#include "ciphers/cast128.h"
#include "ciphers/cast256.h"
#include "ciphers/des.h"
#include "ciphers/ice.h"
#include "ciphers/idea.h"
#include "ciphers/mars.h"
#include "ciphers/misty1.h"
#include "ciphers/rc2.h"
#include "ciphers/rc4.h"
#include "ciphers/rijndael.h"
#include "ciphers/serpent.h"
#include "ciphers/tea.h"
#include "ciphers/twofish.h"
#include "hashes/haval.h"
#include "hashes/md4.h"
#include "hashes/md5.h"
#include "hashes/ripemd128.h"
#include "hashes/ripemd160.h"
#include "hashes/sha1.h"
#include "hashes/sha256.h"
#include "hashes/sha512.h"
#include "hashes/tiger.h"

namespace kryvane {
namespace {

template <class T>
CipherRef C() {
  return CipherRef::Of<T>();
}
template <class T>
HashRef H() {
  return HashRef::Of<T>();
}

const std::array<CipherEntry, 17>& Ciphers() {
  // clang-format off
  static const std::array<CipherEntry, 17> kCiphers = {{
      {0, "Blowfish - block: 64 bits, key: 448 bits", "blowfish", C<Blowfish>()},
      {1, "Cast128 - block: 64 bits, key: 128 bits ", "cast128", C<Cast128>()},
      {2, "Cast256 - block: 128 bits, key: 256 bits ", "cast256", C<Cast256>()},
      {3, "DES - block: 64 bits, key: 64 bits  ", "des", C<Des>()},
      {4, "3DES - block: 64 bits, key: 192 bits", "3des", C<TripleDes>()},
      {5, "Ice - block: 64 bits, key: 64 bits ", "ice", C<Ice>()},
      {6, "Thin Ice -  block: 64 bits, key: 64 bits ", "thinice", C<ThinIce>()},
      {7, "Ice 2 - block: 64 bits, key: 128 bits", "ice2", C<Ice2>()},
      {8, "IDEA - block 64 bits, key: 128 bits", "idea", C<Idea>()},
      {9, "MARS - block: 128 bits, key: 1248 bits", "mars", C<Mars>()},
      {10, "Misty1 - block: 64 bits, key: 128 bits", "misty1", C<Misty1>()},
      {11, "RC2 - block: 64 bits, key: 1024 bits", "rc2", C<Rc2>()},
      {12, "RC4 - block: variable, key: 2048 bits", "rc4", C<Rc4>()},
      {13, "Rijndael -block: 128 bits, key: 256 bits", "rijndael", C<Rijndael>()},
      {14, "Serpent - block: 128 bits, key: 256 bits", "serpent", C<Serpent>()},
      {15, "TEA - block 64 bits, key: 128 bits", "tea", C<Tea>()},
      {16, "Twofish - block 128 bits, key: 256 bits", "twofish", C<Twofish>()},
  }};
  // clang-format on
  return kCiphers;
}

const std::array<HashEntry, 10>& Hashes() {
  // clang-format off
  static const std::array<HashEntry, 10> kHashes = {{
      {0, "Haval - digest: 256 bits", "haval", H<Haval>()},
      {1, "MD4 - digest: 128 bits", "md4", H<Md4>()},
      {2, "MD5 - digest: 128 bits", "md5", H<Md5>()},
      {3, "RipeMD-128 - digest: 128 bits", "ripemd128", H<Ripemd128>()},
      {4, "RipeMD-160 - digest: 160 bits", "ripemd160", H<Ripemd160>()},
      {5, "SHA1 - digest: 160 bits", "sha1", H<Sha1>()},
      {6, "SHA-256  - digest: 256 bits", "sha256", H<Sha256>()},
      {7, "SHA-384  - digest: 384 bits", "sha384", H<Sha384>()},
      {8, "SHA-512  - digest: 512 bits", "sha512", H<Sha512>()},
      {9, "Tiger  - digest: 192 bits", "tiger", H<Tiger>()},
  }};
  // clang-format on
  return kHashes;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

template <class Entry, std::size_t N>
const Entry* Find(const std::array<Entry, N>& table, std::string_view name) {
  for (const Entry& e : table) {
    if (EqualsIgnoreCase(e.shortName, name) || e.menuText == name) return &e;
  }
  int position = -1;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), position);
  if (ec == std::errc() && end == name.data() + name.size() && position >= 0 &&
      static_cast<std::size_t>(position) < N) {
    return &table[static_cast<std::size_t>(position)];
  }
  return nullptr;
}

}  // namespace

std::span<const CipherEntry> CipherCatalogue() {
  return Ciphers();
}
std::span<const HashEntry> HashCatalogue() {
  return Hashes();
}
const CipherEntry* FindCipher(std::string_view name) {
  return Find(Ciphers(), name);
}
const HashEntry* FindHash(std::string_view name) {
  return Find(Hashes(), name);
}

bool RunSelfTests(std::span<const CipherEntry> ciphers, std::span<const HashEntry> hashes,
                  const std::function<void(std::string_view algorithm, bool passed)>& report) {
  bool all = true;
  for (const CipherEntry& e : ciphers) {
    const bool ok = e.cipher.SelfTest();
    report(e.cipher.algorithm, ok);
    all = all && ok;
  }
  for (const HashEntry& e : hashes) {
    const bool ok = e.hash.SelfTest();
    report(e.hash.algorithm, ok);
    all = all && ok;
  }
  return all;
}

}  // namespace kryvane
