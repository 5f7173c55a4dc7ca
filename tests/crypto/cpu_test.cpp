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
  EXPECT_EQ(cpu::Enabled(), cpu::Available()) << "the limit outlives its scope";
}

// The planner with a stand-in measurement: encryption is fastest on the first level, decryption
// on the last; each level is measured once, with Enabled() showing it, and never again.
std::vector<uint32_t> gMeasured;

cpu::Trial FakeMeasure() {
  gMeasured.push_back(cpu::Enabled());
  const double n = double(gMeasured.size());
  cpu::Trial t;
  t.encryptPath = t.decryptPath = cpu::VectorIsa();
  t.encryptTime = 100 + 10 * n;
  t.decryptTime = 100 - 10 * n;
  return t;
}

TEST(Cpu, MeasuredPlanKeepsTheFastestLevelOfEachDirection) {
  gMeasured.clear();
  const std::vector<uint32_t> levels = cpu::Levels();
  const cpu::Plan plan = cpu::ChoosePaths("stand-in", &FakeMeasure);
  EXPECT_EQ(gMeasured, levels) << "each level measured once, under its own features";
  EXPECT_EQ(plan.encrypt, levels.front());
  EXPECT_EQ(plan.decrypt, levels.back());
  EXPECT_EQ(cpu::Enabled(), cpu::Available()) << "the measurement's level outlives it";

  const cpu::Plan again = cpu::ChoosePaths("stand-in", &FakeMeasure);
  EXPECT_EQ(gMeasured.size(), levels.size()) << "measured twice";
  EXPECT_EQ(again.encrypt, plan.encrypt);
  EXPECT_EQ(again.decrypt, plan.decrypt);

  bool listed = false;
  for (const cpu::Choice& c : cpu::Choices()) {
    if (c.algorithm != "stand-in") continue;
    listed = true;
    EXPECT_EQ(c.encrypt, cpu::VectorIsa(levels.front()));
    EXPECT_EQ(c.decrypt, cpu::VectorIsa(levels.back()));
  }
  EXPECT_TRUE(listed);
}

// A limit (what the tests of each path use) is obeyed exactly: no measurement, the widest paths
// the limit allows.
TEST(Cpu, LimitTakesTheWidestAllowedPathWithoutMeasuring) {
  gMeasured.clear();
  for (uint32_t level : cpu::Levels()) {
    cpu::ScopedLimit limit(level);
    const cpu::Plan plan = cpu::ChoosePaths("stand-in, limited", &FakeMeasure);
    EXPECT_EQ(plan.encrypt, level);
    EXPECT_EQ(plan.decrypt, level);
  }
  EXPECT_TRUE(gMeasured.empty());
}

// Two paths that turn out the same are one candidate: the narrower level keeps it, even when
// the wider one happens to time faster.
cpu::Trial SamePathsMeasure() {
  gMeasured.push_back(cpu::Enabled());
  cpu::Trial t;
  t.encryptTime = t.decryptTime = 100 - double(gMeasured.size());
  return t;
}

TEST(Cpu, SamePathsAtAWiderLevelDoNotReplaceTheNarrowerOne) {
  gMeasured.clear();
  const cpu::Plan plan = cpu::ChoosePaths("stand-in, one path", &SamePathsMeasure);
  EXPECT_EQ(plan.encrypt, 0u);
  EXPECT_EQ(plan.decrypt, 0u);
}

}  // namespace
}  // namespace kryvane
