#include "app/recover/search_sha1x.h"

#include <cstring>

#include "ciphers/x86_vectors.h"
#include "crypto/bytes.h"
#include "hashes/sha1.h"

namespace kryvane::recover {
namespace {

// One compression of the padded blocks in w (word t of every lane in w[t]) from the initial
// state; writes the digest words of every lane to out[0..4]. W is a vector of lanes.
template <class W>
[[gnu::always_inline]] inline void Sha1Lanes(W* w, W* out) {
  const W k1 = W{} + 0x5A827999u, k2 = W{} + 0x6ED9EBA1u, k3 = W{} + 0x8F1BBCDCu,
          k4 = W{} + 0xCA62C1D6u;
  W a = W{} + 0x67452301u, b = W{} + 0xEFCDAB89u, c = W{} + 0x98BADCFEu, d = W{} + 0x10325476u,
    e = W{} + 0xC3D2E1F0u;
#pragma GCC unroll 80
  for (int t = 0; t < 80; ++t) {
    if (t >= 16) {
      const W x = w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15];
      w[t & 15] = (x << 1) | (x >> 31);
    }
    W f, k;
    if (t < 20) {
      f = d ^ (b & (c ^ d));
      k = k1;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = k2;
    } else if (t < 60) {
      f = (b & c) | (d & (b | c));
      k = k3;
    } else {
      f = b ^ c ^ d;
      k = k4;
    }
    const W temp = ((a << 5) | (a >> 27)) + f + e + k + w[t & 15];
    e = d;
    d = c;
    c = (b << 30) | (b >> 2);
    b = a;
    a = temp;
  }
  out[0] = a + 0x67452301u;
  out[1] = b + 0xEFCDAB89u;
  out[2] = c + 0x98BADCFEu;
  out[3] = d + 0x10325476u;
  out[4] = e + 0xC3D2E1F0u;
}

// Pads up to kLanes messages into blocks, word t of lane i at words[t][i]; lanes past count
// hash an empty message and are ignored.
template <std::size_t kLanes>
void LoadBlocks(const uint8_t* const* messages, const uint8_t* sizes, std::size_t count,
                uint32_t (*words)[kLanes]) {
  // One block for all lanes: each message's bytes are cleared after use, so the rest stays zero.
  alignas(64) uint8_t block[64] = {};
  for (std::size_t i = 0; i < kLanes; ++i) {
    const std::size_t n = i < count ? sizes[i] : 0;
    if (n > 0) std::memcpy(block, messages[i], n);
    block[n] = 0x80;
    StoreBe64(block + 56, uint64_t(n) * 8);
    for (std::size_t t = 0; t < 16; ++t) words[t][i] = LoadBe32(block + 4 * t);
    std::memset(block, 0, n + 1);
  }
  SecureZeroObject(block);
}

template <std::size_t kLanes>
void StoreDigests(const uint32_t (*state)[kLanes], std::size_t count, uint8_t* const* digests) {
  for (std::size_t i = 0; i < count && i < kLanes; ++i) {
    for (std::size_t j = 0; j < 5; ++j) StoreBe32(digests[i] + 4 * j, state[j][i]);
  }
}

#ifdef KRYVANE_X86_VECTORS
template <class W, std::size_t kLanes>
[[gnu::always_inline]] inline void HashGroups(const uint8_t* const* messages, const uint8_t* sizes,
                                              std::size_t count, uint8_t* const* digests) {
  alignas(64) uint32_t words[16][kLanes];
  alignas(64) uint32_t state[5][kLanes];
  W w[16], out[5];
  for (std::size_t at = 0; at < count; at += kLanes) {
    const std::size_t n = count - at < kLanes ? count - at : kLanes;
    LoadBlocks<kLanes>(messages + at, sizes + at, n, words);
    for (int t = 0; t < 16; ++t) std::memcpy(&w[t], words[t], sizeof(W));
    Sha1Lanes(w, out);
    std::memcpy(state, out, sizeof state);
    StoreDigests<kLanes>(state, n, digests + at);
  }
  SecureZeroObject(w);
  SecureZeroObject(out);
  SecureZeroObject(words);
  SecureZeroObject(state);
}

// Sixteen messages a group: each padded block is one masked load (no byte past the message is
// read), the words are byte-swapped and put into lanes by a 16 x 16 transposition in registers.
KRYVANE_TARGET_AVX512 void HashAvx512(const uint8_t* const* messages, const uint8_t* sizes,
                                      std::size_t count, uint8_t* const* digests) {
  const __m512i swap =
      _mm512_broadcast_i32x4(_mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
  alignas(64) uint32_t state[5][16];
  // Wiped once at the end: a wipe per group cost a quarter of the time.
  __m512i r[16], s[16], u[16];
  U32x16 w[16], out[5];
  for (std::size_t at = 0; at < count; at += 16) {
    const std::size_t n = count - at < 16 ? count - at : 16;
    alignas(64) uint32_t bits[16] = {};
    for (std::size_t i = 0; i < 16; ++i) {
      const std::size_t size = i < n ? sizes[at + i] : 0;
      const uint64_t end = uint64_t(1) << size;
      const __m512i m =
          i < n ? _mm512_maskz_loadu_epi8(end - 1, messages[at + i]) : _mm512_setzero_si512();
      r[i] = _mm512_shuffle_epi8(_mm512_mask_set1_epi8(m, end, char(0x80)), swap);
      bits[i] = uint32_t(size * 8);
    }
    // Rows to columns: 32-bit pairs, 64-bit pairs, then 128-bit lanes twice.
    for (std::size_t i = 0; i < 8; ++i) {
      s[2 * i] = _mm512_unpacklo_epi32(r[2 * i], r[2 * i + 1]);
      s[2 * i + 1] = _mm512_unpackhi_epi32(r[2 * i], r[2 * i + 1]);
    }
    for (std::size_t q = 0; q < 4; ++q) {
      u[4 * q] = _mm512_unpacklo_epi64(s[4 * q], s[4 * q + 2]);
      u[4 * q + 1] = _mm512_unpackhi_epi64(s[4 * q], s[4 * q + 2]);
      u[4 * q + 2] = _mm512_unpacklo_epi64(s[4 * q + 1], s[4 * q + 3]);
      u[4 * q + 3] = _mm512_unpackhi_epi64(s[4 * q + 1], s[4 * q + 3]);
    }
    for (std::size_t c = 0; c < 4; ++c) {
      const __m512i x0 = _mm512_shuffle_i32x4(u[c], u[4 + c], 0x88);
      const __m512i x1 = _mm512_shuffle_i32x4(u[c], u[4 + c], 0xDD);
      const __m512i y0 = _mm512_shuffle_i32x4(u[8 + c], u[12 + c], 0x88);
      const __m512i y1 = _mm512_shuffle_i32x4(u[8 + c], u[12 + c], 0xDD);
      w[c] = U32x16(_mm512_shuffle_i32x4(x0, y0, 0x88));
      w[8 + c] = U32x16(_mm512_shuffle_i32x4(x0, y0, 0xDD));
      w[4 + c] = U32x16(_mm512_shuffle_i32x4(x1, y1, 0x88));
      w[12 + c] = U32x16(_mm512_shuffle_i32x4(x1, y1, 0xDD));
    }
    w[15] = U32x16(_mm512_load_si512(bits));
    Sha1Lanes(w, out);
    for (std::size_t j = 0; j < 5; ++j) {
      _mm512_store_si512(state[j], _mm512_shuffle_epi8(__m512i(out[j]), swap));
    }
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < 5; ++j) std::memcpy(digests[at + i] + 4 * j, &state[j][i], 4);
    }
  }
  SecureZeroObject(r);
  SecureZeroObject(s);
  SecureZeroObject(u);
  SecureZeroObject(w);
  SecureZeroObject(out);
  SecureZeroObject(state);
}

