// The standard hashes against established libraries over every message length from 0 to 300
// bytes and a few large ones, each fed in random pieces. Botan 2 has no RIPEMD-128; Crypto++ does.
#include <botan/hash.h>
#include <cryptopp/ripemd.h>
#include <gtest/gtest.h>

#include <random>

#include "app/catalogue.h"
#include "crypto/cpu.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

using Digest = std::vector<uint8_t>;

struct Reference {
  const char* shortName;
  const char* botanName;                    // or
  Digest (*digest)(const Digest& message);  // another library
  friend void PrintTo(const Reference& r, std::ostream* os) { *os << r.shortName; }
};

Digest CryptoppRipemd128(const Digest& message) {
  Digest out(CryptoPP::RIPEMD128::DIGESTSIZE);
  CryptoPP::RIPEMD128().CalculateDigest(out.data(), message.data(), message.size());
  return out;
}

class HashDifferential : public ::testing::TestWithParam<Reference> {};

TEST_P(HashDifferential, RandomMessagesAndSplits) {
  const HashEntry* entry = FindHash(GetParam().shortName);
  ASSERT_NE(entry, nullptr);
  auto ours = entry->hash.Create();
  std::unique_ptr<Botan::HashFunction> botan;
  if (GetParam().botanName != nullptr) {
    botan = Botan::HashFunction::create_or_throw(GetParam().botanName);
  }
  const auto theirs = [&](const Digest& message) {
    if (botan == nullptr) return GetParam().digest(message);
    const auto d = botan->process(message);
    return Digest(d.begin(), d.end());
  };
  std::mt19937 rng(42);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (std::size_t n : {1000u, 8191u, 8192u, 8193u, 100000u}) lengths.push_back(n);
  Digest digest(static_cast<std::size_t>(ours->HashSize() / 8));
  // On every processor path; the large messages also in one piece, the long runs of whole
  // blocks a file's reads give.
  for (uint32_t level : cpu::Levels()) {
    SCOPED_TRACE("processor features " + std::to_string(level));
    cpu::ScopedLimit limit(level);
    for (std::size_t n : lengths) {
      Digest msg(n);
      for (auto& b : msg) b = static_cast<uint8_t>(rng());
      ours->Init();
      std::size_t pos = 0;
      while (pos < n) {
        const std::size_t take =
            n >= 1000 && n % 2 == 0 ? n : std::min<std::size_t>(n - pos, rng() % 200);
        ours->Update(msg.data() + pos, take);
        pos += take;
      }
      ours->Final(digest.data());
      ASSERT_EQ(test::ToHex(digest), test::ToHex(theirs(msg))) << "length " << n;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Library, HashDifferential,
                         ::testing::Values(Reference{"sha1", "SHA-160", nullptr},
                                           Reference{"sha256", "SHA-256", nullptr},
                                           Reference{"sha384", "SHA-384", nullptr},
                                           Reference{"sha512", "SHA-512", nullptr},
                                           Reference{"md4", "MD4", nullptr},
                                           Reference{"md5", "MD5", nullptr},
                                           Reference{"ripemd128", nullptr, &CryptoppRipemd128},
                                           Reference{"ripemd160", "RIPEMD-160", nullptr},
                                           Reference{"tiger", "Tiger(24,3)", nullptr}),
                         [](const auto& info) { return std::string(info.param.shortName); });

}  // namespace
}  // namespace kryvane
