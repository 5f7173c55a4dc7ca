// Every known answer in tests/data/ciphers/*.vec: encrypt and compare, decrypt the expected
// ciphertext (not our own output) and compare, on aligned and misaligned buffers, one block at a
// time and as CBC, on every processor path this machine can run.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "app/catalogue.h"
#include "crypto/cpu.h"
#include "tests/support/hex.h"
#include "tests/support/vec_file.h"

namespace kryvane {
namespace {

using test::FromHex;
using test::ToHex;

// Record fields: Key (hex), Bits (key size in bits; default 8 x key bytes), In, Out (hex, one or
// more whole blocks, each block transformed independently). The section is the cipher's short
// name.
void CheckAllFiles() {
  int checked = 0;
  for (const auto& file : std::filesystem::directory_iterator(test::TestDataPath("ciphers"))) {
    if (file.path().extension() != ".vec") continue;
    const std::string name = "ciphers/" + file.path().filename().string();
    for (const test::VecRecord& r : test::ReadVecFile(name)) {
      SCOPED_TRACE(name + ":" + std::to_string(r.line));
      const CipherEntry* entry = FindCipher(r.section);
      ASSERT_NE(entry, nullptr) << "unknown cipher " << r.section;
      auto cipher = entry->cipher.Create();
      auto* block = dynamic_cast<BlockCipher*>(cipher.get());
      ASSERT_NE(block, nullptr);
      const auto key = FromHex(r.Get("Key"));
      const uint32_t bits =
          r.Has("Bits") ? uint32_t(std::stoul(r.Get("Bits"))) : uint32_t(key.size() * 8);
      const auto in = FromHex(r.Get("In"));
      const auto out = FromHex(r.Get("Out"));
      const std::size_t b = static_cast<std::size_t>(block->BlockSize() / 8);
      ASSERT_EQ(in.size() % b, 0u);
      ASSERT_EQ(in.size(), out.size());

      std::vector<uint8_t> buf(in.size());
      EXPECT_THROW(block->EncryptBlock(in.data(), buf.data()), BlockCipherError);
      block->Init(key.data(), bits);
      for (std::size_t off : {std::size_t{0}, std::size_t{1}}) {
        std::vector<uint8_t> work(in.size() + off);
        for (std::size_t i = 0; i < in.size(); i += b) {
          block->EncryptBlock(in.data() + i, work.data() + off + i);
        }
        EXPECT_EQ(ToHex(work.data() + off, in.size()), ToHex(out)) << "encrypt, offset " << off;
        std::copy(out.begin(), out.end(), work.begin() + off);
        for (std::size_t i = 0; i < in.size(); i += b) {
          block->DecryptBlock(work.data() + off + i, work.data() + off + i);  // in place
        }
        EXPECT_EQ(ToHex(work.data() + off, in.size()), ToHex(in)) << "decrypt, offset " << off;
      }
      // CBC from a zero IV: plain block i is D(out_i) ^ out_(i-1).
      std::vector<uint8_t> zero(b, 0), cbc(out.size()), expected = in;
      for (std::size_t i = b; i < in.size(); ++i) expected[i] ^= out[i - b];
      block->SetIV(zero.data());
      block->DecryptCBC(out.data(), cbc.data(), out.size());
      EXPECT_EQ(ToHex(cbc), ToHex(expected)) << "CBC decrypt";
      block->Wipe();
      EXPECT_THROW(block->DecryptBlock(out.data(), buf.data()), BlockCipherError);
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

std::string LevelName(uint32_t level) {
  return "processor features 0x" + ToHex(std::vector<uint8_t>{uint8_t(level)});
}

TEST(BlockVectors, AllFilesOnEveryPath) {
  for (uint32_t level : cpu::Levels()) {
    SCOPED_TRACE(LevelName(level));
    cpu::ScopedLimit limit(level);
    CheckAllFiles();
  }
}

// Every block cipher's CBC decryption over many blocks (where it may run several blocks at
// once) against its own one-block decryption, keys of several sizes, calls of odd sizes,
// separate buffers and in place, on every processor path.
TEST(BlockVectors, CbcDecryptionOfManyBlocksMatchesOneBlockPath) {
  std::mt19937 rng(5);
  for (uint32_t level : cpu::Levels()) {
    SCOPED_TRACE(LevelName(level));
    cpu::ScopedLimit limit(level);
    for (const CipherEntry& entry : CipherCatalogue()) {
      auto cipher = entry.cipher.Create();
      auto* block = dynamic_cast<BlockCipher*>(cipher.get());
      if (block == nullptr) continue;
      const std::size_t b = static_cast<std::size_t>(block->BlockSize() / 8);
      const uint32_t max = static_cast<uint32_t>(block->MaxKeySize());
      for (uint32_t bits : {max, max / 2, 64u}) {
        SCOPED_TRACE(std::string(entry.shortName) + " " + std::to_string(bits) + " bits");
        std::vector<uint8_t> key(max / 8), c(b * 1100 + 3);
        for (auto& x : key) x = uint8_t(rng());
        for (auto& x : c) x = uint8_t(rng());
        block->Init(key.data(), bits);
        std::vector<uint8_t> iv(b), expected(c.size());
        block->GetIV(iv.data());
        for (std::size_t i = 0; i + b <= c.size(); i += b) {
          block->DecryptBlock(c.data() + i, expected.data() + i);
          for (std::size_t j = 0; j < b; ++j) expected[i + j] ^= i == 0 ? iv[j] : c[i - b + j];
        }
        std::vector<uint8_t> tail(b);  // the final partial block: keystream E(last block)
        block->EncryptBlock(c.data() + c.size() / b * b - b, tail.data());
        for (std::size_t j = 0; j < c.size() % b; ++j) expected[c.size() / b * b + j] ^= tail[j];
        for (std::size_t j = c.size() / b * b; j < c.size(); ++j) expected[j] ^= c[j];
        std::vector<uint8_t> sep(c.size()), inplace = c;
        std::size_t at = 0;
        for (std::size_t part : {b * 3, b * 700, c.size()}) {
          const std::size_t n = std::min(part, c.size() - at);
          block->DecryptCBC(c.data() + at, sep.data() + at, n);
          at += n;
        }
        block->Reset();
        block->DecryptCBC(inplace.data(), inplace.data(), inplace.size());
        EXPECT_EQ(ToHex(sep), ToHex(expected));
        EXPECT_EQ(ToHex(inplace), ToHex(expected));
      }
    }
  }
}

}  // namespace
}  // namespace kryvane
