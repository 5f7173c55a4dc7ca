#include "ciphers/serpent.h"

#include <cstring>

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
inline void S0(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = a & d;
  const uint32_t t1 = b ^ t0;
  const uint32_t t2 = b | c;
  const uint32_t t3 = a ^ c;
  const uint32_t t4 = d ^ t3;
  const uint32_t t5 = t1 ^ t4;
  const uint32_t t6 = t3 | t4;
  const uint32_t t7 = t4 & t5;
  const uint32_t t8 = t0 & t4;
  const uint32_t t9 = t2 ^ t3;
  const uint32_t t10 = b ^ t7;
  const uint32_t t11 = a ^ d;
  const uint32_t t12 = t1 | t9;
  const uint32_t t13 = t6 & t12;
  const uint32_t t14 = ~t13;
  const uint32_t t15 = t5 ^ t12;
  const uint32_t t16 = t9 ^ t10;
  const uint32_t t17 = t8 ^ t16;
  const uint32_t t18 = t14 ^ t17;
  const uint32_t t19 = t11 ^ t12;
  const uint32_t t20 = t9 & t15;
  const uint32_t t21 = t19 ^ t20;
  x0 = t18;
  x1 = t14;
  x2 = t21;
  x3 = t5;
}

inline void InvS0(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = b ^ c;
  const uint32_t t1 = a ^ c;
  const uint32_t t2 = a & c;
  const uint32_t t3 = d | t2;
  const uint32_t t4 = d ^ t0;
  const uint32_t t5 = a ^ d;
  const uint32_t t6 = d ^ t3;
  const uint32_t t7 = a | t4;
  const uint32_t t8 = t2 ^ t7;
  const uint32_t t9 = a & d;
  const uint32_t t10 = t8 ^ t9;
  const uint32_t t11 = ~t10;
  const uint32_t t12 = t4 ^ t5;
  const uint32_t t13 = t5 ^ t9;
  const uint32_t t14 = t6 | t12;
  const uint32_t t15 = t4 & t14;
  const uint32_t t16 = c ^ t15;
  const uint32_t t17 = t9 | t14;
  const uint32_t t18 = t1 & t17;
  const uint32_t t19 = t15 | t18;
  const uint32_t t20 = t7 & t16;
  const uint32_t t21 = t13 | t20;
  const uint32_t t22 = t16 ^ t21;
  const uint32_t t23 = ~t22;
  const uint32_t t24 = t5 | t16;
  const uint32_t t25 = t0 ^ t24;
  const uint32_t t26 = t23 ^ t25;
  x0 = t26;
  x1 = t19;
  x2 = t11;
  x3 = t23;
}

inline void S1(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = ~a;
  const uint32_t t1 = a ^ c;
  const uint32_t t2 = b & t0;
  const uint32_t t3 = d ^ t2;
  const uint32_t t4 = c ^ t3;
  const uint32_t t5 = ~t4;
  const uint32_t t6 = t1 | t4;
  const uint32_t t7 = a | d;
  const uint32_t t8 = b ^ c;
  const uint32_t t9 = t1 & t3;
  const uint32_t t10 = c | t5;
  const uint32_t t11 = t3 ^ t8;
  const uint32_t t12 = a ^ t4;
  const uint32_t t13 = b ^ t9;
  const uint32_t t14 = t6 | t8;
  const uint32_t t15 = t13 ^ t14;
  const uint32_t t16 = ~t15;
  const uint32_t t17 = c ^ t12;
  const uint32_t t18 = d ^ t11;
  const uint32_t t19 = t10 | t18;
  const uint32_t t20 = t7 ^ t19;
  const uint32_t t21 = t12 & t18;
  const uint32_t t22 = t20 | t21;
  const uint32_t t23 = t8 | t20;
  const uint32_t t24 = t17 ^ t23;
  x0 = t22;
  x1 = t16;
  x2 = t5;
  x3 = t24;
}

