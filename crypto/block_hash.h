// The block buffering every hash shares: a bit counter, a block buffer that is compressed as soon
// as it fills, and a finalisation that appends the pad byte and the length field.
//
// A hash derives as `class Sha1 final : public BlockHash<Sha1, uint32_t, 5, 64, WordOrder::kBig>`
// and provides:
//   static constexpr int32_t kId, kHashSize; static constexpr std::string_view kAlgorithm;
//   static constexpr uint8_t kPad;          // the byte after the message
//   static constexpr std::size_t kThreshold; // first pad position that needs one more block
//   static constexpr LengthField kLength;   // what the last block ends with
//   static constexpr std::array<Word, N> kInitial;
//   static bool SelfTest();
//   void Compress(const uint8_t* block);    // updates state_; erases its own working copies
// and, where it has more than one path:
//   void CompressBlocks(const uint8_t* p, std::size_t n);  // n whole blocks in a row
//   void ChoosePath(uint32_t features);  // at every Init, from the measured plan
//   cpu::Isa Path() const;               // the path it took
#pragma once

#include <array>
#include <chrono>
#include <cstring>

#include "crypto/bytes.h"
#include "crypto/components.h"
#include "crypto/cpu.h"

namespace kryvane {

enum class WordOrder { kBig, kLittle };

enum class LengthField {
  kBigEndian64,     // bit count, 8 bytes big-endian at the end of the block
  kBigEndian128,    // 128-bit bit count, 16 bytes big-endian at the end of the block
  kLittleEndian64,  // bit count, 8 bytes little-endian at the end of the block
  kHaval,           // bytes 29 40, then the bit count as 8 bytes little-endian
};

template <class Derived, class Word, std::size_t kStateWords, std::size_t kBlock, WordOrder kOrder>
class BlockHash : public HashFacts<Derived> {
 public:
  static constexpr std::size_t kBlockBytes = kBlock;

  ~BlockHash() override { Clear(); }

  void Init() override {
    this->Wipe();
    state_ = Derived::kInitial;
    if constexpr (kHasPaths) {
      static_cast<Derived*>(this)->ChoosePath(
          cpu::ChoosePaths(Derived::kAlgorithm, &TimePaths).encrypt);
    }
    this->initialized_ = true;
  }

  void Wipe() override {
    Clear();
    this->initialized_ = false;
  }

  void Update(const void* buffer, std::size_t size) override {
    if (!this->initialized_) throw HashError(kHashNotInitialized);
    const uint64_t add = uint64_t(size) << 3;
    countLow_ += add;
    countHigh_ += (uint64_t(size) >> 61) + (countLow_ < add ? 1 : 0);
    if (size == 0) return;
    const auto* p = static_cast<const uint8_t*>(buffer);
    if (fill_ > 0) {
      const std::size_t room = kBlock - fill_;
      if (size < room) {
        std::memcpy(buffer_.data() + fill_, p, size);
        fill_ += size;
        return;
      }
      std::memcpy(buffer_.data() + fill_, p, room);
      p += room;
      size -= room;
      CompressBuffer();
    }
    // Whole blocks are compressed straight from the caller's memory; the result is the same as
    // copying them through the buffer, without the copy and the wipe.
    if constexpr (kHasPaths) {
      const std::size_t n = size / kBlock;
      if (n > 0) static_cast<Derived*>(this)->CompressBlocks(p, n);
      p += n * kBlock;
      size -= n * kBlock;
    } else {
      for (; size >= kBlock; p += kBlock, size -= kBlock) static_cast<Derived*>(this)->Compress(p);
    }
    if (size > 0) {
      std::memcpy(buffer_.data(), p, size);
      fill_ = size;
    }
  }

