// The one place that chooses processor paths. The features some algorithm has a faster path
// for are detected once per process; every algorithm asks here, and only when keyed, so a keyed
// instance keeps its path for its whole life. The portable path is always built and always
// tested, and tests limit the features to run every path this machine has.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kryvane::cpu {

enum Feature : uint32_t {
  kSsse3 = 1u << 0,
  kSse41 = 1u << 1,
  kAesNi = 1u << 2,
  kAvx2 = 1u << 3,
  kBmi2 = 1u << 4,
  kAvx512 = 1u << 5,  // F, BW, DQ and VL together
  kVaes = 1u << 6,    // the AES instructions on 256- and 512-bit registers
};

// What this processor has.
uint32_t Detected();

// Detected(), less whatever Limit() switched off.
uint32_t Enabled();

// True when every feature in features is enabled.
inline bool Has(uint32_t features) {
  return (Enabled() & features) == features;
}

// Process-wide: instances keyed from now on use only the allowed features (0: the portable
// path everywhere). For tests and benchmarks comparing paths; Limit(~0u) lifts it.
void Limit(uint32_t allowed);

// The distinct feature sets this machine can run, from the portable one (0) upwards, each
// switching on one more family of paths: SSSE3/SSE4.1/AES-NI, then AVX2/BMI2, then AVX-512 with
// VAES.
std::vector<uint32_t> Levels();

// Limits to one level for a scope and lifts the limit again at its end.
class ScopedLimit {
 public:
  explicit ScopedLimit(uint32_t allowed) { Limit(allowed); }
  ~ScopedLimit() { Limit(~0u); }
  ScopedLimit(const ScopedLimit&) = delete;
  ScopedLimit& operator=(const ScopedLimit&) = delete;
};

// The vector width of the lane-parallel cipher paths. Ordered: each includes the ones before.
enum class Isa : uint8_t {
  kPortable,  // plain C++
  kSse2,      // 128-bit integer vectors (SSE2, SSSE3, SSE4.1)
  kAvx2,      // 256-bit integer vectors
  kAvx512,    // 512-bit integer vectors with byte and word lanes (AVX-512 F, BW, DQ, VL)
};

// The widest vector path the enabled features allow; a cipher asks when it is keyed.
Isa VectorIsa();

std::string_view IsaName(Isa isa);

}  // namespace kryvane::cpu
