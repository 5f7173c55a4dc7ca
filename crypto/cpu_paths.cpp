#include "crypto/cpu_paths.h"

#include <atomic>

#include "crypto/cpu.h"

namespace kryvane {
namespace {

// The highest level whose features are all in `features` (a cpu:: feature set).
Isa LevelOf(uint32_t features) {
  const auto has = [features](uint32_t f) { return (features & f) == f; };
  if (has(cpu::kAvx512 | cpu::kAvx2)) return Isa::kAvx512;
  if (has(cpu::kAvx2)) return Isa::kAvx2;
  if (has(cpu::kSse41 | cpu::kSsse3)) return Isa::kSse2;
  return Isa::kPortable;
}

std::atomic<Isa> gLimit{Isa::kAvx512};

}  // namespace

Isa MachineIsa() {
  return LevelOf(cpu::Detected());
}

void LimitIsa(Isa limit) {
  gLimit.store(limit);
}

Isa UsableIsa() {
  const Isa limit = gLimit.load();
  // cpu::Limit, which the tests of every path use, counts as well.
  const Isa machine = LevelOf(cpu::Enabled());
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
