// Every known answer in tests/data/ciphers/*.vec: encrypt and compare, decrypt the expected
// ciphertext (not our own output) and compare, on aligned and misaligned buffers.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/catalogue.h"
#include "tests/support/hex.h"
#include "tests/support/vec_file.h"

namespace kryvane {
namespace {

using test::FromHex;
using test::ToHex;

// Record fields: Key (hex), Bits (key size in bits; default 8 x key bytes), In, Out (hex, one or
// more whole blocks, each block transformed independently). The section is the cipher's short
// name.
TEST(BlockVectors, AllFiles) {
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
      block->Wipe();
      EXPECT_THROW(block->DecryptBlock(out.data(), buf.data()), BlockCipherError);
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace kryvane
