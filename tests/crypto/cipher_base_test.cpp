// Key derivation from a passphrase and chunked stream processing.
#include <gtest/gtest.h>

#include <random>

#include "ciphers/rc4.h"
#include "hashes/sha1.h"
#include "tests/crypto/toy_cipher.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

using Bytes = std::vector<uint8_t>;

// Records every Encrypt call; keys are remembered so derivation can be checked.
class Recorder final : public Cipher {
 public:
  explicit Recorder(int32_t maxBits) : max_(maxBits) {}
  int32_t MaxKeySize() const override { return max_; }
  void Init(const void* key, uint32_t bits, const void* iv = nullptr) override {
    Cipher::Init(key, bits, iv);
    key_.assign(static_cast<const uint8_t*>(key), static_cast<const uint8_t*>(key) + bits / 8);
  }
  void Encrypt(const void* in, void* out, std::size_t n) override {
    calls.push_back(n);
    const auto* p = static_cast<const uint8_t*>(in);
    auto* q = static_cast<uint8_t*>(out);
    for (std::size_t i = 0; i < n; ++i) q[i] = uint8_t(p[i] ^ 0x5A);
  }
  Bytes key_;
  std::vector<std::size_t> calls;

 private:
  int32_t max_;
};

Bytes Sha1Of(std::string_view s) {
  Sha1 h;
  h.Init();
  h.UpdateText(s);
  Bytes d(20);
  h.Final(d.data());
  return d;
}

TEST(InitFromPassphrase, KeyIsDigestCutToMaxKeySize) {
  const HashRef sha1 = HashRef::Of<Sha1>();
  Recorder small(64), large(448);
  small.InitFromPassphrase("secret", sha1);
  large.InitFromPassphrase("secret", sha1);
  const Bytes d = Sha1Of("secret");
  EXPECT_EQ(small.key_, Bytes(d.begin(), d.begin() + 8));
  EXPECT_EQ(large.key_, d);
  large.InitFromPassphrase("", sha1);  // the empty passphrase is a valid key source
  EXPECT_EQ(large.key_, Sha1Of(""));
  EXPECT_TRUE(large.Initialized());
}

class FailingHash final : public HashFacts<FailingHash> {
 public:
  static constexpr int32_t kId = 98;
  static constexpr std::string_view kAlgorithm = "Failing";
  static constexpr int32_t kHashSize = 128;
  static bool SelfTest() { return false; }
  void Update(const void*, std::size_t) override { throw HashError("Hash not initialized"); }
};

TEST(InitFromPassphrase, AnyFailureBecomesTheDigestError) {
  auto expectDigestError = [](Cipher& c, const HashRef& ref) {
    try {
      c.InitFromPassphrase("x", ref);
      ADD_FAILURE();
    } catch (const CipherError& e) {
      EXPECT_STREQ(e.what(), "Unable to allocate sufficient memory for hash digest");
    }
    EXPECT_FALSE(c.Initialized());  // an earlier key was wiped first
  };
  Rc4 rc4;
  rc4.Init("k", 8);
  expectDigestError(rc4, HashRef::Of<FailingHash>());
}

TEST(CipherStream, ChunksOf8192AndShortSources) {
  const struct {
    uint64_t size;
    std::size_t available;
    std::vector<std::size_t> calls;
  } kCases[] = {
      {0, 100, {}},
      {8192, 9000, {8192}},
      {8193, 9000, {8192, 1}},
      {20000, 20000, {8192, 8192, 3616}},
      {20000, 10000, {8192, 1808}},  // the source ends early: only what was read
      {8192, 8192, {8192}},
  };
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.size);
    Recorder c(128);
    c.Init("0123456789abcdef", 128);
    Bytes data(k.available, 7);
    MemorySource src(data);
    MemorySink sink;
    const uint64_t read = c.EncryptStream(src, sink, k.size);
    EXPECT_EQ(read, std::min<uint64_t>(k.size, k.available));
    EXPECT_EQ(sink.Data().size(), read);
    EXPECT_EQ(c.calls, k.calls);
  }
}

TEST(CipherStream, BlockCipherStreamEqualsOneCall) {
  const uint8_t key[8] = {9, 8, 7, 6, 5, 4, 3, 2};
  test::Toy<8> a, b;
  a.Init(key, 64);
  b.Init(key, 64);
  std::mt19937 rng(3);
  Bytes p(3 * 8192 + 13);
  for (auto& x : p) x = uint8_t(rng());
  MemorySource src(p);
  MemorySink sink;
  a.EncryptStream(src, sink, p.size());
  Bytes whole(p.size());
  b.Encrypt(p.data(), whole.data(), p.size());
  EXPECT_EQ(sink.Data(), whole);
  MemorySource back(sink.Data());
  MemorySink plain;
  a.Reset();
  a.DecryptStream(back, plain, p.size());
  EXPECT_EQ(plain.Data(), p);
}

TEST(CipherStream, FailingSinkPropagates) {
  class Full final : public ByteSink {
   public:
    void Write(const void*, std::size_t) override { throw StreamError("disk full"); }
  };
  Rc4 c;
  c.Init("key", 24);
  Bytes data(10);
  MemorySource src(data);
  Full sink;
  EXPECT_THROW(c.EncryptStream(src, sink, 10), StreamError);
}

TEST(CipherBase, NeutralDefaults) {
  Cipher c;
  EXPECT_EQ(c.Id(), -1);
  EXPECT_EQ(c.Algorithm(), "");
  EXPECT_EQ(c.MaxKeySize(), -1);
  c.Init("abcd", 32);  // the base takes any size that passes the rule
  EXPECT_TRUE(c.Initialized());
  EXPECT_THROW(c.Init("abcd", 30), CipherError);
  EXPECT_FALSE(c.Initialized());
}

}  // namespace
}  // namespace kryvane