  void Final(void* digest) override {
    if (!this->initialized_) throw HashError(kHashNotInitialized);
    buffer_[fill_] = Derived::kPad;
    if (fill_ >= Derived::kThreshold) CompressBuffer();
    uint8_t* end = buffer_.data() + kBlock;
    switch (Derived::kLength) {
      case LengthField::kBigEndian64:
        StoreBe64(end - 8, countLow_);
        break;
      case LengthField::kBigEndian128:
        StoreBe64(end - 16, countHigh_);
        StoreBe64(end - 8, countLow_);
        break;
      case LengthField::kLittleEndian64:
        StoreLe64(end - 8, countLow_);
        break;
      case LengthField::kHaval:
        end[-10] = 0x29;
        end[-9] = 0x40;
        StoreLe64(end - 8, countLow_);
        break;
    }
    CompressBuffer();
    std::array<uint8_t, kStateWords * sizeof(Word)> out;
    for (std::size_t i = 0; i < kStateWords; ++i)
      StoreWord(out.data() + i * sizeof(Word), state_[i]);
    std::memcpy(digest, out.data(), Derived::kHashSize / 8);
    SecureZeroObject(out);
    this->Wipe();
  }

 protected:
  static Word LoadWord(const uint8_t* p) {
    if constexpr (sizeof(Word) == 4) {
      return kOrder == WordOrder::kBig ? LoadBe32(p) : LoadLe32(p);
    } else {
      return kOrder == WordOrder::kBig ? LoadBe64(p) : LoadLe64(p);
    }
  }
  static void StoreWord(uint8_t* p, Word w) {
    if constexpr (sizeof(Word) == 4) {
      kOrder == WordOrder::kBig ? StoreBe32(p, w) : StoreLe32(p, w);
    } else {
      kOrder == WordOrder::kBig ? StoreBe64(p, w) : StoreLe64(p, w);
    }
  }

  std::array<Word, kStateWords> state_{};

 private:
  static constexpr bool kHasPaths = requires(Derived & d, const uint8_t* p, std::size_t n) {
    d.CompressBlocks(p, n);
    d.ChoosePath(0u);
  };

  // 2 KiB hashed by a fresh instance, the best of two after a shorter warm-up.
  static cpu::Trial TimePaths() {
    using Clock = std::chrono::steady_clock;
    Derived h;
    alignas(64) uint8_t buf[2048] = {};
    double best = 0;
    for (int run = 0; run < 3; ++run) {
      const std::size_t size = run == 0 ? 512 : sizeof(buf);
      h.Init();
      const auto start = Clock::now();
      h.CompressBlocks(buf, size / kBlock);
      const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
      if (run == 1 || (run > 1 && ns < best)) best = ns;
    }
    cpu::Trial t;
    t.encryptPath = t.decryptPath = h.Path();
    t.encryptTime = t.decryptTime = best;
    h.Wipe();
    return t;
  }

  void CompressBuffer() {
    static_cast<Derived*>(this)->Compress(buffer_.data());
    fill_ = 0;
    SecureZeroObject(buffer_);
  }

  void Clear() {
    countLow_ = countHigh_ = 0;
    fill_ = 0;
    SecureZeroObject(buffer_);
    SecureZeroObject(state_);
  }

  // Message length in bits, modulo 2^128; forms with a 64-bit counter use the low word only.
  uint64_t countLow_ = 0;
  uint64_t countHigh_ = 0;
  std::size_t fill_ = 0;
  std::array<uint8_t, kBlock> buffer_{};
};

// The known-answer procedure shared by the hashes: two messages, both always compared.
template <class T>
bool HashKnownAnswer(std::string_view message1, const uint8_t* digest1, std::string_view message2,
                     const uint8_t* digest2) {
  try {
    T h;
    std::array<uint8_t, T::kHashSize / 8> out;
    h.Init();
    h.UpdateText(message1);
    h.Final(out.data());
    const bool first = std::memcmp(out.data(), digest1, out.size()) == 0;
    h.Init();
    h.UpdateText(message2);
    h.Final(out.data());
    const bool second = std::memcmp(out.data(), digest2, out.size()) == 0;
    return first && second;
  } catch (...) {
    return false;
  }
}

}  // namespace kryvane
