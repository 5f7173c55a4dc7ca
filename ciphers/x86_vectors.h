// The x86 vector intrinsics and the function attributes that compile one function for one
// instruction set (see crypto/cpu.h; such a function runs only after the processor has been
// asked). Private to the cipher and hash units; the ciphers reach them through vector_lanes.h.
#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define KRYVANE_X86_VECTORS 1

// GCC 12's AVX-512 unpack intrinsics start from a deliberately undefined register.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#ifndef __clang__  // clang has no such group and would warn of it
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop

#define KRYVANE_TARGET_SSE __attribute__((target("sse4.1,ssse3")))
#define KRYVANE_TARGET_AVX2 __attribute__((target("avx2")))
#define KRYVANE_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512vl,avx512bw")))
#define KRYVANE_TARGET_SHA __attribute__((target("sse4.1,ssse3,sha")))

namespace kryvane {

// Vectors of 32-bit and 16-bit lanes for the arithmetic (the operators work lane by lane).
using U32x4 = uint32_t __attribute__((vector_size(16)));
using U32x8 = uint32_t __attribute__((vector_size(32)));
using U32x16 = uint32_t __attribute__((vector_size(64)));
using U16x8 = uint16_t __attribute__((vector_size(16)));
using U16x16 = uint16_t __attribute__((vector_size(32)));
using U16x32 = uint16_t __attribute__((vector_size(64)));

}  // namespace kryvane

#endif
