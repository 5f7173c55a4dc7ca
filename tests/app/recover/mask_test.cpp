// Masks: the size of the space, the candidate at a position, and the order a Fill gives.
#include "app/recover/mask.h"

#include <gtest/gtest.h>

#include "tests/app/recover/fill_all.h"
#include "tests/app/recover/table.h"

namespace kryvane::recover {
namespace {

using test::ReadTable;
using test::TableRow;

MaskOptions OptionsOf(const TableRow& row) {
  MaskOptions o;
  o.custom[0] = row.columns[1];
  o.custom[1] = row.columns[2];
  const std::string& inc = row.columns[3];
  if (inc != "-") {
    o.increment = true;
    const std::size_t dash = inc.find('-');
    o.increment_min = std::stoul(inc.substr(0, dash));
    if (dash + 1 < inc.size()) o.increment_max = std::stoul(inc.substr(dash + 1));
  }
  return o;
}

TEST(Mask, SizesAndCandidatesOfTheTable) {
  const std::vector<TableRow> rows = ReadTable("recover/masks.tab");
  ASSERT_FALSE(rows.empty());
  for (const TableRow& row : rows) {
    SCOPED_TRACE("masks.tab line " + std::to_string(row.line));
    MaskSource mask(row.columns[0], OptionsOf(row));
    const uint64_t size = std::stoull(row.columns[4]);
    EXPECT_EQ(mask.size(), size);
    for (std::size_t c = 5; c < row.columns.size(); ++c) {
      const std::string& check = row.columns[c];
      const std::size_t eq = check.find('=');
      const uint64_t p = std::stoull(check.substr(0, eq));
      EXPECT_EQ(mask.At(p), check.substr(eq + 1)) << "position " << p;
      // A Fill from a Seek gives the same candidate.
      mask.Seek(p);
      CandidateBatch batch(3);
      ASSERT_TRUE(mask.Fill(batch));
      EXPECT_EQ(batch[0], check.substr(eq + 1)) << "position " << p;
    }
    if (size > 100000) continue;
    // Sequential filling, carries and the change of length included, matches At everywhere.
    mask.Seek(0);
    const std::vector<std::string> all = FillAll(mask);
    ASSERT_EQ(all.size(), size);
    for (uint64_t p = 0; p < size; ++p) ASSERT_EQ(all[p], mask.At(p)) << "position " << p;
    EXPECT_THROW(mask.At(size), std::out_of_range);
    EXPECT_THROW(mask.Seek(size + 1), std::out_of_range);
  }
}

TEST(Mask, RefusedMasksSayWhy) {
  const std::vector<TableRow> rows = ReadTable("recover/bad_masks.tab");
  ASSERT_FALSE(rows.empty());
  for (const TableRow& row : rows) {
    SCOPED_TRACE("bad_masks.tab line " + std::to_string(row.line));
    try {
      MaskSource mask(row.columns[0], OptionsOf(row));
      ADD_FAILURE() << "accepted, size " << *mask.size();
    } catch (const MaskError& e) {
      EXPECT_NE(std::string(e.what()).find(row.columns[4]), std::string::npos) << e.what();
    }
  }
}

TEST(Mask, FillStopsAtTheEndItIsGiven) {
  MaskSource mask("?d?d?d");
  mask.Seek(95);
  CandidateBatch batch(1000);
  ASSERT_TRUE(mask.Fill(batch, 105));
  ASSERT_EQ(batch.size(), 10u);
  EXPECT_EQ(batch[0], "095");
  EXPECT_EQ(batch[9], "104");
  EXPECT_EQ(batch.end(), 105u);
  EXPECT_EQ(mask.position(), 105u);
  EXPECT_FALSE(mask.Fill(batch, 105));
}

}  // namespace
}  // namespace kryvane::recover
