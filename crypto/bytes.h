// Small vocabulary shared by every algorithm: secure erasure, fixed-order loads and stores,
// rotations. Kept header-only so the compiler can inline it into the round functions.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace kryvane {

// Fills memory in a way the optimiser may not elide, even when the object dies right after.
inline void SecureFill(void* p, uint8_t value, std::size_t n) noexcept {
  if (n == 0) return;
  std::memset(p, value, n);
  // The empty asm claims to read the memory, so the stores above must happen.
  asm volatile("" : : "r"(p) : "memory");
}

inline void SecureZero(void* p, std::size_t n) noexcept {
  SecureFill(p, 0, n);
}

template <class T>
inline void SecureZeroObject(T& obj) noexcept {
  SecureZero(&obj, sizeof(obj));
}

// Key material that erases itself: a plain value of T (an array, a struct of words) that is
// wiped when it dies, so no destructor has to remember to. Wipe() erases it earlier. The erase
// byte is the algorithm's own (zero, or FF for the classes whose key schedule reads all FF while
// unkeyed); an FF-erased value also starts out erased.
template <class T, uint8_t kFill = 0>
struct Wiped : T {
  static_assert(std::is_trivially_copyable_v<T>);
  Wiped() noexcept : T{} {
    if constexpr (kFill != 0) Wipe();
  }
  Wiped(const Wiped&) = default;
  Wiped& operator=(const Wiped&) = default;
  ~Wiped() { Wipe(); }
  void Wipe() noexcept { SecureFill(static_cast<T*>(this), kFill, sizeof(T)); }
};

template <class T, std::size_t N, uint8_t kFill = 0>
using WipedArray = Wiped<std::array<T, N>, kFill>;

inline uint32_t LoadBe32(const uint8_t* p) noexcept {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint32_t LoadLe32(const uint8_t* p) noexcept {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t LoadBe64(const uint8_t* p) noexcept {
  return (uint64_t(LoadBe32(p)) << 32) | LoadBe32(p + 4);
}
inline uint64_t LoadLe64(const uint8_t* p) noexcept {
  return uint64_t(LoadLe32(p)) | (uint64_t(LoadLe32(p + 4)) << 32);
}
// One store of the whole word: GCC 12 turns the byte stores of two adjacent words in a loop
// into a long shift-and-merge sequence (some fifty instructions a block in a CBC chain).
inline void StoreBe32(uint8_t* p, uint32_t v) noexcept {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}
inline void StoreLe32(uint8_t* p, uint32_t v) noexcept {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}
inline void StoreBe64(uint8_t* p, uint64_t v) noexcept {
  StoreBe32(p, uint32_t(v >> 32));
  StoreBe32(p + 4, uint32_t(v));
}
inline void StoreLe64(uint8_t* p, uint64_t v) noexcept {
  StoreLe32(p, uint32_t(v));
  StoreLe32(p + 4, uint32_t(v >> 32));
}

inline uint32_t Rotl32(uint32_t x, int n) noexcept {
  return std::rotl(x, n);
}
inline uint32_t Rotr32(uint32_t x, int n) noexcept {
  return std::rotr(x, n);
}
inline uint64_t Rotl64(uint64_t x, int n) noexcept {
  return std::rotl(x, n);
}
inline uint64_t Rotr64(uint64_t x, int n) noexcept {
  return std::rotr(x, n);
}

}  // namespace kryvane
