#include "ciphers/rc4.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <memory>

#include "tests/support/hex.h"

namespace kryvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Crypt(Rc4& c, const Bytes& in) {
  Bytes out(in.size());
  c.Encrypt(in.data(), out.data(), in.size());
  return out;
}

TEST(Rc4, KnownAnswer) {
  Rc4 c;
  c.Init(test::FromHex("0123456789ABCDEF").data(), 64);
  EXPECT_EQ(test::ToHex(Crypt(c, test::FromHex("0123456789ABCDEF"))), "75B7878099E0C596");
}

// The first call after Init is textbook RC4; each further call restarts the indices.
TEST(Rc4, IndicesRestartAtEveryCall) {
  const Bytes key = test::FromHex("0102030405");
  const Bytes zeros(10, 0);
  Rc4 c;
  c.Init(key.data(), 40);
  const Bytes whole = Crypt(c, zeros);
  c.Reset();
  Bytes split = Crypt(c, Bytes(5, 0));
  const Bytes second = Crypt(c, Bytes(5, 0));
  split.insert(split.end(), second.begin(), second.end());
  EXPECT_EQ(Bytes(split.begin(), split.begin() + 5), Bytes(whole.begin(), whole.begin() + 5));
  EXPECT_NE(split, whole);
  // Textbook RC4 with this key (RFC 6229): b2 39 63 05 f0 3d c0 27 cc c3
  EXPECT_EQ(test::ToHex(whole), "B2396305F03DC027CCC3");
}

TEST(Rc4, KeySizes) {
  const Bytes key = test::FromHex("A1B2C3D4E5F6");
  Rc4 a, b, one, many;
  a.Init(key.data(), 40);
  b.Init(key.data(), 44);  // the half byte is dropped
  EXPECT_EQ(Crypt(a, Bytes(32)), Crypt(b, Bytes(32)));
  one.Init(key.data(), 8);
  const Bytes repeated(256, key[0]);
  many.Init(repeated.data(), 2048);
  EXPECT_EQ(Crypt(one, Bytes(64)), Crypt(many, Bytes(64)));
}

TEST(Rc4, IvIgnoredResetRestoresAndZeroSizeKeepsState) {
  const Bytes key = test::FromHex("00112233");
  const Bytes iv(16, 0xAB);
  Rc4 a, b;
  a.Init(key.data(), 32);
  b.Init(key.data(), 32, iv.data());
  EXPECT_EQ(Crypt(a, Bytes(20)), Crypt(b, Bytes(20)));
  a.Reset();
  b.Reset();
  Crypt(a, Bytes());  // size 0 leaves the permutation untouched
  EXPECT_EQ(Crypt(a, Bytes(20)), Crypt(b, Bytes(20)));
  const Bytes p = test::FromHex("DEADBEEF00");
  a.Reset();
  Bytes x = Crypt(a, p);
  a.Reset();
  a.Decrypt(x.data(), x.data(), x.size());
  EXPECT_EQ(x, p);
}

TEST(Rc4, FirstCallMatchesOpenSsl) {
  // RC4 lives in the legacy provider. A library context of its own keeps the other tests'
  // OpenSSL use on the implicit default provider, and is freed whole so that nothing leaks.
  const std::unique_ptr<OSSL_LIB_CTX, decltype(&OSSL_LIB_CTX_free)> lib(OSSL_LIB_CTX_new(),
                                                                        &OSSL_LIB_CTX_free);
  using Provider = std::unique_ptr<OSSL_PROVIDER, decltype(&OSSL_PROVIDER_unload)>;
  const Provider legacy(OSSL_PROVIDER_load(lib.get(), "legacy"), &OSSL_PROVIDER_unload);
  const Provider fallback(OSSL_PROVIDER_load(lib.get(), "default"), &OSSL_PROVIDER_unload);
  const std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> rc4(
      EVP_CIPHER_fetch(lib.get(), "RC4", nullptr), &EVP_CIPHER_free);
  if (rc4 == nullptr) GTEST_SKIP() << "OpenSSL has no RC4 here";
  for (std::size_t keyLen : {1u, 5u, 16u, 20u, 64u, 256u}) {
    Bytes key(keyLen);
    for (std::size_t i = 0; i < keyLen; ++i) key[i] = uint8_t(i * 37 + keyLen);
    const Bytes p(8192, 0x3C);
    Rc4 c;
    c.Init(key.data(), uint32_t(keyLen * 8));
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_EncryptInit_ex2(ctx, rc4.get(), nullptr, nullptr, nullptr), 1);
    ASSERT_EQ(EVP_CIPHER_CTX_set_key_length(ctx, int(keyLen)), 1);
    ASSERT_EQ(EVP_EncryptInit_ex2(ctx, nullptr, key.data(), nullptr, nullptr), 1);
    Bytes ref(p.size());
    int outl = 0;
    ASSERT_EQ(EVP_EncryptUpdate(ctx, ref.data(), &outl, p.data(), int(p.size())), 1);
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_EQ(Crypt(c, p), ref) << keyLen;
  }
}

}  // namespace
}  // namespace kryvane