inline void InvS1(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = ~b;
  const uint32_t t1 = a ^ d;
  const uint32_t t2 = a | d;
  const uint32_t t3 = a ^ t0;
  const uint32_t t4 = t1 | t3;
  const uint32_t t5 = t0 ^ t4;
  const uint32_t t6 = a | t0;
  const uint32_t t7 = t4 & t6;
  const uint32_t t8 = t2 & t7;
  const uint32_t t9 = c ^ t8;
  const uint32_t t10 = d ^ t8;
  const uint32_t t11 = t6 ^ t10;
  const uint32_t t12 = c & t5;
  const uint32_t t13 = t11 ^ t12;
  const uint32_t t14 = t5 ^ t9;
  const uint32_t t15 = t13 ^ t14;
  const uint32_t t16 = ~t15;
  const uint32_t t17 = t13 | t14;
  const uint32_t t18 = t8 ^ t17;
  x0 = t13;
  x1 = t16;
  x2 = t18;
  x3 = t9;
}

inline void S2(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = a | d;
  const uint32_t t1 = a & c;
  const uint32_t t2 = d ^ t1;
  const uint32_t t3 = b ^ t2;
  const uint32_t t4 = c ^ t3;
  const uint32_t t5 = b ^ t0;
  const uint32_t t6 = t2 & t5;
  const uint32_t t7 = a ^ t4;
  const uint32_t t8 = t6 ^ t7;
  const uint32_t t9 = ~t8;
  const uint32_t t10 = t5 | t8;
  const uint32_t t11 = t2 ^ t10;
  const uint32_t t12 = t5 & t8;
  const uint32_t t13 = t2 ^ t12;
  x0 = t4;
  x1 = t11;
  x2 = t13;
  x3 = t9;
}

inline void InvS2(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = a ^ d;
  const uint32_t t1 = c & d;
  const uint32_t t2 = b | d;
  const uint32_t t3 = t1 ^ t2;
  const uint32_t t4 = ~t3;
  const uint32_t t5 = a | t4;
  const uint32_t t6 = c ^ t5;
  const uint32_t t7 = b ^ t2;
  const uint32_t t8 = t6 ^ t7;
  const uint32_t t9 = ~t8;
  const uint32_t t10 = a ^ t9;
  const uint32_t t11 = t4 ^ t10;
  const uint32_t t12 = t3 | t9;
  const uint32_t t13 = t0 ^ t12;
  const uint32_t t14 = t11 & t13;
  const uint32_t t15 = t4 ^ t14;
  x0 = t13;
  x1 = t9;
  x2 = t11;
  x3 = t15;
}

inline void S3(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = b | c;
  const uint32_t t1 = d ^ t0;
  const uint32_t t2 = a ^ t1;
  const uint32_t t3 = b & d;
  const uint32_t t4 = a | d;
  const uint32_t t5 = t2 & t4;
  const uint32_t t6 = b ^ t1;
  const uint32_t t7 = t2 | t3;
  const uint32_t t8 = c | t5;
  const uint32_t t9 = t7 & t8;
  const uint32_t t10 = c ^ t5;
  const uint32_t t11 = t0 ^ t10;
  const uint32_t t12 = t4 ^ t11;
  const uint32_t t13 = t6 ^ t10;
  const uint32_t t14 = t1 ^ t13;
  const uint32_t t15 = t1 | t8;
  const uint32_t t16 = t14 & t15;
  const uint32_t t17 = t11 | t13;
  const uint32_t t18 = t8 & t13;
  const uint32_t t19 = t0 & t17;
  const uint32_t t20 = t7 & t19;
  const uint32_t t21 = t18 | t20;
  const uint32_t t22 = t5 ^ t12;
  const uint32_t t23 = d & t18;
  const uint32_t t24 = t22 ^ t23;
  x0 = t24;
  x1 = t21;
  x2 = t9;
  x3 = t16;
}

