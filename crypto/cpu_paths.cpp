#include "crypto/cpu_paths.h"

#include <atomic>

namespace kryvane {
namespace {

Isa DetectIsa() {
#if defined(__x86_64__) || defined(__i386__)
  // The built-in checks also ask the operating system whether it saves the wider registers.
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx2")) {
    return Isa::kAvx512;
  }
  if (__builtin_cpu_supports("avx2")) return Isa::kAvx2;
  if (__builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3")) return Isa::kSse2;
#endif
  return Isa::kPortable;
}

std::atomic<Isa> gLimit{Isa::kAvx512};

}  // namespace

Isa MachineIsa() {
  static const Isa isa = DetectIsa();
  return isa;
}

void LimitIsa(Isa limit) {
  gLimit.store(limit);
}

Isa UsableIsa() {
  const Isa limit = gLimit.load();
  const Isa machine = MachineIsa();
  return limit < machine ? limit : machine;
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

}  // namespace kryvane
