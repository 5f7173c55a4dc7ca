#include "ciphers/serpent.h"

#include <cstring>
#include <type_traits>

#include "ciphers/vector_lanes.h"

namespace kryvane {
namespace {

// The S-boxes as tables, entry x the output for input x (input bit 0 from word 0); the self-test
// checks the gate circuits below against them for every input.
// clang-format off
constexpr uint8_t kSBoxTable[8][16] = {
    {0x3, 0x8, 0xF, 0x1, 0xA, 0x6, 0x5, 0xB, 0xE, 0xD, 0x4, 0x2, 0x7, 0x0, 0x9, 0xC},
    {0xF, 0xC, 0x2, 0x7, 0x9, 0x0, 0x5, 0xA, 0x1, 0xB, 0xE, 0x8, 0x6, 0xD, 0x3, 0x4},
    {0x8, 0x6, 0x7, 0x9, 0x3, 0xC, 0xA, 0xF, 0xD, 0x1, 0xE, 0x4, 0x0, 0xB, 0x5, 0x2},
    {0x0, 0xF, 0xB, 0x8, 0xC, 0x9, 0x6, 0x3, 0xD, 0x1, 0x2, 0x4, 0xA, 0x7, 0x5, 0xE},
    {0x1, 0xF, 0x8, 0x3, 0xC, 0x0, 0xB, 0x6, 0x2, 0x5, 0x4, 0xA, 0x9, 0xE, 0x7, 0xD},
    {0xF, 0x5, 0x2, 0xB, 0x4, 0xA, 0x9, 0xC, 0x0, 0x3, 0xE, 0x8, 0xD, 0x6, 0x7, 0x1},
    {0x7, 0x2, 0xC, 0x5, 0x8, 0x4, 0x6, 0xB, 0xE, 0x9, 0x1, 0xF, 0xD, 0x3, 0xA, 0x0},
    {0x1, 0xD, 0xF, 0x0, 0xE, 0x8, 0x2, 0xB, 0x7, 0x4, 0xC, 0xA, 0x9, 0x3, 0x5, 0x6},
};
// clang-format on

// The S-boxes and their inverses in bitslice form: bit j of the four words is one 4-bit input
// (word 0 the least significant bit), so one call substitutes all 32 columns. Each is a short
// circuit of AND, OR, XOR and NOT gates found by a search over the truth tables of kSBoxTable;
// the self-test checks every one of them, and every inverse, against the table for all 16 inputs.
// clang-format off
template <class W>
[[gnu::always_inline]] inline void S0(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = a & d;
  const W t1 = b ^ t0;
  const W t2 = b | c;
  const W t3 = a ^ c;
  const W t4 = d ^ t3;
  const W t5 = t1 ^ t4;
  const W t6 = t3 | t4;
  const W t7 = t4 & t5;
  const W t8 = t0 & t4;
  const W t9 = t2 ^ t3;
  const W t10 = b ^ t7;
  const W t11 = a ^ d;
  const W t12 = t1 | t9;
  const W t13 = t6 & t12;
  const W t14 = ~t13;
  const W t15 = t5 ^ t12;
  const W t16 = t9 ^ t10;
  const W t17 = t8 ^ t16;
  const W t18 = t14 ^ t17;
  const W t19 = t11 ^ t12;
  const W t20 = t9 & t15;
  const W t21 = t19 ^ t20;
  x0 = t18;
  x1 = t14;
  x2 = t21;
  x3 = t5;
}

template <class W>
[[gnu::always_inline]] inline void InvS0(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = b ^ c;
  const W t1 = a ^ c;
  const W t2 = a & c;
  const W t3 = d | t2;
  const W t4 = d ^ t0;
  const W t5 = a ^ d;
  const W t6 = d ^ t3;
  const W t7 = a | t4;
  const W t8 = t2 ^ t7;
  const W t9 = a & d;
  const W t10 = t8 ^ t9;
  const W t11 = ~t10;
  const W t12 = t4 ^ t5;
  const W t13 = t5 ^ t9;
  const W t14 = t6 | t12;
  const W t15 = t4 & t14;
  const W t16 = c ^ t15;
  const W t17 = t9 | t14;
  const W t18 = t1 & t17;
  const W t19 = t15 | t18;
  const W t20 = t7 & t16;
  const W t21 = t13 | t20;
  const W t22 = t16 ^ t21;
  const W t23 = ~t22;
  const W t24 = t5 | t16;
  const W t25 = t0 ^ t24;
  const W t26 = t23 ^ t25;
  x0 = t26;
  x1 = t19;
  x2 = t11;
  x3 = t23;
}

template <class W>
[[gnu::always_inline]] inline void S1(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = ~a;
  const W t1 = a ^ c;
  const W t2 = b & t0;
  const W t3 = d ^ t2;
  const W t4 = c ^ t3;
  const W t5 = ~t4;
  const W t6 = t1 | t4;
  const W t7 = a | d;
  const W t8 = b ^ c;
  const W t9 = t1 & t3;
  const W t10 = c | t5;
  const W t11 = t3 ^ t8;
  const W t12 = a ^ t4;
  const W t13 = b ^ t9;
  const W t14 = t6 | t8;
  const W t15 = t13 ^ t14;
  const W t16 = ~t15;
  const W t17 = c ^ t12;
  const W t18 = d ^ t11;
  const W t19 = t10 | t18;
  const W t20 = t7 ^ t19;
  const W t21 = t12 & t18;
  const W t22 = t20 | t21;
  const W t23 = t8 | t20;
  const W t24 = t17 ^ t23;
  x0 = t22;
  x1 = t16;
  x2 = t5;
  x3 = t24;
}

template <class W>
[[gnu::always_inline]] inline void InvS1(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = ~b;
  const W t1 = a ^ d;
  const W t2 = a | d;
  const W t3 = a ^ t0;
  const W t4 = t1 | t3;
  const W t5 = t0 ^ t4;
  const W t6 = a | t0;
  const W t7 = t4 & t6;
  const W t8 = t2 & t7;
  const W t9 = c ^ t8;
  const W t10 = d ^ t8;
  const W t11 = t6 ^ t10;
  const W t12 = c & t5;
  const W t13 = t11 ^ t12;
  const W t14 = t5 ^ t9;
  const W t15 = t13 ^ t14;
  const W t16 = ~t15;
  const W t17 = t13 | t14;
  const W t18 = t8 ^ t17;
  x0 = t13;
  x1 = t16;
  x2 = t18;
  x3 = t9;
}

template <class W>
[[gnu::always_inline]] inline void S2(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = a | d;
  const W t1 = a & c;
  const W t2 = d ^ t1;
  const W t3 = b ^ t2;
  const W t4 = c ^ t3;
  const W t5 = b ^ t0;
  const W t6 = t2 & t5;
  const W t7 = a ^ t4;
  const W t8 = t6 ^ t7;
  const W t9 = ~t8;
  const W t10 = t5 | t8;
  const W t11 = t2 ^ t10;
  const W t12 = t5 & t8;
  const W t13 = t2 ^ t12;
  x0 = t4;
  x1 = t11;
  x2 = t13;
  x3 = t9;
}

template <class W>
[[gnu::always_inline]] inline void InvS2(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = a ^ d;
  const W t1 = c & d;
  const W t2 = b | d;
  const W t3 = t1 ^ t2;
  const W t4 = ~t3;
  const W t5 = a | t4;
  const W t6 = c ^ t5;
  const W t7 = b ^ t2;
  const W t8 = t6 ^ t7;
  const W t9 = ~t8;
  const W t10 = a ^ t9;
  const W t11 = t4 ^ t10;
  const W t12 = t3 | t9;
  const W t13 = t0 ^ t12;
  const W t14 = t11 & t13;
  const W t15 = t4 ^ t14;
  x0 = t13;
  x1 = t9;
  x2 = t11;
  x3 = t15;
}

template <class W>
[[gnu::always_inline]] inline void S3(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = b | c;
  const W t1 = d ^ t0;
  const W t2 = a ^ t1;
  const W t3 = b & d;
  const W t4 = a | d;
  const W t5 = t2 & t4;
  const W t6 = b ^ t1;
  const W t7 = t2 | t3;
  const W t8 = c | t5;
  const W t9 = t7 & t8;
  const W t10 = c ^ t5;
  const W t11 = t0 ^ t10;
  const W t12 = t4 ^ t11;
  const W t13 = t6 ^ t10;
  const W t14 = t1 ^ t13;
  const W t15 = t1 | t8;
  const W t16 = t14 & t15;
  const W t17 = t11 | t13;
  const W t18 = t8 & t13;
  const W t19 = t0 & t17;
  const W t20 = t7 & t19;
  const W t21 = t18 | t20;
  const W t22 = t5 ^ t12;
  const W t23 = d & t18;
  const W t24 = t22 ^ t23;
  x0 = t24;
  x1 = t21;
  x2 = t9;
  x3 = t16;
}

template <class W>
[[gnu::always_inline]] inline void InvS3(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = a | b;
  const W t1 = c ^ t0;
  const W t2 = a ^ t0;
  const W t3 = d & t0;
  const W t4 = a & b;
  const W t5 = t1 ^ t4;
  const W t6 = a & t1;
  const W t7 = a ^ d;
  const W t8 = a ^ b;
  const W t9 = t2 ^ t6;
  const W t10 = b | t1;
  const W t11 = t4 & t9;
  const W t12 = d ^ t2;
  const W t13 = t8 ^ t10;
  const W t14 = a ^ t11;
  const W t15 = t5 | t7;
  const W t16 = t3 ^ t13;
  const W t17 = c | t16;
  const W t18 = t7 | t9;
  const W t19 = t17 & t18;
  const W t20 = t12 ^ t17;
  const W t21 = t5 ^ t18;
  const W t22 = t20 & t21;
  const W t23 = t14 ^ t22;
  const W t24 = t15 & t23;
  const W t25 = t2 & t12;
  const W t26 = t22 | t25;
  const W t27 = t6 ^ t20;
  const W t28 = t14 | t27;
  const W t29 = t12 & t24;
  const W t30 = t28 ^ t29;
  x0 = t24;
  x1 = t26;
  x2 = t19;
  x3 = t30;
}

template <class W>
[[gnu::always_inline]] inline void S4(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = ~b;
  const W t1 = a & t0;
  const W t2 = b | t1;
  const W t3 = d ^ t2;
  const W t4 = b ^ t3;
  const W t5 = d | t3;
  const W t6 = a & t4;
  const W t7 = c ^ t5;
  const W t8 = ~a;
  const W t9 = t4 ^ t7;
  const W t10 = d & t8;
  const W t11 = b | t7;
  const W t12 = a ^ t11;
  const W t13 = t4 ^ t12;
  const W t14 = t9 | t12;
  const W t15 = t3 ^ t14;
  const W t16 = t7 ^ t8;
  const W t17 = d & t6;
  const W t18 = t16 ^ t17;
  const W t19 = c ^ d;
  const W t20 = t0 ^ t19;
  const W t21 = t10 ^ t20;
  const W t22 = t5 & t21;
  const W t23 = b & t16;
  const W t24 = t22 | t23;
  x0 = t18;
  x1 = t24;
  x2 = t15;
  x3 = t13;
}

template <class W>
[[gnu::always_inline]] inline void InvS4(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = a | b;
  const W t1 = c ^ t0;
  const W t2 = a ^ t0;
  const W t3 = d & t0;
  const W t4 = a & b;
  const W t5 = t1 ^ t4;
  const W t6 = a & t1;
  const W t7 = a ^ d;
  const W t8 = a ^ b;
  const W t9 = t2 ^ t6;
  const W t10 = d ^ t2;
  const W t11 = t6 | t10;
  const W t12 = t5 ^ t11;
  const W t13 = t1 | t9;
  const W t14 = t7 & t12;
  const W t15 = t1 ^ t14;
  const W t16 = ~t15;
  const W t17 = c | d;
  const W t18 = t10 ^ t17;
  const W t19 = t3 & t8;
  const W t20 = t18 | t19;
  const W t21 = t13 & t19;
  const W t22 = t5 | t17;
  const W t23 = a & t22;
  const W t24 = t2 ^ t23;
  const W t25 = t12 ^ t21;
  const W t26 = t24 ^ t25;
  const W t27 = ~t26;
  x0 = t16;
  x1 = t12;
  x2 = t27;
  x3 = t20;
}

template <class W>
[[gnu::always_inline]] inline void S5(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = a ^ b;
  const W t1 = b ^ d;
  const W t2 = a ^ c;
  const W t3 = t0 | t1;
  const W t4 = t2 ^ t3;
  const W t5 = ~t4;
  const W t6 = d | t4;
  const W t7 = t0 ^ t6;
  const W t8 = ~t7;
  const W t9 = a & t6;
  const W t10 = c | t0;
  const W t11 = t2 & t5;
  const W t12 = t2 | t5;
  const W t13 = t0 ^ t10;
  const W t14 = t6 ^ t12;
  const W t15 = t1 & t14;
  const W t16 = t9 ^ t15;
  const W t17 = ~t16;
  const W t18 = t11 ^ t15;
  const W t19 = t13 ^ t18;
  const W t20 = ~t19;
  x0 = t5;
  x1 = t8;
  x2 = t17;
  x3 = t20;
}

template <class W>
[[gnu::always_inline]] inline void InvS5(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = a | b;
  const W t1 = b | c;
  const W t2 = ~b;
  const W t3 = d & t0;
  const W t4 = a & t2;
  const W t5 = a & t3;
  const W t6 = a ^ d;
  const W t7 = t1 ^ t6;
  const W t8 = t4 | t7;
  const W t9 = c ^ t8;
  const W t10 = c | t5;
  const W t11 = t4 ^ t10;
  const W t12 = t3 ^ t11;
  const W t13 = a | t11;
  const W t14 = t2 ^ t5;
  const W t15 = t1 & t13;
  const W t16 = t14 ^ t15;
  const W t17 = t4 | t9;
  const W t18 = t14 ^ t17;
  const W t19 = ~t18;
  x0 = t19;
  x1 = t9;
  x2 = t12;
  x3 = t16;
}

template <class W>
[[gnu::always_inline]] inline void S6(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = b ^ d;
  const W t1 = a ^ d;
  const W t2 = c ^ t0;
  const W t3 = ~t1;
  const W t4 = a | t3;
  const W t5 = t2 ^ t4;
  const W t6 = c | t3;
  const W t7 = a ^ t5;
  const W t8 = t6 & t7;
  const W t9 = c & t4;
  const W t10 = t3 | t8;
  const W t11 = b | c;
  const W t12 = t8 ^ t10;
  const W t13 = t2 ^ t12;
  const W t14 = t9 ^ t10;
  const W t15 = a | b;
  const W t16 = t14 ^ t15;
  const W t17 = ~t16;
  const W t18 = t10 ^ t11;
  const W t19 = a & t12;
  const W t20 = t18 | t19;
  const W t21 = t13 ^ t20;
  const W t22 = b ^ t21;
  x0 = t20;
  x1 = t5;
  x2 = t22;
  x3 = t17;
}

template <class W>
[[gnu::always_inline]] inline void InvS6(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = b | c;
  const W t1 = a ^ c;
  const W t2 = d | t1;
  const W t3 = c ^ t2;
  const W t4 = ~t3;
  const W t5 = b ^ t3;
  const W t6 = t0 | t2;
  const W t7 = a ^ t2;
  const W t8 = t5 | t7;
  const W t9 = d ^ t8;
  const W t10 = b ^ t6;
  const W t11 = t9 & t10;
  const W t12 = t7 ^ t11;
  const W t13 = ~t12;
  const W t14 = b | t13;
  const W t15 = t9 ^ t14;
  const W t16 = t13 ^ t15;
  const W t17 = t4 ^ t16;
  const W t18 = t13 | t16;
  const W t19 = t5 ^ t18;
  x0 = t13;
  x1 = t17;
  x2 = t19;
  x3 = t15;
}

template <class W>
[[gnu::always_inline]] inline void S7(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = a | b;
  const W t1 = c ^ t0;
  const W t2 = a ^ t0;
  const W t3 = a & b;
  const W t4 = t1 ^ t3;
  const W t5 = a & t1;
  const W t6 = a ^ d;
  const W t7 = a ^ b;
  const W t8 = t2 ^ t5;
  const W t9 = b | t1;
  const W t10 = t3 & t8;
  const W t11 = a ^ t4;
  const W t12 = d ^ t2;
  const W t13 = t7 ^ t9;
  const W t14 = t4 | t6;
  const W t15 = t6 & t13;
  const W t16 = t14 ^ t15;
  const W t17 = t1 | t15;
  const W t18 = t1 ^ t6;
  const W t19 = t10 ^ t17;
  const W t20 = t5 & t12;
  const W t21 = t19 ^ t20;
  const W t22 = t10 ^ t21;
  const W t23 = t13 ^ t22;
  const W t24 = t2 ^ t23;
  const W t25 = t11 | t24;
  const W t26 = t6 ^ t25;
  const W t27 = t2 | t22;
  const W t28 = t4 | t27;
  const W t29 = t18 & t28;
  const W t30 = b ^ t29;
  const W t31 = ~t30;
  x0 = t31;
  x1 = t26;
  x2 = t16;
  x3 = t21;
}

template <class W>
[[gnu::always_inline]] inline void InvS7(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = a | d;
  const W t1 = a ^ b;
  const W t2 = a ^ c;
  const W t3 = c ^ d;
  const W t4 = c | t0;
  const W t5 = t1 | t4;
  const W t6 = ~t1;
  const W t7 = c ^ t0;
  const W t8 = c & t2;
  const W t9 = t0 & t6;
  const W t10 = t3 | t9;
  const W t11 = d ^ t2;
  const W t12 = t7 ^ t10;
  const W t13 = c | t1;
  const W t14 = t3 & t13;
  const W t15 = ~t12;
  const W t16 = t6 | t11;
  const W t17 = t15 & t16;
  const W t18 = t11 ^ t12;
  const W t19 = t2 & t18;
  const W t20 = t14 | t19;
  const W t21 = t6 ^ t18;
  const W t22 = t8 & t21;
  const W t23 = t13 ^ t16;
  const W t24 = t22 ^ t23;
  const W t25 = t5 & t24;
  const W t26 = d ^ t24;
  const W t27 = a & t17;
  const W t28 = t26 ^ t27;
  x0 = t17;
  x1 = t28;
  x2 = t25;
  x3 = t20;
}
// clang-format on

// The encryption S-boxes once more, for the one-block rounds, where latency decides: circuits
// two to four gates deep (the ones above are up to fourteen) from a search for the shortest path
// given that the linear transformation delivers x1 and x3 several gates before x0 and x2. They
// leave some outputs complemented (kShallowComplement, bit j for x[j]): the linear
// transformation carries a complement through to a constant, which the prepared keys take up.
// clang-format off
template <class W>
[[gnu::always_inline]] inline void ShallowS0(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = c | d;
  const W t1 = a | d;
  const W t2 = ~d & c;
  const W t3 = ~c & a;
  const W t4 = ~c & b;
  const W t5 = t0 & b;
  const W t6 = d ^ b;
  const W t7 = c ^ b;
  const W t8 = t1 ^ t7;
  const W t9 = ~t6 & c;
  const W t10 = a ^ t6;
  const W t11 = ~t2 & t10;
  const W t12 = a & b;
  const W t13 = ~t9 & a;
  const W t14 = ~t12 & t7;
  const W t15 = t14 ^ t11;
  const W t16 = t10 | t4;
  const W t17 = t3 ^ t16;
  const W t18 = t13 ^ t5;
  x0 = t15;
  x1 = t18;
  x2 = t17;
  x3 = t8;
}

template <class W>
[[gnu::always_inline]] inline void ShallowS1(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = ~c & d;
  const W t1 = c ^ d;
  const W t2 = ~b & d;
  const W t3 = d ^ b;
  const W t4 = d & b;
  const W t5 = c ^ t2;
  const W t6 = ~a & b;
  const W t7 = t1 ^ t6;
  const W t8 = a ^ t2;
  const W t9 = ~t3 & a;
  const W t10 = ~c & t3;
  const W t11 = c | t2;
  const W t12 = a | t4;
  const W t13 = t12 & t11;
  const W t14 = t13 ^ t3;
  const W t15 = t5 ^ t9;
  const W t16 = t13 ^ t15;
  const W t17 = t8 | t0;
  const W t18 = t10 ^ t17;
  x0 = t18;
  x1 = t16;
  x2 = t7;
  x3 = t14;
}

template <class W>
[[gnu::always_inline]] inline void ShallowS2(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = ~d & b;
  const W t1 = ~c & b;
  const W t2 = c ^ t0;
  const W t3 = d ^ b;
  const W t4 = c & b;
  const W t5 = ~a & c;
  const W t6 = a ^ d;
  const W t7 = a ^ c;
  const W t8 = t6 | t1;
  const W t9 = t3 ^ t5;
  const W t10 = a ^ b;
  const W t11 = ~t10 & t2;
  const W t12 = ~a & t3;
  const W t13 = t7 | t4;
  const W t14 = t0 ^ t13;
  const W t15 = ~t11 & t8;
  const W t16 = t12 | t2;
  const W t17 = t16 ^ t6;
  x0 = t9;
  x1 = t17;
  x2 = t15;
  x3 = t14;
}

template <class W>
[[gnu::always_inline]] inline void ShallowS3(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = ~d & b;
  const W t1 = ~c & a;
  const W t2 = ~c & b;
  const W t3 = ~c & d;
  const W t4 = d & b;
  const W t5 = ~t1 & b;
  const W t6 = c ^ t4;
  const W t7 = ~a & c;
  const W t8 = a ^ t0;
  const W t9 = a ^ d;
  const W t10 = t9 | t7;
  const W t11 = ~t3 & t8;
  const W t12 = a ^ t4;
  const W t13 = t5 ^ t10;
  const W t14 = t12 | t3;
  const W t15 = a & b;
  const W t16 = t6 & t9;
  const W t17 = t6 | t15;
  const W t18 = t16 ^ t11;
  const W t19 = t2 ^ t14;
  const W t20 = t17 ^ t9;
  x0 = t19;
  x1 = t18;
  x2 = t20;
  x3 = t13;
}

template <class W>
[[gnu::always_inline]] inline void ShallowS4(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = c | d;
  const W t1 = d | b;
  const W t2 = a | d;
  const W t3 = c ^ t1;
  const W t4 = t2 ^ c;
  const W t5 = d ^ b;
  const W t6 = c ^ b;
  const W t7 = a ^ d;
  const W t8 = a ^ t5;
  const W t9 = ~t6 & a;
  const W t10 = t3 & t7;
  const W t11 = a & t5;
  const W t12 = t3 ^ t11;
  const W t13 = t8 | t6;
  const W t14 = t10 ^ t13;
  const W t15 = ~t8 & t0;
  const W t16 = t4 ^ t15;
  const W t17 = t9 | t15;
  x0 = t12;
  x1 = t16;
  x2 = t17;
  x3 = t14;
}

template <class W>
[[gnu::always_inline]] inline void ShallowS5(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = d | b;
  const W t1 = ~d & a;
  const W t2 = ~d & c;
  const W t3 = c ^ t0;
  const W t4 = ~b & d;
  const W t5 = d ^ b;
  const W t6 = d & b;
  const W t7 = c ^ t5;
  const W t8 = a | t4;
  const W t9 = a & c;
  const W t10 = c | t6;
  const W t11 = t7 | t9;
  const W t12 = t1 ^ t11;
  const W t13 = a & t5;
  const W t14 = t3 ^ t13;
  const W t15 = t10 & t8;
  const W t16 = t5 ^ t15;
  const W t17 = t13 ^ t2;
  const W t18 = t17 ^ t8;
  x0 = t14;
  x1 = t18;
  x2 = t16;
  x3 = t12;
}

template <class W>
[[gnu::always_inline]] inline void ShallowS6(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = ~d & b;
  const W t1 = ~t0 & c;
  const W t2 = d ^ b;
  const W t3 = d & b;
  const W t4 = c ^ b;
  const W t5 = a ^ d;
  const W t6 = ~t0 & a;
  const W t7 = a & d;
  const W t8 = t4 ^ t7;
  const W t9 = ~c & t2;
  const W t10 = t5 & t4;
  const W t11 = ~t3 & a;
  const W t12 = t9 ^ t6;
  const W t13 = t1 | t11;
  const W t14 = t13 ^ t10;
  const W t15 = t13 ^ t2;
  const W t16 = t13 ^ t12;
  x0 = t15;
  x1 = t8;
  x2 = t14;
  x3 = t16;
}

template <class W>
[[gnu::always_inline]] inline void ShallowS7(W& x0, W& x1, W& x2, W& x3) {
  const W a = x0, b = x1, c = x2, d = x3;
  const W t0 = ~d & a;
  const W t1 = ~c & b;
  const W t2 = ~c & d;
  const W t3 = d ^ b;
  const W t4 = c ^ b;
  const W t5 = c ^ t3;
  const W t6 = ~t0 & t5;
  const W t7 = ~a & b;
  const W t8 = a & c;
  const W t9 = a ^ b;
  const W t10 = t9 ^ t1;
  const W t11 = t5 ^ t7;
  const W t12 = ~c & t9;
  const W t13 = ~t9 & t2;
  const W t14 = ~t8 & t4;
  const W t15 = t0 ^ t14;
  const W t16 = t6 | t12;
  const W t17 = t5 | t0;
  const W t18 = t17 ^ t10;
  const W t19 = t13 ^ t11;
  x0 = t19;
  x1 = t18;
  x2 = t16;
  x3 = t15;
}
// clang-format on

constexpr uint8_t kShallowComplement[8] = {3, 15, 8, 0, 1, 15, 7, 1};

template <class W>
[[gnu::always_inline]] inline void LinearTransform(W& x0, W& x1, W& x2, W& x3) {
  Rotl<13>(x0);
  Rotl<3>(x2);
  x1 ^= x0 ^ x2;
  x3 ^= x2 ^ (x0 << 3);
  Rotl<1>(x1);
  Rotl<7>(x3);
  x0 ^= x1 ^ x3;
  x2 ^= x3 ^ (x1 << 7);
  Rotl<5>(x0);
  Rotl<22>(x2);
}

template <class W>
[[gnu::always_inline]] inline void InverseLinearTransform(W& x0, W& x1, W& x2, W& x3) {
  Rotr<22>(x2);
  Rotr<5>(x0);
  x2 ^= x3 ^ (x1 << 7);
  x0 ^= x1 ^ x3;
  Rotr<7>(x3);
  Rotr<1>(x1);
  x3 ^= x2 ^ (x0 << 3);
  x1 ^= x0 ^ x2;
  Rotr<3>(x2);
  Rotr<13>(x0);
}

using SBoxFn = void (*)(uint32_t&, uint32_t&, uint32_t&, uint32_t&);
constexpr SBoxFn kSBoxes[8] = {S0<uint32_t>, S1<uint32_t>, S2<uint32_t>, S3<uint32_t>,
                               S4<uint32_t>, S5<uint32_t>, S6<uint32_t>, S7<uint32_t>};
constexpr SBoxFn kInverseSBoxes[8] = {InvS0<uint32_t>, InvS1<uint32_t>, InvS2<uint32_t>,
                                      InvS3<uint32_t>, InvS4<uint32_t>, InvS5<uint32_t>,
                                      InvS6<uint32_t>, InvS7<uint32_t>};
constexpr SBoxFn kShallowSBoxes[8] = {ShallowS0<uint32_t>, ShallowS1<uint32_t>, ShallowS2<uint32_t>,
                                      ShallowS3<uint32_t>, ShallowS4<uint32_t>, ShallowS5<uint32_t>,
                                      ShallowS6<uint32_t>, ShallowS7<uint32_t>};

// Runs all 16 inputs through each circuit at once, input v in bit column v, and compares every
// output bit with the table; each inverse circuit must take the table's outputs back to v, and
// each shallow circuit must give the table's outputs but for its stated complements.
bool SBoxCircuitsMatchTables() {
  bool ok = true;
  for (int box = 0; box < 8; ++box) {
    uint32_t in[4] = {}, out[4] = {};
    for (uint32_t v = 0; v < 16; ++v) {
      for (int k = 0; k < 4; ++k) {
        in[k] |= ((v >> k) & 1u) << v;
        out[k] |= ((uint32_t{kSBoxTable[box][v]} >> k) & 1u) << v;
      }
    }
    uint32_t x[4] = {in[0], in[1], in[2], in[3]};
    kSBoxes[box](x[0], x[1], x[2], x[3]);
    for (int k = 0; k < 4; ++k) ok = ok && (x[k] & 0xFFFF) == out[k];
    uint32_t y[4] = {out[0], out[1], out[2], out[3]};
    kInverseSBoxes[box](y[0], y[1], y[2], y[3]);
    for (int k = 0; k < 4; ++k) ok = ok && (y[k] & 0xFFFF) == in[k];
    uint32_t z[4] = {in[0], in[1], in[2], in[3]};
    kShallowSBoxes[box](z[0], z[1], z[2], z[3]);
    for (int k = 0; k < 4; ++k) {
      const uint32_t flip = (kShallowComplement[box] >> k) & 1 ? 0xFFFF : 0;
      ok = ok && ((z[k] ^ flip) & 0xFFFF) == out[k];
    }
  }
  return ok;
}

// The 32 decryption rounds over four words. W is a 32-bit word (one block) or a vector of them
// (one block per lane); a subkey word applies to every lane. (Encryption: EncryptPrepared below.)
// clang-format off
#define SERPENT_KEY(i) \
  x0 ^= k[4 * (i)]; x1 ^= k[4 * (i) + 1]; x2 ^= k[4 * (i) + 2]; x3 ^= k[4 * (i) + 3];
#define SERPENT_INV_ROUND(i, S) InverseLinearTransform(x0, x1, x2, x3); S(x0, x1, x2, x3); SERPENT_KEY(i)
#define SERPENT_INV_SEVEN(r) \
  SERPENT_INV_ROUND(r + 6, InvS6) SERPENT_INV_ROUND(r + 5, InvS5) SERPENT_INV_ROUND(r + 4, InvS4) \
  SERPENT_INV_ROUND(r + 3, InvS3) SERPENT_INV_ROUND(r + 2, InvS2) SERPENT_INV_ROUND(r + 1, InvS1) \
  SERPENT_INV_ROUND(r, InvS0)

template <class W>
[[gnu::always_inline]] inline void DecryptWords(const uint32_t* k, W& x0, W& x1, W& x2, W& x3) {
  SERPENT_KEY(32) InvS7(x0, x1, x2, x3); SERPENT_KEY(31)
  SERPENT_INV_SEVEN(24)
  SERPENT_INV_ROUND(23, InvS7) SERPENT_INV_SEVEN(16)
  SERPENT_INV_ROUND(15, InvS7) SERPENT_INV_SEVEN(8)
  SERPENT_INV_ROUND(7, InvS7)  SERPENT_INV_SEVEN(0)
}
// clang-format on

#undef SERPENT_KEY
#undef SERPENT_INV_ROUND
#undef SERPENT_INV_SEVEN

// The one-block encryption with the prepared keys (see PrepareEncryptKeys): after the first
// subkey, every subkey goes into the linear transformation, so that no round waits for a subkey
// exclusive-or on its longest path, and the S-boxes are the shallow circuits.
template <class W>
[[gnu::always_inline]] inline void PreparedTransform(W& x0, W& x1, W& x2, W& x3,
                                                     const uint32_t* f) {
  x0 = std::rotl(x0, 13);
  x2 = std::rotl(x2, 3);
  x1 = std::rotl((x1 ^ f[1]) ^ (x0 ^ x2), 1);
  x3 = std::rotl((x3 ^ f[3]) ^ (x2 ^ (x0 << 3)), 7);
  x0 = std::rotl((x0 ^ f[0]) ^ (x1 ^ x3), 5);
  x2 = std::rotl((x2 ^ f[2]) ^ (x3 ^ (x1 << 7)), 22);
}

template <int kBox>
[[gnu::always_inline]] inline void ShallowSBox(uint32_t& x0, uint32_t& x1, uint32_t& x2,
                                               uint32_t& x3) {
  if constexpr (kBox == 0) ShallowS0(x0, x1, x2, x3);
  if constexpr (kBox == 1) ShallowS1(x0, x1, x2, x3);
  if constexpr (kBox == 2) ShallowS2(x0, x1, x2, x3);
  if constexpr (kBox == 3) ShallowS3(x0, x1, x2, x3);
  if constexpr (kBox == 4) ShallowS4(x0, x1, x2, x3);
  if constexpr (kBox == 5) ShallowS5(x0, x1, x2, x3);
  if constexpr (kBox == 6) ShallowS6(x0, x1, x2, x3);
  if constexpr (kBox == 7) ShallowS7(x0, x1, x2, x3);
}

template <int kRound>
[[gnu::always_inline]] inline void ShallowRounds(const uint32_t* f, uint32_t& x0, uint32_t& x1,
                                                 uint32_t& x2, uint32_t& x3) {
  if constexpr (kRound < 32) {
    ShallowSBox<kRound % 8>(x0, x1, x2, x3);
    if constexpr (kRound < 31) PreparedTransform(x0, x1, x2, x3, f + 4 * (kRound + 1));
    ShallowRounds<kRound + 1>(f, x0, x1, x2, x3);
  }
}

[[gnu::always_inline]] inline void EncryptPrepared(const uint32_t* f, uint32_t& x0, uint32_t& x1,
                                                   uint32_t& x2, uint32_t& x3) {
  x0 ^= f[0];
  x1 ^= f[1];
  x2 ^= f[2];
  x3 ^= f[3];
  ShallowRounds<0>(f, x0, x1, x2, x3);
  x0 ^= f[128];
  x1 ^= f[129];
  x2 ^= f[130];
  x3 ^= f[131];
}

// From the subkeys k: f[0..3] the first subkey; f[4r..4r+3] for rounds 1 to 31 the subkey K of
// round r, with the linear transformation of the previous S-box's complements added, taken into
// the transformation as the words PreparedTransform adds (x1, x3 before their rotations, x0, x2
// with the other two words' share of K); f[128..131] the last subkey with the last complements.
void PrepareEncryptKeys(const uint32_t* k, uint32_t* f) {
  std::memcpy(f, k, 16);
  for (int r = 1; r <= 32; ++r) {
    const int complement = kShallowComplement[(r - 1) % 8];
    uint32_t m[4];
    for (int j = 0; j < 4; ++j) m[j] = (complement >> j) & 1 ? 0xFFFFFFFFu : 0;
    if (r < 32) LinearTransform(m[0], m[1], m[2], m[3]);
    uint32_t key[4];
    for (int j = 0; j < 4; ++j) key[j] = k[4 * r + j] ^ m[j];
    if (r == 32) {
      std::memcpy(f + 128, key, 16);
    } else {
      f[4 * r] = key[1] ^ key[3] ^ std::rotr(key[0], 5);
      f[4 * r + 1] = std::rotr(key[1], 1);
      f[4 * r + 2] = key[3] ^ (key[1] << 7) ^ std::rotr(key[2], 22);
      f[4 * r + 3] = std::rotr(key[3], 7);
    }
    SecureZeroObject(key);
  }
}

void PortableDecrypt(const uint32_t* k, const uint8_t* in, uint8_t* out) {
  uint32_t x0 = LoadLe32(in), x1 = LoadLe32(in + 4), x2 = LoadLe32(in + 8), x3 = LoadLe32(in + 12);
  DecryptWords(k, x0, x1, x2, x3);
  StoreLe32(out, x0);
  StoreLe32(out + 4, x1);
  StoreLe32(out + 8, x2);
  StoreLe32(out + 12, x3);
}

// ---------------------------------------------------------------------------------------------
// Vector paths: a group of blocks is loaded as whole registers and transposed within each
// 128-bit lane, so register k holds word k of every block (in an order the same transposition
// undoes on the way out).

#ifdef KRYVANE_X86_VECTORS

// With AVX-512 every S-box output bit is one four-input function: two three-input logic
// instructions give it for the fourth input 0 and 1, a third selects between them. So an S-box is
// twelve instructions, two deep, instead of a gate circuit eight to fourteen deep, and the linear
// transformation's double exclusive-ors and rotations are one instruction each.

// The truth tables as three-input logic immediates: for output bit j, lo[j] is the function of
// inputs (x2, x1, x0) with x3 = 0 and hi[j] with x3 = 1.
struct TernaryBox {
  uint8_t lo[4];
  uint8_t hi[4];
};

constexpr TernaryBox MakeTernaryBox(int box, bool inverse) {
  uint8_t table[16] = {};
  for (int v = 0; v < 16; ++v) {
    const uint8_t out = kSBoxTable[box][v];
    if (inverse) {
      table[out] = uint8_t(v);
    } else {
      table[v] = out;
    }
  }
  TernaryBox t{};
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 8; ++i) {
      t.lo[j] = uint8_t(t.lo[j] | (((table[i] >> j) & 1) << i));
      t.hi[j] = uint8_t(t.hi[j] | (((table[8 + i] >> j) & 1) << i));
    }
  }
  return t;
}

