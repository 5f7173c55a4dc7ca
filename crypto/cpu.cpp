#include "crypto/cpu.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <atomic>
#include <string_view>

namespace kryvane::cpu {
namespace {

uint32_t Detect() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  uint32_t f = 0;
  if (__builtin_cpu_supports("ssse3")) f |= kSsse3;
  if (__builtin_cpu_supports("sse4.1")) f |= kSse41;
  if (__builtin_cpu_supports("aes")) f |= kAesNi;
  if (__builtin_cpu_supports("avx2")) f |= kAvx2;
  if (__builtin_cpu_supports("bmi2")) f |= kBmi2;
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl")) {
    f |= kAvx512;
  }
  // Not every compiler knows "vaes" for __builtin_cpu_supports: CPUID leaf 7, ECX bit 9. The
  // instructions run only where the wider registers they need are enabled as well.
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) && (c & (1u << 9)) != 0) f |= kVaes;
  return f;
#else
  return 0;
#endif
}

std::atomic<uint32_t> gAllowed{~0u};

}  // namespace

uint32_t Detected() {
  static const uint32_t detected = Detect();
  return detected;
}

uint32_t Enabled() {
  return Detected() & gAllowed.load(std::memory_order_relaxed);
}

void Limit(uint32_t allowed) {
  gAllowed.store(allowed, std::memory_order_relaxed);
}

std::vector<uint32_t> Levels() {
  const uint32_t steps[] = {0, kSsse3 | kSse41 | kAesNi, kAvx2 | kBmi2, kAvx512 | kVaes};
  std::vector<uint32_t> levels;
  uint32_t want = 0;
  for (uint32_t step : steps) {
    want |= step;
    const uint32_t level = want & Detected();
    if (levels.empty() || levels.back() != level) levels.push_back(level);
  }
  return levels;
}

Isa VectorIsa() {
  if (Has(kAvx512 | kAvx2)) return Isa::kAvx512;
  if (Has(kAvx2)) return Isa::kAvx2;
  if (Has(kSse41 | kSsse3)) return Isa::kSse2;
  return Isa::kPortable;
}

std::string_view IsaName(Isa isa) {
  switch (isa) {
    case Isa::kPortable:
      return "portable";
    case Isa::kSse2:
      return "sse";
    case Isa::kAvx2:
      return "avx2";
    case Isa::kAvx512:
      return "avx512";
  }
  return "?";
}

}  // namespace kryvane::cpu
