#include "crypto/cpu.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
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
  // Not every compiler knows "vaes" or "sha" for __builtin_cpu_supports: CPUID leaf 7, ECX bit 9
  // and EBX bit 29. The instructions run only where the registers they need are enabled as well.
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
    if ((c & (1u << 9)) != 0) f |= kVaes;
    if ((b & (1u << 29)) != 0 && (f & kSse41) != 0) f |= kShaNi;
  }
  return f;
#else
  return 0;
#endif
}

// The features each level switches on, in order; a ceiling keeps the first n.
constexpr uint32_t kSteps[] = {0, kSsse3 | kSse41 | kAesNi | kShaNi, kAvx2 | kBmi2,
                               kAvx512 | kVaes};

struct CeilingSetting {
  Isa isa = Isa::kAvx512;
  std::string text = "avx512";
};

CeilingSetting ReadCeiling() {
  CeilingSetting c;
  const char* value = std::getenv("KRYVANE_CPU_PATH");
  if (value == nullptr || *value == '\0') return c;
  const std::string_view v(value);
  for (Isa isa : {Isa::kPortable, Isa::kSse2, Isa::kAvx2, Isa::kAvx512}) {
    if (v == IsaName(isa)) {
      c.isa = isa;
      c.text = std::string(v) + " (KRYVANE_CPU_PATH=" + std::string(v) + ")";
      return c;
    }
  }
  c.isa = Isa::kPortable;
  c.text = "portable (KRYVANE_CPU_PATH=" + std::string(v) + " names no level)";
  return c;
}

const CeilingSetting& TheCeiling() {
  static const CeilingSetting ceiling = ReadCeiling();
  return ceiling;
}

std::atomic<uint32_t> gAllowed{~0u};
// Inside a measurement: the level being timed, on this thread only.
thread_local uint32_t tTrying = ~0u;
thread_local bool tMeasuring = false;

struct Planner {
  std::mutex mutex;
  std::map<std::string_view, Choice> choices;
};

Planner& ThePlanner() {
  static Planner planner;
  return planner;
}

}  // namespace

uint32_t Detected() {
  static const uint32_t detected = Detect();
  return detected;
}

Isa Ceiling() {
  return TheCeiling().isa;
}

std::string CeilingText() {
  return TheCeiling().text;
}

uint32_t Available() {
  uint32_t allowed = 0;
  for (std::size_t i = 0; i <= std::size_t(Ceiling()); ++i) allowed |= kSteps[i];
  return Detected() & allowed;
}

uint32_t Enabled() {
  return Available() & gAllowed.load(std::memory_order_relaxed) & tTrying;
}

void Limit(uint32_t allowed) {
  gAllowed.store(allowed, std::memory_order_relaxed);
}

std::vector<uint32_t> Levels() {
  std::vector<uint32_t> levels;
  uint32_t want = 0;
  for (uint32_t step : kSteps) {
    want |= step;
    const uint32_t level = want & Available();
    if (levels.empty() || levels.back() != level) levels.push_back(level);
  }
  return levels;
}

Isa VectorIsa(uint32_t features) {
  const auto has = [features](uint32_t f) { return (features & f) == f; };
  if (has(kAvx512 | kAvx2)) return Isa::kAvx512;
  if (has(kAvx2)) return Isa::kAvx2;
  if (has(kSse41 | kSsse3)) return Isa::kSse2;
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

Plan ChoosePaths(std::string_view algorithm, Measure measure) {
  const uint32_t enabled = Enabled();
  if (tMeasuring || gAllowed.load(std::memory_order_relaxed) != ~0u) return {enabled, enabled};
  Planner& planner = ThePlanner();
  // Held while measuring: two threads keying at once measure once, and neither slows the
  // other's timing down.
  std::lock_guard lock(planner.mutex);
  if (auto it = planner.choices.find(algorithm); it != planner.choices.end()) {
    return it->second.plan;
  }
  const auto start = std::chrono::steady_clock::now();
  Choice choice;
  choice.algorithm = algorithm;
  double bestEncrypt = 0, bestDecrypt = 0;
  std::vector<Trial> seen;
  for (uint32_t level : Levels()) {
    tTrying = level;
    tMeasuring = true;
    Trial t;
    try {
      t = measure();
    } catch (...) {
      tTrying = ~0u;
      tMeasuring = false;
      throw;
    }
    tTrying = ~0u;
    tMeasuring = false;
    bool again = false;
    for (const Trial& s : seen) {
      again = again || (s.encryptPath == t.encryptPath && s.decryptPath == t.decryptPath);
    }
    if (again) continue;
    seen.push_back(t);
    // Only a clearly faster path replaces a narrower one: within the noise of a short timing,
    // the narrower path is the safer guess.
    if (seen.size() == 1 || t.encryptTime < bestEncrypt * 0.97) {
      bestEncrypt = t.encryptTime;
      choice.plan.encrypt = level;
      choice.encrypt = t.encryptPath;
    }
    if (seen.size() == 1 || t.decryptTime < bestDecrypt * 0.97) {
      bestDecrypt = t.decryptTime;
      choice.plan.decrypt = level;
      choice.decrypt = t.decryptPath;
    }
  }
  choice.microseconds =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  planner.choices.emplace(algorithm, choice);
  return choice.plan;
}

std::vector<Choice> Choices() {
  Planner& planner = ThePlanner();
  std::lock_guard lock(planner.mutex);
  std::vector<Choice> all;
  for (const auto& [name, choice] : planner.choices) all.push_back(choice);
  return all;
}

}  // namespace kryvane::cpu