inline void InvS3(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = a | b;
  const uint32_t t1 = c ^ t0;
  const uint32_t t2 = a ^ t0;
  const uint32_t t3 = d & t0;
  const uint32_t t4 = a & b;
  const uint32_t t5 = t1 ^ t4;
  const uint32_t t6 = a & t1;
  const uint32_t t7 = a ^ d;
  const uint32_t t8 = a ^ b;
  const uint32_t t9 = t2 ^ t6;
  const uint32_t t10 = b | t1;
  const uint32_t t11 = t4 & t9;
  const uint32_t t12 = d ^ t2;
  const uint32_t t13 = t8 ^ t10;
  const uint32_t t14 = a ^ t11;
  const uint32_t t15 = t5 | t7;
  const uint32_t t16 = t3 ^ t13;
  const uint32_t t17 = c | t16;
  const uint32_t t18 = t7 | t9;
  const uint32_t t19 = t17 & t18;
  const uint32_t t20 = t12 ^ t17;
  const uint32_t t21 = t5 ^ t18;
  const uint32_t t22 = t20 & t21;
  const uint32_t t23 = t14 ^ t22;
  const uint32_t t24 = t15 & t23;
  const uint32_t t25 = t2 & t12;
  const uint32_t t26 = t22 | t25;
  const uint32_t t27 = t6 ^ t20;
  const uint32_t t28 = t14 | t27;
  const uint32_t t29 = t12 & t24;
  const uint32_t t30 = t28 ^ t29;
  x0 = t24;
  x1 = t26;
  x2 = t19;
  x3 = t30;
}

inline void S4(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = ~b;
  const uint32_t t1 = a & t0;
  const uint32_t t2 = b | t1;
  const uint32_t t3 = d ^ t2;
  const uint32_t t4 = b ^ t3;
  const uint32_t t5 = d | t3;
  const uint32_t t6 = a & t4;
  const uint32_t t7 = c ^ t5;
  const uint32_t t8 = ~a;
  const uint32_t t9 = t4 ^ t7;
  const uint32_t t10 = d & t8;
  const uint32_t t11 = b | t7;
  const uint32_t t12 = a ^ t11;
  const uint32_t t13 = t4 ^ t12;
  const uint32_t t14 = t9 | t12;
  const uint32_t t15 = t3 ^ t14;
  const uint32_t t16 = t7 ^ t8;
  const uint32_t t17 = d & t6;
  const uint32_t t18 = t16 ^ t17;
  const uint32_t t19 = c ^ d;
  const uint32_t t20 = t0 ^ t19;
  const uint32_t t21 = t10 ^ t20;
  const uint32_t t22 = t5 & t21;
  const uint32_t t23 = b & t16;
  const uint32_t t24 = t22 | t23;
  x0 = t18;
  x1 = t24;
  x2 = t15;
  x3 = t13;
}

inline void InvS4(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = a | b;
  const uint32_t t1 = c ^ t0;
  const uint32_t t2 = a ^ t0;
  const uint32_t t3 = d & t0;
  const uint32_t t4 = a & b;
  const uint32_t t5 = t1 ^ t4;
  const uint32_t t6 = a & t1;
  const uint32_t t7 = a ^ d;
  const uint32_t t8 = a ^ b;
  const uint32_t t9 = t2 ^ t6;
  const uint32_t t10 = d ^ t2;
  const uint32_t t11 = t6 | t10;
  const uint32_t t12 = t5 ^ t11;
  const uint32_t t13 = t1 | t9;
  const uint32_t t14 = t7 & t12;
  const uint32_t t15 = t1 ^ t14;
  const uint32_t t16 = ~t15;
  const uint32_t t17 = c | d;
  const uint32_t t18 = t10 ^ t17;
  const uint32_t t19 = t3 & t8;
  const uint32_t t20 = t18 | t19;
  const uint32_t t21 = t13 & t19;
  const uint32_t t22 = t5 | t17;
  const uint32_t t23 = a & t22;
  const uint32_t t24 = t2 ^ t23;
  const uint32_t t25 = t12 ^ t21;
  const uint32_t t26 = t24 ^ t25;
  const uint32_t t27 = ~t26;
  x0 = t16;
  x1 = t12;
  x2 = t27;
  x3 = t20;
}

