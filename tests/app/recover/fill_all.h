// Every candidate a source gives from its position to `end`, checking the batches' positions.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/recover/candidates.h"

namespace kryvane::recover {

inline std::vector<std::string> FillAll(CandidateSource& source, uint64_t end = kNoEnd,
                                        std::size_t batch_size = 7) {
  std::vector<std::string> all;
  CandidateBatch batch(batch_size);
  uint64_t next = source.position();
  while (source.Fill(batch, end)) {
    EXPECT_EQ(batch.first(), next);
    for (std::size_t i = 0; i < batch.size(); ++i) {
      EXPECT_GE(batch.position(i), batch.first());
      EXPECT_LT(batch.position(i), batch.end());
      all.emplace_back(batch[i]);
    }
    next = batch.end();
  }
  EXPECT_TRUE(batch.empty());
  return all;
}

}  // namespace kryvane::recover
