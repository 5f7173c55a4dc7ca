// The paths chosen by measurement (no limit in force, as in every real run): they stay within
// the processor and the KRYVANE_CPU_PATH ceiling, and give the portable path's bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "app/catalogue.h"
#include "crypto/cpu.h"
#include "tests/support/cipher_checks.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

using test::Bytes;

void ExpectChoicesWithinTheCeiling() {
  const cpu::Isa widest = cpu::VectorIsa(cpu::Available());
  EXPECT_LE(widest, cpu::Ceiling());
  EXPECT_FALSE(cpu::Choices().empty());
  for (const cpu::Choice& c : cpu::Choices()) {
    SCOPED_TRACE(std::string(c.algorithm));
    EXPECT_LE(c.encrypt, widest);
    EXPECT_LE(c.decrypt, widest);
    EXPECT_EQ(c.plan.encrypt & ~cpu::Available(), 0u);
    EXPECT_EQ(c.plan.decrypt & ~cpu::Available(), 0u);
  }
}

TEST(PathChoice, MeasuredPathsGiveThePortableBytes) {
  std::mt19937 rng(29);
  // Two stream calls and a partial block: the chain across calls and the tail.
  const Bytes plain = test::RandomBytes(rng, 2 * Cipher::kStreamChunk + 13);
  for (const CipherEntry& e : CipherCatalogue()) {
    SCOPED_TRACE(std::string(e.shortName));
    const Bytes key = test::RandomBytes(rng, 32);
    const uint32_t bits = uint32_t(std::min<int32_t>(e.cipher.maxKeySize, 256));
    const auto run = [&](Cipher& c, bool encrypt, const Bytes& in) {
      c.Init(key.data(), bits);
      Bytes out(in.size());
      for (std::size_t at = 0; at < in.size(); at += Cipher::kStreamChunk) {
        const std::size_t n = std::min(Cipher::kStreamChunk, in.size() - at);
        if (encrypt) {
          c.Encrypt(in.data() + at, out.data() + at, n);
        } else {
          c.Decrypt(in.data() + at, out.data() + at, n);
        }
      }
      return out;
    };
    Bytes portable;
    {
      cpu::ScopedLimit limit(0);
      auto c = e.cipher.Create();
      portable = run(*c, true, plain);
    }
    auto measured = e.cipher.Create();
    EXPECT_EQ(test::ToHex(run(*measured, true, plain)), test::ToHex(portable)) << "encryption";
    EXPECT_EQ(test::ToHex(run(*measured, false, portable)), test::ToHex(plain)) << "decryption";
  }
  for (const HashEntry& e : HashCatalogue()) {
    SCOPED_TRACE(std::string(e.shortName));
    const auto digest = [&plain](Hash& h) {
      Bytes out(std::size_t(h.HashSize() / 8));
      h.Init();
      h.Update(plain.data(), 1000);  // a partial block first, then whole blocks from memory
      h.Update(plain.data() + 1000, plain.size() - 1000);
      h.Final(out.data());
      return out;
    };
    Bytes portable;
    {
      cpu::ScopedLimit limit(0);
      portable = digest(*e.hash.Create());
    }
    EXPECT_EQ(test::ToHex(digest(*e.hash.Create())), test::ToHex(portable));
  }
  ExpectChoicesWithinTheCeiling();
}

// Run by CTest once per value of KRYVANE_CPU_PATH (see tests/CMakeLists.txt), beside the vector
// and reference tests: the variable is read, and no path above it is offered or chosen.
TEST(PathChoice, EnvironmentCeilingIsObeyed) {
  const char* value = std::getenv("KRYVANE_CPU_PATH");
  if (value == nullptr) GTEST_SKIP() << "KRYVANE_CPU_PATH is not set";
  EXPECT_EQ(cpu::IsaName(cpu::Ceiling()), std::string(value));
  for (uint32_t level : cpu::Levels()) EXPECT_LE(cpu::VectorIsa(level), cpu::Ceiling());
  std::vector<uint8_t> key(32, 0x11);
  for (const CipherEntry& e : CipherCatalogue()) {
    e.cipher.Create()->Init(key.data(), uint32_t(std::min<int32_t>(e.cipher.maxKeySize, 256)));
  }
  for (const HashEntry& e : HashCatalogue()) e.hash.Create()->Init();
  ExpectChoicesWithinTheCeiling();
}

}  // namespace
}  // namespace kryvane