// R is a lane type with the three-input logic (Avx512Lanes for sixteen blocks, Avx512OneBlock for
// one).
constexpr int kSelect = 0xCA;  // a ? b : c
constexpr int kXor3 = 0x96;    // a ^ b ^ c

template <class R, int kBox, bool kInverse>
KRYVANE_TARGET_AVX512 inline void TernarySBox(typename R::M (&x)[4]) {
  using M = typename R::M;
  static constexpr TernaryBox t = MakeTernaryBox(kBox, kInverse);
  const auto bit = [&x]<int kJ>(std::integral_constant<int, kJ>) KRYVANE_TARGET_AVX512 {
    const M lo = R::template Tern<t.lo[kJ]>(x[2], x[1], x[0]);
    const M hi = R::template Tern<t.hi[kJ]>(x[2], x[1], x[0]);
    return R::template Tern<kSelect>(x[3], hi, lo);
  };
  const M y0 = bit(std::integral_constant<int, 0>{});
  const M y1 = bit(std::integral_constant<int, 1>{});
  const M y2 = bit(std::integral_constant<int, 2>{});
  const M y3 = bit(std::integral_constant<int, 3>{});
  x[0] = y0;
  x[1] = y1;
  x[2] = y2;
  x[3] = y3;
}

template <class R>
KRYVANE_TARGET_AVX512 inline void TernaryKey(typename R::M (&x)[4], const uint32_t* k) {
  for (int j = 0; j < 4; ++j) x[j] = R::Xor(x[j], R::Set(k[j]));
}