inline void S5(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = a ^ b;
  const uint32_t t1 = b ^ d;
  const uint32_t t2 = a ^ c;
  const uint32_t t3 = t0 | t1;
  const uint32_t t4 = t2 ^ t3;
  const uint32_t t5 = ~t4;
  const uint32_t t6 = d | t4;
  const uint32_t t7 = t0 ^ t6;
  const uint32_t t8 = ~t7;
  const uint32_t t9 = a & t6;
  const uint32_t t10 = c | t0;
  const uint32_t t11 = t2 & t5;
  const uint32_t t12 = t2 | t5;
  const uint32_t t13 = t0 ^ t10;
  const uint32_t t14 = t6 ^ t12;
  const uint32_t t15 = t1 & t14;
  const uint32_t t16 = t9 ^ t15;
  const uint32_t t17 = ~t16;
  const uint32_t t18 = t11 ^ t15;
  const uint32_t t19 = t13 ^ t18;
  const uint32_t t20 = ~t19;
  x0 = t5;
  x1 = t8;
  x2 = t17;
  x3 = t20;
}

inline void InvS5(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = a | b;
  const uint32_t t1 = b | c;
  const uint32_t t2 = ~b;
  const uint32_t t3 = d & t0;
  const uint32_t t4 = a & t2;
  const uint32_t t5 = a & t3;
  const uint32_t t6 = a ^ d;
  const uint32_t t7 = t1 ^ t6;
  const uint32_t t8 = t4 | t7;
  const uint32_t t9 = c ^ t8;
  const uint32_t t10 = c | t5;
  const uint32_t t11 = t4 ^ t10;
  const uint32_t t12 = t3 ^ t11;
  const uint32_t t13 = a | t11;
  const uint32_t t14 = t2 ^ t5;
  const uint32_t t15 = t1 & t13;
  const uint32_t t16 = t14 ^ t15;
  const uint32_t t17 = t4 | t9;
  const uint32_t t18 = t14 ^ t17;
  const uint32_t t19 = ~t18;
  x0 = t19;
  x1 = t9;
  x2 = t12;
  x3 = t16;
}

inline void S6(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = b ^ d;
  const uint32_t t1 = a ^ d;
  const uint32_t t2 = c ^ t0;
  const uint32_t t3 = ~t1;
  const uint32_t t4 = a | t3;
  const uint32_t t5 = t2 ^ t4;
  const uint32_t t6 = c | t3;
  const uint32_t t7 = a ^ t5;
  const uint32_t t8 = t6 & t7;
  const uint32_t t9 = c & t4;
  const uint32_t t10 = t3 | t8;
  const uint32_t t11 = b | c;
  const uint32_t t12 = t8 ^ t10;
  const uint32_t t13 = t2 ^ t12;
  const uint32_t t14 = t9 ^ t10;
  const uint32_t t15 = a | b;
  const uint32_t t16 = t14 ^ t15;
  const uint32_t t17 = ~t16;
  const uint32_t t18 = t10 ^ t11;
  const uint32_t t19 = a & t12;
  const uint32_t t20 = t18 | t19;
  const uint32_t t21 = t13 ^ t20;
  const uint32_t t22 = b ^ t21;
  x0 = t20;
  x1 = t5;
  x2 = t22;
  x3 = t17;
}

inline void InvS6(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = b | c;
  const uint32_t t1 = a ^ c;
  const uint32_t t2 = d | t1;
  const uint32_t t3 = c ^ t2;
  const uint32_t t4 = ~t3;
  const uint32_t t5 = b ^ t3;
  const uint32_t t6 = t0 | t2;
  const uint32_t t7 = a ^ t2;
  const uint32_t t8 = t5 | t7;
  const uint32_t t9 = d ^ t8;
  const uint32_t t10 = b ^ t6;
  const uint32_t t11 = t9 & t10;
  const uint32_t t12 = t7 ^ t11;
  const uint32_t t13 = ~t12;
  const uint32_t t14 = b | t13;
  const uint32_t t15 = t9 ^ t14;
  const uint32_t t16 = t13 ^ t15;
  const uint32_t t17 = t4 ^ t16;
  const uint32_t t18 = t13 | t16;
  const uint32_t t19 = t5 ^ t18;
  x0 = t13;
  x1 = t17;
  x2 = t19;
  x3 = t15;
}

