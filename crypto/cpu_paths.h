// Processor-specific code paths. A cipher with vector code asks, when it is keyed, which
// instruction sets it may use and keeps that choice for the life of the key; the portable path is
// always built and is what every other processor runs.
#pragma once

#include <cstdint>
#include <string_view>

namespace kryvane {

// Ordered: each level includes the ones before it.
enum class Isa : uint8_t {
  kPortable,  // plain C++
  kSse2,      // 128-bit integer vectors (SSE2, SSSE3, SSE4.1)
  kAvx2,      // 256-bit integer vectors
  kAvx512,    // 512-bit integer vectors with byte and word lanes (AVX-512 F, BW, VL)
};

// The most capable level this processor and operating system support.
Isa MachineIsa();

// Ciphers keyed from now on use at most `limit`, so that tests can run every path the machine
// has. Process-wide; instances already keyed keep their path.
void LimitIsa(Isa limit);

// The level a cipher keyed now may use: the lower of MachineIsa() and the limit.
Isa UsableIsa();

std::string_view IsaName(Isa isa);

}  // namespace kryvane