template <class R>
KRYVANE_TARGET_AVX512 inline void TernaryTransform(typename R::M (&x)[4]) {
  x[0] = R::template Rotl<13>(x[0]);
  x[2] = R::template Rotl<3>(x[2]);
  x[1] = R::template Tern<kXor3>(x[1], x[0], x[2]);
  x[3] = R::template Tern<kXor3>(x[3], x[2], R::template Shl<3>(x[0]));
  x[1] = R::template Rotl<1>(x[1]);
  x[3] = R::template Rotl<7>(x[3]);
  x[0] = R::template Tern<kXor3>(x[0], x[1], x[3]);
  x[2] = R::template Tern<kXor3>(x[2], x[3], R::template Shl<7>(x[1]));
  x[0] = R::template Rotl<5>(x[0]);
  x[2] = R::template Rotl<22>(x[2]);
}

template <class R>
KRYVANE_TARGET_AVX512 inline void TernaryInverseTransform(typename R::M (&x)[4]) {
  x[2] = R::template Rotl<32 - 22>(x[2]);
  x[0] = R::template Rotl<32 - 5>(x[0]);
  x[2] = R::template Tern<kXor3>(x[2], x[3], R::template Shl<7>(x[1]));
  x[0] = R::template Tern<kXor3>(x[0], x[1], x[3]);
  x[3] = R::template Rotl<32 - 7>(x[3]);
  x[1] = R::template Rotl<32 - 1>(x[1]);
  x[3] = R::template Tern<kXor3>(x[3], x[2], R::template Shl<3>(x[0]));
  x[1] = R::template Tern<kXor3>(x[1], x[0], x[2]);
  x[2] = R::template Rotl<32 - 3>(x[2]);
  x[0] = R::template Rotl<32 - 13>(x[0]);
}