inline void S7(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = a | b;
  const uint32_t t1 = c ^ t0;
  const uint32_t t2 = a ^ t0;
  const uint32_t t3 = a & b;
  const uint32_t t4 = t1 ^ t3;
  const uint32_t t5 = a & t1;
  const uint32_t t6 = a ^ d;
  const uint32_t t7 = a ^ b;
  const uint32_t t8 = t2 ^ t5;
  const uint32_t t9 = b | t1;
  const uint32_t t10 = t3 & t8;
  const uint32_t t11 = a ^ t4;
  const uint32_t t12 = d ^ t2;
  const uint32_t t13 = t7 ^ t9;
  const uint32_t t14 = t4 | t6;
  const uint32_t t15 = t6 & t13;
  const uint32_t t16 = t14 ^ t15;
  const uint32_t t17 = t1 | t15;
  const uint32_t t18 = t1 ^ t6;
  const uint32_t t19 = t10 ^ t17;
  const uint32_t t20 = t5 & t12;
  const uint32_t t21 = t19 ^ t20;
  const uint32_t t22 = t10 ^ t21;
  const uint32_t t23 = t13 ^ t22;
  const uint32_t t24 = t2 ^ t23;
  const uint32_t t25 = t11 | t24;
  const uint32_t t26 = t6 ^ t25;
  const uint32_t t27 = t2 | t22;
  const uint32_t t28 = t4 | t27;
  const uint32_t t29 = t18 & t28;
  const uint32_t t30 = b ^ t29;
  const uint32_t t31 = ~t30;
  x0 = t31;
  x1 = t26;
  x2 = t16;
  x3 = t21;
}

inline void InvS7(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t t0 = a | d;
  const uint32_t t1 = a ^ b;
  const uint32_t t2 = a ^ c;
  const uint32_t t3 = c ^ d;
  const uint32_t t4 = c | t0;
  const uint32_t t5 = t1 | t4;
  const uint32_t t6 = ~t1;
  const uint32_t t7 = c ^ t0;
  const uint32_t t8 = c & t2;
  const uint32_t t9 = t0 & t6;
  const uint32_t t10 = t3 | t9;
  const uint32_t t11 = d ^ t2;
  const uint32_t t12 = t7 ^ t10;
  const uint32_t t13 = c | t1;
  const uint32_t t14 = t3 & t13;
  const uint32_t t15 = ~t12;
  const uint32_t t16 = t6 | t11;
  const uint32_t t17 = t15 & t16;
  const uint32_t t18 = t11 ^ t12;
  const uint32_t t19 = t2 & t18;
  const uint32_t t20 = t14 | t19;
  const uint32_t t21 = t6 ^ t18;
  const uint32_t t22 = t8 & t21;
  const uint32_t t23 = t13 ^ t16;
  const uint32_t t24 = t22 ^ t23;
  const uint32_t t25 = t5 & t24;
  const uint32_t t26 = d ^ t24;
  const uint32_t t27 = a & t17;
  const uint32_t t28 = t26 ^ t27;
  x0 = t17;
  x1 = t28;
  x2 = t25;
  x3 = t20;
}
// clang-format on

inline void LinearTransform(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  x0 = Rotl32(x0, 13);
  x2 = Rotl32(x2, 3);
  x1 ^= x0 ^ x2;
  x3 ^= x2 ^ (x0 << 3);
  x1 = Rotl32(x1, 1);
  x3 = Rotl32(x3, 7);
  x0 ^= x1 ^ x3;
  x2 ^= x3 ^ (x1 << 7);
  x0 = Rotl32(x0, 5);
  x2 = Rotl32(x2, 22);
}

inline void InverseLinearTransform(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  x2 = Rotr32(x2, 22);
  x0 = Rotr32(x0, 5);
  x2 ^= x3 ^ (x1 << 7);
  x0 ^= x1 ^ x3;
  x3 = Rotr32(x3, 7);
  x1 = Rotr32(x1, 1);
  x3 ^= x2 ^ (x0 << 3);
  x1 ^= x0 ^ x2;
  x2 = Rotr32(x2, 3);
  x0 = Rotr32(x0, 13);
}

