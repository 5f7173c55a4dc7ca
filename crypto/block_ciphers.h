// The 64- and 128-bit block cipher bases: initial vector, chaining value and the five chaining
// modes over an algorithm's one-block transform.
//
// An algorithm derives as `class Blowfish final : public BlockCipher64<Blowfish>` and provides:
//   static constexpr int32_t kId, kMaxKeySize; static constexpr std::string_view kAlgorithm;
//   static constexpr int32_t kMinKeySize;   // optional: smaller sizes are refused by Init
//   static bool SelfTest();
// and, private, with `friend BlockCipher64<Blowfish>;` so that only the modes reach them:
//   void ExpandKey(const uint8_t* key, uint32_t bits) override;      // key schedule
//   void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const;    // in may equal out
//   void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const;
//   void WipeKey();                                                  // erase the key schedule
//   // optional, for CBC decryption over many blocks: n >= 1 independent one-block
//   // decryptions (ECB over n blocks); out may equal in; any n.
//   void DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const;
//   // optional, for CBC encryption, a serial chain: n >= 1 whole blocks chained from cv, which
//   // ends as the last ciphertext block; out may equal in. Lets the chain stay in registers.
//   void EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const;
//   // optional, for CBC decryption in one pass: n >= 1 whole blocks chained from cv, which ends
//   // as the last ciphertext block; out may equal in. Takes precedence over DecryptBlocksImpl.
//   void DecryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const;
// Key schedules are Wiped<> members, which erase themselves when the cipher dies; WipeKey()
// erases them when the cipher is wiped or rekeyed. A processor-specific path is picked in
// ExpandKey and kept for the life of the key: a cipher with more than one path takes
// PlannedPaths() (the features whose path was fastest here, per direction) and provides
//   cpu::Isa EncryptPath() const; cpu::Isa DecryptPath() const;   // what the key took
// so that the measurement can tell its paths apart. The modes call the block
// functions directly, so each algorithm gets its own inlined copy of the chaining loops.
#pragma once

#include <array>
#include <chrono>
#include <cstring>

#include "crypto/bytes.h"
#include "crypto/components.h"
#include "crypto/cpu.h"

namespace kryvane {

template <class Derived, std::size_t B>
class BlockCipherN : public BlockCipher {
 public:
  static constexpr std::size_t kBlockBytes = B;
  using Block = std::array<uint8_t, B>;

  BlockCipherN() { FillChain(); }
  ~BlockCipherN() override { FillChain(); }

  int32_t Id() const override { return Derived::kId; }
  std::string_view Algorithm() const override { return Derived::kAlgorithm; }
  int32_t MaxKeySize() const override { return Derived::kMaxKeySize; }
  int32_t BlockSize() const override { return static_cast<int32_t>(B * 8); }

  void Init(const void* key, uint32_t bits, const void* iv = nullptr) override {
    Cipher::Init(key, bits, nullptr);
    if constexpr (requires { Derived::kMinKeySize; }) {
      if (bits < static_cast<uint32_t>(Derived::kMinKeySize)) {
        Wipe();
        throw CipherError(kInvalidKeySize);
      }
    }
    try {
      ExpandKey(static_cast<const uint8_t*>(key), bits);
    } catch (...) {
      Wipe();
      throw;
    }
    if (iv != nullptr) {
      std::memcpy(iv_.data(), iv, B);
    } else {
      iv_.fill(0);
      Self().EncryptBlockImpl(iv_.data(), iv_.data());
    }
    cv_ = iv_;
  }

  void Wipe() override {
    Self().WipeKey();
    FillChain();
    Cipher::Wipe();
  }

  void Reset() override {
    RequireKey();
    cv_ = iv_;
  }

  void SetIV(const void* block) override {
    RequireKey();
    std::memcpy(iv_.data(), block, B);
    cv_ = iv_;
  }

  void GetIV(void* block) const override {
    RequireKey();
    std::memcpy(block, cv_.data(), B);
  }

