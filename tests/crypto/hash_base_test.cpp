// The hash life cycle and the shared block buffering, shown on SHA-1.
#include <gtest/gtest.h>

#include "hashes/sha1.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

std::string Digest(Hash& h) {
  std::vector<uint8_t> d(static_cast<std::size_t>(h.HashSize() / 8));
  h.Final(d.data());
  return test::ToHex(d);
}

TEST(HashBase, NeutralDefaults) {
  Hash h;
  EXPECT_EQ(h.Id(), -1);
  EXPECT_EQ(h.Algorithm(), "");
  EXPECT_EQ(h.HashSize(), -1);
  uint8_t out[4] = {1, 2, 3, 4};
  h.Init();
  h.Update(out, 4);
  h.Final(out);
  EXPECT_EQ(out[0], 1);
}

TEST(HashBase, FactsThroughTheBaseAndTheClassReference) {
  std::unique_ptr<Hash> h = HashRef::Of<Sha1>().Create();
  EXPECT_EQ(h->Id(), 2);
  EXPECT_EQ(h->Algorithm(), "SHA1");
  EXPECT_EQ(h->HashSize(), 160);
  const HashRef ref = HashRef::Of<Sha1>();
  EXPECT_EQ(ref.id, 2);
  EXPECT_TRUE(ref.SelfTest());
}

TEST(HashBase, LifeCycle) {
  Sha1 h;
  uint8_t out[20];
  auto expectRefused = [](auto&& f) {
    try {
      f();
      ADD_FAILURE() << "no exception";
    } catch (const HashError& e) {
      EXPECT_STREQ(e.what(), "Hash not initialized");
    }
  };
  expectRefused([&] { h.Update("a", 1); });
  expectRefused([&] { h.Final(out); });
  h.Init();
  h.UpdateText("some earlier text");
  h.Init();  // restarts: the earlier input has no effect
  h.UpdateText("");
  EXPECT_EQ(Digest(h), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  std::fill(std::begin(out), std::end(out), 0xEE);
  expectRefused([&] { h.Final(out); });  // Final wiped the instance
  EXPECT_EQ(out[0], 0xEE);
  expectRefused([&] { h.UpdateText("x"); });
  EXPECT_FALSE(h.Initialized());
}

TEST(HashBase, ByteByByteEqualsOneUpdate) {
  const std::string msg(200, 'q');
  Sha1 a, b;
  a.Init();
  a.UpdateText(msg);
  b.Init();
  for (char c : msg) {
    b.Update(&c, 1);
    b.Update(nullptr, 0);
  }
  EXPECT_EQ(Digest(a), Digest(b));
}

}  // namespace
}  // namespace kryvane
