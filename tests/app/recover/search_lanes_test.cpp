// The search's vector paths give the bytes of the project's single-message code on every path the
// processor offers: multi-lane SHA-1 against Sha1, the AES-instruction Rijndael starts against
// the Rijndael class, the many-key Blowfish against the Blowfish class.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "app/recover/search_aes.h"
#include "app/recover/search_blowfish.h"
#include "app/recover/search_sha1x.h"
#include "ciphers/blowfish.h"
#include "ciphers/rijndael.h"
#include "crypto/cpu.h"
#include "hashes/sha1.h"

namespace kryvane::test {
namespace {

TEST(SearchLanes, Sha1EqualsSingleMessageOnEveryPath) {
  std::mt19937 rng(3);
  for (const uint32_t level : cpu::Levels()) {
    cpu::ScopedLimit limit(level);
    const cpu::Isa isa = cpu::VectorIsa();
    // Every length a block holds, in counts that leave lanes empty and fill several groups.
    for (const std::size_t count : {1, 7, 16, 37, 56}) {
      std::vector<std::vector<uint8_t>> messages(count);
      std::vector<const uint8_t*> pointers(count);
      std::vector<uint8_t> sizes(count);
      for (std::size_t i = 0; i < count; ++i) {
        messages[i].resize((i * 13 + count) % (recover::kSha1ShortMax + 1));
        for (auto& b : messages[i]) b = uint8_t(rng());
        pointers[i] = messages[i].data();
        sizes[i] = uint8_t(messages[i].size());
      }
      std::vector<uint8_t[20]> digests(count);
      std::vector<uint8_t*> out(count);
      for (std::size_t i = 0; i < count; ++i) out[i] = digests[i];
      recover::Sha1Short(isa, pointers.data(), sizes.data(), count, out.data());
      for (std::size_t i = 0; i < count; ++i) {
        Sha1 h;
        uint8_t expected[20];
        h.Init();
        h.Update(messages[i].data(), messages[i].size());
        h.Final(expected);
        ASSERT_EQ(std::memcmp(digests[i], expected, 20), 0)
            << cpu::IsaName(isa) << " length " << messages[i].size();
      }
    }
  }
}

TEST(SearchLanes, RijndaelStartsEqualTheCipher) {
  std::mt19937 rng(4);
  std::vector<uint8_t> file(512);
  for (auto& b : file) b = uint8_t(rng());
  for (const uint32_t level : cpu::Levels()) {
    cpu::ScopedLimit limit(level);
    if (!recover::RijndaelStartsAvailable()) continue;
    for (const std::size_t keyBytes : {16, 20, 24, 32}) {
      constexpr std::size_t kCount = 21;  // more than one group, the last one partial
      std::vector<uint8_t> keys(kCount * 32);
      for (auto& b : keys) b = uint8_t(rng());
      const uint8_t* pointers[kCount];
      for (std::size_t i = 0; i < kCount; ++i) pointers[i] = keys.data() + 32 * i;
      uint8_t first[kCount][16], tar[kCount][16];
      recover::RijndaelStarts(pointers, keyBytes, kCount, file.data(), file.data() + 240, first,
                              tar);
      for (std::size_t i = 0; i < kCount; ++i) {
        Rijndael c;
        c.Init(pointers[i], uint32_t(keyBytes * 8));
        std::vector<uint8_t> plain(file.size());
        c.Decrypt(file.data(), plain.data(), plain.size());
        ASSERT_EQ(std::memcmp(first[i], plain.data(), 16), 0) << keyBytes;
        ASSERT_EQ(std::memcmp(tar[i], plain.data() + 256, 16), 0) << keyBytes;
      }
    }
  }
}

TEST(SearchLanes, BlowfishStartsEqualTheCipher) {
  std::mt19937 rng(6);
  std::vector<uint8_t> file(512);
  for (auto& b : file) b = uint8_t(rng());
  // Every key length the digests give (16 to 56 bytes), and short ones that wrap.
  for (const std::size_t keyBytes : {1, 5, 16, 20, 24, 32, 48, 56}) {
    constexpr std::size_t kCount = 11;  // a full group of eight and a partial one
    std::vector<uint8_t> keys(kCount * 56);
    for (auto& b : keys) b = uint8_t(rng());
    const uint8_t* pointers[kCount];
    for (std::size_t i = 0; i < kCount; ++i) pointers[i] = keys.data() + 56 * i;
    uint8_t first[kCount][16], tar[kCount][16];
    recover::BlowfishStarts(pointers, keyBytes, kCount, file.data(), file.data() + 248, first, tar);
    for (std::size_t i = 0; i < kCount; ++i) {
      Blowfish c;
      c.Init(pointers[i], uint32_t(keyBytes * 8));
      std::vector<uint8_t> plain(file.size());
      c.Decrypt(file.data(), plain.data(), plain.size());
      ASSERT_EQ(std::memcmp(first[i], plain.data(), 16), 0) << keyBytes;
      ASSERT_EQ(std::memcmp(tar[i], plain.data() + 256, 8), 0) << keyBytes;
    }
  }
}

}  // namespace
}  // namespace kryvane::test
