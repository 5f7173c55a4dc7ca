// The one place that chooses processor paths. The features some algorithm has a faster path
// for are detected once per process; every algorithm asks here, and only when keyed, so a keyed
// instance keeps its path for its whole life. The portable path is always built and always
// tested, and tests limit the features to run every path this machine has.
//
// Which of the paths a processor offers is fastest differs between processor families (a
// vector path that wins on one loses on another: gathers and wide registers cost differently),
// so it is not read from the feature flags: the first keying of an algorithm in a process times
// each path on a few kilobytes and keeps the fastest for the rest of the process.
#pragma once

#include <cstdint>
#include <string>
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
  kShaNi = 1u << 7,   // the SHA-1 and SHA-256 instructions
};

// What this processor has.
uint32_t Detected();

// The vector width of the lane-parallel cipher paths. Ordered: each includes the ones before.
enum class Isa : uint8_t {
  kPortable,  // plain C++
  kSse2,      // 128-bit integer vectors (SSE2, SSSE3, SSE4.1), AES-NI, SHA-NI
  kAvx2,      // 256-bit integer vectors
  kAvx512,    // 512-bit integer vectors with byte and word lanes (AVX-512 F, BW, DQ, VL)
};

// The ceiling of the environment variable KRYVANE_CPU_PATH (portable, sse, avx2 or avx512), read
// once: no path above it runs in this process, whatever is measured or limited. Unset: none.
// A value that names no level is taken as portable, the one path every machine has.
Isa Ceiling();
// "avx512", or "sse (KRYVANE_CPU_PATH=sse)", or the value that was not understood.
std::string CeilingText();

// Detected(), less what the ceiling excludes: what this process may use at all.
uint32_t Available();

// Available(), less whatever Limit() switched off.
uint32_t Enabled();

// True when every feature in features is enabled.
inline bool Has(uint32_t features) {
  return (Enabled() & features) == features;
}

// Process-wide: instances keyed from now on use only the allowed features (0: the portable
// path everywhere), and always the widest path those allow, without measuring. For tests and
// benchmarks comparing paths; Limit(~0u) lifts it, and keying measures again.
void Limit(uint32_t allowed);

// The distinct feature sets this process can run, from the portable one (0) upwards, each
// switching on one more family of paths: SSSE3/SSE4.1/AES-NI/SHA-NI, then AVX2/BMI2, then
// AVX-512 with VAES.
std::vector<uint32_t> Levels();

// Limits to one level for a scope and lifts the limit again at its end.
class ScopedLimit {
 public:
  explicit ScopedLimit(uint32_t allowed) { Limit(allowed); }
  ~ScopedLimit() { Limit(~0u); }
  ScopedLimit(const ScopedLimit&) = delete;
  ScopedLimit& operator=(const ScopedLimit&) = delete;
};

// The widest vector path the given features allow.
Isa VectorIsa(uint32_t features);
// The widest vector path the enabled features allow.
inline Isa VectorIsa() {
  return VectorIsa(Enabled());
}

std::string_view IsaName(Isa isa);

// The features a keyed instance may use, per direction: what its rule for choosing a path
// gets instead of Enabled().
struct Plan {
  uint32_t encrypt = 0;
  uint32_t decrypt = 0;
};

// One timed candidate: the paths an instance keyed under the candidate's features took, and
// the time of each direction on the same amount of data (any unit, the same for all candidates).
struct Trial {
  Isa encryptPath = Isa::kPortable;
  Isa decryptPath = Isa::kPortable;
  double encryptTime = 0;
  double decryptTime = 0;
};

// The plan of an algorithm: with a Limit() in force, or inside a measurement, the enabled
// features (the widest paths they allow). Otherwise, on the first call per algorithm, measure()
// runs once for each of Levels() (with Enabled() returning that level on this thread meanwhile)
// and each direction keeps the level that was fastest; later calls return the same plan.
// A candidate whose instance took the same paths as a narrower one does not replace it.
// algorithm must outlive the process (a class's name constant).
using Measure = Trial (*)();
Plan ChoosePaths(std::string_view algorithm, Measure measure);

// What the measurements of this process chose, for `list --paths`.
struct Choice {
  std::string_view algorithm;
  Plan plan;                     // the levels chosen
  Isa encrypt = Isa::kPortable;  // the paths they gave
  Isa decrypt = Isa::kPortable;
  double microseconds = 0;  // the whole measurement
};
std::vector<Choice> Choices();

}  // namespace kryvane::cpu