using SBoxFn = void (*)(uint32_t&, uint32_t&, uint32_t&, uint32_t&);
constexpr SBoxFn kSBoxes[8] = {S0, S1, S2, S3, S4, S5, S6, S7};
constexpr SBoxFn kInverseSBoxes[8] = {InvS0, InvS1, InvS2, InvS3, InvS4, InvS5, InvS6, InvS7};

// Runs all 16 inputs through each circuit at once, input v in bit column v, and compares every
// output bit with the table; each inverse circuit must take the table's outputs back to v.
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
  }
  return ok;
}

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
    subKeys_[i] = {k[0], k[1], k[2], k[3]};
  }
  SecureZeroObject(w);
  SecureZeroObject(bytes);
}

// clang-format off
#define SERPENT_KEY(i) \
  x0 ^= subKeys_[i][0]; x1 ^= subKeys_[i][1]; x2 ^= subKeys_[i][2]; x3 ^= subKeys_[i][3];
#define SERPENT_ROUND(i, S) SERPENT_KEY(i) S(x0, x1, x2, x3); LinearTransform(x0, x1, x2, x3);
#define SERPENT_INV_ROUND(i, S) InverseLinearTransform(x0, x1, x2, x3); S(x0, x1, x2, x3); SERPENT_KEY(i)
#define SERPENT_SEVEN(r) \
  SERPENT_ROUND(r, S0) SERPENT_ROUND(r + 1, S1) SERPENT_ROUND(r + 2, S2) SERPENT_ROUND(r + 3, S3) \
  SERPENT_ROUND(r + 4, S4) SERPENT_ROUND(r + 5, S5) SERPENT_ROUND(r + 6, S6)
#define SERPENT_INV_SEVEN(r) \
  SERPENT_INV_ROUND(r + 6, InvS6) SERPENT_INV_ROUND(r + 5, InvS5) SERPENT_INV_ROUND(r + 4, InvS4) \
  SERPENT_INV_ROUND(r + 3, InvS3) SERPENT_INV_ROUND(r + 2, InvS2) SERPENT_INV_ROUND(r + 1, InvS1) \
  SERPENT_INV_ROUND(r, InvS0)

void Serpent::EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  uint32_t x0 = LoadLe32(in), x1 = LoadLe32(in + 4), x2 = LoadLe32(in + 8), x3 = LoadLe32(in + 12);
  SERPENT_SEVEN(0)  SERPENT_ROUND(7, S7)
  SERPENT_SEVEN(8)  SERPENT_ROUND(15, S7)
  SERPENT_SEVEN(16) SERPENT_ROUND(23, S7)
  SERPENT_SEVEN(24)
  // The last round replaces the linear transformation with the final subkey.
  SERPENT_KEY(31) S7(x0, x1, x2, x3); SERPENT_KEY(32)
  StoreLe32(out, x0);
  StoreLe32(out + 4, x1);
  StoreLe32(out + 8, x2);
  StoreLe32(out + 12, x3);
}

void Serpent::DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  uint32_t x0 = LoadLe32(in), x1 = LoadLe32(in + 4), x2 = LoadLe32(in + 8), x3 = LoadLe32(in + 12);
  SERPENT_KEY(32) InvS7(x0, x1, x2, x3); SERPENT_KEY(31)
  SERPENT_INV_SEVEN(24)
  SERPENT_INV_ROUND(23, InvS7) SERPENT_INV_SEVEN(16)
  SERPENT_INV_ROUND(15, InvS7) SERPENT_INV_SEVEN(8)
  SERPENT_INV_ROUND(7, InvS7)  SERPENT_INV_SEVEN(0)
  StoreLe32(out, x0);
  StoreLe32(out + 4, x1);
  StoreLe32(out + 8, x2);
  StoreLe32(out + 12, x3);
}
// clang-format on

#undef SERPENT_KEY
#undef SERPENT_ROUND
#undef SERPENT_INV_ROUND
#undef SERPENT_SEVEN
#undef SERPENT_INV_SEVEN

void Serpent::WipeKey() {
  SecureZeroObject(subKeys_);
}

}  // namespace kryvane