template <class R, int kRound>
KRYVANE_TARGET_AVX512 inline void TernaryEncryptRounds(const uint32_t* k, typename R::M (&x)[4]) {
  if constexpr (kRound < 32) {
    TernaryKey<R>(x, k + 4 * kRound);
    TernarySBox<R, kRound % 8, false>(x);
    if constexpr (kRound < 31) {
      TernaryTransform<R>(x);
    } else {
      TernaryKey<R>(x, k + 4 * 32);  // the last round's transformation is the final subkey
    }
    TernaryEncryptRounds<R, kRound + 1>(k, x);
  }
}

template <class R, int kRound>
KRYVANE_TARGET_AVX512 inline void TernaryDecryptRounds(const uint32_t* k, typename R::M (&x)[4]) {
  if constexpr (kRound >= 0) {
    if constexpr (kRound == 31) {
      TernaryKey<R>(x, k + 4 * 32);
    } else {
      TernaryInverseTransform<R>(x);
    }
    TernarySBox<R, kRound % 8, true>(x);
    TernaryKey<R>(x, k + 4 * kRound);
    TernaryDecryptRounds<R, kRound - 1>(k, x);
  }
}

// Lane types with the three-input logic take the truth tables, others the gate circuits.
template <class L>
constexpr bool kTernary = requires(typename L::M x) {
  L::template Tern<0>(x, x, x);
};

