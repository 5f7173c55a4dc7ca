// Vector scaffolding of the block ciphers: lane types per register width and one path table, so
// each grouped cipher body is written once. May include only std, x86_vectors.h and crypto/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "ciphers/x86_vectors.h"
#include "crypto/bytes.h"
#include "crypto/cpu.h"

namespace kryvane {

// Rotations by a constant and by a count in every lane (a count of 0 leaves x as it is), written
// with shifts so that they serve a plain word and every vector alike.
template <int N, class W>
[[gnu::always_inline]] inline void Rotl(W& x) {
  x = (x << N) | (x >> (32 - N));
}
template <int N, class W>
[[gnu::always_inline]] inline void Rotr(W& x) {
  x = (x >> N) | (x << (32 - N));
}
template <class W, class N>
[[gnu::always_inline]] inline void RotlBy(W& x, const N& n) {
  const N s = n & 31;
  x = (x << s) | (x >> ((32 - s) & 31));
}

// The portable path as a lane type: one block in plain words, for bodies that serve both.
struct ScalarLanes {
  using U32 = uint32_t;
  static constexpr cpu::Isa kIsa = cpu::Isa::kPortable;
  [[gnu::always_inline]] static void Gather(const uint32_t* table, const U32& index, U32& out) {
    out = table[index];
  }
};

#ifdef KRYVANE_X86_VECTORS

// A lane type per register width: M the register, U32 and U16 the same bits as 32- and 16-bit
// lanes (whose operators work lane by lane and compile for the function they are inlined into),
// kIsa the path it serves, Enter the one function compiled for its instruction set that a body
// runs in, and the operations the operators cannot spell, each compiled for that instruction set.
// (References, not values: these types may not be passed in registers outside such functions.)
// Unpack, Deinterleave32 and the byte swaps work within every 128-bit lane.

struct SseLanes {
  using M = __m128i;
  using U32 = U32x4;
  using U16 = U16x8;
  static constexpr cpu::Isa kIsa = cpu::Isa::kSse2;
  template <class Body, class... A>
  KRYVANE_TARGET_SSE static void Enter(const Body& body, A... args) {
    body.template Run<SseLanes>(args...);
  }
  KRYVANE_TARGET_SSE static void Load(const uint8_t* p, M& x) {
    x = _mm_loadu_si128(reinterpret_cast<const M*>(p));
  }
  KRYVANE_TARGET_SSE static void Store(const M& x, uint8_t* p) {
    _mm_storeu_si128(reinterpret_cast<M*>(p), x);
  }
  KRYVANE_TARGET_SSE static void Unpack16(const M& a, const M& b, M& lo, M& hi) {
    lo = _mm_unpacklo_epi16(a, b);
    hi = _mm_unpackhi_epi16(a, b);
  }
  KRYVANE_TARGET_SSE static void Unpack32(const M& a, const M& b, M& lo, M& hi) {
    lo = _mm_unpacklo_epi32(a, b);
    hi = _mm_unpackhi_epi32(a, b);
  }
  KRYVANE_TARGET_SSE static void Unpack64(const M& a, const M& b, M& lo, M& hi) {
    lo = _mm_unpacklo_epi64(a, b);
    hi = _mm_unpackhi_epi64(a, b);
  }
  KRYVANE_TARGET_SSE static void Deinterleave32(const M& a, const M& b, M& even, M& odd) {
    even = _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), 0x88));
    odd = _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), 0xDD));
  }
  KRYVANE_TARGET_SSE static void Shuffle8(M& x, const M& order) { x = _mm_shuffle_epi8(x, order); }
  KRYVANE_TARGET_SSE static void MulHigh16(const U16& a, const U16& b, U16& hi) {
    hi = U16(_mm_mulhi_epu16(M(a), M(b)));
  }
};