  void EncryptBlock(const void* in, void* out) const override {
    RequireKey();
    Self().EncryptBlockImpl(static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out));
  }

  void DecryptBlock(const void* in, void* out) const override {
    RequireKey();
    Self().DecryptBlockImpl(static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out));
  }

  // Adds 1 to the chaining value read as a big-endian number; all FF wraps to all zero.
  void IncCounter() {
    for (std::size_t i = B; i-- > 0;) {
      if (++cv_[i] != 0) break;
    }
  }

  void EncryptCBC(const void* in, void* out, std::size_t size) override {
    RequireKey();
    auto [p, q, blocks, tail] = Split(in, out, size);
    if constexpr (kHasEncryptCbc<Derived>) {
      if (blocks > 0) Self().EncryptCbcImpl(p, q, blocks, cv_.data());
      p += blocks * B;
      q += blocks * B;
      FeedbackTail(p, q, tail);
      return;
    }
    for (std::size_t i = 0; i < blocks; ++i, p += B, q += B) {
      XorInto(cv_.data(), p);
      Self().EncryptBlockImpl(cv_.data(), cv_.data());
      std::memcpy(q, cv_.data(), B);
    }
    FeedbackTail(p, q, tail);
  }

  void DecryptCBC(const void* in, void* out, std::size_t size) override {
    RequireKey();
    auto [p, q, blocks, tail] = Split(in, out, size);
    if constexpr (kHasDecryptCbc<Derived>) {
      if (blocks > 0) Self().DecryptCbcImpl(p, q, blocks, cv_.data());
      p += blocks * B;
      q += blocks * B;
      FeedbackTail(p, q, tail);
      return;
    } else if constexpr (kHasDecryptBlocks<Derived>) {
      DecryptCbcRuns(p, q, blocks);
      p += blocks * B;
      q += blocks * B;
      FeedbackTail(p, q, tail);
      return;
    }
    Block c, d;
    for (std::size_t i = 0; i < blocks; ++i, p += B, q += B) {
      std::memcpy(c.data(), p, B);
      Self().DecryptBlockImpl(c.data(), d.data());
      XorInto(d.data(), cv_.data());
      cv_ = c;
      std::memcpy(q, d.data(), B);
    }
    FeedbackTail(p, q, tail);
    SecureZeroObject(d);
  }

  void EncryptCFBblock(const void* in, void* out, std::size_t size) override {
    RequireKey();
    auto [p, q, blocks, tail] = Split(in, out, size);
    for (std::size_t i = 0; i < blocks; ++i, p += B, q += B) {
      Self().EncryptBlockImpl(cv_.data(), cv_.data());
      XorInto(cv_.data(), p);
      std::memcpy(q, cv_.data(), B);
    }
    FeedbackTail(p, q, tail);
  }

  void DecryptCFBblock(const void* in, void* out, std::size_t size) override {
    RequireKey();
    auto [p, q, blocks, tail] = Split(in, out, size);
    Block c, k;
    for (std::size_t i = 0; i < blocks; ++i, p += B, q += B) {
      std::memcpy(c.data(), p, B);
      Self().EncryptBlockImpl(cv_.data(), k.data());
      XorInto(k.data(), c.data());
      cv_ = c;
      std::memcpy(q, k.data(), B);
    }
    FeedbackTail(p, q, tail);
    SecureZeroObject(k);
  }

  void EncryptOFB(const void* in, void* out, std::size_t size) override {
    RequireKey();
    auto [p, q, blocks, tail] = Split(in, out, size);
    Block k;
    for (std::size_t i = 0; i < blocks; ++i, p += B, q += B) {
      Self().EncryptBlockImpl(cv_.data(), cv_.data());
      std::memcpy(k.data(), p, B);
      XorInto(k.data(), cv_.data());
      std::memcpy(q, k.data(), B);
    }
    FeedbackTail(p, q, tail);
    SecureZeroObject(k);
  }
  void DecryptOFB(const void* in, void* out, std::size_t size) override {
    EncryptOFB(in, out, size);
  }

  void EncryptCTR(const void* in, void* out, std::size_t size) override {
    RequireKey();
    auto [p, q, blocks, tail] = Split(in, out, size);
    Block k, x;
    for (std::size_t i = 0; i < blocks; ++i, p += B, q += B) {
      Self().EncryptBlockImpl(cv_.data(), k.data());
      IncCounter();
      std::memcpy(x.data(), p, B);
      XorInto(x.data(), k.data());
      std::memcpy(q, x.data(), B);
    }
    if (tail > 0) {
      Self().EncryptBlockImpl(cv_.data(), k.data());
      IncCounter();
      for (std::size_t j = 0; j < tail; ++j) q[j] = uint8_t(p[j] ^ k[j]);
    }
    SecureZeroObject(k);
    SecureZeroObject(x);
  }
  void DecryptCTR(const void* in, void* out, std::size_t size) override {
    EncryptCTR(in, out, size);
  }

  void EncryptCFB8bit(const void* in, void* out, std::size_t size) override {
    Cfb8<true>(in, out, size);
  }
  void DecryptCFB8bit(const void* in, void* out, std::size_t size) override {
    Cfb8<false>(in, out, size);
  }

 protected:
  const Derived& Self() const { return static_cast<const Derived&>(*this); }
  Derived& Self() { return static_cast<Derived&>(*this); }

  void RequireKey() const {
    if (!initialized_) throw BlockCipherError(kCipherNotInitialized);
  }

  // The features each direction may use, measured on the first keying in the process (see
  // cpu::ChoosePaths): the CBC chain of encryption, and CBC decryption over many blocks.
  static cpu::Plan PlannedPaths() { return cpu::ChoosePaths(Derived::kAlgorithm, &TimePaths); }

  // The final partial block of every block mode is enciphered as output feedback from CV.
  void FeedbackTail(const uint8_t* p, uint8_t* q, std::size_t tail) {
    if (tail == 0) return;
    Self().EncryptBlockImpl(cv_.data(), cv_.data());
    for (std::size_t j = 0; j < tail; ++j) q[j] = uint8_t(p[j] ^ cv_[j]);
  }

 private:
  // Both directions of a fresh instance as the file job drives them, on 2 KiB: about 20
  // microseconds for the slowest cipher here at 100 MB/s.
  static cpu::Trial TimePaths() {
    using Clock = std::chrono::steady_clock;
    Derived c;
    uint8_t key[32];
    for (std::size_t i = 0; i < sizeof(key); ++i) key[i] = uint8_t(0x5A + 17 * i);
    c.Init(key, uint32_t(Derived::kMaxKeySize < 256 ? Derived::kMaxKeySize : 256));
    alignas(64) uint8_t buf[2048] = {};
    const auto time = [&](bool encrypt) {
      double best = 0;
      for (int run = 0; run < 3; ++run) {
        // The first, shorter run only brings code and tables into the caches.
        const std::size_t size = run == 0 ? 512 : sizeof(buf);
        const auto start = Clock::now();
        if (encrypt) {
          c.EncryptCBC(buf, buf, size);
        } else {
          c.DecryptCBC(buf, buf, size);
        }
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        if (run == 1 || (run > 1 && ns < best)) best = ns;
      }
      return best;
    };
    cpu::Trial t;
    t.encryptPath = c.EncryptPath();
    t.decryptPath = c.DecryptPath();
    t.encryptTime = time(true);
    t.decryptTime = time(false);
    return t;
  }

  // CBC decryption has no dependency between blocks, so a cipher that decrypts many blocks at
  // once (interleaved rounds, vector registers) gets whole runs of them.
  template <class D>
  static constexpr bool kHasDecryptBlocks = requires(const D& d, const uint8_t* i, uint8_t* o,
                                                     std::size_t n) {
    d.DecryptBlocksImpl(i, o, n);
  };

  template <class D>
  static constexpr bool kHasDecryptCbc = requires(const D& d, const uint8_t* i, uint8_t* o,
                                                  std::size_t n, uint8_t* cv) {
    d.DecryptCbcImpl(i, o, n, cv);
  };

  template <class D>
  static constexpr bool kHasEncryptCbc = requires(const D& d, const uint8_t* i, uint8_t* o,
                                                  std::size_t n, uint8_t* cv) {
    d.EncryptCbcImpl(i, o, n, cv);
  };

  // Decrypts each run into a stack buffer, then XORs with the preceding ciphertext blocks from
  // the last block backwards: when in == out, block i is overwritten only after block i + 1,
  // the last one to need it, is done.
  void DecryptCbcRuns(const uint8_t* p, uint8_t* q, std::size_t blocks) {
    constexpr std::size_t kRun = 1024 / B;
    alignas(64) uint8_t d[kRun * B];
    Block next;
    while (blocks > 0) {
      const std::size_t n = blocks < kRun ? blocks : kRun;
      Self().DecryptBlocksImpl(p, d, n);
      std::memcpy(next.data(), p + (n - 1) * B, B);
      for (std::size_t i = n - 1; i > 0; --i) {
        XorInto(d + i * B, p + (i - 1) * B);
        std::memcpy(q + i * B, d + i * B, B);
      }
      XorInto(d, cv_.data());
      std::memcpy(q, d, B);
      cv_ = next;
      p += n * B;
      q += n * B;
      blocks -= n;
    }
    SecureZero(d, sizeof(d));
  }

  struct Span {
    const uint8_t* p;
    uint8_t* q;
    std::size_t blocks;
    std::size_t tail;
  };
  static Span Split(const void* in, void* out, std::size_t size) {
    return Span{static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out), size / B, size % B};
  }

  // Whole words: a byte-wise XOR followed by the cipher's word loads stalls on every block.
  static void XorInto(uint8_t* dst, const uint8_t* src) {
    for (std::size_t j = 0; j < B; j += 8) {
      uint64_t a, b;
      std::memcpy(&a, dst + j, 8);
      std::memcpy(&b, src + j, 8);
      a ^= b;
      std::memcpy(dst + j, &a, 8);
    }
  }

  template <bool kEncrypt>
  void Cfb8(const void* in, void* out, std::size_t size) {
    RequireKey();
    const auto* p = static_cast<const uint8_t*>(in);
    auto* q = static_cast<uint8_t*>(out);
    Block k;
    for (std::size_t i = 0; i < size; ++i) {
      Self().EncryptBlockImpl(cv_.data(), k.data());
      const uint8_t x = p[i];
      const uint8_t y = uint8_t(x ^ k[0]);
      std::memmove(cv_.data(), cv_.data() + 1, B - 1);
      cv_[B - 1] = kEncrypt ? y : x;
      q[i] = y;
    }
    SecureZeroObject(k);
  }

  void FillChain() {
    SecureFill(iv_.data(), 0xFF, B);
    SecureFill(cv_.data(), 0xFF, B);
  }

  Block iv_;
  Block cv_;
};

template <class Derived>
using BlockCipher64 = BlockCipherN<Derived, 8>;
template <class Derived>
using BlockCipher128 = BlockCipherN<Derived, 16>;

// The known-answer procedure shared by the block ciphers: key, encrypt one block and compare,
// decrypt it back and compare. Both comparisons are always made; nothing raises.
template <class T>
bool BlockKnownAnswer(const uint8_t* key, uint32_t bits, const uint8_t* plain,
                      const uint8_t* cipher) {
  try {
    T c;
    c.Init(key, bits);
    std::array<uint8_t, T::kBlockBytes> buf;
    c.EncryptBlock(plain, buf.data());
    const bool enc = std::memcmp(buf.data(), cipher, T::kBlockBytes) == 0;
    c.DecryptBlock(buf.data(), buf.data());
    const bool dec = std::memcmp(buf.data(), plain, T::kBlockBytes) == 0;
    c.Wipe();
    return enc && dec;
  } catch (...) {
    return false;
  }
}

}  // namespace kryvane