#endif

// Independent blocks on a vector path: four registers of them, sixteen blocks with AVX-512 and
// eight with AVX2.
struct DecryptGroup {
  static constexpr std::size_t kBlock = 16;
  static constexpr std::size_t kRegisters = 4;
  const uint32_t* k;

#ifdef KRYVANE_X86_VECTORS
  template <class L>
  [[gnu::always_inline]] void Group(const uint8_t* in, uint8_t* out) const {
    typename L::U32 w[4];
    LoadWords<L>(in, w);
    if constexpr (kTernary<L>) {
      typename L::M x[4];
      for (int j = 0; j < 4; ++j) x[j] = typename L::M(w[j]);
      TernaryDecryptRounds<L, 31>(k, x);
      for (int j = 0; j < 4; ++j) w[j] = typename L::U32(x[j]);
    } else {
      DecryptWords(k, w[0], w[1], w[2], w[3]);
    }
    StoreWords<L>(w, out);
  }
#endif
};

// Encryption is a chain, one block at a time: with AVX-512, in the low lane of a register through
// the truth tables; or the scalar rounds with the prepared keys, with BMI (an and-not in one
// instruction, rotations that keep their source) or in plain C++. Measurement chooses.
#ifdef KRYVANE_X86_VECTORS
struct BmiScalar {
  static constexpr cpu::Isa kIsa = cpu::Isa::kAvx2;
  template <class Body, class... A>
  __attribute__((target("bmi,bmi2"))) static void Enter(const Body& body, A... args) {
    body.template Run<BmiScalar>(args...);
  }
};
#else
using BmiScalar = NoLanes;
#endif
constexpr LanePaths<Avx512OneBlock, BmiScalar> kEncryptPaths{};