struct Avx2Lanes {
  using M = __m256i;
  using U32 = U32x8;
  using U16 = U16x16;
  static constexpr cpu::Isa kIsa = cpu::Isa::kAvx2;
  template <class Body, class... A>
  KRYVANE_TARGET_AVX2 static void Enter(const Body& body, A... args) {
    body.template Run<Avx2Lanes>(args...);
  }
  KRYVANE_TARGET_AVX2 static void Load(const uint8_t* p, M& x) {
    x = _mm256_loadu_si256(reinterpret_cast<const M*>(p));
  }
  KRYVANE_TARGET_AVX2 static void Store(const M& x, uint8_t* p) {
    _mm256_storeu_si256(reinterpret_cast<M*>(p), x);
  }
  KRYVANE_TARGET_AVX2 static void Unpack16(const M& a, const M& b, M& lo, M& hi) {
    lo = _mm256_unpacklo_epi16(a, b);
    hi = _mm256_unpackhi_epi16(a, b);
  }
  KRYVANE_TARGET_AVX2 static void Unpack32(const M& a, const M& b, M& lo, M& hi) {
    lo = _mm256_unpacklo_epi32(a, b);
    hi = _mm256_unpackhi_epi32(a, b);
  }
  KRYVANE_TARGET_AVX2 static void Unpack64(const M& a, const M& b, M& lo, M& hi) {
    lo = _mm256_unpacklo_epi64(a, b);
    hi = _mm256_unpackhi_epi64(a, b);
  }
  KRYVANE_TARGET_AVX2 static void Deinterleave32(const M& a, const M& b, M& even, M& odd) {
    even = _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), 0x88));
    odd = _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), 0xDD));
  }
  KRYVANE_TARGET_AVX2 static void Shuffle8(M& x, const M& order) {
    x = _mm256_shuffle_epi8(x, order);
  }
  KRYVANE_TARGET_AVX2 static void MulHigh16(const U16& a, const U16& b, U16& hi) {
    hi = U16(_mm256_mulhi_epu16(M(a), M(b)));
  }
  // out[i] = table[index[i]] for every lane.
  KRYVANE_TARGET_AVX2 static void Gather(const uint32_t* table, const U32& index, U32& out) {
    out = U32(_mm256_i32gather_epi32(reinterpret_cast<const int*>(table), M(index), 4));
  }
};

struct Avx512Lanes {
  using M = __m512i;
  using U32 = U32x16;
  using U16 = U16x32;
  static constexpr cpu::Isa kIsa = cpu::Isa::kAvx512;
  template <class Body, class... A>
  KRYVANE_TARGET_AVX512 static void Enter(const Body& body, A... args) {
    body.template Run<Avx512Lanes>(args...);
  }
  KRYVANE_TARGET_AVX512 static void Load(const uint8_t* p, M& x) {
    x = _mm512_loadu_si512(reinterpret_cast<const M*>(p));
  }
  KRYVANE_TARGET_AVX512 static void Store(const M& x, uint8_t* p) {
    _mm512_storeu_si512(reinterpret_cast<M*>(p), x);
  }
  KRYVANE_TARGET_AVX512 static void Unpack16(const M& a, const M& b, M& lo, M& hi) {
    lo = _mm512_unpacklo_epi16(a, b);
    hi = _mm512_unpackhi_epi16(a, b);
  }
  KRYVANE_TARGET_AVX512 static void Unpack32(const M& a, const M& b, M& lo, M& hi) {
    lo = _mm512_unpacklo_epi32(a, b);
    hi = _mm512_unpackhi_epi32(a, b);
  }
  KRYVANE_TARGET_AVX512 static void Unpack64(const M& a, const M& b, M& lo, M& hi) {
    lo = _mm512_unpacklo_epi64(a, b);
    hi = _mm512_unpackhi_epi64(a, b);
  }
  KRYVANE_TARGET_AVX512 static void Deinterleave32(const M& a, const M& b, M& even, M& odd) {
    even = _mm512_castps_si512(
        _mm512_shuffle_ps(_mm512_castsi512_ps(a), _mm512_castsi512_ps(b), 0x88));
    odd = _mm512_castps_si512(
        _mm512_shuffle_ps(_mm512_castsi512_ps(a), _mm512_castsi512_ps(b), 0xDD));
  }
  KRYVANE_TARGET_AVX512 static void Shuffle8(M& x, const M& order) {
    x = _mm512_shuffle_epi8(x, order);
  }
  KRYVANE_TARGET_AVX512 static void MulHigh16(const U16& a, const U16& b, U16& hi) {
    hi = U16(_mm512_mulhi_epu16(M(a), M(b)));
  }
  KRYVANE_TARGET_AVX512 static void Gather(const uint32_t* table, const U32& index, U32& out) {
    out = U32(_mm512_i32gather_epi32(M(index), table, 4));
  }
  // The three-input logic: any function of three inputs, given as its truth table, in one
  // instruction; and the rotations, shifts and broadcasts that go with it.
  template <int kImm>
  KRYVANE_TARGET_AVX512 static M Tern(M a, M b, M c) {
    return _mm512_ternarylogic_epi32(a, b, c, kImm);
  }
  template <int kN>
  KRYVANE_TARGET_AVX512 static M Rotl(M x) {
    return _mm512_rol_epi32(x, kN);
  }
  template <int kN>
  KRYVANE_TARGET_AVX512 static M Shl(M x) {
    return _mm512_slli_epi32(x, kN);
  }
  KRYVANE_TARGET_AVX512 static M Xor(M a, M b) { return _mm512_xor_si512(a, b); }
  KRYVANE_TARGET_AVX512 static M Set(uint32_t w) { return _mm512_set1_epi32(int(w)); }
};

