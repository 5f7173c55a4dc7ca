// The processor levels the tests of every path walk through: each must switch on a path of its
// own, or the tests would compare a path with itself.
#include "crypto/cpu.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace kryvane {
namespace {

TEST(Cpu, EveryLevelChoosesAWiderVectorPath) {
  const std::vector<uint32_t> levels = cpu::Levels();
  ASSERT_FALSE(levels.empty());
  EXPECT_EQ(levels.front(), 0u) << "the portable path comes first";
  std::set<cpu::Isa> seen;
  cpu::Isa previous = cpu::Isa::kPortable;
  for (uint32_t level : levels) {
    SCOPED_TRACE(level);
    EXPECT_EQ(level & ~cpu::Detected(), 0u) << "a level the processor cannot run";
    cpu::ScopedLimit limit(level);
    EXPECT_EQ(cpu::Enabled(), level);
    const cpu::Isa isa = cpu::VectorIsa();
    EXPECT_TRUE(seen.insert(isa).second) << cpu::IsaName(isa) << " twice";
    EXPECT_GE(isa, previous);
    previous = isa;
  }
  EXPECT_EQ(cpu::Enabled(), cpu::Detected()) << "the limit outlives its scope";
}

}  // namespace
}  // namespace kryvane
