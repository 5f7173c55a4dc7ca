#include <gtest/gtest.h>

#include "hashes/sha1.h"

TEST(Sha1, SelfTest) { EXPECT_TRUE(kryvane::Sha1::SelfTest()); }