// A single block in the low lane of a 128-bit register under AVX-512, for the three-input logic:
// no grouped body runs on it.
struct Avx512OneBlock {
  using M = __m128i;
  static constexpr cpu::Isa kIsa = cpu::Isa::kAvx512;
  template <class Body, class... A>
  KRYVANE_TARGET_AVX512 static void Enter(const Body& body, A... args) {
    body.template Run<Avx512OneBlock>(args...);
  }
  KRYVANE_TARGET_AVX512 static M Low(uint32_t w) { return _mm_cvtsi32_si128(int(w)); }
  KRYVANE_TARGET_AVX512 static uint32_t LowWord(const M& x) {
    return uint32_t(_mm_cvtsi128_si32(x));
  }
  // The three-input logic: any function of three inputs, given as its truth table, in one
  // instruction; and the rotations, shifts and broadcasts that go with it.
  template <int kImm>
  KRYVANE_TARGET_AVX512 static M Tern(M a, M b, M c) {
    return _mm_ternarylogic_epi32(a, b, c, kImm);
  }
  template <int kN>
  KRYVANE_TARGET_AVX512 static M Rotl(M x) {
    return _mm_rol_epi32(x, kN);
  }
  template <int kN>
  KRYVANE_TARGET_AVX512 static M Shl(M x) {
    return _mm_slli_epi32(x, kN);
  }
  KRYVANE_TARGET_AVX512 static M Xor(M a, M b) { return _mm_xor_si128(a, b); }
  KRYVANE_TARGET_AVX512 static M Set(uint32_t w) { return _mm_set1_epi32(int(w)); }
};

// ---------------------------------------------------------------------------------------------
// Loads and stores of a group of blocks with the transposition that gives one register per word.
// The order of the blocks in the lanes is the same in every register and is undone on the way
// out, so a body need not know it.

// Blocks of four 32-bit words (4 registers of 16-byte blocks): the 4 x 4 transposition in every
// 128-bit lane, its own inverse.
template <class L>
[[gnu::always_inline]] inline void Transpose4x32(typename L::M (&r)[4]) {
  typename L::M t0, t1, t2, t3;
  L::Unpack32(r[0], r[1], t0, t1);
  L::Unpack32(r[2], r[3], t2, t3);
  L::Unpack64(t0, t2, r[0], r[1]);
  L::Unpack64(t1, t3, r[2], r[3]);
}

// A group of n registers from memory and back, straight between memory and registers.
template <class L, int N>
[[gnu::always_inline]] inline void LoadGroup(const uint8_t* in, typename L::M (&r)[N]) {
  for (int j = 0; j < N; ++j) L::Load(in + j * sizeof(typename L::M), r[j]);
}
template <class L, int N>
[[gnu::always_inline]] inline void StoreGroup(const typename L::M (&r)[N], uint8_t* out) {
  for (int j = 0; j < N; ++j) L::Store(r[j], out + j * sizeof(typename L::M));
}

template <class L>
[[gnu::always_inline]] inline void LoadWords(const uint8_t* in, typename L::U32 (&w)[4]) {
  typename L::M r[4];
  LoadGroup<L>(in, r);
  Transpose4x32<L>(r);
  for (int j = 0; j < 4; ++j) w[j] = typename L::U32(r[j]);
}

template <class L>
[[gnu::always_inline]] inline void StoreWords(const typename L::U32 (&w)[4], uint8_t* out) {
  typename L::M r[4];
  for (int j = 0; j < 4; ++j) r[j] = typename L::M(w[j]);
  Transpose4x32<L>(r);
  StoreGroup<L>(r, out);
}