#ifdef KRYVANE_X86_VECTORS
template <class L>
[[gnu::always_inline]] inline void LoadLow(const uint8_t* in, typename L::M (&x)[4]) {
  for (int j = 0; j < 4; ++j) x[j] = L::Low(LoadLe32(in + 4 * j));
}
template <class L>
[[gnu::always_inline]] inline void StoreLow(const typename L::M (&x)[4], uint8_t* out) {
  for (int j = 0; j < 4; ++j) StoreLe32(out + 4 * j, L::LowWord(x[j]));
}
#endif

[[gnu::always_inline]] inline void ScalarChain(const uint32_t* f, const uint8_t* in, uint8_t* out,
                                               std::size_t n, uint8_t* cv) {
  uint32_t x0 = LoadLe32(cv), x1 = LoadLe32(cv + 4), x2 = LoadLe32(cv + 8), x3 = LoadLe32(cv + 12);
  for (; n > 0; --n, in += 16, out += 16) {
    x0 ^= LoadLe32(in);
    x1 ^= LoadLe32(in + 4);
    x2 ^= LoadLe32(in + 8);
    x3 ^= LoadLe32(in + 12);
    EncryptPrepared(f, x0, x1, x2, x3);
    StoreLe32(out, x0);
    StoreLe32(out + 4, x1);
    StoreLe32(out + 8, x2);
    StoreLe32(out + 12, x3);
  }
  StoreLe32(cv, x0);
  StoreLe32(cv + 4, x1);
  StoreLe32(cv + 8, x2);
  StoreLe32(cv + 12, x3);
}

