#include "hashes/tiger.h"

#include <gtest/gtest.h>

namespace kryvane {
namespace {

TEST(Tiger, SelfTest) {
  EXPECT_TRUE(Tiger::SelfTest());
}

}  // namespace
}  // namespace kryvane