// Blocks of two 32-bit words, G pairs of registers: a[g] holds word 0 and b[g] word 1 of the
// blocks of registers 2g and 2g + 1.
template <class L, int G>
[[gnu::always_inline]] inline void LoadWordPairs(const uint8_t* in, typename L::U32 (&a)[G],
                                                 typename L::U32 (&b)[G]) {
  typename L::M r[2 * G];
  LoadGroup<L>(in, r);
  for (int g = 0; g < G; ++g) {
    typename L::M even, odd;
    L::Deinterleave32(r[2 * g], r[2 * g + 1], even, odd);
    a[g] = typename L::U32(even);
    b[g] = typename L::U32(odd);
  }
}

template <class L, int G>
[[gnu::always_inline]] inline void StoreWordPairs(const typename L::U32 (&a)[G],
                                                  const typename L::U32 (&b)[G], uint8_t* out) {
  typename L::M r[2 * G];
  for (int g = 0; g < G; ++g) {
    L::Unpack32(typename L::M(a[g]), typename L::M(b[g]), r[2 * g], r[2 * g + 1]);
  }
  StoreGroup<L>(r, out);
}

// Blocks of four 16-bit words (4 registers of 8-byte blocks): w[k] holds word k of every block.
template <class L>
[[gnu::always_inline]] inline void LoadHalfWords(const uint8_t* in, typename L::U16 (&w)[4]) {
  typename L::M r[4], t0, t1, t2, t3, u0, u1, u2, u3;
  LoadGroup<L>(in, r);
  L::Unpack16(r[0], r[1], t0, t1);
  L::Unpack16(r[2], r[3], t2, t3);
  L::Unpack32(t0, t1, u0, u1);
  L::Unpack32(t2, t3, u2, u3);
  L::Unpack64(u0, u2, r[0], r[1]);
  L::Unpack64(u1, u3, r[2], r[3]);
  for (int j = 0; j < 4; ++j) w[j] = typename L::U16(r[j]);
}

template <class L>
[[gnu::always_inline]] inline void StoreHalfWords(const typename L::U16 (&w)[4], uint8_t* out) {
  typename L::M r[4], t0, t1, t2, t3, v0, v1, v2, v3;
  for (int j = 0; j < 4; ++j) r[j] = typename L::M(w[j]);
  L::Unpack16(r[0], r[1], t0, t1);
  L::Unpack16(r[2], r[3], t2, t3);
  L::Unpack32(t0, t2, v0, v1);
  L::Unpack32(t1, t3, v2, v3);
  L::Unpack64(v0, v1, r[0], r[1]);
  L::Unpack64(v2, v3, r[2], r[3]);
  StoreGroup<L>(r, out);
}

// Big-endian words: the bytes of every 32-bit (16-bit) lane reversed, one byte shuffle.
template <class V, class Seq>
struct SwapOrder;
template <class V, std::size_t... I>
struct SwapOrder<V, std::index_sequence<I...>> {
  // Byte k of a lane takes byte (lane bytes - 1 - k) of the same lane.
  static constexpr V k32 = {uint32_t(0x00010203u + 0x04040404u * (I % 4))...};
  static constexpr V k16 = {uint16_t(0x0001u + 0x0202u * (I % 8))...};
};

template <class L>
[[gnu::always_inline]] inline void ByteSwap32(typename L::U32& x) {
  using U32 = typename L::U32;
  typename L::M m = typename L::M(x);
  L::Shuffle8(m, typename L::M(SwapOrder<U32, std::make_index_sequence<sizeof(U32) / 4>>::k32));
  x = U32(m);
}

template <class L>
[[gnu::always_inline]] inline void ByteSwap16(typename L::U16& x) {
  using U16 = typename L::U16;
  typename L::M m = typename L::M(x);
  L::Shuffle8(m, typename L::M(SwapOrder<U16, std::make_index_sequence<sizeof(U16) / 2>>::k16));
  x = U16(m);
}

#endif

// ---------------------------------------------------------------------------------------------
// The path table. A body runs on the first lane type of its table that the key's path allows,
// inside that lane type's Enter; with none (or off x86), on its portable code.

template <class... L>
struct LanePaths {};