// One block is a chain of one from a zero chaining value.
[[gnu::always_inline]] inline void ScalarOne(const uint32_t* f, const uint8_t* in, uint8_t* out) {
  uint8_t cv[16] = {};
  ScalarChain(f, in, out, 1, cv);
}

// k: the subkeys (the truth-table path); f: the prepared keys (the scalar rounds).
struct EncryptOne {
  const uint32_t* k;
  const uint32_t* f;

#ifdef KRYVANE_X86_VECTORS
  template <class L>
  [[gnu::always_inline]] void Run(const uint8_t* in, uint8_t* out) const {
    if constexpr (std::is_same_v<L, BmiScalar>) {
      ScalarOne(f, in, out);
    } else {
      typename L::M x[4];
      LoadLow<L>(in, x);
      TernaryEncryptRounds<L, 0>(k, x);
      StoreLow<L>(x, out);
    }
  }
#endif

  void Portable(const uint8_t* in, uint8_t* out) const {
    ScalarOne(f, in, out);
  }
};

// CBC encryption's chain from cv over n blocks; cv ends as the last ciphertext block.
struct EncryptChain {
  const uint32_t* k;
  const uint32_t* f;

#ifdef KRYVANE_X86_VECTORS
  template <class L>
  [[gnu::always_inline]] void Run(const uint8_t* in, uint8_t* out, std::size_t n,
                                  uint8_t* cv) const {
    if constexpr (std::is_same_v<L, BmiScalar>) {
      ScalarChain(f, in, out, n, cv);
    } else {
      typename L::M x[4], p[4];
      LoadLow<L>(cv, x);
      for (; n > 0; --n, in += 16, out += 16) {
        LoadLow<L>(in, p);
        for (int j = 0; j < 4; ++j) x[j] = L::Xor(x[j], p[j]);
        TernaryEncryptRounds<L, 0>(k, x);
        StoreLow<L>(x, out);
      }
      StoreLow<L>(x, cv);
    }
  }
#endif