KRYVANE_TARGET_AVX2 void HashAvx2(const uint8_t* const* messages, const uint8_t* sizes,
                                  std::size_t count, uint8_t* const* digests) {
  HashGroups<U32x8, 8>(messages, sizes, count, digests);
}
#endif

}  // namespace

std::size_t Sha1Lanes(cpu::Isa isa) {
#ifdef KRYVANE_X86_VECTORS
  if (isa == cpu::Isa::kAvx512) return 16;
  if (isa == cpu::Isa::kAvx2) return 8;
#endif
  (void)isa;
  return 1;
}

std::size_t Sha1Lanes() {
  return Sha1Lanes(cpu::VectorIsa());
}

void Sha1Short(cpu::Isa isa, const uint8_t* const* messages, const uint8_t* sizes,
               std::size_t count, uint8_t* const* digests) {
#ifdef KRYVANE_X86_VECTORS
  if (isa == cpu::Isa::kAvx512) return HashAvx512(messages, sizes, count, digests);
  if (isa == cpu::Isa::kAvx2) return HashAvx2(messages, sizes, count, digests);
#endif
  (void)isa;
  Sha1 h;
  for (std::size_t i = 0; i < count; ++i) {
    h.Init();
    h.Update(messages[i], sizes[i]);
    h.Final(digests[i]);
  }
}

}  // namespace kryvane::recover