#ifndef KRYVANE_X86_VECTORS
// Off x86 the tables name lane types that never run.
struct NoLanes {
  static constexpr cpu::Isa kIsa = cpu::Isa::kPortable;
};
using SseLanes = NoLanes;
using Avx2Lanes = NoLanes;
using Avx512Lanes = NoLanes;
using Avx512OneBlock = NoLanes;
#endif

template <class L, class Body, class... A>
[[gnu::always_inline]] inline bool RunIfAllowed(cpu::Isa isa, const Body& body, A... args) {
  if constexpr (L::kIsa == cpu::Isa::kPortable) {
    return false;
  } else {
    if (isa < L::kIsa) return false;
    L::Enter(body, args...);
    return true;
  }
}

// body.Run<L>(args...) for the widest allowed L of the table, else body.Portable(args...).
template <class... L, class Body, class... A>
inline void RunOnPath(LanePaths<L...>, cpu::Isa isa, const Body& body, A... args) {
  if ((RunIfAllowed<L>(isa, body, args...) || ...)) return;
  body.Portable(args...);
}

// Runs a block count through a routine that handles a fixed group of blocks at once: whole
// groups go straight from in to out; a final short group goes through a zero-padded buffer (one
// pass of the group costs less than a few single blocks), a lone block through `one`.
// group(in, out) and one(in, out) may be called with in == out.
template <std::size_t kBlock, std::size_t kWidth, class Group, class One>
[[gnu::always_inline]] inline void RunGroups(const uint8_t* in, uint8_t* out, std::size_t n,
                                             Group group, One one) {
  // One call of group, so that a body inlined here is inlined once.
  alignas(64) uint8_t buf[kBlock * kWidth];
  while (n > 1) {
    const bool whole = n >= kWidth;
    if (!whole) {
      std::memset(buf, 0, sizeof(buf));
      std::memcpy(buf, in, kBlock * n);
    }
    group(whole ? in : buf, whole ? out : buf);
    if (!whole) {
      std::memcpy(out, buf, kBlock * n);
      SecureZeroObject(buf);
      return;
    }
    n -= kWidth;
    in += kBlock * kWidth;
    out += kBlock * kWidth;
  }
  if (n == 1) one(in, out);
}

// A cipher's grouped routine over n independent blocks (CBC decryption's), on the path isa
// allows: body gives
//   kBlock, kRegisters                     the block size, and how many registers a group fills
//   template <class L> void Group(in, out) one group, kRegisters * sizeof(L::M) bytes, on L
// and the portable code comes as one(in, out), a lone block, and portable(in, out, n).
template <class Body, class OneFn, class PortableFn>
struct Groups {
  const Body& body;
  OneFn one;
  PortableFn portable;

  template <class L>
  [[gnu::always_inline]] void Run(const uint8_t* in, uint8_t* out, std::size_t n) const {
    constexpr std::size_t kWidth = Body::kRegisters * sizeof(typename L::M) / Body::kBlock;
    RunGroups<Body::kBlock, kWidth>(in, out, n, GroupOf<L>{body}, one);
  }
  void Portable(const uint8_t* in, uint8_t* out, std::size_t n) const { portable(in, out, n); }

 private:
  template <class L>
  struct GroupOf {
    const Body& b;
    [[gnu::always_inline]] void operator()(const uint8_t* in, uint8_t* out) const {
      b.template Group<L>(in, out);
    }
  };
};

template <class... L, class Body, class OneFn, class PortableFn>
inline void RunGroupsOnPath(LanePaths<L...> paths, cpu::Isa isa, const Body& body, OneFn one,
                            PortableFn portable, const uint8_t* in, uint8_t* out, std::size_t n) {
  RunOnPath(paths, isa, Groups<Body, OneFn, PortableFn>{body, one, portable}, in, out, n);
}

// The same where the portable code is one block after another.
template <class... L, class Body, class OneFn>
inline void RunGroupsOnPath(LanePaths<L...> paths, cpu::Isa isa, const Body& body, OneFn one,
                            const uint8_t* in, uint8_t* out, std::size_t n) {
  const auto each = [one](const uint8_t* p, uint8_t* q, std::size_t m) {
    for (std::size_t i = 0; i < m; ++i) one(p + Body::kBlock * i, q + Body::kBlock * i);
  };
  RunGroupsOnPath(paths, isa, body, one, each, in, out, n);
}

}  // namespace kryvane