  void Portable(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const {
    ScalarChain(f, in, out, n, cv);
  }
};

}  // namespace

bool Serpent::SelfTest() {
  struct Vector {
    uint8_t key[32];
    uint32_t bits;
    uint8_t cipher[16];
  };
  static constexpr uint8_t kPlain[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                                         0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
  // clang-format off
  static constexpr Vector kVectors[3] = {
      {{0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00},
       128,
       {0xD5, 0xBA, 0xA0, 0x0A, 0x4B, 0xB9, 0xD8, 0xA7, 0xC9, 0x81, 0xC8, 0xDC, 0x90, 0xD8, 0x9D, 0x92}},
      {{0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00},
       192,
       {0xDA, 0x86, 0x08, 0x42, 0xB7, 0x20, 0x80, 0x2B, 0xF4, 0x04, 0xA4, 0xC7, 0x10, 0x34, 0x87, 0x9A}},
      {{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00},
       256,
       {0x93, 0xDF, 0x9A, 0x3C, 0xAF, 0xE3, 0x87, 0xBD, 0x99, 0x9E, 0xEB, 0xE3, 0x93, 0xA1, 0x7F, 0xCA}},
  };
  // clang-format on
  bool ok = SBoxCircuitsMatchTables();
  try {
    // One instance for all three keys, so re-keying after Wipe is exercised as well.
    Serpent c;
    uint8_t buf[16];
    for (const Vector& v : kVectors) {
      c.Init(v.key, v.bits);
      c.EncryptBlock(kPlain, buf);
      ok = ok && std::memcmp(buf, v.cipher, 16) == 0;
      c.DecryptBlock(buf, buf);
      c.Wipe();
      ok = ok && std::memcmp(buf, kPlain, 16) == 0;
    }
  } catch (...) {
    return false;
  }
  return ok;
}

void Serpent::ExpandKey(const uint8_t* key, uint32_t bits) {
  // w[0..7] are the prekey words w-8..w-1, w[8 + i] is w(i).
  uint32_t w[8 + 132] = {};
  uint8_t bytes[32] = {};
  std::memcpy(bytes, key, bits / 8);
  for (int i = 0; i < 8; ++i) w[i] = LoadLe32(bytes + 4 * i);
  if (bits < 256) {
    uint32_t& word = w[bits / 32];
    const uint32_t bit = uint32_t{1} << (bits % 32);
    word = (word & (bit - 1)) | bit;
  }
  for (uint32_t i = 0; i < 132; ++i) {
    w[8 + i] = Rotl32(w[i] ^ w[i + 3] ^ w[i + 5] ^ w[i + 7] ^ 0x9E3779B9u ^ i, 11);
  }
  for (int i = 0; i <= kRounds; ++i) {
    uint32_t* k = w + 8 + 4 * i;
    kSBoxes[(3 - i + 32) % 8](k[0], k[1], k[2], k[3]);
    std::memcpy(subKeys_.data() + 4 * i, k, 16);
  }
  SecureZeroObject(w);
  SecureZeroObject(bytes);
  PrepareEncryptKeys(subKeys_.data(), encKeys_.data());
  const cpu::Plan plan = PlannedPaths();
  isa_ = cpu::VectorIsa(plan.decrypt);
  const uint32_t bmi = cpu::kAvx2 | cpu::kBmi2;
  if (cpu::VectorIsa(plan.encrypt) >= cpu::Isa::kAvx512) {
    encIsa_ = cpu::Isa::kAvx512;
  } else {
    encIsa_ = (plan.encrypt & bmi) == bmi ? cpu::Isa::kAvx2 : cpu::Isa::kPortable;
  }
}

void Serpent::EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  RunOnPath(kEncryptPaths, encIsa_, EncryptOne{subKeys_.data(), encKeys_.data()}, in, out);
}

void Serpent::EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const {
  RunOnPath(kEncryptPaths, encIsa_, EncryptChain{subKeys_.data(), encKeys_.data()}, in, out, n, cv);
}

void Serpent::DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  PortableDecrypt(subKeys_.data(), in, out);
}

void Serpent::DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
  const uint32_t* k = subKeys_.data();
  const auto one = [k](const uint8_t* p, uint8_t* q) { PortableDecrypt(k, p, q); };
  RunGroupsOnPath(LanePaths<Avx512Lanes, Avx2Lanes>{}, isa_, DecryptGroup{k}, one, in, out, n);
}

void Serpent::WipeKey() {
  subKeys_.Wipe();
  encKeys_.Wipe();
  isa_ = cpu::Isa::kPortable;
  encIsa_ = cpu::Isa::kPortable;
}

}  // namespace kryvane
